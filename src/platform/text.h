#pragma once
// The small text helpers every subsystem shares. Names of the script language, settings keys,
// tester types, link kinds and class identifiers compare ignoring the case of A-Z only: no
// locale is consulted and bytes outside A-Z (UTF-8 included) are compared as they stand.
// Every function here is safe to call from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace ordalis {

// [c] with A-Z turned into a-z; every other byte unchanged.
constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// [text] with A-Z turned into a-z; every other byte unchanged.
std::string LowerAscii(std::string_view text);

// The number of single-byte insertions, deletions and substitutions that turn [a] into [b]
// (Levenshtein): how near a mistyped name is to a known one, for a did-you-mean.
std::size_t EditDistance(std::string_view a, std::string_view b);

// Whether [a] and [b] are equal ignoring the case of A-Z.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Whether [text] begins with [prefix], ignoring the case of A-Z.
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// [text] fit to show on a terminal: the control characters (C0 but tab and line feed, DEL, C1) and
// the bytes that are not valid UTF-8 are written visibly as "\xNN" ("\u0080" … for C1 in UTF-8), so a
// script or tester cannot move the cursor, retitle the window or clear the screen of whoever
// watches a run. Files keep the bytes; this is for the console only.
std::string TerminalText(const std::string& text);

}  // namespace ordalis
