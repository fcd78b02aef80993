#pragma once
// Frames of the MCU bootloaders: the 256-byte command frame with the MCU in byte 0, the
// bootloader command in byte 1 and a data payload from byte 4, sealed with the frame checksum.
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/command_frame.hpp"

namespace zr {

inline constexpr std::size_t kMcuCommandOffset = 1;
inline constexpr std::size_t kMcuPayloadOffset = 4;
inline constexpr std::size_t kMcuPieceSize = 192;

// payload: at most kMcuPieceSize bytes, only for the data command.
CommandFrame mcu_frame(std::uint8_t target, std::uint8_t command,
                       std::span<const std::uint8_t> payload = {});

}  // namespace zr
