#pragma once
// The proxy settings file: which link a script proxy opens, with which parameters and key.
// Little-endian binary, as the object archives of the first Windows versions wrote it:
//   version           32-bit signed integer (2, or 3 when the key is for the authenticated cipher)
//   serial type       archive string
//   serial parameters archive string
//   encryption key    archive string (from version 2)
//   cipher            archive string, "chacha20-poly1305" (from version 3)
// An archive string is the wide marker FF FE FF, its length in characters (one byte below 255;
// FF and 16 bits below 0xFFFE; FF FF FF and 32 bits beyond) and the characters in UTF-16LE.
// Strings without the wide marker (a length and 8-bit characters) are read as well.
// docs/file-formats.md describes the file for other tools.

#include <cstdint>
#include <string>

#include "links/serial.h"

namespace ordalis {

// The largest proxy settings file read: 1 MiB.
inline constexpr std::size_t kMaxProxySettingsSize = std::size_t{1} << 20;

struct ProxySettings {
  std::int32_t version = 2;
  std::string type;
  std::string parameters;
  std::string key;
  CipherMode cipher = CipherMode::kRc4;  // what the key is for
};

enum class SettingsRead { kRead, kOldVersion, kDamaged };

// Reads [bytes]: kRead with every field filled; kOldVersion with only the version (below 1);
// kDamaged when the file ends early or holds a string that cannot be (then [error] says why).
SettingsRead ReadProxySettings(const std::string& bytes, ProxySettings* settings, std::string* error);

// The file's bytes for [settings]: version 2, or 3 for a key of the authenticated cipher.
std::string WriteProxySettings(const ProxySettings& settings);

// Writes [bytes] to [path] as an OutputFile: a regular file (or the one a link names) is
// replaced whole, private to its owner; a device or FIFO is written through. False when it
// cannot be written.
bool ReplaceFile(const std::string& path, const std::string& bytes);

// One archive string, and the UTF-8 text of one (exposed for the tests).
std::string ArchiveString(const std::string& text);

}  // namespace ordalis
