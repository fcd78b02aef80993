#pragma once
// The channel commands behind the channel_* and tx_config_cw/tx_config_output exports, and the
// running-channel guard the reconfiguring calls of this folder apply. Each takes the context the
// first handle names and returns the status the export returns.
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

// Stops every channel (through channel_stop) when the first handle's channel is running; 0 when it
// is not, else the stop's status.
std::int32_t running_channel_guard(DeviceContext& context, ChannelHandle* channels);

std::int32_t channel_start(DeviceContext& context, ChannelHandle* channels);
std::int32_t channel_stop(DeviceContext& context, ChannelHandle* channels);
std::int32_t channel_trigger_bus(DeviceContext& context, ChannelHandle* channels);
std::int32_t channel_preset(DeviceContext& context, ChannelHandle* channels);
std::int32_t channel_config_lo_mode(DeviceContext& context, ChannelHandle* channels,
                                    std::uint8_t mode);
std::int32_t channel_config_data_block(DeviceContext& context, ChannelHandle* channels,
                                       const std::uint8_t* values, std::int16_t count);
std::int32_t channel_config_trigger_out(DeviceContext& context, ChannelHandle* channels,
                                        const TriggerOutput* trigger_out);
std::int32_t channel_config_port(DeviceContext& context, ChannelHandle* channels,
                                 const std::int16_t* values, std::int16_t count);
std::int32_t channel_config_trigger(DeviceContext& context, ChannelHandle* channels,
                                    const TriggerConfig* trigger);
std::int32_t tx_config_cw(DeviceContext& context, ChannelHandle* channels);
std::int32_t tx_config_output(DeviceContext& context, ChannelHandle* channels,
                              std::uint8_t output_enable, std::uint8_t modulation_enable);

// The record channel_config_trigger sends: select and flags limited, the spare byte kept, the
// count not below -1.
TriggerConfig clamp_trigger_config(const TriggerConfig& trigger);

}  // namespace zr
