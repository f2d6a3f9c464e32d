#pragma once
// Script-literal text: values written the way the script language writes literals — decimal
// integers, "%g" doubles, double-quoted strings, true and false, bracketed arrays, separated by
// commas — and read back. Log lines and the action record file carry tester parameters and
// returned values in this form; user and system variables and the texts testers hand to
// ITesterUtilities::VariableValue are read from it.
//
// Reading is a literal reader of its own, not the script parser: a value text is a literal, so
// it never includes a file, names a variable or runs anything, and reading it takes no lock.
// Every function here is safe to call from any thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "ordalis/variant.h"

namespace ordalis {

// Nesting of brackets and parentheses deeper than this makes a text unreadable, so a hostile
// text cannot exhaust the stack of the reader or of the code that walks the values it gives.
inline constexpr std::size_t kMaxLiteralNesting = 1000;

// The literal text of [array]: elements separated by ','; integers as "%d", doubles as "%g",
// strings between double quotes with the bytes 7 to 13 written as \a \b \t \n \v \f \r and '"'
// and '\' preceded by a backslash, booleans as true (all bits set) or false, nested arrays in
// brackets, any other variant type as "Unknown Format <type number>". A null array gives "".
std::string LiteralText(const VariantArrayPtr& array);

// Appends [text] to [out] as one string literal, escaped as LiteralText escapes its strings.
void AppendLiteralString(std::string& out, std::string_view text);

// Reads [text] as a comma-separated list of literals into [values], one variant per top-level
// literal: integers (decimal with an optional sign, 0x/&H hexadecimal, 0/&O octal, wrapping at
// 32 bits) as VT_I4, doubles (rounded to six significant digits, as the language stores them)
// as VT_R8, strings (adjacent strings joined; the text between the quotes is taken as it
// stands) as VT_BSTR, true and false in any letter case as VT_BOOL, and bracketed lists as
// nested arrays; a literal may stand in parentheses. False, with [values] untouched, for
// anything else: an empty text, a name, an operator, a comment, a statement.
bool ParseLiteralText(std::string_view text, VariantArray* values);

}  // namespace ordalis
