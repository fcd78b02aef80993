#pragma once
// Conversion of the settings' text values into numbers and an IPv4 address.
#include <cstdint>
#include <span>
#include <string_view>

namespace zr::updater {

enum class ConversionError { kNone, kNoDigits, kOutOfRange };

struct IntConversion {
  std::int32_t value = 0;
  ConversionError error = ConversionError::kNone;
};

// Decimal: leading white space skipped, optional sign, stops at the first non-digit ("5000abc" is
// 5000). No digits at all, or a value outside the 32-bit signed range, is an error.
IntConversion convert_int(std::string_view text);

// Reads up to four dotted decimal octets into octets[0..3] the way "%hhu.%hhu.%hhu.%hhu" does:
// white space before each number is skipped, a sign is accepted, each number keeps its low 8 bits
// (300 gives 44), and reading stops at the first mismatch, the octets after it left as they were.
// Never fails.
void convert_address(std::string_view text, std::span<std::uint8_t, 4> octets);

}  // namespace zr::updater
