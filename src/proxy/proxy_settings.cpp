#include "proxy/proxy_settings.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "platform/output_file.h"
#include "platform/utf8.h"

namespace ordalis {

namespace {

// ---- UTF-8 <-> UTF-16 ------------------------------------------------------------------------

// The next character of UTF-8 [text] at [at]; a byte that does not start a valid sequence
// stands for the character of the same number.
std::uint32_t NextCharacter(std::string_view text, std::size_t& at) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  std::uint8_t lead = byte(at);
  std::size_t extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : 0;
  if (extra == 0) {
    ++at;
    return lead;
  }
  std::uint32_t code = lead & (0x3F >> extra);
  for (std::size_t i = 1; i <= extra; ++i) {
    if (at + i >= text.size() || (byte(at + i) & 0xC0) != 0x80) {
      ++at;
      return lead;
    }
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  static const std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
    ++at;
    return lead;
  }
  at += extra + 1;
  return code;
}

std::u16string ToUtf16(std::string_view text) {
  std::u16string wide;
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t code = NextCharacter(text, at);
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<char16_t>(0xD800 | (code >> 10));
      wide += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
      wide += static_cast<char16_t>(code);
    }
  }
  return wide;
}

// A lone surrogate becomes U+FFFD.
std::string FromUtf16(const std::u16string& wide) {
  std::string text;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    std::uint32_t unit = wide[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      AppendUtf8(text, 0xFFFD);
    } else {
      AppendUtf8(text, unit);
    }
  }
  return text;
}

// ---- reading ------------------------------------------------------------------------------------

class ArchiveReader {
 public:
  explicit ArchiveReader(const std::string& bytes) : bytes_(bytes) {}

  bool Integer32(std::int32_t* value) {
    std::uint32_t raw = 0;
    if (!Unsigned(4, &raw)) return false;
    *value = static_cast<std::int32_t>(raw);
    return true;
  }

  bool String(std::string* text) {
    bool wide = false;
    std::uint32_t length = 0;
    if (!Length(&wide, &length)) return false;
    std::size_t size = wide ? std::size_t{length} * 2 : length;
    if (size > bytes_.size() - at_) return false;
    if (!wide) {
      *text = bytes_.substr(at_, size);
    } else {
      std::u16string units(length, u'\0');
      for (std::uint32_t i = 0; i < length; ++i) {
        units[i] = static_cast<char16_t>(Byte(at_ + 2 * i) | (Byte(at_ + 2 * i + 1) << 8));
      }
      *text = FromUtf16(units);
    }
    at_ += size;
    return true;
  }

 private:
  std::uint32_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(bytes_[i]); }

  bool Unsigned(std::size_t size, std::uint32_t* value) {
    if (bytes_.size() - at_ < size) return false;
    *value = 0;
    for (std::size_t i = 0; i < size; ++i) *value |= Byte(at_ + i) << (8 * i);
    at_ += size;
    return true;
  }

  // One byte; FF means 16 bits follow, of which FFFE marks a wide string (and the length
  // follows afresh) and FFFF means 32 bits follow.
  bool Length(bool* wide, std::uint32_t* length) {
    for (int markers = 0; markers < 2; ++markers) {
      if (!Unsigned(1, length)) return false;
      if (*length < 0xFF) return true;
      if (!Unsigned(2, length)) return false;
      if (*length == 0xFFFE) {
        *wide = true;
        continue;
      }
      if (*length < 0xFFFF) return true;
      return Unsigned(4, length) && *length != 0xFFFFFFFFu;
    }
    return false;
  }

  const std::string& bytes_;
  std::size_t at_ = 0;
};

void PutUnsigned(std::uint32_t value, std::size_t size, std::string& out) {
  for (std::size_t i = 0; i < size; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string ArchiveString(const std::string& text) {
  std::u16string wide = ToUtf16(text);
  std::string out = "\xFF\xFE\xFF";
  auto length = static_cast<std::uint32_t>(wide.size());
  if (length < 0xFF) {
    PutUnsigned(length, 1, out);
  } else if (length < 0xFFFE) {
    out += '\xFF';
    PutUnsigned(length, 2, out);
  } else {
    out += "\xFF\xFF\xFF";
    PutUnsigned(length, 4, out);
  }
  for (char16_t unit : wide) PutUnsigned(unit, 2, out);
  return out;
}

SettingsRead ReadProxySettings(const std::string& bytes, ProxySettings* settings, std::string* error) {
  ArchiveReader reader(bytes);
  *settings = ProxySettings();
  if (!reader.Integer32(&settings->version)) {
    *error = "the file ends before its version";
    return SettingsRead::kDamaged;
  }
  if (settings->version < 1) return SettingsRead::kOldVersion;
  if (!reader.String(&settings->type) || !reader.String(&settings->parameters)) {
    *error = "the link type or parameters are cut short";
    return SettingsRead::kDamaged;
  }
  if (settings->version >= 2 && !reader.String(&settings->key)) {
    *error = "the encryption key is cut short";
    return SettingsRead::kDamaged;
  }
  std::string cipher;
  if (settings->version >= 3) {
    if (!reader.String(&cipher) || !ParseCipherName(cipher, &settings->cipher)) {
      *error = "the cipher is missing or unknown ('" + cipher + "')";
      return SettingsRead::kDamaged;
    }
  }
  return SettingsRead::kRead;
}

std::string WriteProxySettings(const ProxySettings& settings) {
  bool authenticated = settings.cipher == CipherMode::kChaCha20Poly1305 && !settings.key.empty();
  std::string out;
  PutUnsigned(authenticated ? 3 : 2, 4, out);
  out += ArchiveString(settings.type);
  out += ArchiveString(settings.parameters);
  out += ArchiveString(settings.key);
  if (authenticated) out += ArchiveString(CipherName(settings.cipher));
  return out;
}

bool ReplaceFile(const std::string& path, const std::string& bytes) {
  // The file may hold a key: only its owner reads it, whatever the file it replaces allowed.
  return WriteOutputFile(path, bytes, 0600, nullptr, ReplacedMode::kExactly);
}

}  // namespace ordalis
