// The device-level exports: the frames they send and the values they derive, on the recording
// bus, and the queries against the simulator over loopback Ethernet and simulated USB.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

#include "bus/usb/usb_driver.hpp"
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
constexpr std::uint64_t kComplete = std::uint64_t{1} << 63;

class DeviceLevelTest : public ::testing::Test {
 protected:
  DeviceLevelTest() : handle(&recording.context) {}
  // The only frame written since the last call.
  Bytes last_written() {
    const auto written = recording.bus->written();
    EXPECT_EQ(written.size(), 1u);
    recording.bus->calls.clear();
    return written.empty() ? Bytes(256) : written.back();
  }
  static testing::BusReply reply(Bytes bytes) {
    bytes.resize(128);
    return {ZR_OK, bytes, -1};
  }
  static Bytes monitor_reply(std::uint64_t count, std::uint16_t edges) {
    Bytes r(128);
    store_u64(r.data(), count);
    store_u16(r.data() + 8, edges);
    return r;
  }
  testing::RecordingContext recording;
  DeviceContext* handle;
};

TEST_F(DeviceLevelTest, FanModeAndSetPointAreLimited) {
  struct Case {
    std::uint8_t mode;
    float set_point;
    std::uint8_t sent_mode;
    float sent_set_point;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const Case& c : {Case{0, 25.0f, 0, 25.0f}, Case{2, 160.0f, 2, 160.0f},
                        Case{7, 200.0f, 2, 160.0f}, Case{255, -50.0f, 2, -40.0f},
                        Case{1, -40.0f, 1, -40.0f}, Case{1, -39.5f, 1, -39.5f},
                        Case{1, nan, 1, 160.0f}, Case{1, -inf, 1, -40.0f}}) {
    SCOPED_TRACE(::testing::Message() << int{c.mode} << " " << c.set_point);
    EXPECT_EQ(device_config_fan(&handle, c.mode, c.set_point), ZR_OK);  // never 98
    const Bytes frame = last_written();
    EXPECT_EQ(frame[0], kOpConfigFan);
    EXPECT_EQ(frame[8], c.sent_mode);
    EXPECT_EQ(load_f32(frame.data() + 12), c.sent_set_point);
    EXPECT_EQ(Bytes(frame.begin() + 16, frame.begin() + 252), Bytes(236, 0));
  }
}

TEST_F(DeviceLevelTest, ClockAndGnssConfigurationGoOutUnchanged) {
  EXPECT_EQ(device_config_clock(&handle, 3, 10.5e6, 1), ZR_OK);
  Bytes frame = last_written();
  EXPECT_EQ(frame[0], kOpConfigClock);
  EXPECT_EQ(frame[8], 3);
  EXPECT_EQ(load_f64(frame.data() + 16), 10.5e6);
  EXPECT_EQ(frame[24], 1);

  // A period beyond the mirror's limit is sent as given; the mirror keeps the corrected one.
  const GnssConfig config{1, 1, {0xaa, 0xbb}, 20000.0f, 2.5f};
  EXPECT_EQ(device_config_gnss(&handle, config), ZR_OK);
  frame = last_written();
  EXPECT_EQ(frame[0], kOpConfigGnss);
  EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 12), (Bytes{1, 1, 0xaa, 0xbb}));
  EXPECT_EQ(load_f32(frame.data() + 12), 20000.0f);
  EXPECT_EQ(load_f32(frame.data() + 16), 2.5f);

  recording.bus->default_query_reply = reply({});
  GnssStatus status{};
  status.state = 0x77;
  EXPECT_EQ(device_query_gnss(&handle, &status), ZR_OK);
  EXPECT_EQ(status.flag_b, 1);
  EXPECT_EQ(status.period, recording.context.device_settings.gnss_period);
  EXPECT_LT(status.period, 20000.0f);
  EXPECT_EQ(status.state, 0);  // the reply's fix field

  EXPECT_EQ(device_reset_clock_monitor(&handle), ZR_OK);
  frame = last_written();
  EXPECT_EQ(frame[0], kOpResetClockMonitor);
  EXPECT_EQ(Bytes(frame.begin() + 1, frame.begin() + 252), Bytes(251, 0));
}

TEST_F(DeviceLevelTest, ClockMonitorDeviationAndCorrectedClock) {
  struct Case {
    const char* name;
    std::uint64_t count;
    std::uint16_t edges;
    double deviation;
  };
  const std::vector<Case> cases = {
      {"no complete measurement", 2'000'000'123, 11, 0.0},
      {"exact 200 MHz over 10 intervals", kComplete | 2'000'000'000, 11, 0.0},
      {"1 ppm fast", kComplete | 2'000'002'000, 11, 1.0},
      {"2 ppm slow", kComplete | 1'999'996'000, 11, -2.0},
      {"one edge spans no interval", kComplete | 2'000'000'000, 1, 0.0},
      {"no edges", kComplete | 5, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording.bus->query_replies = {reply(monitor_reply(c.count, c.edges))};
    double deviation = 99.0;
    EXPECT_EQ(device_query_clock_monitor(&handle, &deviation), ZR_OK);
    EXPECT_NEAR(deviation, c.deviation, 1e-6);

    Bytes clock(128);
    clock[0] = 2;
    store_u64(clock.data() + 2, std::bit_cast<std::uint64_t>(10e6));
    clock[10] = 1;
    recording.bus->query_replies = {reply(clock), reply(monitor_reply(c.count, c.edges))};
    std::uint8_t source = 0, output = 0, valid = 9;
    double frequency = 0.0;
    EXPECT_EQ(device_query_clock(&handle, &source, &frequency, &output, &valid), ZR_OK);
    EXPECT_EQ(source, 2);
    EXPECT_EQ(output, 1);
    EXPECT_EQ(valid, c.deviation != 0.0 ? 1 : 0);
    EXPECT_NEAR(frequency, 10e6 * (1 + c.deviation * 1e-6), 1e-6);
  }

  // The monitor query fails inside the clock query: frequency as reported, monitor not valid.
  Bytes clock(128);
  store_u64(clock.data() + 2, std::bit_cast<std::uint64_t>(10e6));
  recording.bus->query_replies = {reply(clock), {ZR_BUS_USB_TRANSFER_FAILED, {}, -1}};
  std::uint8_t valid = 9;
  double frequency = 0.0;
  EXPECT_EQ(device_query_clock(&handle, nullptr, &frequency, nullptr, &valid), ZR_OK);
  EXPECT_EQ(frequency, 10e6);
  EXPECT_EQ(valid, 0);
}

TEST_F(DeviceLevelTest, FailedQueriesLeaveTheirOutputsUnwritten) {
  recording.bus->default_query_reply = {ZR_BUS_USB_TRANSFER_FAILED, {}, -1};
  std::uint8_t source = 5, output = 5, valid = 5;
  double frequency = 5.0, deviation = 5.0;
  float temperature = 5.0f;
  std::uint8_t supply[16] = {5};
  GnssInfo info{};
  info.fix = 5;
  GnssStatus status{};
  status.state = 5;
  recording.context.device_settings.gnss_rate = 3.0f;
  EXPECT_EQ(device_query_clock(&handle, &source, &frequency, &output, &valid), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_clock_monitor(&handle, &deviation), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_temperature(&handle, &temperature), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_supply(&handle, supply), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_gnss_info(&handle, &info), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_state(&handle), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(device_query_gnss(&handle, &status), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(source + output + valid, 15);
  EXPECT_EQ(frequency, 5.0);
  EXPECT_EQ(deviation, 5.0);
  EXPECT_EQ(temperature, 5.0f);
  EXPECT_EQ(supply[0], 5);
  EXPECT_EQ(info.fix, 5);
  EXPECT_EQ(status.state, 5);
  EXPECT_EQ(status.rate, 3.0f);  // written from the mirror before the query

  DeviceContext* none = nullptr;
  EXPECT_EQ(device_query_state(&none), ZR_INVALID_HANDLE);
  EXPECT_EQ(device_config_fan(nullptr, 0, 0.0f), ZR_INVALID_HANDLE);
}

TEST(DeviceEpochToUtc, MatchesTheCLibraryOnASweep) {
  std::vector<std::uint64_t> stamps = {0,
                                       999'999'999,
                                       1'000'000'000'123'456'789ull,
                                       951'782'400'000'000'000ull,   // 2000-02-29
                                       1'704'110'401'000'000'050ull,
                                       std::numeric_limits<std::uint64_t>::max()};
  // Odd strides through the whole range, so that every field and carry is met.
  for (std::uint64_t s = 0; s < 20000; ++s) stamps.push_back(s * 922'337'203'685'477ull + s);
  for (std::uint64_t stamp : stamps) {
    SCOPED_TRACE(stamp);
    std::uint16_t f[9] = {};
    device_epoch_to_utc(stamp, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8]);
    const std::time_t seconds = static_cast<std::time_t>(stamp / 1'000'000'000);
    std::tm expected{};
    ASSERT_NE(gmtime_r(&seconds, &expected), nullptr);
    const std::uint64_t rest = stamp % 1'000'000'000;
    const std::uint16_t want[9] = {
        static_cast<std::uint16_t>(expected.tm_year + 1900), static_cast<std::uint16_t>(expected.tm_mon + 1),
        static_cast<std::uint16_t>(expected.tm_mday),         static_cast<std::uint16_t>(expected.tm_hour),
        static_cast<std::uint16_t>(expected.tm_min),          static_cast<std::uint16_t>(expected.tm_sec),
        static_cast<std::uint16_t>(rest / 1'000'000),         static_cast<std::uint16_t>(rest / 1000 % 1000),
        static_cast<std::uint16_t>(rest % 1000)};
    for (int i = 0; i < 9; ++i) ASSERT_EQ(f[i], want[i]) << "field " << i;
  }
  std::uint16_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, us = 0, ns = 0;
  device_epoch_to_utc(1'000'000'000'123'456'789ull, &y, &mo, &d, &h, &mi, &s, &ms, &us, &ns);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms, us, ns}),
            (std::vector<int>{2001, 9, 9, 1, 46, 40, 123, 456, 789}));
  device_epoch_to_utc(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr);  // null outputs are skipped
}

// ---- Against the simulator

void expect_simulator_readings(DeviceContext** device, const sim::InstrumentConfig& config) {
  float temperature = 0.0f;
  EXPECT_EQ(device_query_temperature(device, &temperature), ZR_OK);
  EXPECT_FLOAT_EQ(temperature, config.temperature_raw / 100.0f);
  EXPECT_EQ(device_query_temperature(device, nullptr), ZR_OK);
  EXPECT_EQ(device_query_state(device), ZR_OK);

  std::uint8_t supply[16] = {};
  EXPECT_EQ(device_query_supply(device, supply), ZR_OK);
  EXPECT_EQ(Bytes(supply, supply + 16), Bytes(config.supply.begin(), config.supply.end()));

  GnssInfo info{};
  EXPECT_EQ(device_query_gnss_info(device, &info), ZR_OK);
  EXPECT_EQ(info.fix, config.gnss.fix);
  EXPECT_EQ(info.b1, config.gnss.b1);
  EXPECT_EQ(info.b2, config.gnss.b2);
  EXPECT_EQ(info.b3, config.gnss.b3);
  EXPECT_EQ(info.b4, config.gnss.b4);
  EXPECT_EQ(info.value1, config.gnss.value1);
  EXPECT_EQ(info.value2, config.gnss.value2);
  EXPECT_EQ(info.value3, static_cast<float>(config.gnss.value3));
  // 2024-01-01 12:00:00, the pulse a second later, counter 5 ticks of 10 ns.
  EXPECT_EQ(info.epoch_ns, 1'704'110'401'000'000'050ull);

  GnssStatus status{};
  EXPECT_EQ(device_query_gnss(device, &status), ZR_OK);
  EXPECT_EQ(status.state, config.gnss.fix);

  std::uint8_t source = 0, output = 0, valid = 0;
  double frequency = 0.0;
  EXPECT_EQ(device_query_clock(device, &source, &frequency, &output, &valid), ZR_OK);
  EXPECT_EQ(source, config.clock.source);
  EXPECT_EQ(output, config.clock.output);
  EXPECT_EQ(valid, 1);
  EXPECT_NEAR(frequency, config.clock.frequency * (1 + 1e-6), 1e-6);
}

sim::InstrumentConfig reading_config() {
  sim::InstrumentConfig config = sim::default_instrument_config();
  config.temperature_raw = -1234;
  for (std::uint8_t i = 0; i < 16; ++i) config.supply[i] = static_cast<std::uint8_t>(0xa0 + i);
  config.gnss.fix = 5;
  config.gnss.datetime = (std::uint64_t{10124} << 32) | 120000u;
  config.gnss.counter = 5;
  config.clock = {.source = 1, .frequency = 10e6, .output = 1};
  config.clock_monitor = {.count = kComplete | 2'000'002'000, .edges = 11};
  return config;
}

TEST(DeviceLevelOverSimulator, QueriesOverLoopbackEthernet) {
  FakeClock clock;
  ScopedClock installed(clock);
  sim::ModelConfig model_config = sim::default_model_config();
  model_config.instrument = reading_config();
  sim::InstrumentModel model(model_config);
  sim::NetworkService service(model);
  std::ostringstream log;
  service.set_log(log);
  std::string error;
  ASSERT_TRUE(service.start("127.0.0.1", 0, error)) << error;
  EthParams params{};
  params.protocol = ZR_ETH_PROTOCOL_TCP;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = service.port();
  params.timeout_ms = 500;
  DeviceContext* context = nullptr;
  ChannelHandle channel{};
  ASSERT_EQ(device_open_eth(&context, params, &channel, nullptr, nullptr), ZR_OK);
  expect_simulator_readings(&context, model_config.instrument);
  EXPECT_EQ(device_close(&context), ZR_OK);
}

TEST(DeviceLevelOverSimulator, QueriesOverSimulatedUsb) {
  FakeClock clock;
  ScopedClock installed(clock);
  sim::SimUsbDriver driver;
  usb::ScopedUsbDriver installed_driver(driver);
  sim::ModelConfig model_config = sim::default_model_config();
  model_config.instrument = reading_config();
  auto model = std::make_shared<sim::InstrumentModel>(model_config);
  driver.attach(usb::DeviceClass::instrument, std::make_shared<sim::VirtualUsbDevice>(model));
  DeviceContext* context = nullptr;
  ChannelHandle channel{};
  ASSERT_EQ(device_open_usb(&context, 0, &channel, nullptr, nullptr), ZR_OK);
  expect_simulator_readings(&context, model_config.instrument);
  EXPECT_EQ(device_close(&context), ZR_OK);
}

}  // namespace
}  // namespace zr
