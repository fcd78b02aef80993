#include "bus/usb/instrument_ids.hpp"

#include <gtest/gtest.h>

namespace zr::usb {
namespace {

// The table is edited by hand, so what is not a clean "vvvv:pppp" must be skipped, not guessed.
TEST(InstrumentIds, ParsesHexPairsAndSkipsCommentsAndMalformedLines) {
  const auto ids = parse_instrument_ids(
      "# instruments\n"
      "1234:5678   # a signal generator\n"
      "  ABCD : 00ef\r\n"
      "\n"
      "12345:0001\n"
      "12g4:0001\n"
      "1234\n"
      ":0001\n"
      "# 1111:2222\n"
      "0001:0002");
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], (UsbId{0x1234, 0x5678}));
  EXPECT_EQ(ids[1], (UsbId{0xABCD, 0x00EF}));
  EXPECT_EQ(ids[2], (UsbId{0x0001, 0x0002}));
}

TEST(InstrumentIds, BuiltInTableHoldsOnlyTheSimulatorsIds) {
  EXPECT_EQ(builtin_instrument_ids(), std::vector<UsbId>{kSimulatedInstrumentId});
  const auto loaded = load_instrument_ids();
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(loaded.front(), kSimulatedInstrumentId);
}

}  // namespace
}  // namespace zr::usb
