#include "signal/channel_list.hpp"

namespace zr {
namespace {

bool valid_index(const DeviceContext& context, std::int16_t index) {
  return index >= 0 && index < context.channel_count;
}

}  // namespace

std::int32_t check_channel_list(const DeviceContext& context, ChannelHandle* channels,
                                std::int16_t& count) {
  // A frame has room for 16 indices; a device claiming more cannot be addressed safely.
  if (context.channel_count < 0 ||
      context.channel_count > static_cast<std::int16_t>(kMaxListedChannels)) {
    return ZR_INVALID_CHANNEL;
  }
  if (count == kAllChannels) {
    count = context.channel_count;
    for (std::int16_t i = 0; i < count; ++i) channels[i].index = i;
  }
  if (count < 0 || count > context.channel_count) return ZR_INVALID_CHANNEL;
  for (std::int16_t i = 0; i < count; ++i) {
    if (!valid_index(context, channels[i].index)) return ZR_INVALID_CHANNEL;
  }
  return ZR_OK;
}

CommandFrame channel_list_frame(const DeviceContext& context, std::uint8_t opcode,
                                const ChannelHandle* channels, std::int16_t count) {
  CommandFrame frame(opcode);
  set_frame_i16(frame, kListCountOffset, count);
  const bool every_channel = count == context.channel_count;
  for (std::int16_t i = 0; i < count; ++i) {
    const std::int16_t index = every_channel ? i : channels[i].index;
    set_frame_i16(frame, kListIndexOffset + 2 * static_cast<std::size_t>(i), index);
  }
  return frame;
}

}  // namespace zr
