#pragma once
// Channel lists: the check every channel call makes on the caller's handles, and the frame that
// carries a checked list (count at 8, indices from 10, per-channel values from 42).
#include <cstdint>

#include "device/command_frame.hpp"
#include "device/device_context.hpp"
#include "zr_api.h"

namespace zr {

// Marks a count that names every channel of the device.
inline constexpr std::int16_t kAllChannels = -1;

// 0 or ZR_INVALID_CHANNEL. count is in/out: kAllChannels becomes the channel count and the
// caller's first count handles are renumbered 0..count-1. Other negative counts, counts above the
// channel count and indices outside 0..channel_count-1 are refused.
std::int32_t check_channel_list(const DeviceContext& context, ChannelHandle* channels,
                                std::int16_t& count);

// A frame listing count checked channels. A list as long as the device's channel count names the
// channels 0..count-1 whatever the handles say; a shorter one takes the handles' indices.
CommandFrame channel_list_frame(const DeviceContext& context, std::uint8_t opcode,
                                const ChannelHandle* channels, std::int16_t count);

}  // namespace zr
