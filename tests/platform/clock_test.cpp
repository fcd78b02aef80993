#include "platform/clock.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace zr {
namespace {

TEST(FakeClock, SleepsAdvanceTimeWithoutWaiting) {
  FakeClock fake;
  ScopedClock installed(fake);
  const auto start = steady_now();
  const auto real_start = SteadyClock::now();
  sleep_for(40s);
  EXPECT_EQ(steady_now() - start, 40s);
  EXPECT_EQ(fake.total_slept(), 40s);
  EXPECT_EQ(fake.sleep_count(), 1u);
  EXPECT_LT(SteadyClock::now() - real_start, 1s);
}

TEST(FakeClock, ReadingsStepSoPollingLoopsEnd) {
  FakeClock fake(1ms);
  ScopedClock installed(fake);
  const auto deadline = steady_now() + 5s;
  int readings = 0;
  while (steady_now() < deadline) ++readings;
  EXPECT_EQ(readings, 4999);
}

TEST(ScopedClock, RestoresThePreviousClock) {
  FakeClock outer;
  FakeClock inner;
  {
    ScopedClock a(outer);
    {
      ScopedClock b(inner);
      EXPECT_EQ(&active_clock(), &inner);
    }
    EXPECT_EQ(&active_clock(), &outer);
  }
  EXPECT_EQ(&active_clock(), &real_clock());
}

}  // namespace
}  // namespace zr
