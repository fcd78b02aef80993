// The frame primitives through a DeviceContext whose Ethernet bus came from open_bus, against the
// in-process simulator on loopback: what the calls return, what they decode, and the frames the
// instrument received.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_context.hpp"
#include "device/device_text.hpp"
#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "tests/calibration/cal_test_folder.hpp"

using namespace std::chrono_literals;

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::FrameCheck;
using sim::FrameRecord;
using sim::FrameRoute;

// Short: the network is real, and a broken exchange should fail the test quickly.
constexpr std::uint32_t kTimeoutMs = 500;

Bytes bytes_of(CommandFrame frame) {
  seal_frame(frame);
  return Bytes(frame.bytes.begin(), frame.bytes.end());
}

// The one shape every poll of send_acknowledged has.
const Bytes kReadyPoll = bytes_of(CommandFrame(kOpQueryReady));

class FramesOverLoopback : public ::testing::Test {
 protected:
  FramesOverLoopback() : installed_clock(clock), installed_console(console_text) {}

  void SetUp() override { start(""); }

  // (Re)starts the simulator with a fault plan and opens a fresh bus to it.
  void start(const std::string& plan_text) {
    std::string error;
    auto plan = sim::FaultPlan::parse(plan_text, error);
    ASSERT_TRUE(plan) << error;
    context.bus.reset();
    service = std::make_unique<sim::NetworkService>(model, *plan);
    service->set_log(service_log);
    ASSERT_TRUE(service->start("127.0.0.1", 0, error)) << error;

    ConnectionParams params{};
    params.interface = ZR_INTERFACE_ETH;
    params.address_family = 0;
    params.address[0] = 127;
    params.address[3] = 1;
    params.port = service->port();
    params.timeout_ms = kTimeoutMs;
    ASSERT_EQ(context.open_bus(params, 0), ZR_OK);
    model.clear_records();
  }

  void configure(const std::function<void(sim::InstrumentConfig&)>& change) {
    sim::ModelConfig config = model.config();
    change(config.instrument);
    model.set_config(config);
  }

  std::vector<FrameRecord> received() const { return model.frame_records(); }
  std::vector<Bytes> received_writes() const {
    std::vector<Bytes> out;
    for (const FrameRecord& r : received()) {
      if (r.route == FrameRoute::kWrite) out.push_back(r.bytes);
    }
    return out;
  }

  FakeClock clock{0ns};
  ScopedClock installed_clock;
  std::ostringstream console_text;
  ScopedConsole installed_console;
  testing::CalTestFolder folder;
  sim::InstrumentModel model;
  std::ostringstream service_log;
  std::unique_ptr<sim::NetworkService> service;
  DeviceContext context;  // last, so that its bus leaves before the service it talks to
};

// A fake clock that moves this much on every reading, installed for one test.
class SteppingClock {
 public:
  explicit SteppingClock(std::chrono::nanoseconds step) : clock(step), installed(clock) {}
  FakeClock clock;
  ScopedClock installed;
};

TEST_F(FramesOverLoopback, SendFrameDeliversTheSealedAndClampedFrame) {
  folder.write_limits("[TX_FREQ_FIXED]\nmin=9000\nmax=6000000000\n");
  struct Case {
    const char* name;
    CommandFrame frame;
    double sent_frequency;  // what the instrument must see at offset 16 (0x4a only)
    std::int32_t status;
  };
  CommandFrame within(kOpTxConfigFfm);
  set_frame_f64(within, 16, 1e9);
  CommandFrame above(kOpTxConfigFfm);
  set_frame_f64(above, 16, 7e9);
  const std::vector<Case> cases = {
      {"close, all zero", CommandFrame(kOpClose), 0.0, ZR_OK},
      {"frequency within the limits", within, 1e9, ZR_OK},
      {"frequency above the limit", above, 6e9, ZR_CLAMPED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.clear_records();
    CommandFrame frame = c.frame;
    EXPECT_EQ(context.send_frame(frame), c.status);
    const auto frames = received();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].route, FrameRoute::kWrite);
    EXPECT_EQ(frames[0].check, FrameCheck::kValid);
    EXPECT_EQ(frames[0].opcode, c.frame.opcode());
    EXPECT_EQ(frames[0].bytes, Bytes(frame.bytes.begin(), frame.bytes.end()));
    if (c.frame.opcode() == kOpTxConfigFfm) {
      EXPECT_EQ(load_f64(frames[0].bytes.data() + 16), c.sent_frequency);
    }
  }
  // The close frame's checksum as the instrument checked it.
  EXPECT_EQ(load_u32(bytes_of(CommandFrame(kOpClose)).data() + 252), 0x97993A20u);
  EXPECT_EQ(model.counters().bad_checksums, 0u);
}

TEST_F(FramesOverLoopback, QueryFrameDecodesWhatTheInstrumentReports) {
  configure([](sim::InstrumentConfig& c) {
    c.identity.model = 131;
    c.identity.uid_low = 0xfedcba9876543210ull;
    c.identity.uid_high = 0x13572468u;
    c.identity.mcu_version = 0x00020001;
    c.identity.fpga_version = 0x00030002;
    c.identity.aux2 = 77;
    c.temperature_raw = -550;
    c.gnss.fix = 2;
    c.gnss.b2 = 14;
    c.gnss.datetime = (std::uint64_t{10323} << 32) | 123456u;  // 2023-03-01 12:34:56
    c.gnss.counter = 25'000'000;
    c.clock = {.source = 1, .frequency = 10e6, .output = 0};
    c.clock_monitor = {.count = 123456789, .edges = 42};
    c.supply[15] = 0x99;
    c.rf_cal_loaded = false;
  });

  DeviceStatus ready;
  ASSERT_EQ(context.query_frame(kOpQueryReady, ready), ZR_OK);
  EXPECT_EQ(ready.opcode, kOpQueryReady);
  EXPECT_EQ(ready.iq_cal_loaded, 1);
  EXPECT_EQ(ready.mcu_ready, 1);
  EXPECT_EQ(ready.rf_cal_loaded, 0);

  DeviceStatus id;
  ASSERT_EQ(context.query_frame(kOpQueryIdentity, id), ZR_OK);
  EXPECT_EQ(id.model, 131);
  EXPECT_EQ(id.uid_low, 0xfedcba9876543210ull);
  EXPECT_EQ(id.uid_high, 0x13572468u);
  EXPECT_EQ(id.aux2, 77u);
  // The identity block follows the last 0x89.
  EXPECT_EQ(context.identity.model, 131);
  EXPECT_EQ(context.identity.uid_high, 0x13572468u);
  EXPECT_EQ(context.identity.mcu_version, 0x00020001u);
  EXPECT_EQ(context.identity.fpga_version, 0x00030002u);

  DeviceStatus temperature;
  ASSERT_EQ(context.query_frame(kOpQueryTemperature, temperature), ZR_OK);
  EXPECT_EQ(temperature.temperature_raw, -550);

  DeviceStatus gnss;
  ASSERT_EQ(context.query_frame(kOpQueryGnss, gnss), ZR_OK);
  EXPECT_EQ(gnss.gnss_fix, 2);
  EXPECT_EQ(gnss.gnss_b2, 14);
  // 12:34:56 plus the added second, on 2023-03-01, and 25,000,000 ticks of 10 ns.
  EXPECT_EQ(gnss.gnss_epoch_ns, 1677674097ull * 1'000'000'000ull + 250'000'000ull);

  DeviceStatus clock_read;
  ASSERT_EQ(context.query_frame(kOpQueryClock, clock_read), ZR_OK);
  EXPECT_EQ(clock_read.clock_source, 1);
  EXPECT_EQ(clock_read.clock_frequency, 10e6);

  DeviceStatus monitor;
  ASSERT_EQ(context.query_frame(kOpQueryClockMonitor, monitor), ZR_OK);
  EXPECT_EQ(monitor.monitor_count, 123456789u);
  EXPECT_EQ(monitor.monitor_edges, 42);

  DeviceStatus supply;
  ASSERT_EQ(context.query_frame(kOpQuerySupply, supply), ZR_OK);
  EXPECT_EQ(supply.supply, model.config().instrument.supply);

  // Each query reached the instrument as a sealed, payload-free frame.
  const std::vector<std::uint8_t> sent = {kOpQueryReady,        kOpQueryIdentity, kOpQueryTemperature,
                                          kOpQueryGnss,         kOpQueryClock,    kOpQueryClockMonitor,
                                          kOpQuerySupply};
  const auto frames = received();
  ASSERT_EQ(frames.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(frames[i].route, FrameRoute::kQuery);
    EXPECT_EQ(frames[i].bytes, bytes_of(CommandFrame(sent[i]))) << i;
  }
}

TEST_F(FramesOverLoopback, AFailedQueryLeavesOnlyTheOpcodeSet) {
  start("unanswered-query 0x89 0x9c");
  for (std::uint8_t opcode : {kOpQueryIdentity, kOpQueryGnss}) {
    SCOPED_TRACE(unsigned{opcode});
    DeviceStatus status;
    status.opcode = 0x01;
    EXPECT_EQ(context.query_frame(opcode, status), ZR_TRANSPORT_FAILED);
    DeviceStatus expected;
    expected.opcode = opcode;
    EXPECT_EQ(status.opcode, expected.opcode);
    EXPECT_EQ(status.model, 0);
    EXPECT_EQ(status.uid_low, 0u);
    EXPECT_EQ(status.uid_high, 0u);
    EXPECT_EQ(status.mcu_version, 0u);
    EXPECT_EQ(status.gnss_datetime, 0u);
    EXPECT_EQ(status.gnss_counter, 0u);
    EXPECT_EQ(status.gnss_epoch_ns, 0u);
    EXPECT_EQ(status.gnss_fix, 0);
  }
  EXPECT_EQ(context.identity.model, 0);  // the identity block keeps what it had
  EXPECT_EQ(model.counters().unanswered_queries, 2u);
  // The failure costs no wait and leaves the link in step: the next query is answered.
  DeviceStatus temperature;
  EXPECT_EQ(context.query_frame(kOpQueryTemperature, temperature), ZR_OK);
  EXPECT_EQ(temperature.temperature_raw, model.config().instrument.temperature_raw);
  EXPECT_EQ(received().size(), 3u);
}

TEST_F(FramesOverLoopback, AcknowledgedFrameIsConfirmedByTheFirstPollByDefault) {
  CommandFrame frame(kOpCalRfHeader);
  set_frame_u32(frame, 8, 0xa5a5a5a5u);
  ASSERT_EQ(context.send_acknowledged(frame), ZR_OK);
  const auto frames = received();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].bytes, bytes_of(frame));
  EXPECT_EQ(frames[0].check, FrameCheck::kValid);
  EXPECT_EQ(frames[1].bytes, kReadyPoll);
  EXPECT_EQ(console_text.str(), "");
}

TEST_F(FramesOverLoopback, AcknowledgedFrameWaitsOutTheInstrumentsDelay) {
  // The instrument's delay is real time; the library's window is on the fake clock, whose
  // 100 us per reading leave 10,000 polls to the 1 s window, far more than 5 ms of polling.
  SteppingClock stepping(100us);
  configure([](sim::InstrumentConfig& c) { c.ready_delay = 5ms; });
  CommandFrame frame(kOpCalIqData);
  ASSERT_EQ(context.send_acknowledged(frame), ZR_OK);
  const auto frames = received();
  ASSERT_GE(frames.size(), 3u) << "the instrument confirmed at once";
  EXPECT_EQ(received_writes().size(), 1u);
  for (std::size_t i = 1; i < frames.size(); ++i) ASSERT_EQ(frames[i].bytes, kReadyPoll) << i;
}

TEST_F(FramesOverLoopback, NeverConfirmedFrameIsSentElevenTimesThenFails) {
  start("never-ready");
  SteppingClock stepping(50ms);  // 20 readings per 1 s window
  CommandFrame frame(kOpCalIqHeader);
  set_frame_u16(frame, 8, 0x1234);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  const auto writes = received_writes();
  ASSERT_EQ(writes.size(), 11u);
  for (const Bytes& write : writes) EXPECT_EQ(write, bytes_of(frame));
  const auto frames = received();
  EXPECT_GT(frames.size(), 22u);  // each attempt polled until its window ran out
  EXPECT_EQ(frames.back().bytes, kReadyPoll);
  EXPECT_EQ(stepping.clock.sleep_count(), 0u);
  EXPECT_EQ(console_text.str(), "");
}

TEST_F(FramesOverLoopback, UnansweredPollsBackOffAndRetryElevenTimes) {
  start("unanswered-query 0x16");
  SteppingClock stepping(1ms);
  CommandFrame frame(kOpCalStrategyTable);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  // write, failed poll, write, failed poll, ...
  const auto frames = received();
  ASSERT_EQ(frames.size(), 22u);
  for (std::size_t i = 0; i < frames.size(); i += 2) {
    EXPECT_EQ(frames[i].bytes, bytes_of(frame));
    EXPECT_EQ(frames[i + 1].bytes, kReadyPoll);
  }
  EXPECT_EQ(stepping.clock.sleep_count(), 11u);
  EXPECT_EQ(stepping.clock.total_slept(), 55ms);
  std::string expected;
  for (int i = 0; i < 11; ++i) expected += std::string(kMcuNotResponding) + "\n";
  EXPECT_EQ(console_text.str(), expected);
}

TEST_F(FramesOverLoopback, ClampInACalibrationTransferFailsBeforeAnythingIsSent) {
  folder.write_limits("[TX_LEVEL_FIXED]\nmin=-120\nmax=20\n");
  CommandFrame frame(kOpTxConfigFfm);
  set_frame_f64(frame, 16, 1e9);
  set_frame_f64(frame, 24, 30.0);
  EXPECT_EQ(context.send_acknowledged(frame), ZR_TRANSPORT_FAILED);
  EXPECT_TRUE(received().empty());
}

TEST_F(FramesOverLoopback, ChunkedTransferSplitsAt238Bytes) {
  struct Case {
    std::size_t length;
    std::size_t chunks;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{238, 1}, Case{239, 2}, Case{476, 2},
                        Case{477, 3}}) {
    SCOPED_TRACE(c.length);
    model.clear_records();
    Bytes data(c.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251 + 1);
    CommandFrame frame(kOpCalRfData);
    set_frame_u8(frame, 2, 0x77);  // a header field the chunks must keep
    ASSERT_EQ(context.send_chunked(frame, data), ZR_OK);

    const auto frames = received();
    ASSERT_EQ(frames.size(), 2 * c.chunks);  // each chunk, then the poll that confirmed it
    for (std::size_t k = 0; k < c.chunks; ++k) {
      const Bytes& chunk = frames[2 * k].bytes;
      EXPECT_EQ(frames[2 * k].check, FrameCheck::kValid);
      EXPECT_EQ(chunk[0], kOpCalRfData);
      EXPECT_EQ(chunk[2], 0x77);
      EXPECT_EQ(load_u16(chunk.data() + 8), k);
      const std::size_t first = k * 238;
      const std::size_t n = std::min<std::size_t>(238, c.length - first);
      const auto from = data.begin() + static_cast<std::ptrdiff_t>(first);
      EXPECT_EQ(Bytes(chunk.begin() + 10, chunk.begin() + 10 + static_cast<std::ptrdiff_t>(n)),
                Bytes(from, from + static_cast<std::ptrdiff_t>(n)));
      EXPECT_EQ(Bytes(chunk.begin() + 10 + static_cast<std::ptrdiff_t>(n), chunk.begin() + 248),
                Bytes(238 - n, 0));
      EXPECT_EQ(frames[2 * k + 1].bytes, kReadyPoll);
    }
  }
}

TEST_F(FramesOverLoopback, ChunkedTransferStopsAtTheFirstUnconfirmedChunk) {
  start("never-ready");
  SteppingClock stepping(100ms);
  CommandFrame frame(kOpCalFreqTable);
  const Bytes data(600, 0x42);
  EXPECT_EQ(context.send_chunked(frame, data), ZR_TRANSPORT_FAILED);
  const auto writes = received_writes();
  ASSERT_EQ(writes.size(), 11u);
  for (const Bytes& write : writes) EXPECT_EQ(load_u16(write.data() + 8), 0u);
}

TEST_F(FramesOverLoopback, ReadTableGathersEveryPage) {
  Bytes data(700);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
  configure([&](sim::InstrumentConfig& c) {
    sim::StoredTable table;
    table.kind = 1;
    table.index = 2;
    table.data = data;
    sim::StoredTable small;
    small.kind = 0;
    small.data = {1, 0xc4, 0x09};
    c.tables = {table, small};
  });
  struct Case {
    std::uint8_t kind;
    std::uint16_t index;
    Bytes expected;
    std::size_t pages;
  };
  for (const Case& c : {Case{1, 2, data, 3}, Case{0, 0, {1, 0xc4, 0x09}, 1}, Case{7, 7, {}, 1}}) {
    SCOPED_TRACE(::testing::Message() << "kind " << unsigned{c.kind} << " index " << c.index);
    model.clear_records();
    std::vector<std::uint8_t> table;
    ASSERT_EQ(context.read_table(c.kind, c.index, table), ZR_OK);
    EXPECT_EQ(table, c.expected);
    const auto writes = received_writes();
    ASSERT_EQ(writes.size(), c.pages);
    for (std::size_t page = 0; page < c.pages; ++page) {
      EXPECT_EQ(writes[page][0], kOpReadTable);
      EXPECT_EQ(writes[page][8], c.kind);
      EXPECT_EQ(load_u16(writes[page].data() + 10), c.index);
      EXPECT_EQ(load_u16(writes[page].data() + 12), page);
    }
  }
}

TEST_F(FramesOverLoopback, ReadTableRefusesInconsistentPages) {
  struct Case {
    const char* name;
    std::function<void(sim::StoredTable&)> misconfigure;
    std::size_t requests;  // 0x5b frames sent before the read gave up
  };
  const std::vector<Case> cases = {
      {"first reply carries page 1", [](sim::StoredTable& t) { t.page_number_shift = 1; }, 1},
      {"page count 0", [](sim::StoredTable& t) { t.reported_pages = 0; }, 1},
      {"252 valid bytes claimed", [](sim::StoredTable& t) { t.reported_valid = 252; }, 1},
      {"page of 255 bytes", [](sim::StoredTable& t) { t.delivered_size = 255; }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    configure([&](sim::InstrumentConfig& config) {
      sim::StoredTable table;
      table.kind = 3;
      table.data = Bytes(400, 0x33);
      c.misconfigure(table);
      config.tables = {table};
    });
    model.clear_records();
    std::vector<std::uint8_t> table = {9, 9};
    EXPECT_EQ(context.read_table(3, 0, table), ZR_TRANSPORT_FAILED);
    EXPECT_EQ(table, (Bytes{9, 9}));
    EXPECT_EQ(received_writes().size(), c.requests);
  }
}

}  // namespace
}  // namespace zr
