#include "sim/channel_model.hpp"

#include <algorithm>
#include <array>
#include <cassert>

#include "device/command_frame.hpp"
#include "device/opcodes.hpp"

namespace zr::sim {
namespace {

constexpr std::size_t kTriggerSelectOffset = 12;
constexpr std::size_t kTriggerFlag1Offset = 13;
constexpr std::size_t kTriggerFlag2Offset = 14;
constexpr std::size_t kTriggerSpareOffset = 15;
constexpr std::size_t kTriggerCountOffset = 16;
constexpr std::size_t kStreamRateOffset = 16;
constexpr std::uint8_t kMaxTriggerSelect = 2;
constexpr std::uint8_t kMaxTriggerFlag = 1;
constexpr std::int32_t kMinTriggerCount = -1;
constexpr std::size_t kTriggerOutputSize = 3;

bool is_list_opcode(std::uint8_t opcode) {
  switch (opcode) {
    case kOpStopChannels:
    case kOpStartChannels:
    case kOpTriggerBus:
    case kOpStopStep2:
    case kOpStopStep3:
    case kOpPresetChannels:
    case kOpConfigLoMode:
    case kOpConfigDataBlock:
    case kOpConfigTriggerOut:
    case kOpConfigPort:
    case kOpTxConfigOutput:
      return true;
    default:
      return false;
  }
}

// Applies the listed channel's share of a list frame; k is its place in the list.
void apply_listed(SimChannelState& channel, std::uint8_t opcode, const std::uint8_t* frame,
                  std::size_t k) {
  switch (opcode) {
    case kOpStopChannels:
      channel.running = false;
      channel.stop_stage = 1;
      break;
    case kOpStopStep2:
      channel.stop_stage = 2;
      break;
    case kOpStopStep3:
      channel.stop_stage = 3;
      break;
    case kOpStartChannels:
      channel.running = true;
      channel.stop_stage = 0;
      break;
    case kOpTriggerBus:
      ++channel.bus_triggers;
      break;
    case kOpPresetChannels:
      channel.running = false;
      channel.output_enable = 0;
      channel.modulation_enable = 0;
      ++channel.presets;
      break;
    case kOpConfigLoMode:
      channel.lo_mode = frame[kListValueOffset + k];
      break;
    case kOpConfigDataBlock:
      channel.data_block = frame[kListValueOffset + k];
      break;
    case kOpConfigTriggerOut: {
      const std::uint8_t* at = frame + kListValueOffset + kTriggerOutputSize * k;
      channel.trigger_out_value = load_i16(at);
      channel.trigger_out_flag = at[2];
      break;
    }
    case kOpConfigPort:
      channel.port = load_i16(frame + kListValueOffset + 2 * k);
      break;
    case kOpTxConfigOutput:
      // One pair of switches for every listed channel.
      channel.output_enable = frame[kListValueOffset];
      channel.modulation_enable = frame[kListValueOffset + 1];
      break;
    default:
      break;
  }
}

}  // namespace

ChannelModel::ChannelModel(std::int16_t count) { set_channel_count(count); }

void ChannelModel::set_channel_count(std::int16_t count) {
  const auto bounded = std::clamp<std::int16_t>(count, 0, kMaxListedChannels);
  channels_.resize(static_cast<std::size_t>(bounded));
}

bool ChannelModel::handles(std::uint8_t opcode) {
  return is_list_opcode(opcode) || opcode == kOpConfigTrigger || opcode == kOpTxConfigCw ||
         opcode == kOpTxConfigStream;
}

std::optional<FrameFault> ChannelModel::take(std::span<const std::uint8_t> frame) {
  assert(frame.size() == kFrameSize);
  return is_list_opcode(frame[0]) ? take_list(frame) : take_single(frame);
}

std::optional<FrameFault> ChannelModel::take_list(std::span<const std::uint8_t> frame) {
  const std::int16_t count = load_i16(frame.data() + kListCountOffset);
  if (count < 0 || count > static_cast<std::int16_t>(kMaxListedChannels) ||
      count > channel_count()) {
    return FrameFault::kListCount;
  }
  // Every index is checked before any channel changes.
  std::array<std::int16_t, kMaxListedChannels> indices{};
  for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
    indices[k] = load_i16(frame.data() + kListIndexOffset + 2 * k);
    if (!valid_channel(indices[k])) return FrameFault::kChannelIndex;
  }
  for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
    apply_listed(channels_[static_cast<std::size_t>(indices[k])], frame[0], frame.data(), k);
  }
  return std::nullopt;
}

std::optional<FrameFault> ChannelModel::take_single(std::span<const std::uint8_t> frame) {
  const std::int16_t index = load_i16(frame.data() + kChannelOffset);
  if (!valid_channel(index)) return FrameFault::kChannelIndex;
  SimChannelState& channel = channels_[static_cast<std::size_t>(index)];
  const std::uint8_t* at = frame.data();
  switch (frame[0]) {
    case kOpConfigTrigger: {
      const std::int32_t count = static_cast<std::int32_t>(load_u32(at + kTriggerCountOffset));
      // The sender clamps these; values beyond are a fault of the sender.
      if (at[kTriggerSelectOffset] > kMaxTriggerSelect || at[kTriggerFlag1Offset] > kMaxTriggerFlag ||
          at[kTriggerFlag2Offset] > kMaxTriggerFlag || count < kMinTriggerCount) {
        return FrameFault::kTriggerConfig;
      }
      channel.trigger_select = at[kTriggerSelectOffset];
      channel.trigger_flag1 = at[kTriggerFlag1Offset];
      channel.trigger_flag2 = at[kTriggerFlag2Offset];
      channel.trigger_spare = at[kTriggerSpareOffset];
      channel.trigger_count = count;
      break;
    }
    case kOpTxConfigCw:
      channel.mode = ChannelMode::kContinuousWave;
      break;
    case kOpTxConfigStream:
      channel.mode = ChannelMode::kStream;
      channel.stream_rate = load_f64(at + kStreamRateOffset);
      break;
    default:
      break;
  }
  return std::nullopt;
}

}  // namespace zr::sim
