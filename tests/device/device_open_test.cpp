// The open, preset and close exports against the in-process simulator, over loopback Ethernet and
// over the simulated USB driver: what they report, and the frames and records the instrument got.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bus/usb/usb_driver.hpp"
#include "device/device_context.hpp"
#include "device/level_tables.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "platform/le_codec.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "sim/usb/sim_usb_driver.hpp"
#include "tests/device/recording_bus.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::FrameRoute;

constexpr std::uint32_t kTimeoutMs = 500;  // the network is real: fail fast

// A frame as the instrument saw it: 'W' for a write, 'Q' for a query, then the opcode.
struct Seen {
  char route;
  std::uint8_t opcode;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << s.route << std::hex << int{s.opcode} << std::dec;
}

std::vector<Seen> seen_frames(const sim::InstrumentModel& model) {
  std::vector<Seen> seen;
  for (const sim::FrameRecord& r : model.frame_records()) {
    seen.push_back({r.route == FrameRoute::kWrite ? 'W' : 'Q', r.opcode});
  }
  return seen;
}

// What every open and device_preset send before the mode: stop (three steps), channel preset
// with continuous wave and outputs off, then the waveform memory emptied.
const std::vector<Seen> kPresetFrames = {{'W', 0x11}, {'W', 0x1a}, {'W', 0x1b}, {'W', 0x3a},
                                         {'W', 0x4f}, {'W', 0x4e}, {'W', 0x38}};

std::vector<Seen> joined(std::vector<std::vector<Seen>> parts) {
  std::vector<Seen> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The identity record as the instrument must receive it, spelled out field by field.
Bytes identity_record(std::uint16_t product_id, std::string_view name, std::string_view serial,
                      std::uint8_t device_class) {
  Bytes record(100, 0);
  store_u32(record.data(), 0x5A5A5A5A);
  store_u16(record.data() + 4, product_id);
  std::copy(name.begin(), name.end(), record.begin() + 6);
  std::copy(serial.begin(), serial.end(), record.begin() + 36);
  const std::string_view maker = "Manufacturer";
  std::copy(maker.begin(), maker.end(), record.begin() + 66);
  record[98] = 1;
  record[99] = device_class;
  return record;
}

// The library's waits run on a fake clock; sleeps move it at once.
class OpenTest : public ::testing::Test {
 protected:
  OpenTest() : installed_clock(clock) {}
  void TearDown() override {
    if (context != nullptr) destroy_device_context(context);
  }
  FakeClock clock{0ns};
  ScopedClock installed_clock;
  ChannelHandle channels[2] = {};
  std::int16_t channel_count = -5;
  DeviceInfo info{};
  DeviceContext* context = nullptr;
};

class EthOpenTest : public OpenTest {
 protected:
  void SetUp() override { start(); }
  void start() {
    std::string error;
    service = std::make_unique<sim::NetworkService>(model);
    service->set_log(service_log);
    ASSERT_TRUE(service->start("127.0.0.1", 0, error)) << error;
  }
  void configure(const std::function<void(sim::InstrumentConfig&)>& change) {
    sim::ModelConfig config = model.config();
    change(config.instrument);
    model.set_config(config);
  }
  EthParams params() const {
    EthParams p{};
    p.protocol = ZR_ETH_PROTOCOL_TCP;
    p.address[0] = 127;
    p.address[3] = 1;
    p.port = service->port();
    p.timeout_ms = kTimeoutMs;
    return p;
  }
  ConnectionParams connection() const {
    ConnectionParams c{};
    c.interface = ZR_INTERFACE_ETH;
    c.address[0] = 127;
    c.address[3] = 1;
    c.port = service->port();
    c.timeout_ms = kTimeoutMs;
    return c;
  }
  std::int32_t open() {
    return device_open_eth(&context, params(), channels, &channel_count, &info);
  }
  void TearDown() override {
    OpenTest::TearDown();
    context = nullptr;
    service.reset();
  }

  sim::InstrumentModel model;
  std::ostringstream service_log;
  std::unique_ptr<sim::NetworkService> service;
};

TEST_F(EthOpenTest, OpenReportsTheInstrumentAndSendsTheOpenSequenceInOrder) {
  configure([](sim::InstrumentConfig& c) {
    c.identity = {.model = 135, .uid_low = 0x1122334455667788ull, .uid_high = 0xabcdef01u,
                  .info_word = 0x0203, .mcu_version = 0x00010005, .fpga_version = 0x00020100,
                  .aux1 = 11, .aux2 = 22, .aux3 = 33};
  });
  ASSERT_EQ(open(), ZR_OK);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(channel_count, 1);
  EXPECT_EQ(channels[0].device, &context);
  EXPECT_EQ(channels[0].index, 0);
  EXPECT_EQ(channels[1].device, nullptr);  // one channel: the second handle is not touched

  EXPECT_EQ(info.model, 135);
  EXPECT_EQ(info.uid_low, 0x1122334455667788ull);
  EXPECT_EQ(info.uid_high, 0xabcdef01u);
  EXPECT_EQ(info.info_word, 0x0203);
  EXPECT_EQ(info.mcu_version, 0x00010005u);
  EXPECT_EQ(info.fpga_version, 0x00020100u);
  EXPECT_EQ(info.aux1, 11u);
  EXPECT_EQ(info.aux2, 22u);
  EXPECT_EQ(info.aux3, 33u);
  EXPECT_EQ(info.bus_version, model.config().bus_info.firmware_version);
  EXPECT_EQ(info.link_bandwidth, context->bus->info().link_bandwidth);

  // Ethernet reads no tables.
  EXPECT_EQ(seen_frames(model),
            joined({{{'Q', 0x89}}, kPresetFrames, {{'W', 0x59}, {'Q', 0x16}}}));
  const auto frames = model.frame_records();
  EXPECT_EQ(load_u16(frames[8].bytes.data() + 8), 0);  // normal mode
  // The stream path is reset between the second and the third stop step.
  std::vector<sim::EventKind> kinds;
  for (const auto& e : model.events()) kinds.push_back(e.kind);
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(kinds[3], sim::EventKind::kStreamStop);
  EXPECT_EQ(model.counters().bad_checksums, 0u);
  EXPECT_TRUE(context->open_tables.freq_grid.empty());
}

TEST_F(EthOpenTest, IdentityRecordNamesTheModelFamilyAndUniqueId) {
  struct Case {
    std::uint16_t model;
    std::uint32_t uid_high;
    std::uint64_t uid_low;
    Bytes expected;  // empty: no record at all
  };
  const std::vector<Case> cases = {
      {135, 0x00c0ffee, 0x0123456789abcdefull,
       identity_record(0x0A01, "Signal Generator", "135_00c0ffee0123456789abcdef", 1)},
      {140, 0, 0x1, identity_record(0x010A, "Spectrum Analyzer", "140_0000000000000001", 2)},
      {132, 0, 0x1A2B, identity_record(0x0A01, "Signal Generator", "132_0000000000001a2b", 1)},
      {7, 0x5, 0, identity_record(0x010A, "Test & Measurment Device", "007_00000005", 1)},
      {7, 0, 0, identity_record(0x010A, "Test & Measurment Device", "007", 1)},
      {65535, 0xffffffff, 0xffffffffffffffffull,
       identity_record(0x010A, "Test & Measurment Device", "65535_ffffffffffffffffffffffff", 1)},
      {0, 0x5, 0x6, {}},  // model 0 is not identified
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    configure([&](sim::InstrumentConfig& config) {
      config.identity.model = c.model;
      config.identity.uid_high = c.uid_high;
      config.identity.uid_low = c.uid_low;
    });
    model.clear_records();
    ASSERT_EQ(open(), ZR_OK);
    const auto writes = model.data_writes();
    if (c.expected.empty()) {
      EXPECT_TRUE(writes.empty());
    } else {
      ASSERT_EQ(writes.size(), 1u);
      EXPECT_EQ(writes[0], c.expected);
    }
    EXPECT_EQ(info.model, c.model);
    EXPECT_EQ(device_close(&context), ZR_OK);
  }
}

TEST_F(EthOpenTest, UnsupportedProtocolFailsWithoutTouchingTheNetwork) {
  for (std::uint8_t protocol : {std::uint8_t{0}, std::uint8_t{2}, std::uint8_t{255}}) {
    SCOPED_TRACE(int{protocol});
    EthParams p = params();
    p.protocol = protocol;
    context = reinterpret_cast<DeviceContext*>(&info);  // must be replaced, then cleared
    EXPECT_EQ(device_open_eth(&context, p, channels, &channel_count, &info), ZR_NO_BUS);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(device_powered_by_eth(p), ZR_NO_BUS);
  }
  EXPECT_EQ(service->connections_accepted(), 0u);
}

TEST_F(EthOpenTest, FailedIdentityQueryDestroysTheContext) {
  sim::InstrumentFaults faults;
  faults.unanswered_queries.set(kOpQueryIdentity);
  model.set_faults(faults);
  EXPECT_EQ(open(), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(context, nullptr);
  EXPECT_EQ(seen_frames(model), (std::vector<Seen>{{'Q', 0x89}}));
}

TEST_F(EthOpenTest, NotReadyAfterFiveSecondsLeavesAUsableContext) {
  struct Case {
    bool rf_loaded;
    bool iq_loaded;
    std::int32_t status;
  };
  for (const Case& c : {Case{false, true, ZR_RF_CAL_MISSING}, Case{false, false, ZR_RF_CAL_MISSING},
                        Case{true, false, ZR_IQ_CAL_MISSING}}) {
    SCOPED_TRACE(::testing::Message() << c.rf_loaded << c.iq_loaded);
    configure([&](sim::InstrumentConfig& config) {
      config.rf_cal_loaded = c.rf_loaded;
      config.iq_cal_loaded = c.iq_loaded;
    });
    const auto before = clock.elapsed();
    ASSERT_EQ(open(), c.status);
    EXPECT_GE(clock.elapsed() - before, 5s);
    EXPECT_LT(clock.elapsed() - before, 5s + 60ms);  // and the 50 ms after clearing the memory
    ASSERT_NE(context, nullptr);
    model.clear_records();
    EXPECT_EQ(device_config_calmode(&context, 3), ZR_OK);
    EXPECT_EQ(context->cal_mode, 3);
    EXPECT_EQ(device_close(&context), ZR_OK);
    EXPECT_EQ(seen_frames(model), (std::vector<Seen>{{'W', 0x59}, {'W', 0x34}}));
    EXPECT_EQ(context, nullptr);
  }
}

TEST_F(EthOpenTest, PresetRestoresTheMirrorAndSendsThePresetFrames) {
  ASSERT_EQ(open(), ZR_OK);
  context->device_settings.gnss_period = 12.0f;
  context->live_channel(0).running = 1;
  model.clear_records();
  EXPECT_EQ(device_preset(&context), ZR_OK);
  EXPECT_EQ(context->device_settings.gnss_period, 0.0f);
  EXPECT_EQ(seen_frames(model), kPresetFrames);
  EXPECT_EQ(device_preset(nullptr), ZR_INVALID_HANDLE);
}

TEST_F(EthOpenTest, MergeAndQueryOpenWithTheGivenParametersOnly) {
  const ConnectionParams given = connection();
  std::uint32_t api_version = 0;
  std::uint8_t used = 0xee;
  ASSERT_EQ(device_open_merge(&context, 0, 1, &given, channels, &channel_count, &info,
                              &api_version, &used),
            ZR_OK);
  EXPECT_EQ(used, ZR_INTERFACE_ETH);
  EXPECT_EQ(api_version, 0x00020012u);
  EXPECT_EQ(channels[0].device, &context);
  EXPECT_EQ(info.model, 132);
  // No mode, ready wait or table read.
  EXPECT_EQ(seen_frames(model), joined({{{'Q', 0x89}}, kPresetFrames}));
  EXPECT_EQ(device_close(&context), ZR_OK);

  model.clear_records();
  info = {};
  api_version = 0;
  ASSERT_EQ(device_open_query(&context, 0, 1, &given, &info, &api_version, &used), ZR_OK);
  EXPECT_EQ(info.uid_low, 0x0123456789abcdefull);
  EXPECT_EQ(api_version, 0x00020012u);
  EXPECT_EQ(device_close(&context), ZR_OK);
  EXPECT_EQ(seen_frames(model), joined({{{'Q', 0x89}}, kPresetFrames, {{'W', 0x34}}}));

  EXPECT_EQ(device_open_merge(&context, 0, 1, nullptr, channels, &channel_count, &info,
                              &api_version, &used),
            ZR_INVALID_HANDLE);
  ConnectionParams no_bus = given;
  no_bus.interface = 7;
  EXPECT_EQ(device_open_query(&context, 0, 1, &no_bus, &info, &api_version, &used), ZR_NO_BUS);
  EXPECT_EQ(context, nullptr);
}

TEST_F(EthOpenTest, PowerSourceNoticeIsSentThenTheConnectionWaitsTwoSeconds) {
  const auto slept_before = clock.total_slept();
  EXPECT_EQ(device_powered_by_eth(params()), ZR_OK);
  EXPECT_EQ(clock.total_slept() - slept_before, 2s);
  const auto frames = model.frame_records();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].opcode, kOpPowerSource);
  EXPECT_EQ(Bytes(frames[0].bytes.begin() + 1, frames[0].bytes.begin() + 252), Bytes(251, 0));

  EthParams closed = params();
  service.reset();  // nobody listens on that port any more
  EXPECT_EQ(device_powered_by_eth(closed), ZR_NO_BUS);
}

TEST(DeviceClose, SendsTheCloseFrameAndDestroysTheContextEvenWhenTheWriteFails) {
  for (std::int32_t write_status : {ZR_OK, ZR_BUS_USB_TRANSFER_FAILED}) {
    SCOPED_TRACE(write_status);
    DeviceContext* context = nullptr;
    ASSERT_NE(create_device_context(&context), nullptr);
    auto owned = std::make_unique<testing::RecordingBus>();
    testing::RecordingBus* bus = owned.get();
    bool destroyed = false;
    std::vector<Bytes> written;
    bus->default_write_status = write_status;
    bus->on_destroy = [&] {
      destroyed = true;
      written = bus->written();
    };
    context->bus = std::move(owned);
    const std::int32_t expected = write_status == ZR_OK ? std::int32_t{ZR_OK}
                                                        : std::int32_t{ZR_TRANSPORT_FAILED};
    EXPECT_EQ(device_close(&context), expected);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(context, nullptr);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0][0], kOpClose);
  }
  DeviceContext* none = nullptr;
  EXPECT_EQ(device_close(&none), ZR_INVALID_HANDLE);
  EXPECT_EQ(device_close(nullptr), ZR_INVALID_HANDLE);
}

TEST(DeviceApiVersion, Is2_0_18) { EXPECT_EQ(device_query_apiverion(), 131090u); }

// ---- USB

class UsbOpenTest : public OpenTest {
 protected:
  UsbOpenTest() : installed_driver(driver) {}
  void attach(const std::function<void(sim::InstrumentConfig&)>& change = {}) {
    sim::ModelConfig config = sim::default_model_config();
    config.bus_info.firmware_version = 0x00030700;
    if (change) change(config.instrument);
    model = std::make_shared<sim::InstrumentModel>(config);
    device = std::make_shared<sim::VirtualUsbDevice>(model);
    driver.attach(usb::DeviceClass::instrument, device);
  }
  std::int32_t open() { return device_open_usb(&context, 0, channels, &channel_count, &info); }

  sim::SimUsbDriver driver;
  usb::ScopedUsbDriver installed_driver;
  std::shared_ptr<sim::InstrumentModel> model;
  std::shared_ptr<sim::VirtualUsbDevice> device;
};

TEST_F(UsbOpenTest, OpenIdentifiesPresetsWaitsAndReadsTheStoredTables) {
  attach();
  ASSERT_EQ(open(), ZR_OK);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(info.model, 132);
  EXPECT_EQ(info.bus_version, 0x00030700u);
  EXPECT_EQ(info.link_bandwidth, 625u);
  EXPECT_EQ(device->identity_record(),
            identity_record(0x0A01, "Signal Generator", "132_00c0ffee0123456789abcdef", 1));

  EXPECT_EQ(seen_frames(*model), joined({{{'Q', 0x89}},
                                         kPresetFrames,
                                         {{'W', 0x59}, {'Q', 0x16}},
                                         {{'W', 0x5b}, {'W', 0x5b}, {'W', 0x5b}, {'W', 0x5b}}}));
  // The simulator's segment: 100 MHz to 6 GHz in 100 MHz steps, one temperature point.
  const OpenTimeTables& tables = context->open_tables;
  ASSERT_EQ(tables.freq_grid.size(), 60u);
  EXPECT_EQ(tables.freq_grid.front(), 100e6);
  EXPECT_EQ(tables.freq_grid.back(), 6e9);
  EXPECT_EQ(context->strategy_table.segment_count, 1);
  EXPECT_EQ(tables.temperature_points, (Bytes{1, 0xc4, 0x09}));
  EXPECT_EQ(tables.upper_levels.entries, std::vector<std::int16_t>(60, 2000));
  EXPECT_EQ(tables.lower_levels.entries, std::vector<std::int16_t>(60, -12000));
  EXPECT_EQ(tables.upper_levels.row_start[0], 0u);
}

TEST_F(UsbOpenTest, OpenWithoutAnInstrumentFailsWithNoBus) {
  context = reinterpret_cast<DeviceContext*>(&info);
  EXPECT_EQ(open(), ZR_NO_BUS);
  EXPECT_EQ(context, nullptr);
  std::uint32_t api_version = 0;
  EXPECT_EQ(device_open_usb_updater(&context, 0, channels, &channel_count, &info, &api_version),
            ZR_NO_BUS);
  EXPECT_EQ(device_powered_by_usb(0), ZR_NO_BUS);
  EXPECT_EQ(device_open_usb(nullptr, 0, channels, &channel_count, &info), ZR_INVALID_HANDLE);
}

TEST_F(UsbOpenTest, NotReadyReturnsRfMissingAfterFiveSecondsAndReadsNoTable) {
  attach([](sim::InstrumentConfig& c) { c.rf_cal_loaded = false; });
  ASSERT_EQ(open(), ZR_RF_CAL_MISSING);
  EXPECT_GE(clock.elapsed(), 5s);
  ASSERT_NE(context, nullptr);
  for (const Seen& s : seen_frames(*model)) EXPECT_NE(s.opcode, kOpReadTable);
  EXPECT_TRUE(context->open_tables.freq_grid.empty());
  model->clear_records();
  EXPECT_EQ(device_close(&context), ZR_OK);
  EXPECT_EQ(seen_frames(*model), (std::vector<Seen>{{'W', 0x34}}));
}

// A segment record of the stored segment table.
Bytes segment(std::int64_t start, std::int64_t stop, std::int64_t step) {
  Bytes bytes(kSegmentRecordSize, 0);
  store_u64(bytes.data(), static_cast<std::uint64_t>(start));
  store_u64(bytes.data() + 8, static_cast<std::uint64_t>(stop));
  store_u64(bytes.data() + 24, static_cast<std::uint64_t>(step));
  return bytes;
}

void replace_table(sim::InstrumentConfig& config, std::uint8_t kind, Bytes data) {
  for (sim::StoredTable& table : config.tables) {
    if (table.kind == kind) table.data = std::move(data);
  }
}

TEST_F(UsbOpenTest, MalformedStoredTablesAreRejectedAndLeaveNoTables) {
  Bytes many_segments;
  for (int i = 0; i < 35; ++i) {
    const Bytes one = segment(i * 1000, i * 1000 + 10, 10);
    many_segments.insert(many_segments.end(), one.begin(), one.end());
  }
  Bytes long_row(61 * 2, 0);  // the grid has 60 points
  struct Case {
    const char* name;
    std::uint8_t kind;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {"35 segments", 2, many_segments},
      {"step 0", 2, segment(100, 200, 0)},
      {"negative step", 2, segment(100, 200, -10)},
      {"stop below start", 2, segment(200, 100, 10)},
      {"grid beyond the bound", 2, segment(0, kMaxFreqGridPoints, 1)},
      {"grid of the widest span", 2, segment(INT64_MIN, INT64_MAX, 1)},
      {"nine temperature points", 0, Bytes{9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"temperatures missing", 0, Bytes{2, 0xc4, 0x09}},
      {"level row longer than the grid", 1, long_row},
      {"level row of odd length", 3, Bytes{1, 2, 3}},
  };
  attach();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::ModelConfig config = model->config();
    config.instrument = sim::default_model_config().instrument;
    replace_table(config.instrument, c.kind, c.data);
    model->set_config(config);
    ASSERT_EQ(open(), ZR_TRANSPORT_FAILED);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(context->open_tables.freq_grid.empty());
    EXPECT_TRUE(context->open_tables.temperature_points.empty());
    EXPECT_TRUE(context->open_tables.upper_levels.entries.empty());
    EXPECT_TRUE(context->open_tables.lower_levels.entries.empty());
    EXPECT_EQ(device_close(&context), ZR_OK);
  }
}

TEST_F(UsbOpenTest, TablesAtTheirBoundsAreTaken) {
  // 34 segments of one point each, eight temperature points, short rows filled with zeros.
  Bytes segments;
  for (int i = 0; i < 34; ++i) {
    const Bytes one = segment(1000 + i, 1000 + i, 1);
    segments.insert(segments.end(), one.begin(), one.end());
  }
  Bytes temperatures{8};
  for (int i = 0; i < 8; ++i) temperatures.insert(temperatures.end(), {0x10, 0x00});
  attach([&](sim::InstrumentConfig& config) {
    replace_table(config, 2, segments);
    replace_table(config, 0, temperatures);
    replace_table(config, 1, Bytes{0x05, 0x00});
    replace_table(config, 3, Bytes(34 * 2, 0xff));
  });
  ASSERT_EQ(open(), ZR_OK);
  const OpenTimeTables& tables = context->open_tables;
  ASSERT_EQ(tables.freq_grid.size(), 34u);
  EXPECT_EQ(tables.freq_grid[33], 1033.0);
  ASSERT_EQ(tables.upper_levels.entries.size(), 8u * 34u);
  // The simulator holds a row for index 0 only; the other rows read as empty.
  EXPECT_EQ(tables.upper_levels.entries[0], 5);
  EXPECT_EQ(tables.upper_levels.entries[1], 0);
  EXPECT_EQ(tables.upper_levels.row_start[7], 7u * 34u);
  EXPECT_EQ(tables.lower_levels.entries[33], -1);
}

TEST_F(UsbOpenTest, UpdaterOpenStopsAfterThePreset) {
  attach();
  std::uint32_t api_version = 0;
  info.link_bandwidth = 0xdead;
  ASSERT_EQ(device_open_usb_updater(&context, 0, channels, &channel_count, &info, &api_version),
            ZR_OK);
  EXPECT_EQ(api_version, 0x00020012u);
  EXPECT_EQ(info.bus_version, 0x00030700u);
  EXPECT_EQ(info.link_bandwidth, 0xdeadu);
  EXPECT_EQ(channel_count, 1);
  EXPECT_EQ(seen_frames(*model), joined({{{'Q', 0x89}}, kPresetFrames}));
}

TEST_F(UsbOpenTest, ModelZeroIsNotIdentified) {
  attach([](sim::InstrumentConfig& c) { c.identity.model = 0; });
  ASSERT_EQ(open(), ZR_OK);
  EXPECT_TRUE(device->identity_record().empty());
  for (const auto& r : device->requests()) EXPECT_NE(r.setup.request, 0xF0);
}

TEST_F(UsbOpenTest, PowerSourceNoticeOverUsb) {
  attach();
  EXPECT_EQ(device_powered_by_usb(0), ZR_OK);
  EXPECT_EQ(clock.total_slept(), 2s);
  EXPECT_EQ(seen_frames(*model), (std::vector<Seen>{{'W', kOpPowerSource}}));
  EXPECT_EQ(driver.open_handles(), 0u);
}

}  // namespace
}  // namespace zr
