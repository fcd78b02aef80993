// Channel control, waveform downloads, streams and playback lists through the exported calls over
// loopback Ethernet against the in-process simulator: the frames in the order the instrument
// received them, the state they left in it, and the samples as they arrived.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_context.hpp"
#include "device/opcodes.hpp"
#include "platform/clock.hpp"
#include "signal/transfer_frame.hpp"
#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "tests/calibration/cal_test_folder.hpp"
#include "tests/signal/transfer_frame_reader.hpp"
#include "zr_api.h"

using namespace std::chrono_literals;

namespace zr {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::EventKind;
using sim::FrameRoute;
using sim::ModelEvent;
using sim::SegmentRecord;
using testing::sample_bytes;

// Short: the network is real, and a broken exchange should fail the test quickly.
constexpr std::uint32_t kTimeoutMs = 500;
constexpr std::uint32_t kMemoryWords = 1u << 25;
// Markers beside the frame opcodes in a received sequence.
constexpr int kStreamStop = 0x100;
constexpr int kTransferFrame = 0x101;

std::vector<std::int16_t> samples_of(std::size_t count, int seed) {
  std::vector<std::int16_t> samples(2 * count);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(i * 7919 + static_cast<std::size_t>(seed) * 104729);
  }
  return samples;
}

class SignalOverLoopback : public ::testing::Test {
 protected:
  SignalOverLoopback() : installed_clock(clock) { model.set_log(model_log); }

  void SetUp() override { start("", 1); }

  // (Re)starts the simulator with a fault plan and channel count, and opens a fresh bus to it.
  void start(const std::string& plan_text, std::int16_t channels) {
    std::string error;
    auto plan = sim::FaultPlan::parse(plan_text, error);
    ASSERT_TRUE(plan) << error;
    context.bus.reset();
    sim::ModelConfig config = model.config();
    config.instrument.channel_count = channels;
    model.set_config(config);
    service = std::make_unique<sim::NetworkService>(model, *plan);
    service->set_log(service_log);
    ASSERT_TRUE(service->start("127.0.0.1", 0, error)) << error;

    ConnectionParams params{};
    params.interface = ZR_INTERFACE_ETH;
    params.address[0] = 127;
    params.address[3] = 1;
    params.port = service->port();
    params.timeout_ms = kTimeoutMs;
    ASSERT_EQ(context.open_bus(params, 0), ZR_OK);
    context.channel_count = channels;
    model.clear_records();
  }

  // What the instrument received, in order: frame opcodes and the two stream markers.
  std::vector<int> sequence() const {
    std::vector<int> out;
    for (const ModelEvent& event : model.events()) {
      if (event.kind == EventKind::kStreamStop) {
        out.push_back(kStreamStop);
      } else if (event.kind == EventKind::kTransferFrame) {
        out.push_back(kTransferFrame);
      } else {
        out.push_back(event.opcode);
      }
    }
    return out;
  }

  // The received command frames, in order.
  std::vector<Bytes> frames() const {
    std::vector<Bytes> out;
    for (const sim::FrameRecord& record : model.frame_records()) out.push_back(record.bytes);
    return out;
  }

  sim::SimChannelState state(std::size_t index = 0) const {
    return model.channel_states().at(index);
  }

  FakeClock clock{0ns};
  ScopedClock installed_clock;
  testing::CalTestFolder folder;
  std::ostringstream model_log;  // outlives the model
  sim::InstrumentModel model;
  std::ostringstream service_log;
  std::unique_ptr<sim::NetworkService> service;
  DeviceContext context;  // last, so that its bus leaves before the service it talks to
  DeviceContext* device = &context;
  ChannelHandle channel{&device, 0};
};

const std::vector<int> kStopSequence = {kOpStopChannels, kOpStopStep2, kStreamStop, kOpStopStep3};

std::vector<int> then(std::vector<int> first, const std::vector<int>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

// ---- Channel control --------------------------------------------------------------------------

TEST_F(SignalOverLoopback, StopSendsItsThreeStepsWithTheStreamResetBetweenTheSecondAndThird) {
  ChannelHandle handle{&device, 5};  // any index: stop names every channel
  ASSERT_EQ(::channel_start(&channel), ZR_OK);
  ASSERT_TRUE(state().running);
  model.clear_records();
  EXPECT_EQ(::channel_stop(&handle), ZR_OK);
  EXPECT_EQ(handle.index, 0);
  EXPECT_EQ(sequence(), kStopSequence);
  for (const Bytes& frame : frames()) {
    EXPECT_EQ(load_i16(frame.data() + kListCountOffset), 1);
    EXPECT_EQ(load_i16(frame.data() + kListIndexOffset), 0);
  }
  EXPECT_FALSE(state().running);
  EXPECT_EQ(state().stop_stage, 3);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(SignalOverLoopback, ReconfiguringARunningChannelStopsItFirst) {
  const TriggerOutput trigger_out{-300, 1};
  const TriggerConfig trigger{1, 1, 0, 0, 5};
  struct Case {
    const char* name;
    std::function<std::int32_t(ChannelHandle*)> call;
    int opcode;
  };
  const Case cases[] = {
      {"lo mode", [](ChannelHandle* c) { return ::channel_config_lo_mode(c, 3); }, kOpConfigLoMode},
      {"trigger output",
       [&](ChannelHandle* c) { return ::channel_config_trigger_out(c, &trigger_out); },
       kOpConfigTriggerOut},
      {"trigger", [&](ChannelHandle* c) { return ::channel_config_trigger(c, &trigger); },
       kOpConfigTrigger},
      {"continuous wave", [](ChannelHandle* c) { return ::tx_config_cw(c); }, kOpTxConfigCw},
      {"stream set-up", [](ChannelHandle* c) { return ::tx_config_stream(c, 1e6); },
       kOpTxConfigStream},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(::channel_start(&channel), ZR_OK);
    model.clear_records();
    EXPECT_EQ(c.call(&channel), ZR_OK);
    EXPECT_EQ(sequence(), then(kStopSequence, {c.opcode}));
    EXPECT_FALSE(state().running);
    // A stopped channel is reconfigured without the stop.
    model.clear_records();
    EXPECT_EQ(c.call(&channel), ZR_OK);
    EXPECT_EQ(sequence(), std::vector<int>{c.opcode});
  }
  EXPECT_EQ(state().lo_mode, 3);
  EXPECT_EQ(state().trigger_out_value, -300);
  EXPECT_EQ(state().trigger_out_flag, 1);
  EXPECT_EQ(state().trigger_count, 5);
  EXPECT_EQ(state().mode, sim::ChannelMode::kStream);
  EXPECT_EQ(state().stream_rate, 1e6);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(SignalOverLoopback, PresetAfterStartStopsThenPresetsIntoContinuousWaveWithOutputsOff) {
  ASSERT_EQ(::tx_config_output(&channel, 1, 1), ZR_OK);
  ASSERT_EQ(::channel_start(&channel), ZR_OK);
  model.clear_records();
  EXPECT_EQ(::channel_preset(&channel), ZR_OK);
  EXPECT_EQ(sequence(), then(kStopSequence, {kOpPresetChannels, kOpTxConfigCw, kOpTxConfigOutput}));
  const sim::SimChannelState after = state();
  EXPECT_FALSE(after.running);
  EXPECT_EQ(after.presets, 1u);
  EXPECT_EQ(after.mode, sim::ChannelMode::kContinuousWave);
  EXPECT_EQ(after.output_enable, 0);
  EXPECT_EQ(after.modulation_enable, 0);
}

TEST_F(SignalOverLoopback, CountMinusOneListsEveryChannelAndRenumbersTheHandles) {
  start("", 2);
  ChannelHandle handles[2] = {{&device, 1}, {&device, 1}};
  const std::uint8_t blocks[2] = {7, 9};
  EXPECT_EQ(::channel_config_data_block(handles, blocks, -1), ZR_OK);
  EXPECT_EQ(handles[0].index, 0);
  EXPECT_EQ(handles[1].index, 1);
  ASSERT_EQ(sequence(), std::vector<int>{kOpConfigDataBlock});
  const Bytes frame = frames()[0];
  EXPECT_EQ(load_i16(frame.data() + kListCountOffset), 2);
  EXPECT_EQ(load_i16(frame.data() + kListIndexOffset), 0);
  EXPECT_EQ(load_i16(frame.data() + kListIndexOffset + 2), 1);
  EXPECT_EQ(state(0).data_block, 7);
  EXPECT_EQ(state(1).data_block, 9);

  // A port list naming channel 1 alone reaches channel 1 alone.
  ChannelHandle second{&device, 1};
  const std::int16_t port = -12;
  EXPECT_EQ(::channel_config_port(&second, &port, 1), ZR_OK);
  EXPECT_EQ(state(1).port, -12);
  EXPECT_EQ(state(0).port, 0);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(SignalOverLoopback, ListsTheDeviceCannotHoldAreRefusedWithoutTraffic) {
  const std::int16_t ports[2] = {1, 2};
  ChannelHandle beyond{&device, 1};
  struct Case {
    const char* name;
    std::function<std::int32_t()> call;
  };
  const Case cases[] = {
      {"port count 2 on one channel", [&] { return ::channel_config_port(&channel, ports, 2); }},
      {"data block count 2 on one channel",
       [&] {
         const std::uint8_t blocks[2] = {1, 2};
         return ::channel_config_data_block(&channel, blocks, 2);
       }},
      {"start channel 1", [&] { return ::channel_start(&beyond); }},
      {"continuous wave on channel 1", [&] { return ::tx_config_cw(&beyond); }},
      {"outputs of channel 1", [&] { return ::tx_config_output(&beyond, 1, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), ZR_INVALID_CHANNEL);
    EXPECT_TRUE(model.events().empty());
  }
}

TEST_F(SignalOverLoopback, TriggerConfigurationArrivesClampedAndReadsBackClamped) {
  const TriggerConfig wild{7, 3, 0, 0xAB, -5};
  EXPECT_EQ(::channel_config_trigger(&channel, &wild), ZR_OK);
  ASSERT_EQ(sequence(), std::vector<int>{kOpConfigTrigger});
  const sim::SimChannelState received = state();
  EXPECT_EQ(received.trigger_select, 2);
  EXPECT_EQ(received.trigger_flag1, 1);
  EXPECT_EQ(received.trigger_flag2, 0);
  EXPECT_EQ(received.trigger_spare, 0xAB);
  EXPECT_EQ(received.trigger_count, -1);
  EXPECT_TRUE(model.rejections().empty()) << "the instrument refuses unclamped values";

  model.clear_records();
  TriggerConfig back{};
  EXPECT_EQ(::channel_query_trigger(&channel, &back), ZR_OK);
  EXPECT_EQ(back.trigger_select, 2);
  EXPECT_EQ(back.trigger_flag1, 1);
  EXPECT_EQ(back.trigger_spare, 0xAB);
  EXPECT_EQ(back.trigger_count, -1);
  EXPECT_TRUE(model.events().empty());
}

TEST_F(SignalOverLoopback, OutputSwitchesAndBusTriggersReachTheChannel) {
  EXPECT_EQ(::tx_config_output(&channel, 1, 0), ZR_OK);
  EXPECT_EQ(state().output_enable, 1);
  EXPECT_EQ(state().modulation_enable, 0);
  EXPECT_EQ(::tx_config_output(&channel, 0, 1), ZR_OK);
  EXPECT_EQ(state().output_enable, 0);
  EXPECT_EQ(state().modulation_enable, 1);
  EXPECT_EQ(::channel_trigger_bus(&channel), ZR_OK);
  EXPECT_EQ(::channel_trigger_bus(&channel), ZR_OK);
  EXPECT_EQ(state().bus_triggers, 2u);
  EXPECT_EQ(sequence(),
            (std::vector<int>{kOpTxConfigOutput, kOpTxConfigOutput, kOpTriggerBus, kOpTriggerBus}));

  model.clear_records();
  std::uint8_t output = 9;
  std::uint8_t modulation = 9;
  EXPECT_EQ(::tx_query_output(&channel, &output, &modulation), ZR_OK);
  EXPECT_EQ(output, 0);
  EXPECT_EQ(modulation, 1);
  EXPECT_TRUE(model.events().empty());
}

TEST_F(SignalOverLoopback, QueriesAnswerFromTheMirrorWithoutTraffic) {
  const std::int16_t port = 4;
  const std::uint8_t block = 6;
  const TriggerOutput trigger_out{12, 1};
  ASSERT_EQ(::channel_config_lo_mode(&channel, 2), ZR_OK);
  ASSERT_EQ(::channel_config_port(&channel, &port, 1), ZR_OK);
  ASSERT_EQ(::channel_config_data_block(&channel, &block, 1), ZR_OK);
  ASSERT_EQ(::channel_config_trigger_out(&channel, &trigger_out), ZR_OK);
  model.clear_records();
  service->clear_records();

  std::uint8_t lo_mode = 0;
  std::uint8_t blocks = 0;
  std::int16_t ports = 0;
  TriggerOutput out{};
  TriggerConfig trigger{};
  std::uint8_t output = 0;
  std::uint8_t modulation = 0;
  EXPECT_EQ(::channel_query_lo_mode(&channel, &lo_mode), ZR_OK);
  EXPECT_EQ(::channel_query_data_block(&channel, &blocks, 1), ZR_OK);
  EXPECT_EQ(::channel_query_port(&channel, &ports, 1), ZR_OK);
  EXPECT_EQ(::channel_query_trigger_out(&channel, &out), ZR_OK);
  EXPECT_EQ(::channel_query_trigger(&channel, &trigger), ZR_OK);
  EXPECT_EQ(::tx_query_output(&channel, &output, &modulation), ZR_OK);
  EXPECT_TRUE(model.events().empty());
  EXPECT_EQ(service->requests().size(), 0u);
  // The mirror and the instrument agree.
  EXPECT_EQ(lo_mode, state().lo_mode);
  EXPECT_EQ(blocks, state().data_block);
  EXPECT_EQ(ports, state().port);
  EXPECT_EQ(out.trigger_out_value, state().trigger_out_value);
  EXPECT_EQ(out.trigger_out_flag, state().trigger_out_flag);
}

// ---- Waveform memory and transfers -------------------------------------------------------------

TEST_F(SignalOverLoopback, TwoDownloadsBecomeSegmentsZeroAndOneAtConsecutiveAddresses) {
  const auto first = samples_of(4024, 1);   // one frame
  const auto second = samples_of(4026, 2);  // two frames
  ASSERT_EQ(::tx_clear_waveform(&device), ZR_OK);
  std::uint16_t a = 0xFFFF;
  std::uint16_t b = 0xFFFF;
  ASSERT_EQ(::tx_download_waveform(&device, first.data(), 4024, &a), ZR_OK);
  ASSERT_EQ(::tx_download_waveform(&device, second.data(), 4026, &b), ZR_OK);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(sequence(), (std::vector<int>{kOpClearWaveform, kOpDownloadWaveform, kTransferFrame,
                                          kOpDownloadWaveform, kTransferFrame, kTransferFrame}));

  const auto segments = model.waveform_segments();
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].number, 0u);
  EXPECT_EQ(segments[0].mode, TransferMode::Download);
  EXPECT_EQ(segments[0].start_address, 0u);
  EXPECT_EQ(segments[0].length_words, 4024u);
  EXPECT_EQ(segments[1].number, 1u);
  EXPECT_EQ(segments[1].start_address, segments[0].start_address + segments[0].occupied_words());
  EXPECT_EQ(segments[1].length_words, 4026u);
  EXPECT_EQ(segments[1].frames, 2u);
  for (const SegmentRecord& segment : segments) EXPECT_TRUE(segment.complete);
  EXPECT_EQ(segments[0].payload, sample_bytes(first));
  EXPECT_EQ(segments[1].payload, sample_bytes(second));
  // The instrument's records agree with the library's bookkeeping.
  EXPECT_EQ(context.stream->segments[1].start_address, segments[1].start_address);
  EXPECT_TRUE(model.rejections().empty());

  // Clearing empties the instrument's memory too.
  ASSERT_EQ(::tx_clear_waveform(&device), ZR_OK);
  EXPECT_TRUE(model.waveform_segments().empty());
}

TEST_F(SignalOverLoopback, ADownloadReachingTheMemoryEndSendsNoFrameAndLeavesEverythingAsItWas) {
  const auto kept = samples_of(4024, 3);
  std::uint16_t segment = 0;
  ASSERT_EQ(::tx_download_waveform(&device, kept.data(), 4024, &segment), ZR_OK);
  // One frame is 4096 words: one word too many.
  context.stream->next_free_address = kMemoryWords - 4095;
  model.clear_records();

  EXPECT_EQ(::tx_download_waveform(&device, kept.data(), 4024, &segment), ZR_WAVEFORM_MEMORY_FULL);
  EXPECT_EQ(sequence(), std::vector<int>{kOpDownloadWaveform});
  EXPECT_EQ(context.stream->next_free_address, kMemoryWords - 4095);
  EXPECT_EQ(context.stream->segments.size(), 1u);
  ASSERT_EQ(model.waveform_segments().size(), 1u);
  EXPECT_EQ(model.waveform_segment(0)->payload, sample_bytes(kept));

  // The announcement does not outlive the refusal: a stream still gets through.
  const auto stream = samples_of(100, 4);
  EXPECT_EQ(::tx_send_stream(&channel, stream.data(), 100), ZR_OK);
  EXPECT_EQ(model.waveform_segment(0)->payload, sample_bytes(stream));
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(SignalOverLoopback, StreamedSamplesArriveBitExactInRecordZero) {
  struct Case {
    const char* name;
    std::size_t samples;
    std::uint32_t frames;
  };
  const Case cases[] = {
      {"one full frame", 16312, 1},
      {"one sample over a frame", 16313, 1},  // its odd sample is dropped: 65252 -> 65248 bytes
      {"two frames", 16314, 2},
      {"many frames", 250000, 16},
      {"five samples", 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.clear_records();
    const auto samples = samples_of(c.samples, static_cast<int>(c.samples));
    ASSERT_EQ(::tx_send_stream(&channel, samples.data(), c.samples), ZR_OK);
    const auto record = model.waveform_segment(0);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mode, TransferMode::Stream);
    EXPECT_TRUE(record->complete);
    EXPECT_EQ(record->frames, c.frames);
    EXPECT_EQ(record->start_address, context.stream->segments[0].start_address);
    const std::size_t whole = c.samples * 4 / 8 * 8;
    Bytes expected = sample_bytes(samples);
    expected.resize(whole);
    EXPECT_EQ(record->payload, expected);
    EXPECT_EQ(model.counters().stream_blocks, c.frames);
  }
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(SignalOverLoopback, AFrameTheBusCancelsOrFailsStopsTheTransferWithItsStatus) {
  struct Case {
    const char* name;
    const char* plan;
    std::int32_t status;
  };
  const Case cases[] = {
      {"cancelled", "rule opcode=8 status=-303\n", ZR_TRANSFER_CANCELLED},
      {"refused", "rule opcode=8 status=-302\n", ZR_TRANSPORT_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.plan, 1);
    const auto samples = samples_of(16314, 5);  // two frames
    EXPECT_EQ(::tx_send_stream(&channel, samples.data(), 16314), c.status);
    // The first frame arrived; the second was never sent.
    EXPECT_EQ(sequence(), std::vector<int>{kTransferFrame});
    const auto record = model.waveform_segment(0);
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->complete);
    EXPECT_EQ(record->bytes_received, 32632u);
  }
}

TEST_F(SignalOverLoopback, AMalformedTransferFrameIsRefusedLoggedAndAnsweredWithAFailureStatus) {
  Bytes frame(kStreamFrameSize, 0);
  std::uint32_t length = kStreamFrameSize;
  EXPECT_EQ(context.bus->stream_write(frame.data(), &length), sim::kTransferFrameRejected);
  ASSERT_EQ(model.rejections().size(), 1u);
  EXPECT_EQ(model.rejections()[0].fault, sim::FrameFault::kSyncWord);
  EXPECT_NE(model_log.str().find("transfer frame 0 rejected: sync word missing"), std::string::npos);
}

TEST_F(SignalOverLoopback, PlaybackListsArriveInPagesOfTen) {
  for (const std::int16_t count : {std::int16_t{10}, std::int16_t{11}, std::int16_t{25}}) {
    SCOPED_TRACE(count);
    model.clear_records();
    std::vector<std::uint16_t> segments;
    std::vector<std::uint32_t> repeats;
    std::vector<double> values;
    for (std::int16_t i = 0; i < count; ++i) {
      segments.push_back(static_cast<std::uint16_t>(i % 3));
      repeats.push_back(static_cast<std::uint32_t>(1000 + i));
      values.push_back(-1.5 * i);
    }
    ASSERT_EQ(::tx_config_playback(&channel, segments.data(), repeats.data(), values.data(), count),
              ZR_OK);
    const std::size_t pages = (static_cast<std::size_t>(count) + 9) / 10;
    EXPECT_EQ(sequence(), std::vector<int>(pages, kOpConfigPlayback));
    const auto list = model.playback_list(0);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->pages, pages);
    ASSERT_EQ(list->entries.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < list->entries.size(); ++i) {
      EXPECT_EQ(list->entries[i], (sim::PlaybackEntry{segments[i], repeats[i], values[i]}));
    }
    EXPECT_TRUE(model.rejections().empty());
  }
}

}  // namespace
}  // namespace zr
