#pragma once
// Stopwatch: times a statement at the cost of one cheap reading at its start and one at its
// end. Where the processor's time-stamp counter runs at a constant rate and the kernel keeps
// time by it, a reading is the counter itself (a third of the cost of asking the steady clock);
// elsewhere it is the steady clock in nanoseconds. Only the difference of two readings means
// anything. Safe to use from any thread.

#include <cstdint>

namespace ordalis {

class Stopwatch {
 public:
  // A reading of the counter.
  static std::uint64_t Now();
  // Seconds between two readings, [start] taken before [end], in whole nanoseconds: finer
  // than any reading can tell, and a number the result spill writes in a byte or two.
  static double SecondsBetween(std::uint64_t start, std::uint64_t end);
};

}  // namespace ordalis
