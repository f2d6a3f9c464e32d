#include "platform/xml_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/utf8.h"

namespace ordalis {

namespace {

void AppendVisibleEscape(std::string& out, char32_t code_point) {
  char text[16];
  std::snprintf(text, sizeof text, code_point < 0x100 ? "\\x%02X" : "\\u%04X",
                static_cast<unsigned>(code_point));
  out += text;
}

bool ForbiddenInXml(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

void AppendCharacter(std::string& out, char32_t c) {
  switch (c) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += "&gt;"; return;
    case '"': out += "&quot;"; return;
    default: break;
  }
  if (ForbiddenInXml(c)) {
    AppendVisibleEscape(out, c);
  } else {
    AppendUtf8(out, c);
  }
}

// The code point of a reference such as "amp;" or "#x41;" starting at [text][at] (just after
// the "&"); 0 when there is none. [length] receives the characters it spans after the "&".
char32_t ReferenceAt(const std::string& text, std::size_t at, std::size_t* length) {
  static const struct { const char* name; char32_t value; } kNamed[] = {
      {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
  for (const auto& named : kNamed) {
    std::size_t size = std::strlen(named.name);
    if (text.compare(at, size, named.name) == 0) return (*length = size), named.value;
  }
  if (at >= text.size() || text[at] != '#') return 0;
  std::size_t semicolon = text.find(';', at);
  if (semicolon == std::string::npos || semicolon - at > 10) return 0;
  bool hex = at + 1 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X');
  std::string digits = text.substr(at + (hex ? 2 : 1), semicolon - at - (hex ? 2 : 1));
  if (digits.empty()) return 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
  if (*end != '\0' || value == 0 || value > 0x10FFFF) return 0;
  *length = semicolon - at + 1;
  return static_cast<char32_t>(value);
}

}  // namespace

void AppendXmlText(std::string& out, const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(text, i, &c);
    if (length == 0) {
      c = static_cast<unsigned char>(text[i]);
      length = 1;
    }
    AppendCharacter(out, c);
    i += length;
  }
}

std::string XmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  AppendXmlText(out, text);
  return out;
}

std::string XmlUnescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t length = 0;
    char32_t c = text[i] == '&' ? ReferenceAt(text, i + 1, &length) : 0;
    if (c == 0) {
      out += text[i];
      continue;
    }
    AppendUtf8(out, c);
    i += length;
  }
  return out;
}

}  // namespace ordalis
