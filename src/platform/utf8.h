#pragma once
// The UTF-8 steps the XML writers need: reading one character with its validity, and writing a
// code point. Safe to call from any thread.

#include <cstddef>
#include <string>

namespace ordalis {

// The length of the valid UTF-8 sequence that starts at [text][index] (1 to 4), with its code
// point in [code_point]; 0 when the byte there starts no valid sequence (a stray continuation
// byte, an overlong form, a surrogate, a value past U+10FFFF or a sequence cut short).
std::size_t DecodeUtf8(const std::string& text, std::size_t index, char32_t* code_point);

// Appends [code_point] in UTF-8.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace ordalis
