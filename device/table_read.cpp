// Paged read of a table stored on the instrument (opcode 0x5b, then a 256-byte bus read per page).
#include <array>

#include "device/device_context.hpp"
#include "device/opcodes.hpp"

namespace zr {
namespace {

constexpr std::size_t kKindOffset = 8;
constexpr std::size_t kIndexOffset = 10;
constexpr std::size_t kPageOffset = 12;
constexpr std::size_t kPageReplySize = 256;
constexpr std::size_t kPageDataOffset = 5;
constexpr std::size_t kMaxPageData = 251;

}  // namespace

std::int32_t DeviceContext::read_table(std::uint8_t kind, std::uint16_t index,
                                       std::vector<std::uint8_t>& table) {
  const std::size_t size_on_entry = table.size();
  const auto fail = [&] {
    table.resize(size_on_entry);  // never hand back half a table
    return ZR_TRANSPORT_FAILED;
  };

  std::uint32_t page_count = 1;  // known after the first reply
  for (std::uint32_t page = 0; page < page_count; ++page) {
    CommandFrame frame(kOpReadTable);
    set_frame_u8(frame, kKindOffset, kind);
    set_frame_u16(frame, kIndexOffset, index);
    set_frame_u16(frame, kPageOffset, static_cast<std::uint16_t>(page));
    if (send_frame(frame) != ZR_OK) return fail();

    std::array<std::uint8_t, kPageReplySize> reply{};
    std::uint32_t length = kPageReplySize;
    if (bus->read(reply.data(), &length) != ZR_OK || length != kPageReplySize) return fail();

    const std::uint16_t reply_count = load_u16(reply.data());
    const std::uint16_t reply_page = load_u16(reply.data() + 2);
    const std::size_t valid = reply[4];
    if (reply_page != page || valid > kMaxPageData) return fail();
    if (page == 0) {
      // A reply carrying page 0 with a count of 0 contradicts itself.
      if (reply_count == 0) return fail();
      page_count = reply_count;
      table.reserve(size_on_entry + page_count * kMaxPageData);
    } else if (reply_count != page_count) {
      return fail();
    }
    table.insert(table.end(), reply.begin() + kPageDataOffset,
                 reply.begin() + static_cast<std::ptrdiff_t>(kPageDataOffset + valid));
  }
  return ZR_OK;
}

}  // namespace zr
