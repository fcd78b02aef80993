// The simulated instrument's channels and playback lists, driven through the model with the
// frames the library sends: the state each frame leaves, the frames refused whole, and the event
// log that keeps the stream path reset in step with the frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <utility>

#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "sim/instrument_model.hpp"

namespace zr::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sealed(CommandFrame frame) {
  seal_frame(frame);
  return Bytes(frame.bytes.begin(), frame.bytes.end());
}

// A channel-list frame with count and indices, and bytes from offset 42.
Bytes list_frame(std::uint8_t opcode, std::int16_t count, std::initializer_list<std::int16_t> indices,
                 std::initializer_list<std::uint8_t> values = {}) {
  CommandFrame frame(opcode);
  set_frame_i16(frame, kListCountOffset, count);
  std::size_t at = kListIndexOffset;
  for (const std::int16_t index : indices) {
    set_frame_i16(frame, at, index);
    at += 2;
  }
  at = kListValueOffset;
  for (const std::uint8_t value : values) set_frame_u8(frame, at++, value);
  return sealed(frame);
}

Bytes single_frame(std::uint8_t opcode, std::int16_t channel) {
  CommandFrame frame(opcode);
  set_frame_i16(frame, kChannelOffset, channel);
  return sealed(frame);
}

Bytes trigger_frame(std::int16_t channel, std::uint8_t select, std::uint8_t flag1,
                    std::uint8_t flag2, std::uint8_t spare, std::int32_t count) {
  CommandFrame frame(kOpConfigTrigger);
  set_frame_i16(frame, kChannelOffset, channel);
  set_frame_u8(frame, 12, select);
  set_frame_u8(frame, 13, flag1);
  set_frame_u8(frame, 14, flag2);
  set_frame_u8(frame, 15, spare);
  set_frame_u32(frame, 16, static_cast<std::uint32_t>(count));
  return sealed(frame);
}

struct Entry {
  std::uint16_t segment;
  std::uint32_t repeats;
  double value;
};

Bytes playback_page(std::int16_t channel, std::uint8_t pages, std::uint8_t page,
                    std::uint8_t entries, const std::vector<Entry>& slots) {
  CommandFrame frame(kOpConfigPlayback);
  set_frame_i16(frame, kChannelOffset, channel);
  set_frame_u8(frame, 10, pages);
  set_frame_u8(frame, 11, page);
  set_frame_u8(frame, 12, entries);
  for (std::size_t k = 0; k < slots.size(); ++k) {
    set_frame_u16(frame, 16 + 16 * k, slots[k].segment);
    set_frame_u32(frame, 20 + 16 * k, slots[k].repeats);
    set_frame_f64(frame, 24 + 16 * k, slots[k].value);
  }
  return sealed(frame);
}

std::vector<Entry> entries_from(std::size_t first, std::size_t count) {
  std::vector<Entry> out;
  for (std::size_t i = first; i < first + count; ++i) {
    out.push_back({static_cast<std::uint16_t>(i), static_cast<std::uint32_t>(100 + i), 0.5 * i});
  }
  return out;
}

class ChannelModelTest : public ::testing::Test {
 protected:
  explicit ChannelModelTest(std::int16_t channels = 2) {
    ModelConfig config = default_model_config();
    config.instrument.channel_count = channels;
    model.set_config(config);
    model.set_log(log);
  }

  SimChannelState channel(std::size_t index) const { return model.channel_states().at(index); }

  std::ostringstream log;
  InstrumentModel model;
};

TEST_F(ChannelModelTest, ListFramesChangeExactlyTheListedChannels) {
  // Channel 1 of two, with values that differ from every default.
  model.write(list_frame(kOpStartChannels, 1, {1}));
  EXPECT_FALSE(channel(0).running);
  EXPECT_TRUE(channel(1).running);

  model.write(list_frame(kOpConfigLoMode, 2, {0, 1}, {4, 5}));
  model.write(list_frame(kOpConfigDataBlock, 1, {1}, {9}));
  model.write(list_frame(kOpConfigTriggerOut, 2, {1, 0}, {0x34, 0x92, 1, 0xff, 0xff, 0}));
  model.write(list_frame(kOpConfigPort, 2, {0, 1}, {0x02, 0x01, 0xfe, 0xff}));
  model.write(list_frame(kOpTxConfigOutput, 1, {1}, {1, 1}));
  model.write(list_frame(kOpTriggerBus, 1, {1}));
  model.write(list_frame(kOpTriggerBus, 1, {1}));

  const SimChannelState zero = channel(0);
  const SimChannelState one = channel(1);
  EXPECT_EQ(zero.lo_mode, 4);
  EXPECT_EQ(one.lo_mode, 5);
  EXPECT_EQ(zero.data_block, 0);
  EXPECT_EQ(one.data_block, 9);
  EXPECT_EQ(one.trigger_out_value, static_cast<std::int16_t>(0x9234));
  EXPECT_EQ(one.trigger_out_flag, 1);
  EXPECT_EQ(zero.trigger_out_value, -1);
  EXPECT_EQ(zero.trigger_out_flag, 0);
  EXPECT_EQ(zero.port, 0x0102);
  EXPECT_EQ(one.port, -2);
  EXPECT_EQ(zero.output_enable, 0);
  EXPECT_EQ(one.output_enable, 1);
  EXPECT_EQ(one.modulation_enable, 1);
  EXPECT_EQ(zero.bus_triggers, 0u);
  EXPECT_EQ(one.bus_triggers, 2u);

  // The stop steps on both, then a preset of channel 1 after a restart.
  model.write(list_frame(kOpStopChannels, 2, {0, 1}));
  EXPECT_FALSE(channel(1).running);
  EXPECT_EQ(channel(1).stop_stage, 1);
  model.write(list_frame(kOpStopStep2, 2, {0, 1}));
  model.write(list_frame(kOpStopStep3, 2, {0, 1}));
  EXPECT_EQ(channel(0).stop_stage, 3);
  model.write(list_frame(kOpStartChannels, 1, {1}));
  EXPECT_EQ(channel(1).stop_stage, 0);
  model.write(list_frame(kOpPresetChannels, 1, {1}));
  EXPECT_FALSE(channel(1).running);
  EXPECT_EQ(channel(1).output_enable, 0);
  EXPECT_EQ(channel(1).modulation_enable, 0);
  EXPECT_EQ(channel(1).presets, 1u);
  EXPECT_EQ(channel(0).presets, 0u);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(ChannelModelTest, SingleChannelFramesSetTheModeAndTheTriggerConfiguration) {
  model.write(single_frame(kOpTxConfigCw, 1));
  EXPECT_EQ(channel(1).mode, ChannelMode::kContinuousWave);
  EXPECT_EQ(channel(0).mode, ChannelMode::kIdle);
  CommandFrame stream(kOpTxConfigStream);
  set_frame_i16(stream, kChannelOffset, 0);
  set_frame_f64(stream, 16, 122.88e6);
  model.write(sealed(stream));
  EXPECT_EQ(channel(0).mode, ChannelMode::kStream);
  EXPECT_EQ(channel(0).stream_rate, 122.88e6);
  model.write(trigger_frame(1, 2, 1, 0, 0xab, -1));
  const SimChannelState one = channel(1);
  EXPECT_EQ(one.trigger_select, 2);
  EXPECT_EQ(one.trigger_flag1, 1);
  EXPECT_EQ(one.trigger_flag2, 0);
  EXPECT_EQ(one.trigger_spare, 0xab);
  EXPECT_EQ(one.trigger_count, -1);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(ChannelModelTest, FramesNamingChannelsOrValuesTheInstrumentLacksChangeNothing) {
  struct Case {
    const char* name;
    Bytes frame;
    FrameFault fault;
  };
  const std::vector<Case> cases = {
      {"count above the channel count", list_frame(kOpConfigPort, 3, {0, 1, 1}, {1, 0, 1, 0, 1, 0}),
       FrameFault::kListCount},
      {"count above 16", list_frame(kOpStartChannels, 17, {0}), FrameFault::kListCount},
      {"negative count", list_frame(kOpStartChannels, -1, {0}), FrameFault::kListCount},
      {"second index out of range", list_frame(kOpStartChannels, 2, {0, 2}),
       FrameFault::kChannelIndex},
      {"negative index", list_frame(kOpConfigLoMode, 1, {-1}, {7}), FrameFault::kChannelIndex},
      {"continuous wave on channel 2", single_frame(kOpTxConfigCw, 2), FrameFault::kChannelIndex},
      {"stream set-up on channel -1", single_frame(kOpTxConfigStream, -1),
       FrameFault::kChannelIndex},
      {"trigger select 3", trigger_frame(0, 3, 0, 0, 0, 0), FrameFault::kTriggerConfig},
      {"trigger flag1 2", trigger_frame(0, 0, 2, 0, 0, 0), FrameFault::kTriggerConfig},
      {"trigger flag2 2", trigger_frame(0, 0, 0, 2, 0, 0), FrameFault::kTriggerConfig},
      {"trigger count -2", trigger_frame(0, 0, 0, 0, 0, -2), FrameFault::kTriggerConfig},
      {"trigger on channel 5", trigger_frame(5, 0, 0, 0, 0, 0), FrameFault::kChannelIndex},
      {"playback on channel 2", playback_page(2, 1, 0, 1, entries_from(0, 1)),
       FrameFault::kChannelIndex},
  };
  const std::vector<SimChannelState> before = model.channel_states();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    model.write(cases[i].frame);
    const auto rejections = model.rejections();
    ASSERT_EQ(rejections.size(), i + 1);
    EXPECT_EQ(rejections[i].fault, cases[i].fault);
    EXPECT_EQ(rejections[i].kind, EventKind::kFrame);
    EXPECT_EQ(rejections[i].opcode, cases[i].frame[0]);
    EXPECT_EQ(rejections[i].index, i);
  }
  // Nothing of any refused frame was applied, not even to the channels it named rightly.
  const auto after = model.channel_states();
  for (std::size_t c = 0; c < after.size(); ++c) {
    EXPECT_EQ(after[c].running, before[c].running);
    EXPECT_EQ(after[c].lo_mode, before[c].lo_mode);
    EXPECT_EQ(after[c].port, before[c].port);
    EXPECT_EQ(after[c].mode, before[c].mode);
    EXPECT_EQ(after[c].trigger_select, before[c].trigger_select);
  }
  EXPECT_EQ(model.counters().rejected_frames, cases.size());
  EXPECT_EQ(log.str().rfind("zr-sim: command frame 0 (opcode 0x3e) rejected: channel count out of "
                            "range (rejected so far: 1)\n",
                            0),
            0u);
}

TEST_F(ChannelModelTest, OneChannelInstrumentRefusesACountOfTwo) {
  ModelConfig config = model.config();
  config.instrument.channel_count = 1;
  model.set_config(config);
  model.write(list_frame(kOpConfigPort, 2, {0, 0}, {1, 0, 2, 0}));
  ASSERT_EQ(model.rejections().size(), 1u);
  EXPECT_EQ(model.rejections()[0].fault, FrameFault::kListCount);
  EXPECT_EQ(model.channel_states().size(), 1u);
  EXPECT_EQ(model.channel_states()[0].port, 0);
}

TEST_F(ChannelModelTest, EventLogKeepsTheStreamPathResetBetweenTheStopSteps) {
  const Bytes stop = list_frame(kOpStopChannels, 1, {0});
  model.write(stop);
  model.write(list_frame(kOpStopStep2, 1, {0}));
  model.stream_stop();
  model.write(list_frame(kOpStopStep3, 1, {0}));
  Bytes bad_checksum = stop;
  bad_checksum[100] ^= 1;
  model.write(bad_checksum);
  std::vector<std::uint8_t> reply;
  model.query(sealed(CommandFrame(kOpQueryReady)), 128, 100, reply);

  const auto events = model.events();
  ASSERT_EQ(events.size(), 6u);
  const EventKind kinds[] = {EventKind::kFrame, EventKind::kFrame, EventKind::kStreamStop,
                             EventKind::kFrame, EventKind::kFrame, EventKind::kFrame};
  const std::uint8_t opcodes[] = {kOpStopChannels, kOpStopStep2, 0, kOpStopStep3, kOpStopChannels,
                                  kOpQueryReady};
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].kind, kinds[i]);
    if (events[i].kind == EventKind::kFrame) {
      EXPECT_EQ(events[i].opcode, opcodes[i]);
    }
    EXPECT_FALSE(events[i].fault);
  }
  EXPECT_EQ(events[4].check, FrameCheck::kBadChecksum);
  EXPECT_EQ(events[5].route, FrameRoute::kQuery);
  // The frame with the bad checksum was not carried out: the stop sequence stands complete.
  EXPECT_EQ(channel(0).stop_stage, 3);
  model.clear_records();
  EXPECT_TRUE(model.events().empty());
}

TEST_F(ChannelModelTest, PlaybackPagesAssembleIntoOneListPerChannel) {
  // 23 entries on channel 1: pages of 10, 10 and 3.
  model.write(playback_page(1, 3, 0, 10, entries_from(0, 10)));
  model.write(playback_page(1, 3, 1, 10, entries_from(10, 10)));
  EXPECT_FALSE(model.playback_list(1)) << "a list takes effect with its last page";
  model.write(playback_page(1, 3, 2, 3, entries_from(20, 3)));
  const auto list = model.playback_list(1);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->pages, 3u);
  ASSERT_EQ(list->entries.size(), 23u);
  for (std::size_t i = 0; i < 23; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list->entries[i], (PlaybackEntry{static_cast<std::uint16_t>(i),
                                               static_cast<std::uint32_t>(100 + i), 0.5 * i}));
  }
  EXPECT_FALSE(model.playback_list(0));

  // A new list replaces it whole.
  model.write(playback_page(1, 1, 0, 1, {{0, 10, -3.25}}));
  ASSERT_EQ(model.playback_list(1)->entries.size(), 1u);
  EXPECT_EQ(model.playback_list(1)->entries[0], (PlaybackEntry{0, 10, -3.25}));
  EXPECT_EQ(model.playback_list(1)->lists_taken, 2u);
  EXPECT_TRUE(model.rejections().empty());
}

TEST_F(ChannelModelTest, PlaybackPagesOutOfShapeOrOrderAreRefused) {
  Bytes padded = playback_page(0, 1, 0, 1, entries_from(0, 1));
  padded[18] = 1;  // the two bytes after the segment number
  struct Case {
    const char* name;
    std::vector<Bytes> pages;
    FrameFault fault;
  };
  auto resealed = [](Bytes frame) {
    CommandFrame copy;
    std::copy(frame.begin(), frame.end(), copy.bytes.begin());
    return sealed(copy);
  };
  Bytes stray_slot = playback_page(0, 1, 0, 1, entries_from(0, 2));  // slot 1 filled, 1 entry
  const std::vector<Case> cases = {
      {"page index equal to the page count", {playback_page(0, 2, 2, 10, entries_from(0, 10))},
       FrameFault::kPlaybackPage},
      {"no pages", {playback_page(0, 0, 0, 1, entries_from(0, 1))}, FrameFault::kPlaybackPage},
      {"no entries", {playback_page(0, 1, 0, 0, {})}, FrameFault::kPlaybackPage},
      {"eleven entries", {playback_page(0, 1, 0, 11, entries_from(0, 10))},
       FrameFault::kPlaybackPage},
      {"short page before the last", {playback_page(0, 2, 0, 9, entries_from(0, 9))},
       FrameFault::kPlaybackPage},
      {"second page first", {playback_page(0, 2, 1, 1, entries_from(10, 1))},
       FrameFault::kPlaybackOrder},
      {"page count changing",
       {playback_page(0, 3, 0, 10, entries_from(0, 10)), playback_page(0, 2, 1, 1, entries_from(10, 1))},
       FrameFault::kPlaybackOrder},
      {"entry padding", {resealed(padded)}, FrameFault::kPlaybackEntry},
      {"unused slot filled", {stray_slot}, FrameFault::kPlaybackEntry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model.clear_records();
    for (const Bytes& page : c.pages) model.write(page);
    const auto rejections = model.rejections();
    ASSERT_EQ(rejections.size(), 1u);
    EXPECT_EQ(rejections[0].fault, c.fault);
    EXPECT_FALSE(model.playback_list(0));
  }
  // A refused page drops the list under assembly: its next page does not continue it.
  model.clear_records();
  model.write(playback_page(0, 2, 0, 10, entries_from(0, 10)));
  model.write(resealed(padded));
  model.write(playback_page(0, 2, 1, 1, entries_from(10, 1)));
  ASSERT_EQ(model.rejections().size(), 2u);
  EXPECT_EQ(model.rejections()[1].fault, FrameFault::kPlaybackOrder);
  EXPECT_FALSE(model.playback_list(0));
}

}  // namespace
}  // namespace zr::sim
