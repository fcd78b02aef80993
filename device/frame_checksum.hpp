#pragma once
// CRC-32 of a command frame: polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection, no
// final XOR, over the 63 little-endian words of bytes 0..251, each word fed bit 31 first.
#include <cstdint>

#include "device/command_frame.hpp"

namespace zr {

inline constexpr std::uint32_t kCrcPolynomial = 0x04C11DB7u;
inline constexpr std::uint32_t kCrcInitial = 0xFFFFFFFFu;

// Table-driven; equal to frame_checksum_bitwise for every frame.
std::uint32_t frame_checksum(const CommandFrame& frame);

// The definition, one bit at a time; the reference for tests and the benchmark.
std::uint32_t frame_checksum_bitwise(const CommandFrame& frame);

// Stores frame_checksum little-endian at bytes 252..255.
void seal_frame(CommandFrame& frame);

}  // namespace zr
