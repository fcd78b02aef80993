#include "platform/le_codec.hpp"

#include <gtest/gtest.h>

namespace zr {
namespace {

TEST(LeWriter, WritesLittleEndian) {
  std::vector<std::uint8_t> out;
  LeWriter(out).u8(0xAB).u16(0x1234).u32(0xDEADBEEF).i32(-2).zeros(2);
  const std::vector<std::uint8_t> expected{0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE,
                                           0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
  EXPECT_EQ(out, expected);
}

TEST(LeReader, ShortInputFailsAndStaysFailed) {
  const std::vector<std::uint8_t> data{0x01, 0x02, 0x03, 0x04, 0x05};
  LeReader reader(data);
  std::uint32_t word = 0;
  ASSERT_TRUE(reader.u32(word));
  EXPECT_EQ(word, 0x04030201u);
  std::uint32_t untouched = 77;
  EXPECT_FALSE(reader.u32(untouched));
  EXPECT_EQ(untouched, 77u);
  std::uint8_t byte = 0;
  EXPECT_FALSE(reader.u8(byte));  // the failure sticks even though one byte remains
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.remaining(), 0u);
}

TEST(LeReader, HugeCountsDoNotWrap) {
  const std::vector<std::uint8_t> data(8, 0);
  LeReader reader(data);
  ASSERT_TRUE(reader.skip(4));
  EXPECT_TRUE(reader.view(SIZE_MAX).empty());
  EXPECT_FALSE(reader.ok());
}

}  // namespace
}  // namespace zr
