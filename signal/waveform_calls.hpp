#pragma once
// The waveform memory and streaming calls behind the tx_* exports of this folder.
#include <cstddef>
#include <cstdint>

#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

std::int32_t tx_clear_waveform(DeviceContext& context);
std::int32_t tx_download_waveform(DeviceContext& context, const std::int16_t* samples,
                                  std::size_t count, std::uint16_t* segment);
std::int32_t tx_send_stream(DeviceContext& context, const std::int16_t* samples, std::size_t count);
std::int32_t tx_config_stream(DeviceContext& context, ChannelHandle* channels, double rate);
std::int32_t tx_config_playback(DeviceContext& context, ChannelHandle* channels,
                                const std::uint16_t* segments, const std::uint32_t* repeats,
                                const double* values, std::int16_t count);

}  // namespace zr
