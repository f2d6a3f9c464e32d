// The statement timer agrees with the steady clock, from the first reading of the process on
// and over spans far apart.

#include <gtest/gtest.h>

#include <chrono>

#include "trace/stopwatch.h"

namespace ordalis {
namespace {

using Steady = std::chrono::steady_clock;

// Times a busy span of [span] by both clocks; returns the stopwatch's and the clock's seconds.
std::pair<double, double> TimeSpan(std::chrono::microseconds span) {
  std::uint64_t start = Stopwatch::Now();
  Steady::time_point clock_start = Steady::now();
  while (Steady::now() - clock_start < span) {
  }
  std::uint64_t end = Stopwatch::Now();
  double clock = std::chrono::duration<double>(Steady::now() - clock_start).count();
  return {Stopwatch::SecondsBetween(start, end), clock};
}

TEST(StopwatchTest, AgreesWithTheSteadyClockOverShortAndLongSpans) {
  // The first span is also the first use: the rate is measured from nothing.
  for (auto span : {std::chrono::microseconds(50), std::chrono::microseconds(2000),
                    std::chrono::microseconds(30000), std::chrono::microseconds(300)}) {
    auto [stopwatch, clock] = TimeSpan(span);
    // The clock's span includes the two stopwatch readings; both agree to a few microseconds
    // and a part in a thousand.
    EXPECT_LE(stopwatch, clock + 20e-6) << span.count() << " us";
    EXPECT_GE(stopwatch, std::chrono::duration<double>(span).count() * 0.999 - 20e-6) << span.count() << " us";
  }
}

TEST(StopwatchTest, AReadingBeforeItsStartGivesNoTime) {
  std::uint64_t later = Stopwatch::Now() + 1000;
  EXPECT_EQ(Stopwatch::SecondsBetween(later, later - 10), 0.0);
  EXPECT_EQ(Stopwatch::SecondsBetween(later, later), 0.0);
}

}  // namespace
}  // namespace ordalis
