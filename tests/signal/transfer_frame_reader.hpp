#pragma once
// Reads a sample transfer frame the way the instrument must: checks every fixed field and every
// byte that must be zero, and hands back the unit counts, the descriptor and the payload. Written
// from the frame layout, independently of the library's builder.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/le_codec.hpp"

namespace zr::testing {

struct ReadTransferFrame {
  std::string error;  // empty when the frame is well formed
  std::uint32_t header_units = 0;
  std::uint32_t payload_units = 0;
  std::uint32_t padding_units = 0;
  std::size_t header_size = 0;            // H
  std::size_t padding_size = 0;           // pad, the end word included
  std::vector<std::uint32_t> descriptor;  // 22 words, or empty
  std::vector<std::uint8_t> payload;
};

inline ReadTransferFrame read_transfer_frame(std::span<const std::uint8_t> frame,
                                             bool with_descriptor) {
  ReadTransferFrame out;
  const auto unit = [&](std::size_t at, std::uint32_t& value) {
    value = load_u32(frame.data() + at);
    return load_u32(frame.data() + at + 4) == 0;
  };
  const auto all_zero = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if (frame[i] != 0) return false;
    }
    return true;
  };
  if (frame.size() < 64 || frame.size() % 8 != 0) {
    out.error = "size";
    return out;
  }
  std::uint32_t sync = 0;
  std::uint32_t end = 0;
  if (!unit(0, sync) || sync != 0xEB90EB90u) out.error = "sync word";
  if (!unit(frame.size() - 8, end) || end != 0x81378137u) out.error = "end word";
  if (!unit(8, out.header_units) || !unit(16, out.payload_units) || !unit(24, out.padding_units)) {
    out.error = "unit high half";
  }
  if (!out.error.empty()) return out;
  out.header_size = (std::size_t{out.header_units} + 4) * 8;
  const std::size_t payload = std::size_t{out.payload_units} * 8;
  out.padding_size = (std::size_t{out.padding_units} + 1) * 8;
  if (out.header_size + payload + out.padding_size != frame.size()) {
    out.error = "units do not add up to the frame";
    return out;
  }
  std::size_t header_zero_from = 32;
  if (with_descriptor) {
    for (std::size_t i = 0; i < 22; ++i)
      out.descriptor.push_back(load_u32(frame.data() + 32 + 4 * i));
    header_zero_from += 88;
  }
  if (!all_zero(header_zero_from, out.header_size)) out.error = "header area not zero";
  if (!all_zero(out.header_size + payload, frame.size() - 8)) out.error = "padding not zero";
  out.payload.assign(frame.begin() + static_cast<std::ptrdiff_t>(out.header_size),
                     frame.begin() + static_cast<std::ptrdiff_t>(out.header_size + payload));
  return out;
}

// The bytes the wire must carry for samples: each int16 little-endian, in order.
inline std::vector<std::uint8_t> sample_bytes(std::span<const std::int16_t> samples) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(samples.size() * 2);
  for (const std::int16_t value : samples) {
    const auto raw = static_cast<std::uint16_t>(value);
    bytes.push_back(static_cast<std::uint8_t>(raw & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(raw >> 8));
  }
  return bytes;
}

}  // namespace zr::testing
