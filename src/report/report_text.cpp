#include "report/report_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/utf8.h"
#include "platform/xml_text.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

struct WordEntry {
  const char* word;
  const char* css;
};

constexpr WordEntry kWords[] = {
    {"Passed", "passed"},   {"Failed", "failed"}, {"Not Implemented", "notimplemented"},
    {"Warning", "warning"}, {"Error", "error"},   {"Not Run", "notrun"},
    {"Aborted", "aborted"}};

void AppendEscapedByte(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  out += text;
}

// The length of the valid UTF-8 sequence at the start of [bytes]: 0 when it is not valid,
// -1 when it may be valid but is cut short by the end of [bytes].
int SequenceLength(std::string_view bytes, std::uint32_t* code) {
  auto lead = static_cast<unsigned char>(bytes[0]);
  int length;
  std::uint32_t value;
  std::uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= bytes.size()) return -1;
    auto next = static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

bool IsXmlControl(unsigned char byte) {
  return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

}  // namespace

Result ResultFromWord(std::string_view word) {
  for (std::size_t i = 0; i < std::size(kWords); ++i) {
    if (word == kWords[i].word) return static_cast<Result>(i);
  }
  return TestError;
}

const char* ResultWordOf(Result result) {
  if (result < 0 || result > TestAborted) return "Error";
  return kWords[result].word;
}

const char* ResultClass(Result result) {
  if (result < 0 || result > TestAborted) return "error";
  return kWords[result].css;
}

std::string DurationText(double seconds) {
  char text[64];
  if (!(seconds >= 0.0005)) return "<1 ms";
  if (seconds < 1.0) {
    std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000.0);
  } else if (seconds < 60.0) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else if (seconds < 3600.0) {
    double minutes = std::floor(seconds / 60.0);
    std::snprintf(text, sizeof text, "%.0f min %04.1f s", minutes, seconds - minutes * 60.0);
  } else {
    double hours = std::floor(seconds / 3600.0);
    double minutes = std::floor((seconds - hours * 3600.0) / 60.0);
    std::snprintf(text, sizeof text, "%.0f h %02.0f min", hours, minutes);
  }
  return text;
}

std::string NumberText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::size_t AppendRepaired(std::string& out, std::string_view bytes, SourceEncoding encoding,
                           bool final) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      if (IsXmlControl(byte)) {
        AppendEscapedByte(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    if (encoding == SourceEncoding::kLatin1) {
      AppendUtf8(out, byte);
      ++i;
      continue;
    }
    std::uint32_t code = 0;
    int length = SequenceLength(bytes.substr(i), &code);
    if (length < 0 && !final) return bytes.size() - i;
    if (length <= 0) {
      AppendUtf8(out, byte);  // read as the Latin-1 character of the same number
      ++i;
    } else if (code == 0xFFFE || code == 0xFFFF) {
      for (int k = 0; k < length; ++k) AppendEscapedByte(out, static_cast<unsigned char>(bytes[i + k]));
      i += static_cast<std::size_t>(length);
    } else {
      out.append(bytes.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    }
  }
  return 0;
}

std::string Repaired(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendRepaired(out, bytes, SourceEncoding::kUtf8);
  return out;
}

void CutText(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  text += "\xE2\x80\xA6";  // …
}

// The text rule of the XML files, which also keeps the page free of control characters and
// bytes that are not UTF-8 (a log line can hold any), and the apostrophe as an entity too.
void AppendHtml(std::string& out, std::string_view text) {
  std::string xml = XmlText(std::string(text));
  for (char c : xml) {
    if (c == '\'') {
      out += "&#39;";
    } else {
      out += c;
    }
  }
}

std::string Html(std::string_view text) {
  std::string out;
  AppendHtml(out, text);
  return out;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", c);
          out += code;
        } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
          // U+2028 and U+2029 end a line inside a script; JSON allows them, JavaScript once did not.
          out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void AppendXml(std::string& out, std::string_view text) { AppendXmlText(out, std::string(text)); }

std::string LogEntryFileName(std::string entry) {
  std::string name;
  name.reserve(entry.size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    bool number_sign = entry.compare(i, 3, "%23") == 0;
    name += number_sign ? '#' : entry[i];
    if (number_sign) i += 2;
  }
  return name;
}

std::string LinkFrom(const std::string& page_path, const std::string& target_path) {
  std::error_code error;
  fs::path page_dir = fs::absolute(fs::path(page_path), error).parent_path();
  fs::path target = fs::absolute(fs::path(target_path), error);
  fs::path relative = target.lexically_relative(page_dir);
  std::string path = relative.empty() ? target.string() : relative.generic_string();
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr || c >= 0x80) {
      out += static_cast<char>(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      out += code;
    }
  }
  if (relative.empty()) out = "file://" + out;
  return out;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error, Sync sync) {
  WholeFile file;
  if (!file.Open(path, error, sync)) return false;
  file.Write(bytes);
  return file.Commit(error);
}

}  // namespace ordalis::report
