// Fuzzing harness for value texts: the literal reader (what record files, variables and testers'
// VariableValue texts go through), the literal writer on what it read and the reader again on
// that, and the value operators between the values read. (Reading keeps string escapes as they
// stand and writing adds them, so the texts are not compared.)

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/literal_text.h"
#include "interp/variable_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordalis;
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto values = std::make_shared<VariantArray>();
  if (ParseLiteralText(text, values.get())) {
    const std::string written = LiteralText(values);
    auto again = std::make_shared<VariantArray>();
    ParseLiteralText(written, again.get());
  }
  // Two values from the two halves of the input, through every operator.
  VariableValue left;
  VariableValue right;
  const std::size_t half = size / 2;
  if (!VariableValue::ParseValueText(text.substr(0, half), &left)) return 0;
  if (!VariableValue::ParseValueText(text.substr(half), &right)) return 0;
  std::size_t total = 0;
  for (const VariableValue& value :
       {VariableValue::Add(left, right), VariableValue::Subtract(left, right),
        VariableValue::Multiply(left, right), VariableValue::Divide(left, right),
        VariableValue::Remainder(left, right), VariableValue::Power(left, right)}) {
    total += value.DisplayText().size() + value.ListText().size();
  }
  total += VariableValue::Less(left, right) + VariableValue::Equal(left, right) +
           VariableValue::LessOrEqual(left, right) + VariableValue::Greater(left, right) +
           VariableValue::GreaterOrEqual(left, right) + VariableValue::NotEqual(left, right);
  return total == 0 ? 0 : 0;
}
