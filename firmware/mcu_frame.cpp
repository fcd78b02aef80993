#include "firmware/mcu_frame.hpp"

#include <algorithm>
#include <cassert>

#include "device/frame_checksum.hpp"

namespace zr {

CommandFrame mcu_frame(std::uint8_t target, std::uint8_t command,
                       std::span<const std::uint8_t> payload) {
  assert(payload.size() <= kMcuPieceSize);
  CommandFrame frame(target);
  set_frame_u8(frame, kMcuCommandOffset, command);
  std::copy(payload.begin(), payload.end(),
            field(frame, kMcuPayloadOffset, payload.size()));
  seal_frame(frame);
  return frame;
}

}  // namespace zr
