#pragma once
// Measurement intake: the measurements a tester reports for the action it just ran, made into
// the measurements the engine records on that run of the statement.

#include <string>

#include "language/measurement.h"
#include "ordalis/interfaces.h"
#include "ordalis/measurement.h"

namespace ordalis {

class ScriptItem;

// What [tester] measured in its latest Execute; none when it does not report measurements, or
// the asking fails or throws. Run thread, right after Execute.
MeasuredValues TakeReportedMeasurements(ITester& tester);

// The name a measurement reported without one takes for [action]: the label of the nearest
// result block around the statement, else the action's name.
std::string UnnamedMeasurementName(const ScriptItem& action);

// [reported] as the engine records it; an empty name becomes [unnamed]. A value that is neither
// a number, a text nor a boolean is kept as its literal text, and a verdict that is not a result
// counts as an Error.
Measurement RecordedMeasurement(const MeasuredValue& reported, const std::string& unnamed);

}  // namespace ordalis
