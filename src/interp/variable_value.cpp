#include "interp/variable_value.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "codec/literal_text.h"

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

bool IsNumber(const VariableValue& value) {
  return value.kind() == ValueKind::Integer || value.kind() == ValueKind::Double;
}

bool BothIntegers(const VariableValue& left, const VariableValue& right) {
  return left.kind() == ValueKind::Integer && right.kind() == ValueKind::Integer;
}

bool BothNumbers(const VariableValue& left, const VariableValue& right) {
  return IsNumber(left) && IsNumber(right);
}

// Two's complement wrapping without signed overflow.
std::int32_t Wrap(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

// The tester reference as the comparable identity of the object behind it.
const void* Identity(const std::shared_ptr<ITester>& tester) {
  return dynamic_cast<const void*>(tester.get());
}

std::string FormatG(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

std::string EscapedDisplay(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char byte : text) {
    if (byte < 0x20 || byte > 0x7E || byte == '<' || byte == '>') {
      out += '<';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
      out += '>';
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
  return out;
}

std::string TesterDisplay(const std::shared_ptr<ITester>& tester) {
  std::string type;
  std::string status;
  bool type_ok = false;
  bool status_ok = false;
  try {
    type_ok = tester && Succeeded(tester->get_TesterType(&type));
    status_ok = tester && Succeeded(tester->get_Status(&status));
  } catch (...) {
    // A plug-in that throws is shown as unknown rather than taking the caller down.
  }
  return (type_ok ? type : std::string("unknown")) + " tester " +
         (status_ok ? status : std::string("status unknown"));
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

void VariableValue::ThrowIndexOutOfRange() { throw IndexOutOfRange(); }

void VariableValue::Append(const VariableValue& value) { Append(VariableValue(value)); }

void VariableValue::Append(VariableValue&& value) {
  if (kind_ != ValueKind::Array) {
    // Appending to a scalar drops the scalar: the result holds only the appended value.
    *this = VariableValue();
  }
  elements_.push_back(std::move(value));
}

void VariableValue::ClearToArray() { *this = VariableValue(); }

// ---- arithmetic ---------------------------------------------------------------------------

VariableValue VariableValue::Add(const VariableValue& left, const VariableValue& right) {
  if (BothIntegers(left, right)) {
    return VariableValue(Wrap(static_cast<std::uint32_t>(left.integer_) +
                              static_cast<std::uint32_t>(right.integer_)));
  }
  if (BothNumbers(left, right)) return VariableValue(left.double_ + right.double_);
  if (left.kind_ == ValueKind::String && right.kind_ == ValueKind::String) {
    return VariableValue(left.text_ + right.text_);
  }
  return VariableValue();
}

VariableValue VariableValue::Subtract(const VariableValue& left, const VariableValue& right) {
  if (BothIntegers(left, right)) {
    return VariableValue(Wrap(static_cast<std::uint32_t>(left.integer_) -
                              static_cast<std::uint32_t>(right.integer_)));
  }
  if (BothNumbers(left, right)) return VariableValue(left.double_ - right.double_);
  return VariableValue();
}

VariableValue VariableValue::Multiply(const VariableValue& left, const VariableValue& right) {
  if (BothIntegers(left, right)) {
    return VariableValue(Wrap(static_cast<std::uint32_t>(left.integer_) *
                              static_cast<std::uint32_t>(right.integer_)));
  }
  if (BothNumbers(left, right)) return VariableValue(left.double_ * right.double_);
  return VariableValue();
}

// Integer division truncates toward zero. The one quotient that does not fit 32 bits,
// -2147483648 / -1, wraps to -2147483648 instead of faulting; a zero divisor, which callers
// reject beforehand, gives the invalid value.
VariableValue VariableValue::Divide(const VariableValue& left, const VariableValue& right) {
  if (BothIntegers(left, right)) {
    if (right.integer_ == 0) return VariableValue();
    if (right.integer_ == -1) return VariableValue(Wrap(0u - static_cast<std::uint32_t>(left.integer_)));
    return VariableValue(left.integer_ / right.integer_);
  }
  if (BothNumbers(left, right)) return VariableValue(left.double_ / right.double_);
  return VariableValue();
}

// The remainder takes the sign of the dividend; anything modulo -1 is 0.
VariableValue VariableValue::Remainder(const VariableValue& left, const VariableValue& right) {
  if (!BothIntegers(left, right) || right.integer_ == 0) return VariableValue();
  if (right.integer_ == -1) return VariableValue(0);
  return VariableValue(left.integer_ % right.integer_);
}

// Integer powers by repeated squaring of the base as a double; a negative exponent gives the
// reciprocal. Mixed operands use the floating-point power function. The result is a Double.
VariableValue VariableValue::Power(const VariableValue& left, const VariableValue& right) {
  if (BothIntegers(left, right)) {
    double base = left.integer_;
    std::uint32_t exponent = right.integer_ < 0 ? 0u - static_cast<std::uint32_t>(right.integer_)
                                                : static_cast<std::uint32_t>(right.integer_);
    double result = 1.0;
    while (exponent != 0) {
      if (exponent & 1u) result *= base;
      exponent >>= 1;
      if (exponent == 0) break;
      base *= base;
    }
    return VariableValue(right.integer_ < 0 ? 1.0 / result : result);
  }
  if (BothNumbers(left, right)) return VariableValue(std::pow(left.double_, right.double_));
  return VariableValue();
}

// ---- comparison ---------------------------------------------------------------------------

bool VariableValue::Less(const VariableValue& left, const VariableValue& right) {
  if (left.kind_ != right.kind_) {
    if (left.kind_ == ValueKind::Integer && right.kind_ == ValueKind::Double) {
      return static_cast<double>(left.integer_) < right.double_;
    }
    if (left.kind_ == ValueKind::Double && right.kind_ == ValueKind::Integer) {
      return left.double_ < right.double_;
    }
    return static_cast<std::int32_t>(left.kind_) < static_cast<std::int32_t>(right.kind_);
  }
  switch (left.kind_) {
    case ValueKind::Integer: return left.integer_ < right.integer_;
    case ValueKind::String: return left.text_ < right.text_;
    case ValueKind::Tester: return std::less<const void*>()(Identity(left.tester_), Identity(right.tester_));
    case ValueKind::Boolean: return left.boolean_ < right.boolean_;
    case ValueKind::Double: return left.double_ < right.double_;
    case ValueKind::Result: return left.result_ < right.result_;
    case ValueKind::Array: {
      // Arrays order element by element, a proper prefix first.
      const auto& a = left.elements_;
      const auto& b = right.elements_;
      for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (Less(a[i], b[i])) return true;
        if (Less(b[i], a[i])) return false;
      }
      return a.size() < b.size();
    }
  }
  return false;
}

bool VariableValue::Equal(const VariableValue& left, const VariableValue& right) {
  if (left.kind_ != right.kind_) {
    if (BothNumbers(left, right)) return left.double_ == right.double_;
    return false;
  }
  switch (left.kind_) {
    case ValueKind::Integer: return left.integer_ == right.integer_;
    case ValueKind::String: return left.text_ == right.text_;
    case ValueKind::Tester: return Identity(left.tester_) == Identity(right.tester_);
    case ValueKind::Boolean: return left.boolean_ == right.boolean_;
    case ValueKind::Double: return left.double_ == right.double_;
    case ValueKind::Result: return left.result_ == right.result_;
    case ValueKind::Array: {
      if (left.elements_.size() != right.elements_.size()) return false;
      for (std::size_t i = 0; i < left.elements_.size(); ++i) {
        if (!Equal(left.elements_[i], right.elements_[i])) return false;
      }
      return true;
    }
  }
  return false;
}

bool VariableValue::LessOrEqual(const VariableValue& left, const VariableValue& right) {
  return Less(left, right) || Equal(left, right);
}
bool VariableValue::Greater(const VariableValue& left, const VariableValue& right) {
  return Less(right, left);
}
bool VariableValue::GreaterOrEqual(const VariableValue& left, const VariableValue& right) {
  return Equal(left, right) || Less(right, left);
}
bool VariableValue::NotEqual(const VariableValue& left, const VariableValue& right) {
  return !Equal(left, right);
}

// ---- text forms ---------------------------------------------------------------------------

std::string VariableValue::ResultWord(std::int32_t result) {
  switch (result) {
    case TestPassed: return "Passed";
    case TestFailed: return "Failed";
    case TestNotImplemented: return "Not Implemented";
    case TestWarning: return "Warning";
    case TestError: return "Error";
    case TestNotRun: return "Not Run";
    case TestAborted: return "Aborted";
    default: return "Unknown Result " + std::to_string(result);
  }
}

std::string VariableValue::DisplayText() const {
  switch (kind_) {
    case ValueKind::Integer: return std::to_string(integer_);
    case ValueKind::String: return EscapedDisplay(text_);
    case ValueKind::Tester: return TesterDisplay(tester_);
    case ValueKind::Boolean: return boolean_ ? "true" : "false";
    case ValueKind::Double: return FormatG(double_);
    case ValueKind::Result: return ResultWord(result_);
    case ValueKind::Array: return "[" + ListText() + "]";
  }
  return "Unknown type " + std::to_string(static_cast<std::int32_t>(kind_));
}

std::string VariableValue::ListText() const {
  if (kind_ != ValueKind::Array) return DisplayText();
  std::string out;
  for (std::size_t i = 0; i < elements_.size(); ++i) {
    if (i != 0) out += ',';
    out += elements_[i].DisplayText();
  }
  return out;
}

// ---- the automation boundary --------------------------------------------------------------

namespace {

Variant ToVariant(const VariableValue& value) {
  switch (value.kind()) {
    case ValueKind::Integer: return Variant::Int(value.integer());
    case ValueKind::String: return Variant::String(value.text());
    case ValueKind::Tester: return Variant::Dispatch(value.tester());
    case ValueKind::Boolean: return Variant::Bool(value.boolean());
    case ValueKind::Double: return Variant::Double(value.dbl());
    case ValueKind::Result: return Variant::String(VariableValue::ResultWord(value.result()));
    case ValueKind::Array: return Variant::Array(value.ToVariantArray());
  }
  return Variant::String("unknown type " + std::to_string(static_cast<std::int32_t>(value.kind())));
}

}  // namespace

VariantArrayPtr VariableValue::ToVariantArray() const {
  auto array = std::make_shared<VariantArray>();
  if (kind_ != ValueKind::Array) {
    array->push_back(ToVariant(*this));
    return array;
  }
  array->reserve(elements_.size());
  for (const auto& element : elements_) array->push_back(ToVariant(element));
  return array;
}

void VariableValue::AppendFromVariantArray(const VariantArrayPtr& array, TesterWrapHook* hook,
                                           const std::string& variable_name) {
  if (kind_ != ValueKind::Array) ClearToArray();
  if (!array) return;
  for (Variant& variant : *array) {
    switch (variant.type()) {
      case VT_I4: Append(VariableValue(variant.as_int())); break;
      case VT_R8: Append(VariableValue(variant.as_double())); break;
      case VT_BSTR: Append(VariableValue(variant.as_string())); break;
      case kVariantArrayType: {
        VariableValue nested;
        nested.AppendFromVariantArray(variant.as_array(), hook, variable_name);
        Append(std::move(nested));
        break;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: {
        if (!variant.as_object()) break;
        // The source array gives up its reference whether or not the object is a tester.
        auto tester = std::dynamic_pointer_cast<ITester>(variant.as_object());
        variant.Clear();
        std::shared_ptr<ITester> wrapped;
        if (tester && hook) wrapped = hook->WrapTester(std::move(tester), variable_name);
        if (wrapped) Append(VariableValue(std::move(wrapped)));
        break;
      }
      default: break;
    }
  }
}

std::string VariableValue::LiteralText(const VariantArrayPtr& array) {
  return ordalis::LiteralText(array);
}

void VariableValue::SetIntegerAnew(std::int32_t value) {
  const bool bare = kind_ == ValueKind::Array && elements_.empty() && text_.empty() && !tester_ && boolean_ == 0 &&
                    result_ == TestPassed;
  if (!bare) {
    *this = VariableValue(value);
    return;
  }
  kind_ = ValueKind::Integer;
  integer_ = value;
  double_ = value;
}

}  // namespace ordalis
