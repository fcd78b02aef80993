#pragma once
// The 256-byte command frame: opcode in byte 0, payload, CRC in bytes 252..255. Fields are read
// and written at fixed offsets through the little-endian helpers below.
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "platform/le_codec.hpp"

namespace zr {

inline constexpr std::size_t kFrameSize = 256;
inline constexpr std::size_t kChecksumOffset = 252;  // the CRC covers bytes 0..251
inline constexpr std::size_t kReplySize = 128;

// Payload conventions shared by many opcodes.
inline constexpr std::size_t kChannelOffset = 8;     // single channel index (i16)
inline constexpr std::size_t kListCountOffset = 8;   // channel-list count (i16)
inline constexpr std::size_t kListIndexOffset = 10;  // up to 16 channel indices (i16)
inline constexpr std::size_t kListValueOffset = 42;  // per-channel values
inline constexpr std::size_t kMaxListedChannels = 16;

struct CommandFrame {
  std::array<std::uint8_t, kFrameSize> bytes{};

  CommandFrame() = default;
  explicit CommandFrame(std::uint8_t opcode) { bytes[0] = opcode; }

  std::uint8_t opcode() const { return bytes[0]; }
  std::uint8_t* data() { return bytes.data(); }
  const std::uint8_t* data() const { return bytes.data(); }
};
static_assert(sizeof(CommandFrame) == kFrameSize);

// Fixed-offset fields of a frame (or of any buffer of known size).
inline std::uint8_t* field(CommandFrame& frame, std::size_t offset, std::size_t width) {
  assert(offset + width <= kFrameSize);
  (void)width;
  return frame.data() + offset;
}
inline const std::uint8_t* field(const CommandFrame& frame, std::size_t offset, std::size_t width) {
  assert(offset + width <= kFrameSize);
  (void)width;
  return frame.data() + offset;
}

inline std::int16_t load_i16(const std::uint8_t* at) {
  return static_cast<std::int16_t>(load_u16(at));
}
inline std::uint64_t load_u64(const std::uint8_t* at) {
  return static_cast<std::uint64_t>(load_u32(at)) |
         (static_cast<std::uint64_t>(load_u32(at + 4)) << 32);
}
inline void store_u64(std::uint8_t* at, std::uint64_t value) {
  store_u32(at, static_cast<std::uint32_t>(value));
  store_u32(at + 4, static_cast<std::uint32_t>(value >> 32));
}
inline float load_f32(const std::uint8_t* at) { return std::bit_cast<float>(load_u32(at)); }
inline void store_f32(std::uint8_t* at, float value) {
  store_u32(at, std::bit_cast<std::uint32_t>(value));
}
inline double load_f64(const std::uint8_t* at) { return std::bit_cast<double>(load_u64(at)); }
inline void store_f64(std::uint8_t* at, double value) {
  store_u64(at, std::bit_cast<std::uint64_t>(value));
}

inline std::uint8_t frame_u8(const CommandFrame& f, std::size_t offset) {
  return *field(f, offset, 1);
}
inline std::uint16_t frame_u16(const CommandFrame& f, std::size_t offset) {
  return load_u16(field(f, offset, 2));
}
inline std::int16_t frame_i16(const CommandFrame& f, std::size_t offset) {
  return load_i16(field(f, offset, 2));
}
inline std::uint32_t frame_u32(const CommandFrame& f, std::size_t offset) {
  return load_u32(field(f, offset, 4));
}
inline float frame_f32(const CommandFrame& f, std::size_t offset) {
  return load_f32(field(f, offset, 4));
}
inline double frame_f64(const CommandFrame& f, std::size_t offset) {
  return load_f64(field(f, offset, 8));
}
inline void set_frame_u8(CommandFrame& f, std::size_t offset, std::uint8_t value) {
  *field(f, offset, 1) = value;
}
inline void set_frame_u16(CommandFrame& f, std::size_t offset, std::uint16_t value) {
  store_u16(field(f, offset, 2), value);
}
inline void set_frame_i16(CommandFrame& f, std::size_t offset, std::int16_t value) {
  store_u16(field(f, offset, 2), static_cast<std::uint16_t>(value));
}
inline void set_frame_u32(CommandFrame& f, std::size_t offset, std::uint32_t value) {
  store_u32(field(f, offset, 4), value);
}
inline void set_frame_f32(CommandFrame& f, std::size_t offset, float value) {
  store_f32(field(f, offset, 4), value);
}
inline void set_frame_f64(CommandFrame& f, std::size_t offset, double value) {
  store_f64(field(f, offset, 8), value);
}

}  // namespace zr
