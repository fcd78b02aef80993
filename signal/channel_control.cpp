// Channel commands. A call that refuses its arguments does so before the guard, so a refused call
// neither sends nor stops anything.
#include "signal/channel_control.hpp"

#include <algorithm>
#include <vector>

#include "device/opcodes.hpp"
#include "signal/channel_list.hpp"

namespace zr {
namespace {

constexpr std::size_t kTriggerFieldsOffset = 12;  // select, flag1, flag2, spare
constexpr std::size_t kTriggerCountOffset = 16;
constexpr std::uint8_t kMaxTriggerSelect = 2;
constexpr std::uint8_t kMaxTriggerFlag = 1;
constexpr std::int32_t kMinTriggerCount = -1;
constexpr std::size_t kTriggerOutputSize = 3;
constexpr std::size_t kOutputEnableOffset = kListValueOffset;
constexpr std::size_t kModulationEnableOffset = kListValueOffset + 1;

// Checks a list of count channels and sends it with opcode; values(frame, count) fills the
// per-channel payload.
template <typename Values>
std::int32_t send_list(DeviceContext& context, ChannelHandle* channels, std::uint8_t opcode,
                       std::int16_t count, Values values) {
  if (const std::int32_t status = check_channel_list(context, channels, count); status != ZR_OK) {
    return status;
  }
  CommandFrame frame = channel_list_frame(context, opcode, channels, count);
  values(frame, static_cast<std::size_t>(count));
  return context.send_frame(frame);
}

std::int32_t send_plain_list(DeviceContext& context, ChannelHandle* channels, std::uint8_t opcode) {
  return send_list(context, channels, opcode, 1, [](CommandFrame&, std::size_t) {});
}

// The guard, then a one-channel list checked beforehand.
template <typename Values>
std::int32_t reconfigure_one(DeviceContext& context, ChannelHandle* channels, std::uint8_t opcode,
                             Values values) {
  std::int16_t count = 1;
  if (const std::int32_t status = check_channel_list(context, channels, count); status != ZR_OK) {
    return status;
  }
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  CommandFrame frame = channel_list_frame(context, opcode, channels, count);
  values(frame, static_cast<std::size_t>(count));
  return context.send_frame(frame);
}

}  // namespace

std::int32_t running_channel_guard(DeviceContext& context, ChannelHandle* channels) {
  std::vector<ChannelState> states;
  if (const std::int32_t status = context.read_channel_states(channels, 1, states);
      status != ZR_OK) {
    return status;
  }
  if (states[0].running != 1) return ZR_OK;
  return channel_stop(context, channels);
}

std::int32_t channel_start(DeviceContext& context, ChannelHandle* channels) {
  return send_plain_list(context, channels, kOpStartChannels);
}

std::int32_t channel_trigger_bus(DeviceContext& context, ChannelHandle* channels) {
  return send_plain_list(context, channels, kOpTriggerBus);
}

std::int32_t channel_stop(DeviceContext& context, ChannelHandle* channels) {
  std::int16_t count = kAllChannels;
  if (const std::int32_t status = check_channel_list(context, channels, count); status != ZR_OK) {
    return status;
  }
  CommandFrame frame = channel_list_frame(context, kOpStopChannels, channels, count);
  if (const std::int32_t status = context.send_frame(frame); status != ZR_OK) return status;
  frame.bytes[0] = kOpStopStep2;
  if (const std::int32_t status = context.send_frame(frame); status != ZR_OK) return status;
  // The stream path is reset between the second and the third step; its failure is not reported.
  if (context.bus) (void)context.bus->stream_stop();
  frame.bytes[0] = kOpStopStep3;
  return context.send_frame(frame);
}

std::int32_t channel_preset(DeviceContext& context, ChannelHandle* channels) {
  std::int16_t count = kAllChannels;
  if (const std::int32_t status = check_channel_list(context, channels, count); status != ZR_OK) {
    return status;
  }
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  CommandFrame frame = channel_list_frame(context, kOpPresetChannels, channels, 1);
  if (const std::int32_t status = context.send_frame(frame); status != ZR_OK) return status;
  // The preset is done once 0x3a is out; the follow-ups only settle the mirror and the outputs.
  (void)tx_config_cw(context, channels);
  (void)tx_config_output(context, channels, 0, 0);
  return ZR_OK;
}

std::int32_t channel_config_lo_mode(DeviceContext& context, ChannelHandle* channels,
                                    std::uint8_t mode) {
  return reconfigure_one(context, channels, kOpConfigLoMode,
                         [mode](CommandFrame& frame, std::size_t listed) {
                           for (std::size_t i = 0; i < listed; ++i) {
                             set_frame_u8(frame, kListValueOffset + i, mode);
                           }
                         });
}

std::int32_t channel_config_data_block(DeviceContext& context, ChannelHandle* channels,
                                       const std::uint8_t* values, std::int16_t count) {
  if (values == nullptr && count != 0) return ZR_MISSING_BUFFER;
  return send_list(context, channels, kOpConfigDataBlock, count,
                   [values](CommandFrame& frame, std::size_t listed) {
                     for (std::size_t i = 0; i < listed; ++i) {
                       set_frame_u8(frame, kListValueOffset + i, values[i]);
                     }
                   });
}

std::int32_t channel_config_trigger_out(DeviceContext& context, ChannelHandle* channels,
                                        const TriggerOutput* trigger_out) {
  if (trigger_out == nullptr) return ZR_MISSING_BUFFER;
  return reconfigure_one(context, channels, kOpConfigTriggerOut,
                         [trigger_out](CommandFrame& frame, std::size_t listed) {
                           for (std::size_t i = 0; i < listed; ++i) {
                             const std::size_t at = kListValueOffset + kTriggerOutputSize * i;
                             set_frame_i16(frame, at, trigger_out[i].trigger_out_value);
                             set_frame_u8(frame, at + 2, trigger_out[i].trigger_out_flag);
                           }
                         });
}

std::int32_t channel_config_port(DeviceContext& context, ChannelHandle* channels,
                                 const std::int16_t* values, std::int16_t count) {
  if (values == nullptr && count != 0) return ZR_MISSING_BUFFER;
  return send_list(context, channels, kOpConfigPort, count,
                   [values](CommandFrame& frame, std::size_t listed) {
                     for (std::size_t i = 0; i < listed; ++i) {
                       set_frame_i16(frame, kListValueOffset + 2 * i, values[i]);
                     }
                   });
}

TriggerConfig clamp_trigger_config(const TriggerConfig& trigger) {
  TriggerConfig clamped = trigger;
  clamped.trigger_select = std::min(clamped.trigger_select, kMaxTriggerSelect);
  clamped.trigger_flag1 = std::min(clamped.trigger_flag1, kMaxTriggerFlag);
  clamped.trigger_flag2 = std::min(clamped.trigger_flag2, kMaxTriggerFlag);
  clamped.trigger_count = std::max(clamped.trigger_count, kMinTriggerCount);
  return clamped;
}

std::int32_t channel_config_trigger(DeviceContext& context, ChannelHandle* channels,
                                    const TriggerConfig* trigger) {
  if (trigger == nullptr) return ZR_MISSING_BUFFER;
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  const TriggerConfig clamped = clamp_trigger_config(*trigger);
  CommandFrame frame(kOpConfigTrigger);
  set_frame_i16(frame, kChannelOffset, channels[0].index);
  set_frame_u8(frame, kTriggerFieldsOffset, clamped.trigger_select);
  set_frame_u8(frame, kTriggerFieldsOffset + 1, clamped.trigger_flag1);
  set_frame_u8(frame, kTriggerFieldsOffset + 2, clamped.trigger_flag2);
  set_frame_u8(frame, kTriggerFieldsOffset + 3, clamped.trigger_spare);
  set_frame_u32(frame, kTriggerCountOffset, static_cast<std::uint32_t>(clamped.trigger_count));
  return context.send_frame(frame);
}

std::int32_t tx_config_cw(DeviceContext& context, ChannelHandle* channels) {
  const std::int16_t index = channels[0].index;
  if (index < 0 || index >= context.channel_count) return ZR_INVALID_CHANNEL;
  if (const std::int32_t status = running_channel_guard(context, channels); status != ZR_OK) {
    return status;
  }
  CommandFrame frame(kOpTxConfigCw);
  set_frame_i16(frame, kChannelOffset, channels[0].index);
  return context.send_frame(frame);
}

std::int32_t tx_config_output(DeviceContext& context, ChannelHandle* channels,
                              std::uint8_t output_enable, std::uint8_t modulation_enable) {
  return reconfigure_one(context, channels, kOpTxConfigOutput,
                         [=](CommandFrame& frame, std::size_t) {
                           set_frame_u8(frame, kOutputEnableOffset, output_enable);
                           set_frame_u8(frame, kModulationEnableOffset, modulation_enable);
                         });
}

}  // namespace zr
