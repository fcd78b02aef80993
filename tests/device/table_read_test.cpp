// Paged table reads: the page frames sent and every consistency check of the replies.
#include <gtest/gtest.h>

#include "device/frame_checksum.hpp"
#include "device/opcodes.hpp"
#include "tests/device/recording_bus.hpp"

namespace zr {
namespace {

using testing::BusReply;
using testing::RecordingBus;

BusReply page_reply(std::uint16_t count, std::uint16_t page, std::uint8_t valid,
                    std::uint8_t fill) {
  BusReply reply;
  reply.bytes.assign(256, 0);
  store_u16(reply.bytes.data(), count);
  store_u16(reply.bytes.data() + 2, page);
  reply.bytes[4] = valid;
  for (std::size_t i = 0; i < valid && 5 + i < 256; ++i) {
    reply.bytes[5 + i] = static_cast<std::uint8_t>(fill + i);
  }
  return reply;
}

std::vector<std::uint8_t> page_request(std::uint8_t kind, std::uint16_t index, std::uint16_t page) {
  CommandFrame frame(kOpReadTable);
  set_frame_u8(frame, 8, kind);
  set_frame_u16(frame, 10, index);
  set_frame_u16(frame, 12, page);
  seal_frame(frame);
  return {frame.bytes.begin(), frame.bytes.end()};
}

class TableReadTest : public ::testing::Test {
 protected:
  testing::RecordingContext rc;
  DeviceContext& context = rc.context;
  RecordingBus& bus = *rc.bus;
};

TEST_F(TableReadTest, PageCountOfOneReadsOnePage) {
  bus.read_replies.push_back(page_reply(1, 0, 3, 0x10));
  bus.read_replies.push_back(page_reply(1, 1, 3, 0x20));  // must not be asked for
  std::vector<std::uint8_t> table;
  EXPECT_EQ(context.read_table(2, 0x0102, table), ZR_OK);
  EXPECT_EQ(table, (std::vector<std::uint8_t>{0x10, 0x11, 0x12}));
  ASSERT_EQ(bus.calls.size(), 2u);
  EXPECT_EQ(bus.calls[0].out, page_request(2, 0x0102, 0));
  EXPECT_EQ(bus.calls[1].kind, RecordingBus::Kind::Read);
  EXPECT_EQ(bus.calls[1].in_room, 256u);
}

TEST_F(TableReadTest, PagesAreRequestedInOrderAndAppended) {
  bus.read_replies.push_back(page_reply(3, 0, 251, 0));
  bus.read_replies.push_back(page_reply(3, 1, 251, 100));
  bus.read_replies.push_back(page_reply(3, 2, 2, 200));
  std::vector<std::uint8_t> table{0xEE};
  EXPECT_EQ(context.read_table(1, 5, table), ZR_OK);
  ASSERT_EQ(table.size(), 1u + 251u + 251u + 2u);
  EXPECT_EQ(table[0], 0xEE);
  EXPECT_EQ(table[1], 0);
  EXPECT_EQ(table[251], 250);
  EXPECT_EQ(table[252], 100);
  EXPECT_EQ(table[503], 200);
  EXPECT_EQ(table[504], 201);
  const auto requests = bus.written();
  ASSERT_EQ(requests.size(), 3u);
  for (std::uint16_t page = 0; page < 3; ++page) {
    EXPECT_EQ(requests[page], page_request(1, 5, page)) << page;
  }
}

struct PageErrorCase {
  const char* name;
  std::vector<BusReply> replies;
  std::int32_t write_status;
  std::size_t reads_made;
};

TEST_F(TableReadTest, InconsistentPagesFailAndLeaveTheTableAsItWas) {
  BusReply short_read = page_reply(1, 0, 3, 0);
  short_read.reported_length = 255;
  BusReply failed_read = page_reply(1, 0, 3, 0);
  failed_read.status = ZR_BUS_USB_TRANSFER_FAILED;
  const PageErrorCase cases[] = {
      {"first_reply_carries_page_1", {page_reply(2, 1, 3, 0)}, ZR_OK, 1},
      {"later_reply_carries_the_wrong_page",
       {page_reply(3, 0, 3, 0), page_reply(3, 2, 3, 0)},
       ZR_OK,
       2},
      {"more_than_251_valid_bytes", {page_reply(1, 0, 252, 0)}, ZR_OK, 1},
      {"later_page_with_too_many_bytes",
       {page_reply(2, 0, 3, 0), page_reply(2, 1, 255, 0)},
       ZR_OK,
       2},
      {"read_shorter_than_256", {short_read}, ZR_OK, 1},
      {"read_fails", {failed_read}, ZR_OK, 1},
      {"write_fails", {page_reply(1, 0, 3, 0)}, ZR_BUS_USB_TRANSFER_FAILED, 0},
      {"page_count_zero", {page_reply(0, 0, 3, 0)}, ZR_OK, 1},
      {"page_count_changes", {page_reply(2, 0, 3, 0), page_reply(5, 1, 3, 0)}, ZR_OK, 2},
  };
  for (const PageErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    bus.calls.clear();
    bus.read_replies.assign(c.replies.begin(), c.replies.end());
    bus.default_write_status = c.write_status;
    std::vector<std::uint8_t> table{1, 2};
    EXPECT_EQ(context.read_table(0, 0, table), ZR_TRANSPORT_FAILED);
    EXPECT_EQ(table, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(bus.count(RecordingBus::Kind::Read), c.reads_made);
  }
}

}  // namespace
}  // namespace zr
