#pragma once
// Values given on the command line (`ordalis run --var`, `ordalis vars set`) are script
// literals, checked the way a script reads a user variable, so a value no script can read is
// refused at once instead of reading as "not found" later.

#include <optional>
#include <string>

namespace ordalis::cli {

// The literal forms, for usage messages.
extern const char* const kLiteralForms;

// [text] when it is a script literal; otherwise nothing, with [problem] saying why.
std::optional<std::string> CheckedLiteral(const std::string& text, std::string* problem);

// [text] as a string literal ("text"); nothing, with [problem] set, for a text a string literal
// cannot hold (a double quote in it, a line end, a backslash at its end).
std::optional<std::string> StringLiteral(const std::string& text, std::string* problem);

// The kind of value a script reads from the literal [text]: "Integer", "Double", "String",
// "Boolean", "Array of 3", or "not a literal" when no script can read it.
std::string LiteralKind(const std::string& text);

}  // namespace ordalis::cli
