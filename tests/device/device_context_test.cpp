// DeviceContext: zero state, lifetime, cached channel reads and bus selection.
#include "device/device_context.hpp"

#include <gtest/gtest.h>

#include "bus/bus_eth.hpp"
#include "bus/bus_pcie.hpp"
#include "tests/device/recording_bus.hpp"

namespace zr {
namespace {

using testing::RecordingBus;

TEST(DeviceContext, StartsInTheZeroState) {
  DeviceContext* handle = nullptr;
  DeviceContext* context = create_device_context(&handle);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(handle, context);
  EXPECT_EQ(context->channel_count, 0);
  EXPECT_EQ(context->cal_mode, 0);
  EXPECT_FALSE(context->device_settings.gnss_flag_a);
  EXPECT_EQ(context->device_settings.gnss_period, 0.0f);
  EXPECT_EQ(context->bus, nullptr);
  EXPECT_EQ(context->stream, nullptr);
  EXPECT_EQ(context->gnss_time, nullptr);
  EXPECT_EQ(context->identity.uid_low, 0u);
  EXPECT_EQ(context->strategy_table.segment_count, 0);
  EXPECT_TRUE(context->rf_cal.rf_points.empty());
  EXPECT_TRUE(context->iq_cal.iq_data.empty());
  EXPECT_TRUE(context->open_tables.freq_grid.empty());
  EXPECT_EQ(context->connection.interface, 0);
  ASSERT_NE(context->channel_states, nullptr);
  for (const ChannelState& state : *context->channel_states) {
    ASSERT_EQ(state.running, 0);
    ASSERT_EQ(state.ffm.frequency, 0.0);
    ASSERT_EQ(state.mscan_count, 0);
    ASSERT_EQ(state.mscan_points.back().frequency, 0.0);
  }
  destroy_device_context(context);
  EXPECT_EQ(handle, context);  // the caller's variable is not cleared
}

TEST(DeviceContext, ReleasesTablesThenGnssThenStreamThenBus) {
  auto* context = new DeviceContext;
  context->stream = std::make_unique<WaveformMemory>();
  context->gnss_time = std::make_unique<GnssTime>();
  context->rf_cal.rf_points = {1, 2, 3};
  context->open_tables.freq_grid = {1.0};
  bool checked = false;
  auto bus = std::make_unique<RecordingBus>();
  bus->on_destroy = [&] {
    EXPECT_EQ(context->gnss_time, nullptr);
    EXPECT_EQ(context->stream, nullptr);
    EXPECT_TRUE(context->rf_cal.rf_points.empty());
    EXPECT_TRUE(context->open_tables.freq_grid.empty());
    checked = true;
  };
  context->bus = std::move(bus);
  destroy_device_context(context);
  EXPECT_TRUE(checked);
}

class ChannelReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::size_t i = 0; i < kLiveChannels; ++i) {
      context.live_channel(i).lo_mode = static_cast<std::uint8_t>(10 + i);
    }
  }
  DeviceContext context;
  DeviceContext* self = &context;
};

struct ChannelReadCase {
  const char* name;
  std::int16_t channel_count;
  std::vector<std::int16_t> indices;
  std::int32_t length;
  std::int32_t status;
  std::vector<std::uint8_t> lo_modes;  // of the states read, on success
};

TEST_F(ChannelReadTest, ReadsTheNamedChannelsOrRejectsTheList) {
  const ChannelReadCase cases[] = {
      {"one_handle", 1, {0}, 1, ZR_OK, {10}},
      {"first_handle_always_reads_channel_0", 1, {5}, 1, ZR_OK, {10}},
      {"two_handles_on_one_channel", 1, {0, 0}, 2, ZR_INVALID_CHANNEL, {}},
      {"several_channels_in_list_order", 4, {0, 3, 1}, 3, ZR_OK, {10, 13, 11}},
      {"index_at_channel_count", 4, {0, 4}, 2, ZR_INVALID_CHANNEL, {}},
      {"negative_index", 4, {0, -1}, 2, ZR_INVALID_CHANNEL, {}},
      {"negative_length", 4, {0}, -1, ZR_INVALID_CHANNEL, {}},
      {"empty_list", 4, {}, 0, ZR_OK, {}},
  };
  for (const ChannelReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    context.channel_count = c.channel_count;
    std::vector<ChannelHandle> handles;
    for (std::int16_t index : c.indices) handles.push_back({&self, index});
    const std::vector<ChannelHandle> before = handles;
    std::vector<ChannelState> states(1);
    states[0].lo_mode = 99;
    EXPECT_EQ(context.read_channel_states(handles.data(), c.length, states), c.status);
    if (c.status == ZR_OK) {
      std::vector<std::uint8_t> lo_modes;
      for (const ChannelState& s : states) lo_modes.push_back(s.lo_mode);
      EXPECT_EQ(lo_modes, c.lo_modes);
    } else {
      ASSERT_EQ(states.size(), 1u);  // untouched
      EXPECT_EQ(states[0].lo_mode, 99);
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
      EXPECT_EQ(handles[i].index, before[i].index);  // the caller's handles stay as they are
    }
  }
}

ConnectionParams record_for(std::uint8_t interface) {
  ConnectionParams record{};
  record.interface = interface;
  record.port = 4242;
  record.timeout_ms = 20;
  return record;
}

TEST(OpenBus, PcieOpensAndEveryOperationSucceeds) {
  DeviceContext context;
  EXPECT_EQ(context.open_bus(record_for(ZR_INTERFACE_PCIE), 3), ZR_OK);
  ASSERT_NE(dynamic_cast<bus_pcie*>(context.bus.get()), nullptr);
  EXPECT_EQ(context.bus->device_index(), 3u);
  EXPECT_EQ(context.connection.port, 4242);
  CommandFrame frame(0x34);
  EXPECT_EQ(context.send_frame(frame), ZR_OK);
  DeviceStatus status;
  EXPECT_EQ(context.query_frame(0x16, status), ZR_OK);
  EXPECT_EQ(status.mcu_ready, 0);  // nothing comes back
}

TEST(OpenBus, UnsupportedInterfaceKeepsTheBusButStoresTheRecord) {
  for (std::uint8_t interface : {1, 2, 5, 255}) {
    SCOPED_TRACE(+interface);
    DeviceContext context;
    auto previous = std::make_unique<RecordingBus>();
    RecordingBus* previous_bus = previous.get();
    bool destroyed = false;
    previous->on_destroy = [&] { destroyed = true; };
    context.bus = std::move(previous);
    EXPECT_EQ(context.open_bus(record_for(interface), 0), ZR_NO_BUS);
    EXPECT_EQ(context.bus.get(), previous_bus);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(context.connection.interface, interface);
    EXPECT_EQ(context.connection.port, 4242);
    previous_bus->on_destroy = nullptr;
  }
}

TEST(OpenBus, InstallsTheNewBusBeforeDestroyingTheOldOne) {
  DeviceContext context;
  auto previous = std::make_unique<RecordingBus>();
  abus* seen_at_destruction = nullptr;
  bool destroyed = false;
  previous->on_destroy = [&] {
    seen_at_destruction = context.bus.get();
    destroyed = true;
  };
  context.bus = std::move(previous);
  EXPECT_EQ(context.open_bus(record_for(ZR_INTERFACE_PCIE), 0), ZR_OK);
  EXPECT_TRUE(destroyed);
  EXPECT_NE(seen_at_destruction, nullptr);
  EXPECT_EQ(seen_at_destruction, context.bus.get());
  EXPECT_NE(dynamic_cast<bus_pcie*>(seen_at_destruction), nullptr);
}

TEST(OpenBus, FailedEthernetOpenLeavesTheNewBusInstalled) {
  DeviceContext context;
  bool destroyed = false;
  auto previous = std::make_unique<RecordingBus>();
  previous->on_destroy = [&] { destroyed = true; };
  context.bus = std::move(previous);
  ConnectionParams record = record_for(ZR_INTERFACE_ETH);
  record.address[0] = 127;
  record.address[3] = 1;
  record.port = 1;  // nothing listens on loopback port 1
  EXPECT_NE(context.open_bus(record, 0), ZR_OK);
  EXPECT_TRUE(destroyed);
  EXPECT_NE(dynamic_cast<bus_eth*>(context.bus.get()), nullptr);
}

}  // namespace
}  // namespace zr
