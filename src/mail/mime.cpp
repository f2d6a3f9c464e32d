#include "mail/mime.h"

#include <algorithm>
#include <cstdio>

#include "mail/base64.h"

namespace ordalis {

namespace {

// Longest line a mail may hold, without its CR LF.
constexpr std::size_t kMaxLineLength = 998;
// Bytes of text in one encoded word: 45 bytes give 60 base64 characters, which keeps each word
// within the 75 characters mail allows.
constexpr std::size_t kEncodedWordBytes = 45;

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Moves [cut] back to the lead byte of the UTF-8 character it falls in, so that no character
// is split between two encoded words.
std::size_t CharacterBoundary(std::string_view text, std::size_t cut) {
  if (cut >= text.size()) return text.size();
  std::size_t at = cut;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at == 0 ? cut : at;
}

// [text] with every line end (CR LF, a lone LF or a lone CR) written as CR LF, ending with one.
std::string CrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) out += "\r\n";
  return out;
}

bool HasLongLine(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end - start > kMaxLineLength) return true;
    start = end + 2;
  }
  return false;
}

// Doubles the dot of every line that begins with one, so that no line of the text can end
// the DATA phase or lose its leading dot at the server.
std::string DotStuffed(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  bool line_start = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (line_start && text[i] == '.') out += '.';
    out += text[i];
    line_start = text[i] == '\n' && i > 0 && text[i - 1] == '\r';
  }
  return out;
}

std::string PartStart() { return "--" + std::string(kMailBoundary) + "\r\n"; }

}  // namespace

std::string OneLine(std::string_view text) {
  std::string out(text);
  std::replace_if(
      out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return out;
}

std::string WireAddress(std::string_view address) {
  std::string line = OneLine(address);
  std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::size_t last = line.find_last_not_of(" \t");
  return line.substr(first, last - first + 1);
}

std::string EncodeHeaderText(std::string_view text) {
  std::string line = OneLine(text);
  if (IsAscii(line)) return line;
  std::string_view rest = line;
  std::string out;
  while (!rest.empty()) {
    std::size_t cut = CharacterBoundary(rest, kEncodedWordBytes);
    if (!out.empty()) out += "\r\n ";
    out += "=?utf-8?B?" + Base64Encode(rest.substr(0, cut)) + "?=";
    rest.remove_prefix(cut);
  }
  return out;
}

std::string HeaderDisplayName(std::string_view name) {
  std::string line = OneLine(name);
  if (!IsAscii(line)) return EncodeHeaderText(line);
  if (line.find_first_of(",;:<>@\"()[]\\") == std::string::npos) return line;
  std::string quoted = "\"";
  for (char c : line) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string FormatMailDate(const std::tm& local) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset_minutes = local.tm_gmtoff / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  if (offset_minutes < 0) offset_minutes = -offset_minutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[(local.tm_wday % 7 + 7) % 7], local.tm_mday,
                kMonths[(local.tm_mon % 12 + 12) % 12], local.tm_year + 1900, local.tm_hour,
                local.tm_min, local.tm_sec, sign, offset_minutes / 60 % 100, offset_minutes % 60);
  return text;
}

std::string BodyPart(std::string_view body) {
  std::string text = CrLfLines(body);
  // A body that holds the boundary text travels encoded too, so that it cannot end its part.
  if (IsAscii(text) && !HasLongLine(text) && text.find(kMailBoundary) == std::string::npos) {
    return PartStart() + "Content-type: text/plain; charset=us-ascii\r\n\r\n" + DotStuffed(text);
  }
  return PartStart() +
         "Content-type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
         Base64Encode(text, kMimeBase64LineLength) + "\r\n";
}

std::string AttachmentPartHead(std::string_view path) {
  std::size_t slash = path.find_last_of("\\/");
  std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  std::replace_if(
      name.begin(), name.end(),
      [](char c) { return c == '"' || c == '\\' || c == '\r' || c == '\n'; }, '_');
  name = EncodeHeaderText(name);
  // The line end before a boundary belongs to the boundary: this one ends the part before.
  return "\r\n" + PartStart() + "Content-Type: application/octet-stream; name=\"" + name +
         "\"\r\n" + "Content-Disposition: attachment; filename=\"" + name + "\"\r\n" +
         "Content-Transfer-Encoding: base64\r\n\r\n";
}

}  // namespace ordalis
