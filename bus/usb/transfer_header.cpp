#include "bus/usb/transfer_header.hpp"

#include <algorithm>
#include <vector>

#include "platform/le_codec.hpp"

namespace zr::usb {

void encode_header(const TransferHeader& header, std::span<std::uint8_t> block) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(kTransferHeaderSize);
  LeWriter(bytes)
      .u8(header.request_type)
      .u8(header.request)
      .u16(header.value)
      .u16(header.index)
      .u16(header.length)
      .u32(header.timeout_s)
      .u8(header.reserved)
      .u8(header.endpoint)
      .u32(header.nt_status)
      .u32(header.usb_status)
      .u32(header.records_offset)
      .u32(header.records_length)
      .u32(header.data_offset)
      .u32(header.data_length);
  std::copy(bytes.begin(), bytes.end(), block.begin());
}

std::optional<TransferHeader> decode_header(std::span<const std::uint8_t> block) {
  TransferHeader h;
  LeReader reader(block);
  reader.u8(h.request_type);
  reader.u8(h.request);
  reader.u16(h.value);
  reader.u16(h.index);
  reader.u16(h.length);
  reader.u32(h.timeout_s);
  reader.u8(h.reserved);
  reader.u8(h.endpoint);
  reader.u32(h.nt_status);
  reader.u32(h.usb_status);
  reader.u32(h.records_offset);
  reader.u32(h.records_length);
  reader.u32(h.data_offset);
  reader.u32(h.data_length);
  if (!reader.ok()) return std::nullopt;
  return h;
}

void store_statuses(std::span<std::uint8_t> block, std::uint32_t nt_status,
                    std::uint32_t usb_status) {
  if (block.size() < kTransferHeaderSize) return;
  store_u32(block.data() + kHeaderNtStatusOffset, nt_status);
  store_u32(block.data() + kHeaderUsbStatusOffset, usb_status);
}

}  // namespace zr::usb
