#include "device/gnss_time.hpp"

#include <ctime>

namespace zr {
namespace {

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int month, int year) {
  switch (month) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
      return 31;
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2:
      return is_leap_year(year) ? 29 : 28;
    default:
      return 0;
  }
}

}  // namespace

std::uint64_t compute_gnss_epoch_ns(GnssTime& record, std::uint64_t datetime,
                                    std::uint32_t counter) {
  const auto time_word = static_cast<std::uint32_t>(datetime);
  const auto date_word = static_cast<std::uint32_t>(datetime >> 32);
  int hour = static_cast<int>(time_word / 10000);
  int minute = static_cast<int>(time_word % 10000 / 100);
  int second = static_cast<int>(time_word % 100) + 1;
  int day = static_cast<int>(date_word / 10000);
  int month = static_cast<int>(date_word % 10000 / 100);
  int year = static_cast<int>(date_word % 100) + 2000;

  if (second == 60) {
    second = 0;
    ++minute;
  }
  if (minute == 60) {
    minute = 0;
    ++hour;
  }
  if (hour == 24) {
    hour = 0;
    ++day;
    if (day > days_in_month(month, year)) {
      day = 1;
      ++month;
      if (month > 12) {
        month = 1;
        ++year;
      }
    }
  }

  std::tm broken{};
  broken.tm_year = year - 1900;
  broken.tm_mon = month - 1;
  broken.tm_mday = day;
  broken.tm_hour = hour;
  broken.tm_min = minute;
  broken.tm_sec = second;
  record.pps_seconds = static_cast<std::int64_t>(::timegm(&broken));

  record.tick_ns = kGnssTickNs;
  record.tick_base = 0;
  record.ticks = static_cast<std::int64_t>(counter) - record.counter_base;
  std::int64_t tick_part = 0;
  std::int64_t second_part = 0;
  std::int64_t epoch = 0;
  // Out-of-range date words from the instrument must not overflow into undefined behaviour.
  if (__builtin_mul_overflow(record.ticks - record.tick_base, record.tick_ns, &tick_part) ||
      __builtin_mul_overflow(record.pps_seconds, std::int64_t{1'000'000'000}, &second_part) ||
      __builtin_add_overflow(tick_part, second_part, &epoch)) {
    epoch = 0;
  }
  record.epoch_ns = epoch;
  return static_cast<std::uint64_t>(epoch);
}

}  // namespace zr
