#pragma once
// Clock: the process-wide high-resolution clock. It remembers the calendar time and the
// counter value at its creation, so a tick count converts into a time of day without a second
// reading of the calendar clock. Ticks are nanoseconds of the steady clock.

#include <chrono>
#include <cstdint>

namespace ordalis {

class Clock {
 public:
  // The single clock, created on first use. Safe to call from any thread.
  static const Clock& Instance();

  // Seconds since 1970 at creation.
  std::int64_t start_time() const { return start_time_; }
  // Ticks elapsed since creation.
  std::int64_t ElapsedTicks() const;
  // Ticks per second.
  static constexpr std::int64_t Frequency() { return 1'000'000'000; }

 private:
  Clock();
  std::int64_t start_time_;
  std::chrono::steady_clock::time_point start_counter_;
};

}  // namespace ordalis
