// Time stamp to UTC calendar fields through the C library's own conversion, without time zone.
#include <ctime>

#include "device/device_level_calls.hpp"

namespace zr {
namespace {

constexpr std::uint64_t kNsPerSecond = 1'000'000'000;
constexpr std::uint64_t kNsPerMillisecond = 1'000'000;
constexpr std::uint64_t kNsPerMicrosecond = 1'000;
constexpr int kTmYearBase = 1900;

}  // namespace

UtcFields epoch_to_utc(std::uint64_t stamp_ns) {
  const std::uint64_t seconds = stamp_ns / kNsPerSecond;
  const std::uint64_t rest = stamp_ns - seconds * kNsPerSecond;
  UtcFields fields;
  // Seconds below 2^64 / 1e9 fit a 64-bit time_t and stay within years gmtime_r handles.
  const auto as_time = static_cast<std::time_t>(seconds);
  std::tm broken{};
  if (gmtime_r(&as_time, &broken) != nullptr) {
    fields.year = static_cast<std::uint16_t>(broken.tm_year + kTmYearBase);
    fields.month = static_cast<std::uint16_t>(broken.tm_mon + 1);
    fields.day = static_cast<std::uint16_t>(broken.tm_mday);
    fields.hour = static_cast<std::uint16_t>(broken.tm_hour);
    fields.minute = static_cast<std::uint16_t>(broken.tm_min);
    fields.second = static_cast<std::uint16_t>(broken.tm_sec);
  }
  fields.millisecond = static_cast<std::uint16_t>(rest / kNsPerMillisecond);
  fields.microsecond = static_cast<std::uint16_t>(rest % kNsPerMillisecond / kNsPerMicrosecond);
  fields.nanosecond = static_cast<std::uint16_t>(stamp_ns % kNsPerMicrosecond);
  return fields;
}

}  // namespace zr
