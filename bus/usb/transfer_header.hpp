#pragma once
// The 38-byte header that precedes every transfer and descriptor request given to the driver.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zr::usb {

inline constexpr std::size_t kTransferHeaderSize = 38;
inline constexpr std::size_t kPacketRecordSize = 8;

inline constexpr std::size_t kHeaderNtStatusOffset = 14;
inline constexpr std::size_t kHeaderUsbStatusOffset = 18;

struct TransferHeader {
  std::uint8_t request_type = 0;  // bmRequestType, control transfers only
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
  std::uint32_t timeout_s = 0;
  std::uint8_t reserved = 0;
  std::uint8_t endpoint = 0;  // 0 for the control endpoint
  std::uint32_t nt_status = 0;
  std::uint32_t usb_status = 0;
  std::uint32_t records_offset = 0;
  std::uint32_t records_length = 0;
  std::uint32_t data_offset = 0;
  std::uint32_t data_length = 0;
};

// Writes the header into the first 38 bytes of block (which must hold them).
void encode_header(const TransferHeader& header, std::span<std::uint8_t> block);
// Nothing when block is shorter than a header.
std::optional<TransferHeader> decode_header(std::span<const std::uint8_t> block);
// The two status words a driver writes back.
void store_statuses(std::span<std::uint8_t> block, std::uint32_t nt_status,
                    std::uint32_t usb_status);

// Whole seconds for the header: anything between 0 and 1 s becomes 1 s so that a short time-out
// is not read as "no time-out"; 0 stays 0.
constexpr std::uint32_t header_timeout_seconds(std::uint32_t timeout_ms) {
  if (timeout_ms > 0 && timeout_ms < 1000) return 1;
  return timeout_ms / 1000;
}

}  // namespace zr::usb
