#include "mail/base64.h"

#include <algorithm>
#include <cstdint>

namespace ordalis {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the four characters for up to three bytes at [in]; [count] is how many are real.
void EncodeGroup(const unsigned char* in, std::size_t count, std::string& out) {
  std::uint32_t bits = std::uint32_t{in[0]} << 16;
  if (count > 1) bits |= std::uint32_t{in[1]} << 8;
  if (count > 2) bits |= in[2];
  out += kAlphabet[(bits >> 18) & 0x3F];
  out += kAlphabet[(bits >> 12) & 0x3F];
  out += count > 1 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
  out += count > 2 ? kAlphabet[bits & 0x3F] : '=';
}

}  // namespace

std::string Base64Encode(std::string_view data, std::size_t line_length) {
  std::string out;
  std::size_t encoded_size = (data.size() + 2) / 3 * 4;
  out.reserve(encoded_size + (line_length ? encoded_size / line_length * 2 : 0));
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t on_line = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    if (line_length != 0 && on_line == line_length) {
      out += "\r\n";
      on_line = 0;
    }
    EncodeGroup(bytes + i, std::min<std::size_t>(3, data.size() - i), out);
    on_line += 4;
  }
  return out;
}

}  // namespace ordalis
