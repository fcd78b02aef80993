// The open sequence when the instrument refuses a step (the identity record, the preset) or takes
// its time to report its calibrations loaded.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include "platform/clock.hpp"
#include "sim/fault_plan.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

// Requests of an Ethernet open, numbered as the simulator counts them: 1 open, 2 the identity
// query, 3 the identity record, 4 the first preset frame (the first stop step).
constexpr std::uint32_t kIdentityRecordRequest = 3;
constexpr std::uint32_t kFirstPresetRequest = 4;

struct FaultCase {
  const char* name;
  std::uint32_t opcode;
  std::uint32_t request;
  std::int32_t expected;
};

class OpenFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OpenFaultTest, RefusedStepFailsTheOpenAndLeavesNoContext) {
  const FaultCase& c = GetParam();
  sim::FaultRule refuse;
  refuse.opcode = c.opcode;
  refuse.first_request = c.request;
  refuse.count = 1;
  refuse.status = -5;
  sim::FaultPlan plan;
  plan.rules.push_back(refuse);

  sim::InstrumentModel model;
  sim::NetworkService service(model, plan);
  std::ostringstream log;
  service.set_log(log);
  std::string error;
  ASSERT_TRUE(service.start("127.0.0.1", 0, error)) << error;
  FakeClock clock{0ns};
  ScopedClock installed(clock);

  EthParams params{};
  params.protocol = ZR_ETH_PROTOCOL_TCP;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = service.port();
  params.timeout_ms = 500;
  DeviceContext* context = nullptr;
  ChannelHandle channels[1] = {};
  std::int16_t channel_count = 0;
  DeviceInfo info{};
  EXPECT_EQ(device_open_eth(&context, params, channels, &channel_count, &info), c.expected);
  EXPECT_EQ(context, nullptr);

  // Nothing after the refused step: the open stopped there.
  const auto requests = service.requests();
  ASSERT_GE(requests.size(), c.request);
  EXPECT_EQ(requests[c.request - 1].opcode, c.opcode);
  for (std::size_t i = c.request; i < requests.size(); ++i) {
    EXPECT_NE(requests[i].opcode, 5u) << "a command frame after the refused step";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenFaultTest,
    ::testing::Values(FaultCase{"IdentityRecord", 12, kIdentityRecordRequest, ZR_TRANSPORT_FAILED},
                      FaultCase{"Preset", 5, kFirstPresetRequest, ZR_TRANSPORT_FAILED}),
    [](const auto& info) { return std::string(info.param.name); });

// An instrument that reports its calibrations loaded only on the fourth readiness query: the open
// waits for it, pausing between polls on the library's clock, and succeeds.
TEST(OpenReadyWait, WaitsUntilTheInstrumentReportsItsCalibrationsLoaded) {
  sim::ModelConfig config = sim::default_model_config();
  config.instrument.rf_cal_loaded = true;
  config.instrument.iq_cal_loaded = true;
  config.instrument.ready_after_queries = 4;
  sim::InstrumentModel model(config);
  sim::NetworkService service(model);
  std::string error;
  ASSERT_TRUE(service.start("127.0.0.1", 0, error)) << error;
  FakeClock clock{0ns};
  ScopedClock installed(clock);

  EthParams params{};
  params.protocol = ZR_ETH_PROTOCOL_TCP;
  params.address[0] = 127;
  params.address[3] = 1;
  params.port = service.port();
  params.timeout_ms = 500;
  DeviceContext* context = nullptr;
  ChannelHandle channels[1] = {};
  std::int16_t channel_count = 0;
  DeviceInfo info{};
  const auto before = clock.total_slept();
  ASSERT_EQ(device_open_eth(&context, params, channels, &channel_count, &info), ZR_OK);
  ASSERT_NE(context, nullptr);
  // Three unanswered polls, each followed by a pause, well inside the 5 s wait.
  const auto waited = clock.total_slept() - before;
  EXPECT_GT(waited, 0ns);
  EXPECT_LT(waited, 5s);
  std::size_t readiness_queries = 0;
  for (const sim::FrameRecord& r : model.frame_records()) readiness_queries += r.opcode == 0x16;
  EXPECT_EQ(readiness_queries, 4u);
  EXPECT_EQ(device_close(&context), ZR_OK);
}

}  // namespace
}  // namespace zr
