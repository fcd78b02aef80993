#include "device/frame_checksum.hpp"

#include <array>

namespace zr {
namespace {

constexpr std::size_t kWords = kChecksumOffset / 4;
constexpr std::size_t kSlices = 16;  // four words per step

// Table k maps a byte b to the register after b and k zero bytes have been fed most significant
// bit first (slicing-by-16).
using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr CrcTables make_tables() {
  CrcTables tables{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t crc = b << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ kCrcPolynomial : crc << 1;
    }
    tables[0][b] = crc;
  }
  for (std::size_t k = 1; k < kSlices; ++k) {
    for (std::uint32_t b = 0; b < 256; ++b) {
      const std::uint32_t previous = tables[k - 1][b];
      tables[k][b] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}

constexpr CrcTables kTables = make_tables();

// Contribution of one 32-bit register value followed by `after` zero bytes.
inline std::uint32_t slice(std::uint32_t value, std::size_t after) {
  return kTables[after + 3][value >> 24] ^ kTables[after + 2][(value >> 16) & 0xff] ^
         kTables[after + 1][(value >> 8) & 0xff] ^ kTables[after][value & 0xff];
}

}  // namespace

std::uint32_t frame_checksum(const CommandFrame& frame) {
  const std::uint8_t* bytes = frame.data();
  std::uint32_t crc = kCrcInitial;
  std::size_t word = 0;
  for (; word + 4 <= kWords; word += 4) {
    const std::uint8_t* at = bytes + 4 * word;
    crc = slice(crc ^ load_u32(at), 12) ^ slice(load_u32(at + 4), 8) ^ slice(load_u32(at + 8), 4) ^
          slice(load_u32(at + 12), 0);
  }
  for (; word < kWords; ++word) crc = slice(crc ^ load_u32(bytes + 4 * word), 0);
  return crc;
}

std::uint32_t frame_checksum_bitwise(const CommandFrame& frame) {
  std::uint32_t crc = kCrcInitial;
  for (std::size_t word = 0; word < kWords; ++word) {
    const std::uint32_t data = load_u32(frame.data() + 4 * word);
    for (int bit = 31; bit >= 0; --bit) {
      const bool shifted_out = (crc & 0x80000000u) != 0;
      crc <<= 1;
      if (shifted_out) crc ^= kCrcPolynomial;
      if (((data >> bit) & 1u) != 0) crc ^= kCrcPolynomial;
    }
  }
  return crc;
}

void seal_frame(CommandFrame& frame) {
  store_u32(field(frame, kChecksumOffset, 4), frame_checksum(frame));
}

}  // namespace zr
