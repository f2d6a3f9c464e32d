#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/utf8.h"

namespace ordalis {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

namespace {

void AppendEscape(std::string& out, const char* form, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, form, value);
  out += text;
}

}  // namespace

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(text, i, &c);
    if (length == 0) {
      AppendEscape(out, "\\x%02X", static_cast<unsigned char>(text[i]));
      length = 1;
    } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      AppendEscape(out, "\\x%02X", static_cast<unsigned>(c));
    } else if (c >= 0x80 && c < 0xA0) {
      AppendEscape(out, "\\u%04X", static_cast<unsigned>(c));
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

}  // namespace ordalis
