// Script-literal text to values: the literal reader of the value texts gives the variants, and
// each becomes the value of its kind. Reading a value text never touches a file: a text that
// holds an include, a name or an expression is simply not a literal.

#include "codec/literal_text.h"
#include "interp/variable_value.h"

namespace ordalis {

namespace {

// The value of one variant of a literal list; lists nest.
VariableValue LiteralValue(const Variant& literal) {
  switch (literal.type()) {
    case VT_I4: return VariableValue(literal.as_int());
    case VT_R8: return VariableValue(literal.as_double());
    case VT_BSTR: return VariableValue(literal.as_string());
    case VT_BOOL: return VariableValue(literal.as_bool());
    default: break;
  }
  VariableValue nested;
  if (literal.as_array()) {
    for (const Variant& element : *literal.as_array()) nested.Append(LiteralValue(element));
  }
  return nested;
}

}  // namespace

bool VariableValue::ParseValueText(const std::string& text, VariableValue* value) {
  VariantArray literals;
  if (!ParseLiteralText(text, &literals)) return false;
  VariableValue parsed;
  parsed.ClearToArray();
  for (const Variant& literal : literals) parsed.Append(LiteralValue(literal));
  *value = std::move(parsed);
  return true;
}

}  // namespace ordalis
