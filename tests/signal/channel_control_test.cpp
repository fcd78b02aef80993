// The channel exports against a recording bus: frames byte for byte, the running-channel guard,
// the channel-list check and the mirror-only queries.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/opcodes.hpp"
#include "tests/signal/signal_test_context.hpp"

namespace zr {
namespace {

using testing::kStreamStopCall;
using testing::kStreamWriteCall;
using testing::list_frame;
using testing::RecordingBus;
using testing::sealed;
using testing::SignalTestContext;

using Call = std::function<std::int32_t(SignalTestContext&)>;
using Bytes = std::vector<std::uint8_t>;

const std::vector<int> kStopSequence = {kOpStopChannels, kOpStopStep2, kStreamStopCall,
                                        kOpStopStep3};

std::vector<int> joined(std::vector<int> head, const std::vector<int>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes single_channel_frame(std::uint8_t opcode) {
  return sealed(opcode, [](CommandFrame& f) { set_frame_i16(f, kChannelOffset, 0); });
}

TEST(ChannelStop, SendsThreeFramesAroundTheStreamResetAndRenumbersTheHandle) {
  SignalTestContext t;
  t.channel.index = 3;  // every channel is stopped whatever the handle names
  t.mark_running();
  EXPECT_EQ(::channel_stop(&t.channel), ZR_OK);
  EXPECT_EQ(t.channel.index, 0);
  ASSERT_EQ(t.sequence(), kStopSequence);
  EXPECT_EQ(t.bus.calls[0].out, list_frame(kOpStopChannels));
  EXPECT_EQ(t.bus.calls[1].out, list_frame(kOpStopStep2));
  EXPECT_EQ(t.bus.calls[3].out, list_frame(kOpStopStep3));
  EXPECT_EQ(t.context.live_channel(0).running, 0);
}

TEST(ChannelStop, AFailedFrameEndsTheStopAndAFailedStreamResetIsNotReported) {
  struct Case {
    const char* name;
    std::deque<std::int32_t> writes;
    std::int32_t stream_stop;
    std::int32_t status;
    std::vector<int> sequence;
  };
  const Case cases[] = {
      {"first_frame_fails", {ZR_TRANSPORT_FAILED}, ZR_OK, ZR_TRANSPORT_FAILED, {kOpStopChannels}},
      {"second_frame_fails",
       {ZR_OK, ZR_TRANSPORT_FAILED},
       ZR_OK,
       ZR_TRANSPORT_FAILED,
       {kOpStopChannels, kOpStopStep2}},
      {"third_frame_fails",
       {ZR_OK, ZR_OK, ZR_TRANSPORT_FAILED},
       ZR_OK,
       ZR_TRANSPORT_FAILED,
       kStopSequence},
      {"stream_reset_fails", {}, ZR_BUS_USB_PIPE_RESET, ZR_OK, kStopSequence},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    t.bus.write_statuses = c.writes;
    t.bus.stream_stop_status = c.stream_stop;
    EXPECT_EQ(::channel_stop(&t.channel), c.status);
    EXPECT_EQ(t.sequence(), c.sequence);
  }
}

// Each call with the frames it sends on a stopped channel and whether it stops a running one
// first.
struct GuardCase {
  const char* name;
  Call call;
  std::vector<int> frames;
  bool guarded;
};

std::vector<GuardCase> guard_cases() {
  static const std::uint8_t block[] = {1};
  static const std::int16_t port[] = {2};
  static const TriggerOutput trigger_out{5, 1};
  static const TriggerConfig trigger{1, 0, 0, 0, 3};
  static const std::int16_t samples[16] = {};  // 8 samples
  static const std::uint16_t segments[] = {0};
  static const std::uint32_t repeats[] = {1};
  static const double values[] = {0.0};
  return {
      {"channel_start",
       [](auto& t) { return ::channel_start(&t.channel); },
       {kOpStartChannels},
       false},
      {"channel_trigger_bus",
       [](auto& t) { return ::channel_trigger_bus(&t.channel); },
       {kOpTriggerBus},
       false},
      {"channel_config_data_block",
       [](auto& t) { return ::channel_config_data_block(&t.channel, block, 1); },
       {kOpConfigDataBlock},
       false},
      {"channel_config_port",
       [](auto& t) { return ::channel_config_port(&t.channel, port, 1); },
       {kOpConfigPort},
       false},
      {"tx_send_stream",
       [](auto& t) { return ::tx_send_stream(&t.channel, samples, 8); },
       {kStreamWriteCall},
       false},
      {"channel_config_lo_mode",
       [](auto& t) { return ::channel_config_lo_mode(&t.channel, 2); },
       {kOpConfigLoMode},
       true},
      {"channel_config_trigger_out",
       [](auto& t) { return ::channel_config_trigger_out(&t.channel, &trigger_out); },
       {kOpConfigTriggerOut},
       true},
      {"channel_config_trigger",
       [](auto& t) { return ::channel_config_trigger(&t.channel, &trigger); },
       {kOpConfigTrigger},
       true},
      {"tx_config_cw", [](auto& t) { return ::tx_config_cw(&t.channel); }, {kOpTxConfigCw}, true},
      {"tx_config_output",
       [](auto& t) { return ::tx_config_output(&t.channel, 1, 0); },
       {kOpTxConfigOutput},
       true},
      {"channel_preset",
       [](auto& t) { return ::channel_preset(&t.channel); },
       {kOpPresetChannels, kOpTxConfigCw, kOpTxConfigOutput},
       true},
      {"tx_config_stream",
       [](auto& t) { return ::tx_config_stream(&t.channel, 1e6); },
       {kOpTxConfigStream},
       true},
      {"tx_config_playback",
       [](auto& t) { return ::tx_config_playback(&t.channel, segments, repeats, values, 1); },
       {kOpConfigPlayback},
       true},
      {"tx_clear_waveform",
       [](auto& t) { return ::tx_clear_waveform(&t.device); },
       {kOpClearWaveform},
       true},
      {"tx_download_waveform",
       [](auto& t) {
         std::uint16_t segment = 0;
         return ::tx_download_waveform(&t.device, samples, 8, &segment);
       },
       {kOpDownloadWaveform, kStreamWriteCall},
       true},
  };
}

TEST(RunningChannelGuard, ReconfiguringCallsStopARunningChannelFirstAndOthersDoNot) {
  for (const GuardCase& c : guard_cases()) {
    for (const bool running : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (running ? " running" : " stopped"));
      SignalTestContext t;
      if (running) t.mark_running();
      EXPECT_EQ(c.call(t), ZR_OK);
      EXPECT_EQ(t.sequence(), running && c.guarded ? joined(kStopSequence, c.frames) : c.frames);
      if (c.guarded) {
        EXPECT_EQ(t.context.live_channel(0).running, 0);
      }
    }
  }
}

TEST(RunningChannelGuard, AFailedStopIsReturnedAndNothingElseIsSent) {
  SignalTestContext t;
  t.mark_running();
  t.bus.write_statuses = {ZR_TRANSPORT_FAILED};
  EXPECT_EQ(::channel_config_lo_mode(&t.channel, 1), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(t.sequence(), std::vector<int>{kOpStopChannels});
}

TEST(ChannelPreset, AfterStartStopsFirstThenPresetsIntoContinuousWaveWithOutputsOff) {
  SignalTestContext t;
  ASSERT_EQ(::channel_start(&t.channel), ZR_OK);
  EXPECT_EQ(t.context.live_channel(0).running, 1);
  EXPECT_EQ(::channel_preset(&t.channel), ZR_OK);
  ASSERT_EQ(t.sequence(), joined(joined({kOpStartChannels}, kStopSequence),
                                 {kOpPresetChannels, kOpTxConfigCw, kOpTxConfigOutput}));
  const auto written = t.bus.written();
  EXPECT_EQ(written[0], list_frame(kOpStartChannels));
  EXPECT_EQ(written[4], list_frame(kOpPresetChannels));
  EXPECT_EQ(written[5], single_channel_frame(kOpTxConfigCw));
  EXPECT_EQ(written[6], list_frame(kOpTxConfigOutput, {0, 0}));
}

TEST(ChannelPreset, SucceedsWhenTheFollowUpsFailButNotWhenThePresetFrameFails) {
  SignalTestContext t;
  t.bus.write_statuses = {ZR_OK, ZR_TRANSPORT_FAILED, ZR_TRANSPORT_FAILED};
  EXPECT_EQ(::channel_preset(&t.channel), ZR_OK);
  EXPECT_EQ(t.bus.count(RecordingBus::Kind::Write), 3u);

  SignalTestContext failing;
  failing.bus.default_write_status = ZR_TRANSPORT_FAILED;
  EXPECT_EQ(::channel_preset(&failing.channel), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(failing.sequence(), std::vector<int>{kOpPresetChannels});
}

TEST(ChannelCommands, SendTheirFramesByteForByte) {
  static const std::uint8_t block[] = {0xA5};
  static const std::int16_t port[] = {-300};
  static const TriggerOutput trigger_out{-2, 9};
  struct Case {
    const char* name;
    Call call;
    Bytes frame;
  };
  const Case cases[] = {
      {"start", [](auto& t) { return ::channel_start(&t.channel); }, list_frame(kOpStartChannels)},
      {"trigger_bus", [](auto& t) { return ::channel_trigger_bus(&t.channel); },
       list_frame(kOpTriggerBus)},
      {"lo_mode", [](auto& t) { return ::channel_config_lo_mode(&t.channel, 7); },
       list_frame(kOpConfigLoMode, {7})},
      {"data_block", [](auto& t) { return ::channel_config_data_block(&t.channel, block, 1); },
       list_frame(kOpConfigDataBlock, {0xA5})},
      {"trigger_out",
       [](auto& t) { return ::channel_config_trigger_out(&t.channel, &trigger_out); },
       list_frame(kOpConfigTriggerOut, {0xFE, 0xFF, 9})},
      {"port", [](auto& t) { return ::channel_config_port(&t.channel, port, 1); },
       list_frame(kOpConfigPort, {0xD4, 0xFE})},
      {"cw", [](auto& t) { return ::tx_config_cw(&t.channel); },
       single_channel_frame(kOpTxConfigCw)},
      {"output", [](auto& t) { return ::tx_config_output(&t.channel, 1, 0); },
       list_frame(kOpTxConfigOutput, {1, 0})},
      {"stream", [](auto& t) { return ::tx_config_stream(&t.channel, 2.5e6); },
       sealed(kOpTxConfigStream, [](CommandFrame& f) { set_frame_f64(f, 16, 2.5e6); })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    EXPECT_EQ(c.call(t), ZR_OK);
    ASSERT_EQ(t.bus.written().size(), 1u);
    EXPECT_EQ(t.bus.written()[0], c.frame);
  }
}

TEST(ChannelConfigDataBlock, CountMinusOneSendsOneValuePerChannelAndRenumbersTheHandles) {
  SignalTestContext t;
  t.channel.index = 4;
  const std::uint8_t values[] = {0x42};
  EXPECT_EQ(::channel_config_data_block(&t.channel, values, -1), ZR_OK);
  EXPECT_EQ(t.channel.index, 0);
  ASSERT_EQ(t.bus.written().size(), 1u);
  EXPECT_EQ(t.bus.written()[0], list_frame(kOpConfigDataBlock, {0x42}));
}

// A list as long as the device's channel count names channels 0..n-1; a shorter one takes the
// handles' indices. Only a device with more than one channel tells the two apart.
TEST(ChannelListFrame, NamesEveryChannelInOrderOrTheHandlesOfAShorterList) {
  SignalTestContext t;
  t.context.channel_count = 2;
  ChannelHandle handles[2] = {{&t.device, 1}, {&t.device, 0}};
  const std::uint8_t values[2] = {0x0A, 0x0B};
  const auto list = [](std::initializer_list<std::int16_t> indices,
                       std::initializer_list<std::uint8_t> per_channel, std::uint8_t opcode) {
    return sealed(opcode, [&](CommandFrame& f) {
      set_frame_i16(f, kListCountOffset, static_cast<std::int16_t>(indices.size()));
      std::size_t at = kListIndexOffset;
      for (const std::int16_t index : indices) {
        set_frame_i16(f, at, index);
        at += 2;
      }
      at = kListValueOffset;
      for (const std::uint8_t value : per_channel) set_frame_u8(f, at++, value);
    });
  };
  EXPECT_EQ(::channel_config_data_block(handles, values, 2), ZR_OK);
  EXPECT_EQ(::channel_config_data_block(handles, values, 1), ZR_OK);
  EXPECT_EQ(::tx_config_output(handles, 1, 1), ZR_OK);
  const auto written = t.bus.written();
  ASSERT_EQ(written.size(), 3u);
  EXPECT_EQ(written[0], list({0, 1}, {0x0A, 0x0B}, kOpConfigDataBlock));
  EXPECT_EQ(written[1], list({1}, {0x0A}, kOpConfigDataBlock));
  EXPECT_EQ(written[2], list({1}, {1, 1}, kOpTxConfigOutput));
  EXPECT_EQ(handles[0].index, 1);  // only a count of -1 renumbers the caller's handles
}

TEST(ChannelListCheck, RefusedListsSendNothingAndStopNothing) {
  static const std::uint8_t bytes[2] = {};
  static const std::int16_t words[2] = {};
  static const TriggerOutput trigger_out{};
  std::uint8_t mode = 0;
  std::uint8_t out_bytes[2] = {};
  std::int16_t out_words[2] = {};
  struct Case {
    const char* name;
    std::int16_t index;
    Call call;
  };
  const Case cases[] = {
      {"port_count_2", 0, [](auto& t) { return ::channel_config_port(&t.channel, words, 2); }},
      {"data_block_count_2", 0,
       [](auto& t) { return ::channel_config_data_block(&t.channel, bytes, 2); }},
      {"data_block_count_minus_2", 0,
       [](auto& t) { return ::channel_config_data_block(&t.channel, bytes, -2); }},
      {"query_port_count_2", 0,
       [&](auto& t) { return ::channel_query_port(&t.channel, out_words, 2); }},
      {"query_data_block_count_minus_1", 0,
       [&](auto& t) { return ::channel_query_data_block(&t.channel, out_bytes, -1); }},
      {"cw_index_1", 1, [](auto& t) { return ::tx_config_cw(&t.channel); }},
      {"cw_index_negative", -1, [](auto& t) { return ::tx_config_cw(&t.channel); }},
      {"output_index_1", 1, [](auto& t) { return ::tx_config_output(&t.channel, 1, 1); }},
      {"query_output_index_1", 1,
       [&](auto& t) { return ::tx_query_output(&t.channel, &mode, &mode); }},
      {"start_index_1", 1, [](auto& t) { return ::channel_start(&t.channel); }},
      {"lo_mode_index_1", 1, [](auto& t) { return ::channel_config_lo_mode(&t.channel, 1); }},
      {"trigger_out_index_1", 1,
       [](auto& t) { return ::channel_config_trigger_out(&t.channel, &trigger_out); }},
      {"query_lo_mode_index_1", 1,
       [&](auto& t) { return ::channel_query_lo_mode(&t.channel, &mode); }},
  };
  for (const Case& c : cases) {
    for (const bool running : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (running ? " running" : " stopped"));
      SignalTestContext t;
      if (running) t.mark_running();
      t.channel.index = c.index;
      EXPECT_EQ(c.call(t), ZR_INVALID_CHANNEL);
      EXPECT_TRUE(t.bus.calls.empty());
      EXPECT_EQ(t.context.live_channel(0).running, running ? 1 : 0);
    }
  }
}

TEST(ChannelConfigTrigger, ClampsACopyAndTheQueryReturnsTheClampedValues) {
  struct Case {
    const char* name;
    TriggerConfig in;
    TriggerConfig sent;
  };
  const Case cases[] = {
      {"out_of_range", {7, 3, 200, 0xAB, -5}, {2, 1, 1, 0xAB, -1}},
      {"at_the_bounds", {2, 1, 1, 0xFF, -1}, {2, 1, 1, 0xFF, -1}},
      {"inside", {0, 0, 1, 0, 100000}, {0, 0, 1, 0, 100000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SignalTestContext t;
    const TriggerConfig caller = c.in;
    EXPECT_EQ(::channel_config_trigger(&t.channel, &caller), ZR_OK);
    EXPECT_EQ(caller.trigger_select, c.in.trigger_select);
    EXPECT_EQ(caller.trigger_count, c.in.trigger_count);
    ASSERT_EQ(t.bus.written().size(), 1u);
    EXPECT_EQ(t.bus.written()[0], sealed(kOpConfigTrigger, [&](CommandFrame& f) {
                set_frame_u8(f, 12, c.sent.trigger_select);
                set_frame_u8(f, 13, c.sent.trigger_flag1);
                set_frame_u8(f, 14, c.sent.trigger_flag2);
                set_frame_u8(f, 15, c.sent.trigger_spare);
                set_frame_u32(f, 16, static_cast<std::uint32_t>(c.sent.trigger_count));
              }));
    TriggerConfig read{};
    EXPECT_EQ(::channel_query_trigger(&t.channel, &read), ZR_OK);
    EXPECT_EQ(read.trigger_select, c.sent.trigger_select);
    EXPECT_EQ(read.trigger_flag1, c.sent.trigger_flag1);
    EXPECT_EQ(read.trigger_flag2, c.sent.trigger_flag2);
    EXPECT_EQ(read.trigger_spare, c.sent.trigger_spare);
    EXPECT_EQ(read.trigger_count, c.sent.trigger_count);
  }
}

// Every setting is configured over a bus whose writes fail; the queries then answer from the
// mirror with the new values and without a single bus call.
TEST(ChannelQueries, AnswerFromTheMirrorWithoutTrafficEvenAfterFailedWrites) {
  SignalTestContext t;
  t.bus.default_write_status = ZR_TRANSPORT_FAILED;
  const std::uint8_t block[] = {0x33};
  const std::int16_t port[] = {-7};
  const TriggerOutput trigger_out{-1234, 0x5C};
  const TriggerConfig trigger{1, 1, 0, 0x99, 42};
  EXPECT_EQ(::channel_config_lo_mode(&t.channel, 3), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(::channel_config_data_block(&t.channel, block, 1), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(::channel_config_port(&t.channel, port, 1), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(::channel_config_trigger_out(&t.channel, &trigger_out), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(::channel_config_trigger(&t.channel, &trigger), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(::tx_config_output(&t.channel, 1, 0), ZR_TRANSPORT_FAILED);
  t.bus.calls.clear();

  std::uint8_t mode = 0;
  std::uint8_t block_out[1] = {};
  std::int16_t port_out[1] = {};
  TriggerOutput trigger_out_read{};
  TriggerConfig trigger_read{};
  std::uint8_t output = 9;
  std::uint8_t modulation = 9;
  EXPECT_EQ(::channel_query_lo_mode(&t.channel, &mode), ZR_OK);
  EXPECT_EQ(::channel_query_data_block(&t.channel, block_out, 1), ZR_OK);
  EXPECT_EQ(::channel_query_port(&t.channel, port_out, 1), ZR_OK);
  EXPECT_EQ(::channel_query_trigger_out(&t.channel, &trigger_out_read), ZR_OK);
  EXPECT_EQ(::channel_query_trigger(&t.channel, &trigger_read), ZR_OK);
  EXPECT_EQ(::tx_query_output(&t.channel, &output, &modulation), ZR_OK);
  EXPECT_TRUE(t.bus.calls.empty());
  EXPECT_EQ(mode, 3);
  EXPECT_EQ(block_out[0], 0x33);
  EXPECT_EQ(port_out[0], -7);
  EXPECT_EQ(trigger_out_read.trigger_out_value, -1234);
  EXPECT_EQ(trigger_out_read.trigger_out_flag, 0x5C);
  EXPECT_EQ(trigger_read.trigger_spare, 0x99);
  EXPECT_EQ(trigger_read.trigger_count, 42);
  EXPECT_EQ(output, 1);
  EXPECT_EQ(modulation, 0);

  // A count of 0 copies nothing.
  std::int16_t untouched[1] = {77};
  EXPECT_EQ(::channel_query_port(&t.channel, untouched, 0), ZR_OK);
  EXPECT_EQ(untouched[0], 77);
}

TEST(ChannelExports, RefuseMissingHandlesAndBuffersWithoutTraffic) {
  SignalTestContext t;
  DeviceContext* no_context = nullptr;
  ChannelHandle orphan{&no_context, 0};
  ChannelHandle detached{nullptr, 0};
  EXPECT_EQ(::channel_start(nullptr), ZR_INVALID_HANDLE);
  EXPECT_EQ(::channel_stop(&orphan), ZR_INVALID_HANDLE);
  EXPECT_EQ(::tx_config_cw(&detached), ZR_INVALID_HANDLE);
  EXPECT_EQ(::tx_clear_waveform(nullptr), ZR_INVALID_HANDLE);
  EXPECT_EQ(::tx_clear_waveform(&no_context), ZR_INVALID_HANDLE);

  std::uint8_t byte = 0;
  EXPECT_EQ(::channel_config_data_block(&t.channel, nullptr, 1), ZR_MISSING_BUFFER);
  EXPECT_EQ(::channel_config_port(&t.channel, nullptr, 1), ZR_MISSING_BUFFER);
  EXPECT_EQ(::channel_config_trigger_out(&t.channel, nullptr), ZR_MISSING_BUFFER);
  EXPECT_EQ(::channel_config_trigger(&t.channel, nullptr), ZR_MISSING_BUFFER);
  EXPECT_EQ(::channel_query_lo_mode(&t.channel, nullptr), ZR_MISSING_BUFFER);
  EXPECT_EQ(::channel_query_trigger(&t.channel, nullptr), ZR_MISSING_BUFFER);
  EXPECT_EQ(::tx_query_output(&t.channel, &byte, nullptr), ZR_MISSING_BUFFER);
  EXPECT_TRUE(t.bus.calls.empty());
}

}  // namespace
}  // namespace zr
