// The simulated instrument's command interpreter, driven through the model as the transports
// drive it: replies checked with the library's own decoder, checksums, mcu_ready timing, table
// pages and the instrument faults.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "device/command_frame.hpp"
#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "device/query_reply.hpp"
#include "platform/clock.hpp"
#include "sim/instrument_model.hpp"

namespace zr::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes sealed(CommandFrame frame) {
  seal_frame(frame);
  return Bytes(frame.bytes.begin(), frame.bytes.end());
}

Bytes sealed(std::uint8_t opcode) { return sealed(CommandFrame(opcode)); }

Bytes corrupted(std::uint8_t opcode) {
  Bytes frame = sealed(opcode);
  frame[100] ^= 0x01;
  return frame;
}

Bytes table_request(std::uint8_t kind, std::uint16_t index, std::uint16_t page) {
  CommandFrame frame(kOpReadTable);
  set_frame_u8(frame, 8, kind);
  set_frame_u16(frame, 10, index);
  set_frame_u16(frame, 12, page);
  return sealed(frame);
}

// An instrument whose every reported value differs from the defaults and from its neighbours,
// so that a field written to the wrong offset shows.
InstrumentConfig distinct_config() {
  InstrumentConfig c;
  c.identity = {.model = 0x0142,
                .uid_low = 0x1122334455667788ull,
                .uid_high = 0x99aabbccu,
                .info_word = 0xddee,
                .mcu_version = 0x00030405,
                .fpga_version = 0x00060708,
                .aux1 = 0xa1a2a3a4u,
                .aux2 = 0xb1b2b3b4u,
                .aux3 = 0xc1c2c3c4u};
  c.temperature_raw = -1234;
  c.gnss = {.value1 = -33.8688f,
            .value2 = 151.2093f,
            .fix = 0x55,
            .value3 = 0xfedc,
            .b1 = 0x11,
            .b2 = 0x22,
            .b3 = 0x33,
            .b4 = 0x44,
            .datetime = (std::uint64_t{311299} << 32) | 235959u,
            .counter = 0x0badf00du};
  c.clock = {.source = 2, .frequency = 100.25e6, .output = 7};
  c.clock_monitor = {.count = 0x0102030405060708ull, .edges = 0x9abc};
  for (std::size_t i = 0; i < c.supply.size(); ++i) c.supply[i] = static_cast<std::uint8_t>(0xf0 + i);
  c.iq_cal_loaded = true;
  c.rf_cal_loaded = false;
  return c;
}

ModelConfig with_instrument(InstrumentConfig instrument) {
  ModelConfig config = default_model_config();
  config.instrument = std::move(instrument);
  return config;
}

DeviceStatus decoded(std::uint8_t opcode, const Bytes& reply) {
  std::array<std::uint8_t, kReplySize> block{};
  std::copy(reply.begin(), reply.end(), block.begin());
  DeviceStatus status;
  decode_reply(opcode, block, status);
  return status;
}

class CommandInterpreterTest : public ::testing::Test {
 protected:
  CommandInterpreterTest() {
    model.set_log(log);
    model.set_clock(clock);
  }

  Bytes query(const Bytes& frame, std::uint32_t room = 128, std::int32_t expected = kModelOk) {
    Bytes reply;
    EXPECT_EQ(model.query(frame, room, 1000, reply), expected);
    return reply;
  }
  std::uint8_t mcu_ready() { return decoded(kOpQueryReady, query(sealed(kOpQueryReady))).mcu_ready; }
  Bytes read(std::uint32_t room = 256) {
    Bytes data;
    EXPECT_EQ(model.read(room, data), kModelOk);
    return data;
  }

  std::ostringstream log;
  FakeClock clock;
  InstrumentModel model{with_instrument(distinct_config())};
};

TEST_F(CommandInterpreterTest, EveryQueryIsAnsweredInTheLayoutTheLibraryDecodes) {
  const InstrumentConfig c = distinct_config();
  struct Case {
    std::uint8_t opcode;
    std::function<void(const DeviceStatus&)> check;
  };
  const std::vector<Case> cases = {
      {kOpQueryReady,
       [](const DeviceStatus& s) {
         EXPECT_EQ(s.iq_cal_loaded, 1);
         EXPECT_EQ(s.mcu_ready, 1);  // no calibration frame outstanding
         EXPECT_EQ(s.rf_cal_loaded, 0);
       }},
      {kOpQueryIdentity,
       [&](const DeviceStatus& s) {
         EXPECT_EQ(s.model, c.identity.model);
         EXPECT_EQ(s.uid_low, c.identity.uid_low);
         EXPECT_EQ(s.uid_high, c.identity.uid_high);
         EXPECT_EQ(s.info_word, c.identity.info_word);
         EXPECT_EQ(s.mcu_version, c.identity.mcu_version);
         EXPECT_EQ(s.fpga_version, c.identity.fpga_version);
         EXPECT_EQ(s.aux1, c.identity.aux1);
         EXPECT_EQ(s.aux2, c.identity.aux2);
         EXPECT_EQ(s.aux3, c.identity.aux3);
       }},
      {kOpQueryTemperature,
       [&](const DeviceStatus& s) { EXPECT_EQ(s.temperature_raw, c.temperature_raw); }},
      {kOpQueryGnss,
       [&](const DeviceStatus& s) {
         EXPECT_EQ(s.gnss_value1, c.gnss.value1);
         EXPECT_EQ(s.gnss_value2, c.gnss.value2);
         EXPECT_EQ(s.gnss_fix, c.gnss.fix);
         EXPECT_EQ(s.gnss_value3, static_cast<float>(c.gnss.value3));
         EXPECT_EQ(s.gnss_b1, c.gnss.b1);
         EXPECT_EQ(s.gnss_b2, c.gnss.b2);
         EXPECT_EQ(s.gnss_b3, c.gnss.b3);
         EXPECT_EQ(s.gnss_b4, c.gnss.b4);
         EXPECT_EQ(s.gnss_datetime, c.gnss.datetime);
         EXPECT_EQ(s.gnss_counter, c.gnss.counter);
       }},
      {kOpQueryClockMonitor,
       [&](const DeviceStatus& s) {
         EXPECT_EQ(s.monitor_count, c.clock_monitor.count);
         EXPECT_EQ(s.monitor_edges, c.clock_monitor.edges);
       }},
      {kOpQuerySupply, [&](const DeviceStatus& s) { EXPECT_EQ(s.supply, c.supply); }},
      {kOpQueryClock,
       [&](const DeviceStatus& s) {
         EXPECT_EQ(s.clock_source, c.clock.source);
         EXPECT_EQ(s.clock_frequency, c.clock.frequency);
         EXPECT_EQ(s.clock_output, c.clock.output);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "opcode 0x" << std::hex << unsigned{k.opcode});
    const Bytes reply = query(sealed(k.opcode));
    ASSERT_EQ(reply.size(), kReplySize);
    k.check(decoded(k.opcode, reply));
  }
}

TEST_F(CommandInterpreterTest, RepliesAreCutToTheRoomAndUnknownQueriesGetZeros) {
  EXPECT_EQ(query(sealed(kOpQueryIdentity), 1000).size(), kReplySize);
  const Bytes full = query(sealed(kOpQueryIdentity));
  EXPECT_EQ(query(sealed(kOpQueryIdentity), 10), Bytes(full.begin(), full.begin() + 10));
  EXPECT_TRUE(query(sealed(kOpQueryIdentity), 0).empty());
  EXPECT_EQ(query(sealed(kMcuRoot)), Bytes(kReplySize, 0));
  // The test hook still takes precedence over the interpreter.
  model.queue_query_reply({1, 2, 3});
  EXPECT_EQ(query(sealed(kOpQueryIdentity)), (Bytes{1, 2, 3}));
}

TEST_F(CommandInterpreterTest, BadChecksumsAreCountedLoggedNowAndThenAndNotActedOn) {
  // Not acted on: no table page for a corrupted 0x5b, no reply fields for a corrupted query,
  // and a corrupted calibration frame does not start a confirmation.
  ModelConfig config = model.config();
  config.instrument.ready_delay = 1h;
  model.set_config(config);
  Bytes request = table_request(2, 0, 0);
  request[20] ^= 0x80;
  model.write(request);
  EXPECT_TRUE(read().empty());
  EXPECT_EQ(query(corrupted(kOpQueryIdentity)), Bytes(kReplySize, 0));
  model.write(corrupted(kOpCalRfHeader));
  EXPECT_EQ(mcu_ready(), 1);
  for (int i = 0; i < 2; ++i) model.write(corrupted(kOpTxConfigFfm));
  EXPECT_EQ(model.counters().bad_checksums, 5u);

  // Logged at counts 1, 2 and 4 only, so that a flood costs no more than a few lines.
  std::vector<std::string> lines;
  std::istringstream in(log.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "zr-sim: frame with a bad checksum, opcode 0x5b (bad checksums so far: 1)",
                       "zr-sim: frame with a bad checksum, opcode 0x89 (bad checksums so far: 2)",
                       "zr-sim: frame with a bad checksum, opcode 0x4a (bad checksums so far: 4)"}));

  // Frames that carry no checksum are not counted: other lengths and remote-update packets.
  model.write(Bytes{kOpTxConfigFfm, 1, 2, 3});
  model.write(Bytes(256, 0xfe));
  model.write(Bytes(256, 0xff));
  EXPECT_EQ(model.counters().bad_checksums, 5u);
}

TEST_F(CommandInterpreterTest, FramesAreRecordedWithRouteOpcodeAndCheck) {
  model.write(sealed(kOpTxConfigFfm));
  query(sealed(kOpQueryTemperature));
  model.write(corrupted(kOpClose));
  model.write(Bytes{0x12, 0x34});
  const auto records = model.frame_records();
  ASSERT_EQ(records.size(), 4u);
  const std::vector<std::tuple<FrameRoute, std::uint8_t, FrameCheck>> expected = {
      {FrameRoute::kWrite, kOpTxConfigFfm, FrameCheck::kValid},
      {FrameRoute::kQuery, kOpQueryTemperature, FrameCheck::kValid},
      {FrameRoute::kWrite, kOpClose, FrameCheck::kBadChecksum},
      {FrameRoute::kWrite, 0x12, FrameCheck::kUnchecked},
  };
  for (std::size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::make_tuple(records[i].route, records[i].opcode, records[i].check), expected[i]);
    EXPECT_EQ(records[i].bytes, model.frames()[i]);
  }
  EXPECT_EQ(records[0].bytes, sealed(kOpTxConfigFfm));
}

TEST_F(CommandInterpreterTest, McuReadyDropsAfterEachCalibrationFrameForTheConfiguredDelay) {
  ModelConfig config = model.config();
  config.instrument.ready_delay = 30ms;
  model.set_config(config);

  for (std::uint8_t opcode : {kOpCalStrategyTable, kOpCalRfHeader, kOpCalRfData, kOpCalIqHeader,
                              kOpCalIqData, kOpCalFreqTable}) {
    SCOPED_TRACE(testing::Message() << "opcode 0x" << std::hex << unsigned{opcode});
    model.write(sealed(opcode));
    EXPECT_EQ(mcu_ready(), 0);
    clock.advance(29ms);
    EXPECT_EQ(mcu_ready(), 0);
    clock.advance(1ms);
    EXPECT_EQ(mcu_ready(), 1);
  }
  // Frames the MCU does not confirm leave the flag alone.
  for (std::uint8_t opcode : {kOpCalDownloadDirection, kOpCalMode, kOpTxConfigFfm, kOpReadTable}) {
    model.write(sealed(opcode));
    EXPECT_EQ(mcu_ready(), 1) << unsigned{opcode};
  }
}

TEST_F(CommandInterpreterTest, McuReadyComesBackAtOnceByDefault) {
  InstrumentModel fresh;
  fresh.write(sealed(kOpCalRfData));
  Bytes reply;
  ASSERT_EQ(fresh.query(sealed(kOpQueryReady), 128, 1000, reply), kModelOk);
  EXPECT_EQ(decoded(kOpQueryReady, reply).mcu_ready, 1);
}

TEST_F(CommandInterpreterTest, NeverReadyKeepsAConfirmationOutstandingForever) {
  InstrumentFaults faults;
  faults.never_ready = true;
  model.set_faults(faults);
  EXPECT_EQ(mcu_ready(), 1);  // idle
  model.write(sealed(kOpCalIqHeader));
  clock.advance(24h);
  EXPECT_EQ(mcu_ready(), 0);
  // The rest of the instrument still answers.
  EXPECT_EQ(decoded(kOpQueryIdentity, query(sealed(kOpQueryIdentity))).model, 0x0142);
}

TEST_F(CommandInterpreterTest, UnansweredQueriesFailWithoutBytesAndOthersStillAnswer) {
  std::string error;
  auto plan = FaultPlan::parse("unanswered-query 0x16 0x95", error);
  ASSERT_TRUE(plan) << error;
  model.set_faults(plan->instrument);
  EXPECT_TRUE(query(sealed(kOpQueryReady), 128, kQueryUnanswered).empty());
  EXPECT_TRUE(query(sealed(kOpQueryTemperature), 128, kQueryUnanswered).empty());
  EXPECT_EQ(query(sealed(kOpQueryIdentity)).size(), kReplySize);
  EXPECT_EQ(model.counters().unanswered_queries, 2u);
  // A frame that is not acted on cannot be left unanswered on purpose either.
  EXPECT_EQ(query(corrupted(kOpQueryReady)), Bytes(kReplySize, 0));
}

TEST_F(CommandInterpreterTest, TablesAreServedPageByPageToReads) {
  Bytes data(600);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  ModelConfig config = model.config();
  StoredTable table;
  table.kind = 1;
  table.index = 3;
  table.data = data;
  config.instrument.tables = {table};
  model.set_config(config);

  struct Page {
    std::uint16_t page;
    std::uint8_t valid;
    std::size_t first;
  };
  for (const Page& p : {Page{0, 251, 0}, Page{1, 251, 251}, Page{2, 98, 502}, Page{3, 0, 0}}) {
    SCOPED_TRACE(p.page);
    model.write(table_request(1, 3, p.page));
    const Bytes page = read();
    ASSERT_EQ(page.size(), 256u);
    EXPECT_EQ(load_u16(page.data()), 3u);
    EXPECT_EQ(load_u16(page.data() + 2), p.page);
    EXPECT_EQ(page[4], p.valid);
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(p.first);
    EXPECT_EQ(Bytes(page.begin() + 5, page.begin() + 5 + p.valid), Bytes(from, from + p.valid));
    EXPECT_EQ(Bytes(page.begin() + 5 + p.valid, page.end()), Bytes(251 - p.valid, 0));
  }
  // A table the instrument does not hold reads as an empty one.
  model.write(table_request(1, 4, 0));
  const Bytes missing = read();
  ASSERT_EQ(missing.size(), 256u);
  EXPECT_EQ(load_u16(missing.data()), 1u);
  EXPECT_EQ(missing[4], 0);
  // Pages wait for the client in order; a small read takes part of one.
  model.write(table_request(1, 3, 0));
  model.write(table_request(1, 3, 1));
  EXPECT_EQ(read(4), (Bytes{3, 0, 0, 0}));
  EXPECT_EQ(read(256).size(), 256u);
  EXPECT_EQ(read(256).size(), 252u);
  EXPECT_TRUE(read().empty());
}

TEST(StoredTablePages, MisconfiguredTablesBreakExactlyTheFieldAsked) {
  StoredTable base;
  base.data = Bytes(300, 0x5a);
  struct Case {
    const char* name;
    std::function<void(StoredTable&)> misconfigure;
    std::uint16_t page;
    std::size_t size;
    std::uint16_t count;
    std::uint16_t number;
    std::uint8_t valid;
  };
  const std::vector<Case> cases = {
      {"sound", [](StoredTable&) {}, 1, 256, 2, 1, 49},
      {"smaller pages", [](StoredTable& t) { t.page_data = 100; }, 2, 256, 3, 2, 100},
      {"page size 0 counts as 1", [](StoredTable& t) { t.page_data = 0; }, 299, 256, 300, 299, 1},
      {"reported count", [](StoredTable& t) { t.reported_pages = 0; }, 0, 256, 0, 0, 251},
      {"shifted numbers", [](StoredTable& t) { t.page_number_shift = 1; }, 0, 256, 2, 1, 251},
      {"claimed length", [](StoredTable& t) { t.reported_valid = 252; }, 1, 256, 2, 1, 252},
      {"short page", [](StoredTable& t) { t.delivered_size = 255; }, 0, 255, 2, 0, 251},
      {"empty table", [](StoredTable& t) { t.data.clear(); }, 0, 256, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoredTable table = base;
    c.misconfigure(table);
    const Bytes page = encode_table_page(&table, c.page);
    ASSERT_EQ(page.size(), c.size);
    EXPECT_EQ(load_u16(page.data()), c.count);
    EXPECT_EQ(load_u16(page.data() + 2), c.number);
    EXPECT_EQ(page[4], c.valid);
  }
}

TEST(DefaultInstrument, ReportsTheSameIdentityInTheDeviceListAndToTheIdentityQuery) {
  InstrumentModel model;
  Bytes reply;
  ASSERT_EQ(model.query(sealed(kOpQueryIdentity), 128, 1000, reply), kModelOk);
  const DeviceStatus status = decoded(kOpQueryIdentity, reply);
  EXPECT_EQ(status.model / 10, 13);  // a signal generator
  Bytes list;
  ASSERT_EQ(model.list_devices(list), kModelOk);
  EXPECT_EQ(load_u16(list.data()), status.model);
  EXPECT_EQ(load_u64(list.data() + 8), status.uid_low);
  EXPECT_EQ(load_u32(list.data() + 16), status.uid_high);
  // Both calibrations loaded and the MCU ready, as an instrument right after its open.
  reply.clear();
  ASSERT_EQ(model.query(sealed(kOpQueryReady), 128, 1000, reply), kModelOk);
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 1);
  EXPECT_EQ(reply[2], 1);
}

}  // namespace
}  // namespace zr::sim
