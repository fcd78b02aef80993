// The state mirror: limit clamping and the recorded state, per opcode.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "device/limit_clamp.hpp"
#include "device/opcodes.hpp"
#include "tests/calibration/cal_test_folder.hpp"
#include "tests/device/recording_bus.hpp"

namespace zr {
namespace {

constexpr char kLimits[] =
    "[TX_FREQ_FIXED]\nmin = 9000\nmax=6000000000 \n"
    "[TX_LEVEL_FIXED]\nmin=-120\nmax=20\n"
    "[TX_FREQ_STEP]\nmin=1\nmax=1e9\n"
    "[TX_LEVEL_STEP]\nmin=0.01\nmax=100\n"
    "[TX_DWELLTIME]\nmin=0.001\nmax=0.1\n";

struct ClampCase {
  const char* name;
  const char* limits;  // nullptr: no limits file
  const char* key;
  double value;
  double expected;
  std::int32_t status;
};

TEST(ClampToLimit, ClampsToTheBoundsOfTheLimitsFile) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ClampCase cases[] = {
      {"above_max", kLimits, kLimitFreqFixed, 7e9, 6e9, ZR_CLAMPED},
      {"below_min", kLimits, kLimitFreqFixed, 10.0, 9000.0, ZR_CLAMPED},
      {"equal_to_min_passes", kLimits, kLimitLevelFixed, -120.0, -120.0, ZR_OK},
      {"equal_to_max_passes", kLimits, kLimitLevelFixed, 20.0, 20.0, ZR_OK},
      {"inside", kLimits, kLimitFreqStep, 1000.0, 1000.0, ZR_OK},
      {"nan_passes", kLimits, kLimitFreqFixed, nan, nan, ZR_OK},
      {"no_file_is_unbounded", nullptr, kLimitFreqFixed, 1e300, 1e300, ZR_OK},
      {"no_section_is_unbounded", "[OTHER]\nmin=0\nmax=1\n", kLimitFreqFixed, -5.0, -5.0, ZR_OK},
      {"no_min_leaves_the_low_side_open", "[TX_FREQ_FIXED]\nmax=10\n", kLimitFreqFixed, -1e9, -1e9,
       ZR_OK},
      {"no_min_still_clamps_the_high_side", "[TX_FREQ_FIXED]\nmax=10\n", kLimitFreqFixed, 11.0,
       10.0, ZR_CLAMPED},
      {"no_max_leaves_the_high_side_open", "[TX_FREQ_FIXED]\nmin=10\n", kLimitFreqFixed, 1e12, 1e12,
       ZR_OK},
      {"value_converts_up_to_the_first_foreign_character", "[TX_FREQ_FIXED]\nmax=  2.5e3Hz\n",
       kLimitFreqFixed, 3000.0, 2500.0, ZR_CLAMPED},
      {"value_that_does_not_convert_is_zero", "[TX_FREQ_FIXED]\nmax=high\n", kLimitFreqFixed, 1.0,
       0.0, ZR_CLAMPED},
  };
  for (const ClampCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::CalTestFolder folder;
    if (c.limits != nullptr) folder.write_limits(c.limits);
    double value = c.value;
    EXPECT_EQ(clamp_to_limit(c.key, value), c.status);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_EQ(value, c.expected);
    }
  }
}

TEST(ClampToLimit, FloatsAreComparedWithFloatBounds) {
  testing::CalTestFolder folder;
  folder.write_limits(kLimits);
  // 0.1f lies above the double 0.1 but equals it once the bound is a float.
  float dwell = 0.1f;
  EXPECT_EQ(clamp_to_limit(kLimitDwellTime, dwell), ZR_OK);
  EXPECT_EQ(dwell, 0.1f);
  dwell = 0.5f;
  EXPECT_EQ(clamp_to_limit(kLimitDwellTime, dwell), ZR_CLAMPED);
  EXPECT_EQ(dwell, 0.1f);
  // A bound outside the float range saturates instead of converting undefinedly.
  folder.write_limits("[TX_DWELLTIME]\nmin=-1e300\nmax=1e300\n");
  dwell = 3.0e38f;
  EXPECT_EQ(clamp_to_limit(kLimitDwellTime, dwell), ZR_OK);
  EXPECT_EQ(dwell, 3.0e38f);
}

TEST(ClampToLimit, ReReadsTheFileOnEveryLookup) {
  testing::CalTestFolder folder;
  folder.write_limits("[TX_LEVEL_FIXED]\nmax=10\n");
  double level = 15.0;
  EXPECT_EQ(clamp_to_limit(kLimitLevelFixed, level), ZR_CLAMPED);
  folder.write_limits("[TX_LEVEL_FIXED]\nmax=20\n");
  level = 15.0;
  EXPECT_EQ(clamp_to_limit(kLimitLevelFixed, level), ZR_OK);
}

class StateMirrorTest : public ::testing::Test {
 protected:
  void SetUp() override { folder.write_limits(kLimits); }
  testing::CalTestFolder folder;
  DeviceContext context;
};

CommandFrame channel_list(std::uint8_t opcode, std::initializer_list<std::int16_t> channels) {
  CommandFrame frame(opcode);
  set_frame_i16(frame, 8, static_cast<std::int16_t>(channels.size()));
  std::size_t i = 0;
  for (std::int16_t channel : channels) set_frame_i16(frame, 10 + 2 * i++, channel);
  return frame;
}

CommandFrame single_channel(std::uint8_t opcode, std::int16_t channel) {
  CommandFrame frame(opcode);
  set_frame_i16(frame, 8, channel);
  return frame;
}

struct MirrorCase {
  const char* name;
  std::function<CommandFrame()> frame;
  std::int32_t status;
  std::function<void(const DeviceContext&, const CommandFrame&)> check;
};

std::vector<MirrorCase> mirror_cases() {
  return {
      {"stop_clears_running_of_listed_channels",
       [] {
         return channel_list(kOpStopChannels, {1, 3});
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(0).running, 1);  // preset by the test: not listed
         EXPECT_EQ(c.live_channel(1).running, 0);
         EXPECT_EQ(c.live_channel(3).running, 0);
       }},
      {"start_sets_running", [] { return channel_list(kOpStartChannels, {2}); }, ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(2).running, 1);
         EXPECT_EQ(c.live_channel(4).running, 0);
       }},
      {"lo_mode_one_byte_per_listed_channel",
       [] {
         auto f = channel_list(kOpConfigLoMode, {0, 5});
         set_frame_u8(f, 42, 7);
         set_frame_u8(f, 43, 9);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(0).lo_mode, 7);
         EXPECT_EQ(c.live_channel(5).lo_mode, 9);
       }},
      {"data_block_one_byte_per_listed_channel",
       [] {
         auto f = channel_list(kOpConfigDataBlock, {3, 0});
         set_frame_u8(f, 42, 4);
         set_frame_u8(f, 43, 6);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(3).data_block, 4);
         EXPECT_EQ(c.live_channel(0).data_block, 6);
       }},
      {"trigger_out_three_bytes_per_listed_channel",
       [] {
         auto f = channel_list(kOpConfigTriggerOut, {0, 1});
         set_frame_u16(f, 42, 0x1234);
         set_frame_u8(f, 44, 5);
         set_frame_u16(f, 45, 0xABCD);
         set_frame_u8(f, 47, 6);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(0).trigger_out_word, 0x1234);
         EXPECT_EQ(c.live_channel(0).trigger_out_byte, 5);
         EXPECT_EQ(c.live_channel(1).trigger_out_word, 0xABCD);
         EXPECT_EQ(c.live_channel(1).trigger_out_byte, 6);
       }},
      {"port_one_word_per_listed_channel",
       [] {
         auto f = channel_list(kOpConfigPort, {1, 0});
         set_frame_u16(f, 42, 300);
         set_frame_u16(f, 44, 0xFFFF);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(1).port_setting, 300);
         EXPECT_EQ(c.live_channel(0).port_setting, 0xFFFF);
       }},
      {"trigger_two_words_of_the_channel",
       [] {
         auto f = single_channel(kOpConfigTrigger, 2);
         set_frame_u32(f, 12, 0xDEADBEEF);
         set_frame_u32(f, 16, 42);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(2).trigger[0], 0xDEADBEEFu);
         EXPECT_EQ(c.live_channel(2).trigger[1], 42u);
       }},
      {"ffm_frequency_above_max_is_clamped_and_recorded",
       [] {
         auto f = single_channel(kOpTxConfigFfm, 0);
         set_frame_f64(f, 16, 7e9);
         set_frame_f64(f, 24, -120.0);
         return f;
       },
       ZR_CLAMPED,
       [](const DeviceContext& c, const CommandFrame& f) {
         EXPECT_EQ(frame_f64(f, 16), 6e9);
         EXPECT_EQ(frame_f64(f, 24), -120.0);
         EXPECT_EQ(c.live_channel(0).ffm.frequency, 6e9);
         EXPECT_EQ(c.live_channel(0).ffm.level, -120.0);
       }},
      {"ffm_inside_limits_is_recorded_unchanged",
       [] {
         auto f = single_channel(kOpTxConfigFfm, 1);
         set_frame_f64(f, 16, 1e9);
         set_frame_f64(f, 24, -30.5);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(1).ffm.frequency, 1e9);
         EXPECT_EQ(c.live_channel(1).ffm.level, -30.5);
       }},
      {"fscan_each_field_with_its_key",
       [] {
         auto f = single_channel(kOpTxConfigFscan, 0);
         set_frame_f64(f, 16, 1.0);   // start: FREQ_FIXED min 9000
         set_frame_f64(f, 24, 9e9);   // stop: FREQ_FIXED max 6e9
         set_frame_f64(f, 32, 0.5);   // step: FREQ_STEP min 1
         set_frame_f64(f, 40, 30.0);  // level: LEVEL_FIXED max 20
         set_frame_f32(f, 48, 1.0f);  // dwell: max 0.1
         set_frame_u32(f, 52, 0x04030201);
         return f;
       },
       ZR_CLAMPED,
       [](const DeviceContext& c, const CommandFrame& f) {
         const FscanSetting& s = c.live_channel(0).fscan;
         EXPECT_EQ(s.start_frequency, 9000.0);
         EXPECT_EQ(s.stop_frequency, 6e9);
         EXPECT_EQ(s.frequency_step, 1.0);
         EXPECT_EQ(s.level, 20.0);
         EXPECT_EQ(s.dwell, 0.1f);
         EXPECT_EQ(s.extra, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
         EXPECT_EQ(frame_f64(f, 24), 6e9);
         EXPECT_EQ(frame_f32(f, 48), 0.1f);
       }},
      {"lscan_each_field_with_its_key",
       [] {
         auto f = single_channel(kOpTxConfigLscan, 0);
         set_frame_f64(f, 16, -200.0);  // start level: LEVEL_FIXED min -120
         set_frame_f64(f, 24, 10.0);
         set_frame_f64(f, 32, 500.0);  // step: LEVEL_STEP max 100
         set_frame_f64(f, 40, 1e3);    // frequency: FREQ_FIXED min 9000
         set_frame_f32(f, 48, 0.0f);   // dwell: min 0.001
         return f;
       },
       ZR_CLAMPED,
       [](const DeviceContext& c, const CommandFrame&) {
         const LscanSetting& s = c.live_channel(0).lscan;
         EXPECT_EQ(s.start_level, -120.0);
         EXPECT_EQ(s.stop_level, 10.0);
         EXPECT_EQ(s.level_step, 100.0);
         EXPECT_EQ(s.frequency, 9000.0);
         EXPECT_EQ(s.dwell, 0.001f);
       }},
      {"lscan_inside_limits",
       [] {
         auto f = single_channel(kOpTxConfigLscan, 0);
         set_frame_f64(f, 16, -50.0);
         set_frame_f64(f, 24, 0.0);
         set_frame_f64(f, 32, 1.0);
         set_frame_f64(f, 40, 1e9);
         set_frame_f32(f, 48, 0.01f);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(0).lscan.level_step, 1.0);
       }},
      {"output_switches_of_each_listed_channel",
       [] {
         auto f = channel_list(kOpTxConfigOutput, {0, 2});
         set_frame_u8(f, 42, 1);
         set_frame_u8(f, 43, 0);
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame&) {
         EXPECT_EQ(c.live_channel(0).output, (std::array<std::uint8_t, 2>{1, 0}));
         EXPECT_EQ(c.live_channel(2).output, (std::array<std::uint8_t, 2>{1, 0}));
       }},
      {"cal_mode",
       [] {
         CommandFrame f(kOpCalMode);
         set_frame_u16(f, 8, 0x0203);
         return f;
       },
       ZR_OK, [](const DeviceContext& c, const CommandFrame&) { EXPECT_EQ(c.cal_mode, 0x0203); }},
      {"other_opcode_records_nothing",
       [] {
         auto f = single_channel(kOpRxConfigFfm, 0);
         set_frame_f64(f, 16, 9e12);  // no clamp either
         return f;
       },
       ZR_OK,
       [](const DeviceContext& c, const CommandFrame& f) {
         EXPECT_EQ(frame_f64(f, 16), 9e12);
         EXPECT_EQ(c.live_channel(0).ffm.frequency, 0.0);
       }},
  };
}

TEST_F(StateMirrorTest, RecordsAndClampsPerOpcode) {
  for (const MirrorCase& c : mirror_cases()) {
    SCOPED_TRACE(c.name);
    DeviceContext fresh;
    fresh.live_channel(0).running = 1;
    fresh.live_channel(1).running = 1;
    fresh.live_channel(3).running = 1;
    CommandFrame frame = c.frame();
    EXPECT_EQ(fresh.mirror_frame(frame), c.status);
    c.check(fresh, frame);
  }
}

struct GnssCase {
  float period;
  float rate;
  float recorded_period;
  float recorded_rate;
};

TEST_F(StateMirrorTest, GnssPeriodAndRateAreCorrectedInTheRecordOnly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const GnssCase cases[] = {
      {0.5f, 0.1f, 1.0f, 0.1f},         {20000.0f, 0.0f, 10000.0f, 0.0f}, {4.0f, 0.5f, 4.0f, 0.25f},
      {4.0f, -1.0f, 4.0f, 0.0f},        {1.0f, 2.0f, 1.0f, 1.0f},         {nan, nan, 1.0f, 0.0f},
      {100.0f, 0.001f, 100.0f, 0.001f},
  };
  for (const GnssCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.period) + " " + std::to_string(c.rate));
    CommandFrame frame(kOpConfigGnss);
    set_frame_u8(frame, 8, 1);
    set_frame_u8(frame, 9, 2);  // only 1 counts as set
    set_frame_f32(frame, 12, c.period);
    set_frame_f32(frame, 16, c.rate);
    const CommandFrame sent = frame;
    EXPECT_EQ(context.mirror_frame(frame), ZR_OK);
    EXPECT_EQ(frame.bytes, sent.bytes);
    EXPECT_TRUE(context.device_settings.gnss_flag_a);
    EXPECT_FALSE(context.device_settings.gnss_flag_b);
    EXPECT_EQ(context.device_settings.gnss_period, c.recorded_period);
    EXPECT_EQ(context.device_settings.gnss_rate, c.recorded_rate);
  }
}

CommandFrame mscan_page(std::int16_t channel, std::uint8_t pages, std::uint8_t page,
                        std::uint8_t points, double first_frequency) {
  CommandFrame frame = single_channel(kOpTxConfigMscan, channel);
  set_frame_u8(frame, 10, pages);
  set_frame_u8(frame, 11, page);
  set_frame_u8(frame, 12, points);
  for (std::size_t j = 0; j < points && j < 9; ++j) {
    set_frame_f64(frame, 16 + 24 * j, first_frequency + static_cast<double>(j));
    set_frame_f64(frame, 24 + 24 * j, -10.0 - static_cast<double>(j));
    set_frame_f32(frame, 32 + 24 * j, 0.01f);
    set_frame_u32(frame, 36 + 24 * j, 0xA0 + static_cast<std::uint32_t>(j));
  }
  return frame;
}

TEST_F(StateMirrorTest, ListSweepOfTwentyPointsInThreePages) {
  for (std::uint8_t page = 0; page < 3; ++page) {
    const std::uint8_t points = page < 2 ? 8 : 4;
    CommandFrame frame = mscan_page(0, 3, page, points, 1e6 * (page + 1));
    EXPECT_EQ(context.mirror_frame(frame), ZR_OK);
  }
  const ChannelState& s = context.live_channel(0);
  EXPECT_EQ(s.mscan_count, 20);
  EXPECT_EQ(s.mscan_points[0].frequency, 1e6);
  EXPECT_EQ(s.mscan_points[9].frequency, 2e6 + 1);
  EXPECT_EQ(s.mscan_points[19].frequency, 3e6 + 3);
  EXPECT_EQ(s.mscan_points[19].level, -13.0);
  EXPECT_EQ(s.mscan_points[19].dwell, 0.01f);
  EXPECT_EQ(s.mscan_points[19].extra, (std::array<std::uint8_t, 4>{0xA3, 0, 0, 0}));
  EXPECT_EQ(s.mscan_points[20].frequency, 0.0);
}

TEST_F(StateMirrorTest, ListSweepPageWithOnlyTheFirstPointClampedReports98) {
  CommandFrame frame = mscan_page(0, 1, 0, 3, 1e6);
  set_frame_f64(frame, 16, 1.0);  // below TX_FREQ_FIXED min
  EXPECT_EQ(context.mirror_frame(frame), ZR_CLAMPED);
  EXPECT_EQ(frame_f64(frame, 16), 9000.0);
  EXPECT_EQ(context.live_channel(0).mscan_points[0].frequency, 9000.0);
  EXPECT_EQ(context.live_channel(0).mscan_points[1].frequency, 1e6 + 1);
  EXPECT_EQ(context.live_channel(0).mscan_count, 3);
}

TEST_F(StateMirrorTest, ListSweepPageClaimingMoreThanEightPointsStaysInsideThePage) {
  CommandFrame frame = mscan_page(0, 2, 1, 9, 1e6);
  EXPECT_EQ(context.mirror_frame(frame), ZR_OK);
  EXPECT_EQ(context.live_channel(0).mscan_count, 16);
  EXPECT_EQ(context.live_channel(0).mscan_points[15].frequency, 1e6 + 7);
  EXPECT_EQ(context.live_channel(0).mscan_points[16].frequency, 0.0);
}

TEST_F(StateMirrorTest, ListSweepPageCountZeroDoesNotWrapTheCount) {
  CommandFrame frame = mscan_page(0, 0, 0, 4, 1e6);
  context.mirror_frame(frame);
  EXPECT_EQ(context.live_channel(0).mscan_count, 0);
}

// Frames can carry channel indices nobody checked; they must not reach other slots.
TEST_F(StateMirrorTest, ChannelIndicesOutsideTheLiveSlotsAreNotRecorded) {
  CommandFrame start = channel_list(kOpStartChannels, {-1, 16, 1000, 15});
  context.mirror_frame(start);
  EXPECT_EQ(context.live_channel(15).running, 1);
  EXPECT_EQ(context.preset_channel(0).running, 0);
  for (std::int16_t channel : {-1, 16, 31, 32767}) {
    CommandFrame ffm = single_channel(kOpTxConfigFfm, channel);
    set_frame_f64(ffm, 16, 7e9);
    EXPECT_EQ(context.mirror_frame(ffm), ZR_CLAMPED);  // still clamped for sending
    EXPECT_EQ(frame_f64(ffm, 16), 6e9);
  }
  for (std::size_t slot = 0; slot < kLiveChannels; ++slot) {
    EXPECT_EQ(context.preset_channel(slot).ffm.frequency, 0.0);
    EXPECT_EQ(context.live_channel(slot).ffm.frequency, 0.0);
  }
  // A count beyond 16 stops at the 16 index slots.
  CommandFrame wide(kOpStopChannels);
  set_frame_i16(wide, 8, 200);
  set_frame_i16(wide, 10 + 2 * 15, 15);
  context.mirror_frame(wide);
  EXPECT_EQ(context.live_channel(15).running, 0);
}

}  // namespace
}  // namespace zr
