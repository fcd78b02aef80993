#pragma once
// The channel queries: they copy what the state mirror recorded and never talk to the instrument.
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

std::int32_t channel_query_lo_mode(const DeviceContext& context, ChannelHandle* channels,
                                   std::uint8_t* mode);
std::int32_t channel_query_data_block(const DeviceContext& context, ChannelHandle* channels,
                                      std::uint8_t* values, std::int16_t count);
std::int32_t channel_query_trigger_out(const DeviceContext& context, ChannelHandle* channels,
                                       TriggerOutput* trigger_out);
std::int32_t channel_query_port(const DeviceContext& context, ChannelHandle* channels,
                                std::int16_t* values, std::int16_t count);
std::int32_t channel_query_trigger(const DeviceContext& context, ChannelHandle* channels,
                                   TriggerConfig* trigger);
std::int32_t tx_query_output(const DeviceContext& context, ChannelHandle* channels,
                             std::uint8_t* output_enable, std::uint8_t* modulation_enable);

}  // namespace zr
