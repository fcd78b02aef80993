#include "device/gnss_time.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace zr {
namespace {

std::uint64_t datetime(std::uint32_t ddmmyy, std::uint32_t hhmmss) {
  return (std::uint64_t{ddmmyy} << 32) | hhmmss;
}

std::string utc_text(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm broken{};
  ::gmtime_r(&t, &broken);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &broken);
  return text;
}

struct PulseCase {
  std::uint32_t date;
  std::uint32_t time;
  const char* pulse;  // the second after the reported time
};

TEST(GnssTime, PulseIsTheSecondAfterTheReportedTimeWithCarries) {
  const PulseCase cases[] = {
      {10124, 120000, "2024-01-01 12:00:01"},
      {311224, 235959, "2025-01-01 00:00:00"},  // year end
      {280224, 235959, "2024-02-29 00:00:00"},  // leap day
      {290224, 235959, "2024-03-01 00:00:00"},
      {280223, 235959, "2023-03-01 00:00:00"},  // no leap day
      {280200, 235959, "2000-02-29 00:00:00"},  // divisible by 400
      {300424, 235959, "2024-05-01 00:00:00"},  // 30-day month
      {300124, 235959, "2024-01-31 00:00:00"},
      {150624, 105959, "2024-06-15 11:00:00"},  // minute and hour carry, no day carry
      {150624, 102059, "2024-06-15 10:21:00"},
  };
  for (const PulseCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.date) + " " + std::to_string(c.time));
    GnssTime record;
    compute_gnss_epoch_ns(record, datetime(c.date, c.time), 0);
    EXPECT_EQ(utc_text(record.pps_seconds), c.pulse);
  }
}

TEST(GnssTime, EpochAddsTenNanosecondTicksToThePulse) {
  GnssTime record;
  EXPECT_EQ(compute_gnss_epoch_ns(record, datetime(10124, 120000), 5), 1'704'110'401'000'000'050u);
  EXPECT_EQ(record.tick_ns, 10);
  EXPECT_EQ(record.tick_base, 0);
  EXPECT_EQ(record.ticks, 5);
  EXPECT_EQ(record.pps_seconds, 1'704'110'401);
  EXPECT_EQ(record.epoch_ns, 1'704'110'401'000'000'050);
  // The largest counter value still adds up exactly.
  EXPECT_EQ(compute_gnss_epoch_ns(record, datetime(10124, 120000), 0xFFFFFFFFu),
            1'704'110'401'000'000'000u + 42'949'672'950u);
}

TEST(GnssTime, DateWordsBeyondTheNanosecondRangeGiveZero) {
  GnssTime record;
  // Day 429496 of a month: more than a thousand years out, past 64-bit nanoseconds.
  EXPECT_EQ(compute_gnss_epoch_ns(record, datetime(0xFFFFFFFFu, 0xFFFFFFFFu), 7), 0u);
  EXPECT_EQ(record.epoch_ns, 0);
}

}  // namespace
}  // namespace zr
