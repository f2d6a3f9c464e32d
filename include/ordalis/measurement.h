#pragma once
// Measurements an action reports: a named value with its unit, its limits, how it is held
// against them and its own verdict. A tester that measures offers ITesterMeasurements beside its
// ITester levels; the engine asks for it at run time, so a tester that does not offer it (every
// module built before it existed among them) loads and runs as before.
//
// After every Execute that succeeded, on the run thread, the engine calls TakeMeasurements and
// records what it gets on that run of the statement. A measurement without a name is named by
// the statement's result label, or else by the action's name.
//
// The header-only helper makes it one call inside an action (ordalis/tester_plugin.h):
//   call.Measure("5 V rail", volts, "V").Between(4.75, 5.25);

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis {

// How a value is held against its limits.
enum MeasurementComparison : std::int32_t {
  CompareBetweenInclusive = 0,  // low <= value <= high
  CompareBetweenExclusive = 1,  // low < value < high
  CompareAtLeast = 2,           // value >= low
  CompareAtMost = 3,            // value <= high
  CompareEqual = 4,             // value == low
  CompareNotEqual = 5,          // value != low
  CompareLogOnly = 6,           // recorded, never judged
};

// One measurement as a tester reports it.
struct MeasuredValue {
  std::string name;  // empty: named by the statement's result label or the action's name
  Variant value;     // a number (any integer or floating kind), a text or a boolean
  std::string unit;  // a text symbol, UTF-8: "V", "A", "Ω", "dBm", "°C"; may be empty
  bool has_low = false;
  double low = 0.0;
  bool has_high = false;
  double high = 0.0;
  MeasurementComparison comparison = CompareLogOnly;
  Result result = TestPassed;  // the measurement's own verdict

  // The limits with their comparison, the verdict judged from them (see Judged).
  MeasuredValue& Between(double low_limit, double high_limit, bool inclusive = true) {
    has_low = has_high = true;
    low = low_limit;
    high = high_limit;
    comparison = inclusive ? CompareBetweenInclusive : CompareBetweenExclusive;
    return Judge();
  }
  MeasuredValue& AtLeast(double low_limit) {
    has_low = true;
    low = low_limit;
    comparison = CompareAtLeast;
    return Judge();
  }
  MeasuredValue& AtMost(double high_limit) {
    has_high = true;
    high = high_limit;
    comparison = CompareAtMost;
    return Judge();
  }
  MeasuredValue& Equal(double limit, bool equal = true) {
    has_low = true;
    low = limit;
    comparison = equal ? CompareEqual : CompareNotEqual;
    return Judge();
  }
  // Sets the verdict from the value, the limits and the comparison.
  MeasuredValue& Judge() {
    result = Judged(*this);
    return *this;
  }

  // The verdict the limits give the value: Passed or Failed. A value that is not a number, and
  // a limit the comparison needs that is missing, fail it; log-only always passes.
  static Result Judged(const MeasuredValue& m) {
    if (m.comparison == CompareLogOnly) return TestPassed;
    double v = 0.0;
    if (!NumberOf(m.value, &v)) return TestFailed;
    bool held = false;
    switch (m.comparison) {
      case CompareBetweenInclusive: held = m.has_low && m.has_high && m.low <= v && v <= m.high; break;
      case CompareBetweenExclusive: held = m.has_low && m.has_high && m.low < v && v < m.high; break;
      case CompareAtLeast: held = m.has_low && v >= m.low; break;
      case CompareAtMost: held = m.has_high && v <= m.high; break;
      case CompareEqual: held = m.has_low && v == m.low; break;
      case CompareNotEqual: held = m.has_low && !std::isnan(v) && v != m.low; break;
      default: held = false; break;
    }
    return held ? TestPassed : TestFailed;
  }

  // [value] as a number: floating and integer kinds, and booleans as 1 or 0.
  static bool NumberOf(const Variant& value, double* number) {
    switch (value.type()) {
      case VT_R4: case VT_R8: *number = value.as_double(); return true;
      case VT_BOOL: *number = value.as_bool() ? 1.0 : 0.0; return true;
      case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
      case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
        *number = static_cast<double>(value.as_int64());
        return true;
      default: return false;
    }
  }
};

using MeasuredValues = std::vector<MeasuredValue>;

// Offered by a tester whose actions report measurements.
class ORDALIS_API ITesterMeasurements : public virtual IUnknown {
 public:
  // Hands over the measurements of the latest Execute, in the order they were made, and forgets
  // them: a second call before the next Execute gives none. Run thread, right after Execute.
  virtual Status TakeMeasurements(MeasuredValues* measurements) = 0;
};

}  // namespace ordalis
