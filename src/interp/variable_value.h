#pragma once
// VariableValue: the one value type of the script language. A value is a scalar of one of six
// kinds or an ordered, nestable array of values. The default value, an empty Array, doubles as
// the invalid value that every operation on unsuitable kinds yields.
//
// Values leave the interpreter as variants: tester parameters, the values recorded on items
// and the literal texts of logs and record files (codec/literal_text.h) all work on those.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ordalis/interfaces.h"

namespace ordalis {

enum class ValueKind : std::int32_t {
  Integer = 0,
  String = 1,
  Tester = 2,
  Boolean = 3,
  Double = 4,
  Result = 5,
  Array = 6,
};

// Raised by element access past the end: "Index out of range". Statement chains catch it.
class IndexOutOfRange : public std::out_of_range {
 public:
  IndexOutOfRange() : std::out_of_range("Index out of range") {}
};

class VariableValue {
 public:
  VariableValue() = default;  // empty Array
  explicit VariableValue(std::int32_t value) : integer_(value), kind_(ValueKind::Integer), double_(value) {}
  explicit VariableValue(std::string text) : text_(std::move(text)), kind_(ValueKind::String) {}
  explicit VariableValue(const char* text) : text_(text), kind_(ValueKind::String) {}
  explicit VariableValue(char character) : text_(1, character), kind_(ValueKind::String) {}
  // A null tester reference gives Integer 0.
  explicit VariableValue(std::shared_ptr<ITester> tester);
  explicit VariableValue(bool value) : kind_(ValueKind::Boolean), boolean_(value ? 1 : 0) {}
  explicit VariableValue(Result result) : kind_(ValueKind::Result), result_(result) {}
  explicit VariableValue(double value);

  VariableValue(const VariableValue&) = default;
  VariableValue(VariableValue&&) noexcept = default;
  VariableValue& operator=(const VariableValue&) = default;
  VariableValue& operator=(VariableValue&&) noexcept = default;
  ~VariableValue() = default;

  ValueKind kind() const { return kind_; }
  std::int32_t integer() const { return integer_; }
  double dbl() const { return double_; }
  bool boolean() const { return boolean_ != 0; }
  const std::string& text() const { return text_; }
  Result result() const { return result_; }
  const std::shared_ptr<ITester>& tester() const { return tester_; }
  bool is_invalid() const { return kind_ == ValueKind::Array && elements_.empty(); }

  // An Array counts its elements; every other kind counts as one element.
  std::size_t ElementCount() const {
    return kind_ == ValueKind::Array ? elements_.size() : 1;
  }
  // Element [index]; for a scalar, index 0 is the value itself. Throws IndexOutOfRange.
  const VariableValue& Element(std::size_t index) const {
    if (index >= ElementCount()) ThrowIndexOutOfRange();
    return kind_ == ValueKind::Array ? elements_[index] : *this;
  }
  VariableValue& Element(std::size_t index) {
    if (index >= ElementCount()) ThrowIndexOutOfRange();
    return kind_ == ValueKind::Array ? elements_[index] : *this;
  }
  const std::vector<VariableValue>& elements() const { return elements_; }

  // Makes this value an Array (dropping a scalar it held) and appends a copy of [value].
  void Append(const VariableValue& value);
  void Append(VariableValue&& value);
  // Makes this value an empty Array.
  void ClearToArray();

  // Arithmetic primitives; unsuitable kinds give the invalid value.
  static VariableValue Add(const VariableValue& left, const VariableValue& right);
  static VariableValue Subtract(const VariableValue& left, const VariableValue& right);
  static VariableValue Multiply(const VariableValue& left, const VariableValue& right);
  static VariableValue Divide(const VariableValue& left, const VariableValue& right);
  static VariableValue Remainder(const VariableValue& left, const VariableValue& right);
  static VariableValue Power(const VariableValue& left, const VariableValue& right);

  // Comparison primitives and the four derived from them.
  static bool Less(const VariableValue& left, const VariableValue& right);
  static bool Equal(const VariableValue& left, const VariableValue& right);
  static bool LessOrEqual(const VariableValue& left, const VariableValue& right);
  static bool Greater(const VariableValue& left, const VariableValue& right);
  static bool GreaterOrEqual(const VariableValue& left, const VariableValue& right);
  static bool NotEqual(const VariableValue& left, const VariableValue& right);

  // "Passed", "Failed", … or "Unknown Result n".
  static std::string ResultWord(std::int32_t result);
  // Display text of this value ("\"a<09>\"", "[1,\"x\"]", "meter tester ready").
  std::string DisplayText() const;
  // Display texts of an Array's elements without the outer brackets; DisplayText otherwise.
  std::string ListText() const;

  // The value as a one-dimensional array of variants (a scalar gives one element).
  VariantArrayPtr ToVariantArray() const;

  // The engine-side services the boundary conversion needs when a variant array carries tester
  // objects: wrapping them in a tester proxy bound to the script's trace and the receiving
  // variable. A null hook drops such objects.
  class TesterWrapHook {
   public:
    virtual ~TesterWrapHook() = default;
    // Wraps [object], which offers ITester, for the variable [variable_name]; null to skip it.
    virtual std::shared_ptr<ITester> WrapTester(std::shared_ptr<ITester> object,
                                                const std::string& variable_name) = 0;
  };
  // Appends one value per convertible element of [array]; this value becomes an Array. Tester
  // objects are released from the source array.
  void AppendFromVariantArray(const VariantArrayPtr& array, TesterWrapHook* hook = nullptr,
                              const std::string& variable_name = std::string());

  // Makes this the Integer [value], as assigning VariableValue(value) would, in place when it
  // holds nothing else: a counter is stepped and a literal read on every pass of a loop.
  void SetInteger(std::int32_t value) {
    if (is_plain_integer()) {
      integer_ = value;
      double_ = value;
    } else {
      SetIntegerAnew(value);
    }
  }
  // Whether this is an Integer and holds nothing else, as VariableValue(integer()) would.
  bool is_plain_integer() const {
    return kind_ == ValueKind::Integer && text_.empty() && !tester_ && elements_.empty() && boolean_ == 0 &&
           result_ == TestPassed && double_ == static_cast<double>(integer_);
  }

  // Parses script-literal text ("1, \"two\", [3, 4.5]") into an Array of values; false, with
  // [value] untouched, when the text is not a list of literals. A value text is a literal: it
  // never includes a file or names a variable.
  static bool ParseValueText(const std::string& text, VariableValue* value);

  // Script-literal text of a variant array, as written to log lines and the record file.
  static std::string LiteralText(const VariantArrayPtr& array);

 private:
  [[noreturn]] static void ThrowIndexOutOfRange();
  // SetInteger for a value that is not a plain integer already.
  void SetIntegerAnew(std::int32_t value);

  std::shared_ptr<ITester> tester_;
  std::int32_t integer_ = 0;
  std::string text_;
  ValueKind kind_ = ValueKind::Array;
  std::uint32_t boolean_ = 0;
  double double_ = 0.0;
  Result result_ = TestPassed;
  std::vector<VariableValue> elements_;
};

}  // namespace ordalis
