#include "bus/bus_pcie.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zr {
namespace {

// The placeholder must behave as a bus that works, so callers above it can be exercised, and
// must never pretend to have moved data.
TEST(BusPcie, EveryOperationSucceedsAndLeavesLengthsAlone) {
  bus_pcie bus(3);
  std::vector<std::uint8_t> buffer(64, 0x5A);
  std::uint32_t length = 64;
  std::uint32_t in_length = 32;
  std::uint32_t count = 9;
  EXPECT_EQ(bus.open(), ZR_OK);
  EXPECT_EQ(bus.list_devices(buffer.data(), 64, &count), ZR_OK);
  EXPECT_EQ(bus.set_timeout(100), ZR_OK);
  EXPECT_EQ(bus.write(buffer.data(), &length), ZR_OK);
  EXPECT_EQ(bus.query(buffer.data(), &length, buffer.data(), &in_length, 1000), ZR_OK);
  EXPECT_EQ(bus.read(buffer.data(), &length), ZR_OK);
  EXPECT_EQ(bus.stream_write(buffer.data(), &length), ZR_OK);
  EXPECT_EQ(bus.stream_read(buffer.data(), &length), ZR_OK);
  EXPECT_EQ(bus.notify_device(), ZR_OK);
  EXPECT_EQ(bus.stream_stop(), ZR_OK);
  EXPECT_EQ(bus.write_identity(buffer.data(), 64), ZR_OK);
  EXPECT_EQ(bus.reserved_13(), ZR_OK);
  EXPECT_EQ(bus.reserved_14(), ZR_OK);
  EXPECT_EQ(bus.write_bus_firmware(buffer.data(), 64), ZR_OK);
  EXPECT_EQ(bus.read_block(buffer.data(), 64), ZR_OK);
  EXPECT_EQ(bus.reserved_17(), ZR_OK);
  EXPECT_EQ(bus.read_bus_info(), ZR_OK);
  EXPECT_EQ(bus.close(), ZR_OK);
  EXPECT_EQ(length, 64u);
  EXPECT_EQ(in_length, 32u);
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0x5A));
  EXPECT_EQ(bus.device_index(), 3u);
}

}  // namespace
}  // namespace zr
