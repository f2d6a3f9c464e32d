#pragma once
// The settings store: two scopes (machine and user), each one JSON file holding a tree of keys
// with typed values, in the manner of a registry hive. Key and value names compare ignoring the
// case of A-Z, as registry names do; the spelling used when a name was created is kept.
//
// File layout: every key is a JSON object with an optional "keys" member (an object of subkeys
// by name, in creation order) and an optional "values" member (an object of values by name).
// A value is {"type": "REG_SZ" | "REG_EXPAND_SZ" | "REG_BINARY", "data": text}; the data of a
// binary value is its bytes in lower-case hexadecimal. A text that is not UTF-8 is kept byte for
// byte as {"type": ..., "hex": its bytes in hexadecimal}.
//
// Every change is a read-modify-write under an advisory lock (flock on "<file>.lock") that lands
// by writing a temporary file beside the target, fsync and rename, so concurrent writers in any
// number of processes keep each other's changes and a crash never leaves a half-written file.
// A file that cannot be parsed is reported with its path and the parser's message and is never
// overwritten.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ordalis::settings {

// The key below each scope's root that holds everything of this component.
inline constexpr std::string_view kOrdalisKeyPath = "SOFTWARE\\Marrowind Consulting Ltd\\Ordalis";

enum class SettingsScope { kMachine, kUser };

// Keys nested deeper than this (counted from the file's root) make a settings file unreadable,
// as the registry refuses them: a corrupt or hostile file is reported, never walked off the end
// of the stack, and is left untouched.
inline constexpr int kMaxKeyDepth = 512;

enum class ValueType { kString, kExpandString, kBinary };

struct SettingsValue {
  ValueType type = ValueType::kString;
  std::string data;  // text, or the raw bytes of a binary value

  friend bool operator==(const SettingsValue&, const SettingsValue&) = default;
};

// One key of the tree: its subkeys and values, both in creation order. Not thread-safe; a key
// tree is a private copy of one file's content.
class SettingsKey {
 public:
  // The subkey at [path] (names separated by backslashes), or null when one step is missing.
  SettingsKey* Find(std::string_view path);
  const SettingsKey* Find(std::string_view path) const;
  // The subkey at [path], creating every missing step.
  SettingsKey& Create(std::string_view path);
  // The direct subkey [name] (taken whole: a backslash in it is part of the name).
  SettingsKey* Subkey(std::string_view name);
  const SettingsKey* Subkey(std::string_view name) const;
  SettingsKey& CreateSubkey(std::string_view name);
  // Deletes the direct subkey [name] with everything below it; false when there is none.
  bool DeleteSubkey(std::string_view name);
  std::vector<std::string> SubkeyNames() const;
  // The subkeys and the values with their names, in creation order.
  const std::vector<std::pair<std::string, SettingsKey>>& Subkeys() const { return subkeys_; }
  const std::vector<std::pair<std::string, SettingsValue>>& Values() const { return values_; }

  const SettingsValue* Value(std::string_view name) const;
  void SetValue(std::string_view name, SettingsValue value);
  // False when there is no value [name].
  bool DeleteValue(std::string_view name);

  friend bool operator==(const SettingsKey&, const SettingsKey&) = default;

 private:
  friend class KeyTreeReader;
  std::vector<std::pair<std::string, SettingsKey>> subkeys_;
  std::vector<std::pair<std::string, SettingsValue>> values_;
};

class KeyTreeReader;

// Conversion between a key tree and the text of a settings file, in time linear in its size.
class SettingsJson {
 public:
  // The compact JSON text of [root] (no indentation, so the size grows with the content and not
  // with the nesting). False with [error] set when a key or value name is not UTF-8 text (which
  // JSON cannot hold) or keys nest deeper than kMaxKeyDepth.
  static bool Write(const SettingsKey& root, std::string* text, std::string* error);
  // False with [error] set when [text] is not JSON, not a key tree, or nests keys deeper than
  // kMaxKeyDepth.
  static bool Read(std::string_view text, SettingsKey* root, std::string* error);
};

// One scope's settings file. Safe to use from several threads and processes at once: each
// operation opens the file afresh.
class SettingsFile {
 public:
  // [new_file_mode] is given to the file when a change creates it; an existing file keeps its
  // permission bits.
  explicit SettingsFile(std::string path, mode_t new_file_mode = 0644);

  const std::string& Path() const { return path_; }

  enum class ReadStatus { kOk, kMissing, kError };
  // Reads the whole tree. A missing file reads as kMissing with an empty tree; a file that
  // cannot be read or parsed gives kError and an [error] naming the file.
  ReadStatus Read(SettingsKey* root, std::string* error) const;

  // Locked read-modify-write: reads the current content (empty when the file does not exist
  // yet), lets [change] edit it, and writes it back atomically when [change] answers true.
  // False, with [error] naming the file, when the file cannot be read, parsed or written; the
  // file is then left exactly as it was.
  bool Modify(const std::function<bool(SettingsKey& root)>& change, std::string* error);

  // True when this process may change the file: the file (or, while it does not exist, the
  // nearest existing directory above it) is writable, and so is its directory, where the
  // replacement is written. The kernel's own access check is used, so it is honest for the
  // superuser too (an immutable file or a read-only file system is not writable).
  bool CanWrite() const;

 private:
  std::string path_;
  mode_t new_file_mode_;
};

// The default location of a scope's file: ORDALIS_MACHINE_SETTINGS or /etc/ordalis/settings.json
// for the machine; ORDALIS_USER_SETTINGS or $XDG_CONFIG_HOME/ordalis/settings.json
// (~/.config/ordalis/settings.json) for the user.
std::string DefaultSettingsPath(SettingsScope scope);

}  // namespace ordalis::settings
