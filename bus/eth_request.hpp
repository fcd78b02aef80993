#pragma once
// The fixed fields of one request (opcode and up to three u32 words), encoded little-endian in
// place so that a request costs no allocation.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "bus/eth_protocol.hpp"
#include "platform/le_codec.hpp"

namespace zr::eth {

class RequestFields {
 public:
  RequestFields() = default;
  explicit RequestFields(Opcode opcode) { u32(static_cast<std::uint32_t>(opcode)); }

  RequestFields& u32(std::uint32_t value) {
    store_u32(bytes_.data() + size_, value);
    size_ += 4;
    return *this;
  }
  std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }

 private:
  std::array<std::uint8_t, 16> bytes_{};
  std::size_t size_ = 0;
};

}  // namespace zr::eth
