#include "platform/clock.hpp"

#include <atomic>
#include <thread>

namespace zr {
namespace {

class RealClock final : public Clock {
 public:
  SteadyTime now() override { return SteadyClock::now(); }
  void sleep_for(std::chrono::nanoseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

std::atomic<Clock*> g_active{nullptr};

}  // namespace

Clock& real_clock() {
  static RealClock clock;
  return clock;
}

Clock& active_clock() {
  Clock* clock = g_active.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : real_clock();
}

ScopedClock::ScopedClock(Clock& clock)
    : previous_(g_active.exchange(&clock, std::memory_order_acq_rel)) {}

ScopedClock::~ScopedClock() { g_active.store(previous_, std::memory_order_release); }

FakeClock::FakeClock(std::chrono::nanoseconds step_per_reading) : step_(step_per_reading) {}

SteadyTime FakeClock::now() {
  std::lock_guard lock(mutex_);
  elapsed_ += step_;
  return SteadyTime{} + std::chrono::duration_cast<SteadyClock::duration>(elapsed_);
}

void FakeClock::sleep_for(std::chrono::nanoseconds duration) {
  std::lock_guard lock(mutex_);
  if (duration.count() > 0) {
    elapsed_ += duration;
    slept_ += duration;
  }
  ++sleeps_;
}

void FakeClock::advance(std::chrono::nanoseconds duration) {
  std::lock_guard lock(mutex_);
  elapsed_ += duration;
}

std::chrono::nanoseconds FakeClock::elapsed() const {
  std::lock_guard lock(mutex_);
  return elapsed_;
}

std::chrono::nanoseconds FakeClock::total_slept() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

std::uint64_t FakeClock::sleep_count() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

}  // namespace zr
