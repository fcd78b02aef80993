#include "device/frame_checksum.hpp"

#include <gtest/gtest.h>

#include <random>

#include "device/opcodes.hpp"

namespace zr {
namespace {

TEST(FrameChecksum, KnownFrames) {
  CommandFrame close_frame(kOpClose);
  EXPECT_EQ(frame_checksum(close_frame), 0x97993A20u);
  EXPECT_EQ(frame_checksum_bitwise(close_frame), 0x97993A20u);
  CommandFrame zero;
  EXPECT_EQ(frame_checksum(zero), 0x7065399Au);
  EXPECT_EQ(frame_checksum_bitwise(zero), 0x7065399Au);
}

TEST(FrameChecksum, SealStoresLittleEndianAfterThePayload) {
  CommandFrame frame(kOpClose);
  seal_frame(frame);
  EXPECT_EQ(frame.bytes[252], 0x20);
  EXPECT_EQ(frame.bytes[253], 0x3A);
  EXPECT_EQ(frame.bytes[254], 0x99);
  EXPECT_EQ(frame.bytes[255], 0x97);
  for (std::size_t i = 1; i < 252; ++i) ASSERT_EQ(frame.bytes[i], 0) << i;
}

TEST(FrameChecksum, IgnoresTheChecksumField) {
  CommandFrame frame(kOpClose);
  frame.bytes[252] = 0xAA;
  frame.bytes[255] = 0x55;
  EXPECT_EQ(frame_checksum(frame), 0x97993A20u);
}

// Every single bit of the covered area, so each table entry and word position is exercised.
TEST(FrameChecksum, MatchesTheBitwiseDefinitionForEverySingleBit) {
  for (std::size_t byte = 0; byte < kChecksumOffset; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      CommandFrame frame;
      frame.bytes[byte] = static_cast<std::uint8_t>(1u << bit);
      ASSERT_EQ(frame_checksum(frame), frame_checksum_bitwise(frame)) << byte << ":" << bit;
    }
  }
}

TEST(FrameChecksum, MatchesTheBitwiseDefinitionOnRandomFrames) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 5000; ++round) {
    CommandFrame frame;
    for (auto& b : frame.bytes) b = static_cast<std::uint8_t>(byte(random));
    ASSERT_EQ(frame_checksum(frame), frame_checksum_bitwise(frame)) << "round " << round;
  }
}

}  // namespace
}  // namespace zr
