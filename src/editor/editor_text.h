#pragma once
// What both editor servers need of a script's text: file URIs, lines, and the conversion
// between the byte columns of the engine and the UTF-16 characters editors count in.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::editor {

// "file:///a%20b/c.odl" -> "/a b/c.odl"; empty for a URI of another scheme.
std::string UriToPath(const std::string& uri);
// "/a b/c.odl" -> "file:///a%20b/c.odl".
std::string PathToUri(const std::string& path);

// The lines of [text], without their line ends.
std::vector<std::string> SplitLines(std::string_view text);

// The UTF-16 characters before byte [bytes] of [line], and the bytes before [characters].
std::uint32_t Utf16Column(std::string_view line, std::uint32_t bytes);
std::uint32_t ByteColumn(std::string_view line, std::uint32_t characters);

// Where the name [name] (any case) stands on [line] at or after byte [from], else before it
// (an item may stand at the token after its name); [from] when it
// is not found.
std::uint32_t NameStart(std::string_view line, std::uint32_t from, std::string_view name);
// The byte after the word (letters, digits, '_') that starts at [from]; from + 1 when none does
// (but never past the line's end).
std::uint32_t WordEnd(std::string_view line, std::uint32_t from);

}  // namespace ordalis::editor
