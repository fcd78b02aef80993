// The state mirror: every frame passes here before it is written, so that its values respect the
// limits file and the query calls can answer from memory.
#include <algorithm>

#include "device/device_context.hpp"
#include "device/limit_clamp.hpp"
#include "device/opcodes.hpp"

namespace zr {
namespace {

// Offsets of the single-channel settings.
constexpr std::size_t kValue0 = 16;  // first double (ffm, fscan, lscan) or first list point
constexpr std::size_t kValue1 = 24;
constexpr std::size_t kValue2 = 32;
constexpr std::size_t kValue3 = 40;
constexpr std::size_t kDwell = 48;
constexpr std::size_t kSweepExtra = 52;
constexpr std::size_t kTriggerWord0 = 12;
constexpr std::size_t kTriggerWord1 = 16;
constexpr std::size_t kGnssFlagA = 8;
constexpr std::size_t kGnssFlagB = 9;
constexpr std::size_t kGnssPeriod = 12;
constexpr std::size_t kGnssRate = 16;
constexpr std::size_t kCalModeOffset = 8;
constexpr std::size_t kMscanPageCount = 10;
constexpr std::size_t kMscanPageIndex = 11;
constexpr std::size_t kMscanPagePoints = 12;
constexpr std::size_t kMscanPointSize = 24;

constexpr float kGnssMaxPeriod = 10000.0f;
constexpr float kGnssMinPeriod = 1.0f;

// Clamps the double or float at offset in place; true when it was changed.
bool clamp_double(CommandFrame& frame, std::size_t offset, const char* key) {
  double value = frame_f64(frame, offset);
  if (clamp_to_limit(key, value) == ZR_OK) return false;
  set_frame_f64(frame, offset, value);
  return true;
}

bool clamp_float(CommandFrame& frame, std::size_t offset, const char* key) {
  float value = frame_f32(frame, offset);
  if (clamp_to_limit(key, value) == ZR_OK) return false;
  set_frame_f32(frame, offset, value);
  return true;
}

// The live slot a channel index names, or nullptr for an index outside the live slots: frames
// can carry indices nobody validated, and they must not reach the preset slots or beyond.
ChannelState* live_slot(DeviceContext& context, std::int16_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kLiveChannels) return nullptr;
  return &context.live_channel(static_cast<std::size_t>(index));
}

// Calls apply(state, i) for each valid channel i of a channel list (count at 8, indices at 10).
template <typename Apply>
void for_each_listed(DeviceContext& context, const CommandFrame& frame, Apply apply) {
  const std::int16_t count = frame_i16(frame, kListCountOffset);
  const std::size_t listed =
      std::min<std::size_t>(count < 0 ? 0 : static_cast<std::size_t>(count), kMaxListedChannels);
  for (std::size_t i = 0; i < listed; ++i) {
    ChannelState* state = live_slot(context, frame_i16(frame, kListIndexOffset + 2 * i));
    if (state != nullptr) apply(*state, i);
  }
}

std::array<std::uint8_t, 4> extra_bytes(const CommandFrame& frame, std::size_t offset) {
  const std::uint8_t* at = field(frame, offset, 4);
  return {at[0], at[1], at[2], at[3]};
}

}  // namespace

std::int32_t DeviceContext::mirror_frame(CommandFrame& frame) {
  bool clamped = false;
  ChannelState* single = live_slot(*this, frame_i16(frame, kChannelOffset));

  switch (frame.opcode()) {
    case kOpStopChannels:
      for_each_listed(*this, frame, [](ChannelState& s, std::size_t) { s.running = 0; });
      break;
    case kOpStartChannels:
      for_each_listed(*this, frame, [](ChannelState& s, std::size_t) { s.running = 1; });
      break;
    case kOpConfigGnss: {
      // Only the record is corrected; the frame goes out as the caller built it.
      device_settings.gnss_flag_a = frame_u8(frame, kGnssFlagA) == 1;
      device_settings.gnss_flag_b = frame_u8(frame, kGnssFlagB) == 1;
      float period = frame_f32(frame, kGnssPeriod);
      if (period > kGnssMaxPeriod) period = kGnssMaxPeriod;
      if (!(period > kGnssMinPeriod)) period = kGnssMinPeriod;
      float rate = frame_f32(frame, kGnssRate);
      if (rate > 1.0f / period) rate = 1.0f / period;
      if (!(rate > 0.0f)) rate = 0.0f;
      device_settings.gnss_period = period;
      device_settings.gnss_rate = rate;
      break;
    }
    case kOpConfigLoMode:
      for_each_listed(*this, frame, [&](ChannelState& s, std::size_t i) {
        s.lo_mode = frame_u8(frame, kListValueOffset + i);
      });
      break;
    case kOpConfigDataBlock:
      for_each_listed(*this, frame, [&](ChannelState& s, std::size_t i) {
        s.data_block = frame_u8(frame, kListValueOffset + i);
      });
      break;
    case kOpConfigTriggerOut:
      for_each_listed(*this, frame, [&](ChannelState& s, std::size_t i) {
        s.trigger_out_word = frame_u16(frame, kListValueOffset + 3 * i);
        s.trigger_out_byte = frame_u8(frame, kListValueOffset + 3 * i + 2);
      });
      break;
    case kOpConfigPort:
      for_each_listed(*this, frame, [&](ChannelState& s, std::size_t i) {
        s.port_setting = frame_u16(frame, kListValueOffset + 2 * i);
      });
      break;
    case kOpConfigTrigger:
      if (single != nullptr) {
        single->trigger = {frame_u32(frame, kTriggerWord0), frame_u32(frame, kTriggerWord1)};
      }
      break;
    case kOpTxConfigFfm:
      clamped |= clamp_double(frame, kValue0, kLimitFreqFixed);
      clamped |= clamp_double(frame, kValue1, kLimitLevelFixed);
      if (single != nullptr) single->ffm = {frame_f64(frame, kValue0), frame_f64(frame, kValue1)};
      break;
    case kOpTxConfigFscan:
      clamped |= clamp_double(frame, kValue0, kLimitFreqFixed);
      clamped |= clamp_double(frame, kValue1, kLimitFreqFixed);
      clamped |= clamp_double(frame, kValue2, kLimitFreqStep);
      clamped |= clamp_double(frame, kValue3, kLimitLevelFixed);
      clamped |= clamp_float(frame, kDwell, kLimitDwellTime);
      if (single != nullptr) {
        single->fscan = {frame_f64(frame, kValue0), frame_f64(frame, kValue1),
                         frame_f64(frame, kValue2), frame_f64(frame, kValue3),
                         frame_f32(frame, kDwell),  extra_bytes(frame, kSweepExtra)};
      }
      break;
    case kOpTxConfigLscan:
      clamped |= clamp_double(frame, kValue0, kLimitLevelFixed);
      clamped |= clamp_double(frame, kValue1, kLimitLevelFixed);
      clamped |= clamp_double(frame, kValue2, kLimitLevelStep);
      clamped |= clamp_double(frame, kValue3, kLimitFreqFixed);
      clamped |= clamp_float(frame, kDwell, kLimitDwellTime);
      if (single != nullptr) {
        single->lscan = {frame_f64(frame, kValue0), frame_f64(frame, kValue1),
                         frame_f64(frame, kValue2), frame_f64(frame, kValue3),
                         frame_f32(frame, kDwell),  extra_bytes(frame, kSweepExtra)};
      }
      break;
    case kOpTxConfigMscan: {
      const std::uint8_t pages = frame_u8(frame, kMscanPageCount);
      const std::uint8_t page = frame_u8(frame, kMscanPageIndex);
      // A page holds at most 8 points; more would run past the frame's payload.
      const std::size_t points =
          std::min<std::size_t>(frame_u8(frame, kMscanPagePoints), kMscanPointsPerPage);
      for (std::size_t j = 0; j < points; ++j) {
        const std::size_t at = kValue0 + kMscanPointSize * j;
        clamped |= clamp_double(frame, at, kLimitFreqFixed);
        clamped |= clamp_double(frame, at + 8, kLimitLevelFixed);
        clamped |= clamp_float(frame, at + 16, kLimitDwellTime);
        if (single != nullptr) {
          single->mscan_points[page * kMscanPointsPerPage + j] = {
              frame_f64(frame, at), frame_f64(frame, at + 8), frame_f32(frame, at + 16),
              extra_bytes(frame, at + 20)};
        }
      }
      if (single != nullptr) {
        // The total when this page is the last one; a page count of 0 would wrap below zero.
        const int total = pages * static_cast<int>(kMscanPointsPerPage) + static_cast<int>(points) -
                          static_cast<int>(kMscanPointsPerPage);
        single->mscan_count = static_cast<std::uint16_t>(std::max(total, 0));
      }
      break;
    }
    case kOpTxConfigOutput:
      for_each_listed(*this, frame, [&](ChannelState& s, std::size_t) {
        s.output = {frame_u8(frame, kListValueOffset), frame_u8(frame, kListValueOffset + 1)};
      });
      break;
    case kOpCalMode:
      cal_mode = frame_u16(frame, kCalModeOffset);
      break;
    default:
      break;
  }
  return clamped ? std::int32_t{ZR_CLAMPED} : std::int32_t{ZR_OK};
}

}  // namespace zr
