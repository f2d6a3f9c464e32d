#include "interp/variable_value.h"

#include <cmath>
#include <limits>

namespace ordalis {

namespace {

// The integer mirror of a double: truncated toward zero, or -2147483648 when out of range or
// not a number.
std::int32_t IntegerMirror(double value) {
  if (std::isnan(value) || value >= 2147483648.0 || value <= -2147483649.0) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

VariableValue::VariableValue(std::shared_ptr<ITester> tester) {
  if (tester) {
    tester_ = std::move(tester);
    kind_ = ValueKind::Tester;
  } else {
    kind_ = ValueKind::Integer;
  }
}

VariableValue::VariableValue(double value)
    : integer_(IntegerMirror(value)), kind_(ValueKind::Double), double_(value) {}

const VariableValue& VariableValue::Element(std::size_t index) const {
  if (index >= ElementCount()) throw IndexOutOfRange();
  return kind_ == ValueKind::Array ? elements_[index] : *this;
}

VariableValue& VariableValue::Element(std::size_t index) {
  if (index >= ElementCount()) throw IndexOutOfRange();
  return kind_ == ValueKind::Array ? elements_[index] : *this;
}

void VariableValue::Append(const VariableValue& value) { Append(VariableValue(value)); }

void VariableValue::Append(VariableValue&& value) {
  if (kind_ != ValueKind::Array) {
    // Appending to a scalar drops the scalar: the result holds only the appended value.
    *this = VariableValue();
  }
  elements_.push_back(std::move(value));
}

void VariableValue::ClearToArray() { *this = VariableValue(); }

}  // namespace ordalis
