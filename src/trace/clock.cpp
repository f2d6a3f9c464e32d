#include "trace/clock.h"

#include <ctime>

namespace ordalis {

Clock::Clock()
    : start_time_(static_cast<std::int64_t>(std::time(nullptr))),
      start_counter_(std::chrono::steady_clock::now()) {}

const Clock& Clock::Instance() {
  static const Clock clock;
  return clock;
}

std::int64_t Clock::ElapsedTicks() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start_counter_)
      .count();
}

}  // namespace ordalis
