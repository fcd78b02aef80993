#include "updater/settings_convert.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace zr::updater {
namespace {

struct IntCase {
  const char* text;
  std::int32_t value;
  ConversionError error;
};

TEST(SettingsConvertInt, FollowsDecimalSkipSignStopRules) {
  const IntCase cases[] = {
      {"5000", 5000, ConversionError::kNone},
      {"5000abc", 5000, ConversionError::kNone},
      {" \t\n42", 42, ConversionError::kNone},
      {"+7", 7, ConversionError::kNone},
      {"-7", -7, ConversionError::kNone},
      {"007", 7, ConversionError::kNone},
      {"0x10", 0, ConversionError::kNone},  // decimal only: stops at 'x'
      {"1e3", 1, ConversionError::kNone},
      {"12 34", 12, ConversionError::kNone},
      {"10000\r", 10000, ConversionError::kNone},
      {"2147483647", 2147483647, ConversionError::kNone},
      {"-2147483648", -2147483647 - 1, ConversionError::kNone},
      {"2147483648", 0, ConversionError::kOutOfRange},
      {"-2147483649", 0, ConversionError::kOutOfRange},
      {"4294967296", 0, ConversionError::kOutOfRange},  // would wrap to 0 if narrowed early
      {"99999999999999999999999", 0, ConversionError::kOutOfRange},
      {"", 0, ConversionError::kNoDigits},
      {"   ", 0, ConversionError::kNoDigits},
      {"abc", 0, ConversionError::kNoDigits},
      {"-", 0, ConversionError::kNoDigits},
      {"+ 5", 0, ConversionError::kNoDigits},
      {"ETH", 0, ConversionError::kNoDigits},
  };
  for (const auto& c : cases) {
    const IntConversion result = convert_int(c.text);
    EXPECT_EQ(result.error, c.error) << '"' << c.text << '"';
    if (c.error == ConversionError::kNone) {
      EXPECT_EQ(result.value, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(SettingsConvertInt, IgnoresWhatFollowsTheView) {
  // The value may be a view into a longer line; the converter must not read past it.
  const std::string line = "port=60001234";
  EXPECT_EQ(convert_int(std::string_view(line).substr(5, 4)).value, 6000);
}

struct AddressCase {
  const char* text;
  std::array<std::uint8_t, 4> expected;  // starting from 192.168.1.100
};

// Every case is also run through sscanf with the format the address is defined by, so the two
// cannot drift apart.
TEST(SettingsConvertAddress, ReadsLikeTheDottedOctetFormat) {
  const AddressCase cases[] = {
      {"10.0.0.7", {10, 0, 0, 7}},
      {"10.0.0", {10, 0, 0, 100}},
      {"10", {10, 168, 1, 100}},
      {"", {192, 168, 1, 100}},
      {"a.b.c.d", {192, 168, 1, 100}},
      {"10..1.2", {10, 168, 1, 100}},
      {" 10. 1.\t2.3", {10, 1, 2, 3}},   // blanks before a number are skipped
      {"10 .1.2.3", {10, 168, 1, 100}},  // but not before a dot
      {"192.168.1.20\r", {192, 168, 1, 20}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {"1.2.3.4abc", {1, 2, 3, 4}},
      {"300.1.2.3", {44, 1, 2, 3}},  // each number keeps its low 8 bits
      {"-1.0.0.0", {255, 0, 0, 0}},
      {"1.2.x.4", {1, 2, 1, 100}},
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, 4> octets = {192, 168, 1, 100};
    convert_address(c.text, octets);
    EXPECT_EQ(octets, c.expected) << '"' << c.text << '"';

    std::array<unsigned char, 4> scanned = {192, 168, 1, 100};
    // NOLINTNEXTLINE(bugprone-unchecked-string-to-number-conversion): the reference itself.
    std::sscanf(c.text, "%hhu.%hhu.%hhu.%hhu", &scanned[0], &scanned[1], &scanned[2], &scanned[3]);
    EXPECT_EQ(octets, scanned) << "differs from sscanf for \"" << c.text << '"';
  }
}

}  // namespace
}  // namespace zr::updater
