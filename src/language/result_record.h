#pragma once
// ResultRecord: one recorded execution of a script item.

#include <cstdint>

#include "language/measurement.h"
#include "ordalis/interfaces.h"

namespace ordalis {

// One recorded execution of an item. Its values are kept in the form they cross the automation
// boundary in: integers, doubles, strings, booleans and arrays of them.
struct ResultRecord {
  Result result = TestNotRun;
  std::uint32_t iteration = 0;
  std::int64_t time = 0;          // calendar time of recording, seconds since 1970 (UTC)
  double time_taken = 0.0;        // seconds, supplied by the caller
  VariantArray values;
  MeasurementList measurements;  // what the run's action measured; empty for most runs
};

}  // namespace ordalis
