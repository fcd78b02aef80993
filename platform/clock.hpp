#pragma once
// The time seam: every sleep and every reading of the steady clock in the library goes through
// here, so that tests can run multi-second waits on a fake clock in microseconds.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace zr {

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual SteadyTime now() = 0;
  virtual void sleep_for(std::chrono::nanoseconds duration) = 0;
};

// The real steady clock and std::this_thread::sleep_for.
Clock& real_clock();

// The clock in use; the real one unless a test installed another.
Clock& active_clock();

inline SteadyTime steady_now() { return active_clock().now(); }
inline void sleep_for(std::chrono::nanoseconds duration) { active_clock().sleep_for(duration); }

// Installs a clock for its lifetime and puts the previous one back afterwards.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

// A clock that only moves when asked: sleeps advance it at once, and each reading may advance it
// by a small step so that loops which poll without sleeping still come to their end.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::chrono::nanoseconds step_per_reading = std::chrono::nanoseconds{0});

  SteadyTime now() override;
  void sleep_for(std::chrono::nanoseconds duration) override;

  void advance(std::chrono::nanoseconds duration);
  std::chrono::nanoseconds elapsed() const;
  std::chrono::nanoseconds total_slept() const;
  std::uint64_t sleep_count() const;

 private:
  mutable std::mutex mutex_;
  std::chrono::nanoseconds step_;
  std::chrono::nanoseconds elapsed_{0};
  std::chrono::nanoseconds slept_{0};
  std::uint64_t sleeps_ = 0;
};

}  // namespace zr
