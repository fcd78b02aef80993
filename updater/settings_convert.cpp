#include "updater/settings_convert.hpp"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>

namespace zr::updater {

IntConversion convert_int(std::string_view text) {
  // strtoll needs a terminated string and gives exactly the skip/sign/stop rules wanted.
  const std::string terminated(text);
  const char* begin = terminated.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (end == begin) return {0, ConversionError::kNoDigits};
  if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return {0, ConversionError::kOutOfRange};
  }
  return {static_cast<std::int32_t>(value), ConversionError::kNone};
}

void convert_address(std::string_view text, std::span<std::uint8_t, 4> octets) {
  // Each %hhu is a strtoul conversion narrowed to one byte; a literal '.' must follow at once.
  const std::string terminated(text);
  const char* cursor = terminated.c_str();
  for (std::size_t index = 0; index < octets.size(); ++index) {
    if (index > 0) {
      if (*cursor != '.') return;
      ++cursor;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(cursor, &end, 10);
    if (end == cursor) return;
    octets[index] = static_cast<std::uint8_t>(value);
    cursor = end;
  }
}

}  // namespace zr::updater
