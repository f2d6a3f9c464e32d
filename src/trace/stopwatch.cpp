#include "trace/stopwatch.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace ordalis {

namespace {

std::int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

#if defined(__x86_64__)

// The counter's rate is measured against the steady clock, from a pair of readings taken at the
// first use. It is measured again whenever a reading has come this many times further from that
// first pair than the last measurement was, so a conversion is exact to a few hundredths of the
// measured span, at least 1/kRemeasureFactor of the reading's own distance: an error of a few
// microseconds for any statement, with a handful of measurements in a whole run.
constexpr std::uint64_t kRemeasureFactor = 16;
// Two steady readings around a counter reading further apart than this were interrupted: the
// pair is taken again.
constexpr std::int64_t kPairWindowNanoseconds = 2'000;

bool CounterIsSteady() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // Invariant TSC: the counter runs at a constant rate in every power state.
  if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000007u) return false;
  __cpuid(0x80000007u, eax, ebx, ecx, edx);
  if ((edx & (1u << 8)) == 0) return false;
  // The kernel keeps time by it only when it has found it reliable on this machine.
  std::ifstream source("/sys/devices/system/clocksource/clocksource0/current_clocksource");
  std::string name;
  return source >> name && name == "tsc";
}

struct Pair {
  std::uint64_t counter;
  std::int64_t nanoseconds;
};

Pair ReadPair() {
  Pair pair{};
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::int64_t before = SteadyNanoseconds();
    pair.counter = __rdtsc();
    std::int64_t after = SteadyNanoseconds();
    pair.nanoseconds = before + (after - before) / 2;
    if (after - before <= kPairWindowNanoseconds) break;
  }
  return pair;
}

class CounterRate {
 public:
  CounterRate() : steady_(CounterIsSteady()), base_(steady_ ? ReadPair() : Pair{}) {}

  bool steady() const { return steady_; }

  // Seconds per count, good for a difference of readings that ends at [reading].
  double SecondsPerCount(std::uint64_t reading) {
    double rate = rate_.load(std::memory_order_relaxed);
    if (rate > 0 && reading - base_.counter < remeasure_at_.load(std::memory_order_relaxed)) return rate;
    Pair now = ReadPair();
    std::int64_t nanoseconds = now.nanoseconds - base_.nanoseconds;
    std::uint64_t counts = now.counter - base_.counter;
    if (counts == 0 || nanoseconds <= 0) return rate;
    rate = static_cast<double>(nanoseconds) * 1e-9 / static_cast<double>(counts);
    rate_.store(rate, std::memory_order_relaxed);
    std::uint64_t next = counts > UINT64_MAX / kRemeasureFactor ? UINT64_MAX : counts * kRemeasureFactor;
    remeasure_at_.store(next, std::memory_order_relaxed);
    return rate;
  }

 private:
  const bool steady_;
  const Pair base_;
  std::atomic<double> rate_{0};
  std::atomic<std::uint64_t> remeasure_at_{0};
};

CounterRate& Rate() {
  static CounterRate rate;
  return rate;
}

#endif

}  // namespace

std::uint64_t Stopwatch::Now() {
#if defined(__x86_64__)
  if (Rate().steady()) return __rdtsc();
#endif
  return static_cast<std::uint64_t>(SteadyNanoseconds());
}

double Stopwatch::SecondsBetween(std::uint64_t start, std::uint64_t end) {
  if (end <= start) return 0.0;
  std::uint64_t nanoseconds = end - start;
#if defined(__x86_64__)
  if (Rate().steady()) {
    nanoseconds = static_cast<std::uint64_t>(static_cast<double>(nanoseconds) * (Rate().SecondsPerCount(end) * 1e9) + 0.5);
  }
#endif
  return static_cast<double>(nanoseconds) * 1e-9;
}

}  // namespace ordalis
