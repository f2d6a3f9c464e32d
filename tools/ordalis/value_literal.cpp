#include "value_literal.h"

#include "interp/variable_value.h"

namespace ordalis::cli {

const char* const kLiteralForms =
    "A value is a script literal, as a script writes it:\n"
    "  12  -7  0x1f  017       integers (decimal, hexadecimal, octal)\n"
    "  2.5  -0.25  1e6         doubles\n"
    "  \"text\"                  a text in double quotes, which the shell needs quoted: '\"a b\"'\n"
    "  true  false             Booleans\n"
    "  [1, \"two\", [3]]         an array\n"
    "  1,2,3                   a list of values\n"
    "or give --string to store the value as text without writing the quotes.\n";

std::optional<std::string> CheckedLiteral(const std::string& text, std::string* problem) {
  VariableValue value;
  if (!text.empty() && VariableValue::ParseValueText(text, &value)) return text;
  *problem = text.empty() ? "an empty value is no script literal (scripts skip it)"
                          : "'" + text + "' is no script literal, so no script could read it";
  return std::nullopt;
}

std::optional<std::string> StringLiteral(const std::string& text, std::string* problem) {
  std::string literal = "\"" + text + "\"";
  VariableValue value;
  bool same = VariableValue::ParseValueText(literal, &value) && value.ElementCount() == 1 &&
              value.Element(0).kind() == ValueKind::String && value.Element(0).text() == text;
  if (same) return literal;
  *problem = "a string literal cannot hold this text (a double quote, a line end or a final "
             "backslash in it)";
  return std::nullopt;
}

std::string LiteralKind(const std::string& text) {
  VariableValue value;
  if (text.empty() || !VariableValue::ParseValueText(text, &value)) return "not a literal";
  if (value.ElementCount() != 1) return "Array of " + std::to_string(value.ElementCount());
  switch (value.Element(0).kind()) {
    case ValueKind::Integer: return "Integer";
    case ValueKind::Double: return "Double";
    case ValueKind::String: return "String";
    case ValueKind::Boolean: return "Boolean";
    case ValueKind::Array: return "Array of " + std::to_string(value.Element(0).ElementCount());
    default: return "Result";
  }
}

}  // namespace ordalis::cli
