#pragma once
// Base64 in the standard alphabet with "=" padding, as mail uses it for credentials and for
// the content of attached files.

#include <cstddef>
#include <string>
#include <string_view>

namespace ordalis {

// Line length of base64 content in a MIME part.
inline constexpr std::size_t kMimeBase64LineLength = 76;

// Encodes [data]. With a non-zero [line_length] (a multiple of 4), a CR LF follows every
// [line_length] output characters except at the very end; with 0 the output is one line.
// Safe to call from any thread.
std::string Base64Encode(std::string_view data, std::size_t line_length = 0);

}  // namespace ordalis
