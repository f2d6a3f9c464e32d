#include "editor/editor_text.h"

#include <cctype>
#include <cstdio>

#include "platform/text.h"

namespace ordalis::editor {

namespace {

bool IsWordByte(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes of the UTF-8 sequence led by [lead], and the UTF-16 units it makes.
std::uint32_t SequenceBytes(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string UriToPath(const std::string& uri) {
  constexpr std::string_view kScheme = "file://";
  if (uri.compare(0, kScheme.size(), kScheme) != 0) return "";
  std::string path;
  for (std::size_t i = kScheme.size(); i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && HexValue(uri[i + 1]) >= 0 && HexValue(uri[i + 2]) >= 0) {
      path += static_cast<char>(HexValue(uri[i + 1]) * 16 + HexValue(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  return path;
}

std::string PathToUri(const std::string& path) {
  std::string uri = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
      uri += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    }
  }
  return uri;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

std::uint32_t Utf16Column(std::string_view line, std::uint32_t bytes) {
  std::uint32_t units = 0;
  for (std::size_t i = 0; i < line.size() && i < bytes;) {
    std::uint32_t length = SequenceBytes(static_cast<unsigned char>(line[i]));
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return units + (bytes > line.size() ? bytes - static_cast<std::uint32_t>(line.size()) : 0);
}

std::uint32_t ByteColumn(std::string_view line, std::uint32_t characters) {
  std::size_t i = 0;
  std::uint32_t units = 0;
  while (i < line.size() && units < characters) {
    std::uint32_t length = SequenceBytes(static_cast<unsigned char>(line[i]));
    units += length == 4 ? 2 : 1;
    i += length;
  }
  return static_cast<std::uint32_t>(std::min(i, line.size()));
}

namespace {

// Where [name] stands on [line] as a whole word, at or after [from]; npos when it does not.
std::size_t FindWord(std::string_view line, std::string_view name, std::size_t from) {
  std::string lower_line = LowerAscii(line);
  std::string lower_name = LowerAscii(name);
  for (std::size_t at = lower_line.find(lower_name, from); at != std::string::npos;
       at = lower_line.find(lower_name, at + 1)) {
    bool starts_word = at == 0 || !IsWordByte(line[at - 1]);
    bool ends_word = at + name.size() == line.size() || !IsWordByte(line[at + name.size()]);
    if (starts_word && ends_word) return at;
  }
  return std::string::npos;
}

}  // namespace

std::uint32_t NameStart(std::string_view line, std::uint32_t from, std::string_view name) {
  if (name.empty() || from > line.size()) return from;
  std::size_t at = FindWord(line, name, from);
  // Some items stand at the token after their name (an assignment's target at its '=').
  if (at == std::string::npos) at = FindWord(line, name, 0);
  return at == std::string::npos ? from : static_cast<std::uint32_t>(at);
}

std::uint32_t WordEnd(std::string_view line, std::uint32_t from) {
  std::uint32_t end = from;
  while (end < line.size() && IsWordByte(line[end])) ++end;
  if (end == from && from < line.size()) ++end;
  return end;
}

}  // namespace ordalis::editor
