#include "settings/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/atomic_file.h"
#include "platform/file_descriptor.h"
#include "platform/text.h"

namespace ordalis::settings {

namespace {

using Json = nlohmann::ordered_json;

std::string ErrnoText(int error) { return std::strerror(error); }

std::string Describe(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + ErrnoText(error);
}

std::string DirectoryOf(const std::string& path) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// The file a change really replaces: a symbolic link is followed, so the link stays in place.
std::string WriteTarget(const std::string& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

// Creates [directory] and every missing directory above it.
bool MakeDirectories(const std::string& directory, mode_t mode, std::string* error) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = directory.find('/', pos + 1);
    partial = directory.substr(0, pos);
    if (partial.empty() || Exists(partial)) continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      *error = Describe("cannot create directory", partial, errno);
      return false;
    }
  }
  return true;
}

bool LockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::kString: return "REG_SZ";
    case ValueType::kExpandString: return "REG_EXPAND_SZ";
    case ValueType::kBinary: return "REG_BINARY";
  }
  return "REG_SZ";
}

std::optional<ValueType> TypeFromName(const std::string& name) {
  if (name == "REG_SZ") return ValueType::kString;
  if (name == "REG_EXPAND_SZ") return ValueType::kExpandString;
  if (name == "REG_BINARY") return ValueType::kBinary;
  return std::nullopt;
}

std::string ToHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigit(hex[i]);
    int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

template <typename Entries>
auto FindEntry(Entries& entries, std::string_view name) {
  auto it = entries.begin();
  while (it != entries.end() && !EqualsIgnoringCase(it->first, name)) ++it;
  return it;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> steps;
  while (!path.empty()) {
    std::size_t end = path.find('\\');
    std::string_view step = path.substr(0, end);
    if (!step.empty()) steps.push_back(step);
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
  return steps;
}

}  // namespace

// ---- SettingsKey -------------------------------------------------------------------------

SettingsKey* SettingsKey::Find(std::string_view path) {
  SettingsKey* key = this;
  for (std::string_view step : SplitPath(path)) {
    auto it = FindEntry(key->subkeys_, step);
    if (it == key->subkeys_.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

const SettingsKey* SettingsKey::Find(std::string_view path) const {
  return const_cast<SettingsKey*>(this)->Find(path);
}

SettingsKey& SettingsKey::Create(std::string_view path) {
  SettingsKey* key = this;
  for (std::string_view step : SplitPath(path)) {
    key = &key->CreateSubkey(step);
  }
  return *key;
}

SettingsKey* SettingsKey::Subkey(std::string_view name) {
  auto it = FindEntry(subkeys_, name);
  return it == subkeys_.end() ? nullptr : &it->second;
}

const SettingsKey* SettingsKey::Subkey(std::string_view name) const {
  return const_cast<SettingsKey*>(this)->Subkey(name);
}

SettingsKey& SettingsKey::CreateSubkey(std::string_view name) {
  if (SettingsKey* existing = Subkey(name)) return *existing;
  subkeys_.emplace_back(std::string(name), SettingsKey());
  return subkeys_.back().second;
}

bool SettingsKey::DeleteSubkey(std::string_view name) {
  auto it = FindEntry(subkeys_, name);
  if (it == subkeys_.end()) return false;
  subkeys_.erase(it);
  return true;
}

std::vector<std::string> SettingsKey::SubkeyNames() const {
  std::vector<std::string> names;
  for (const auto& [name, key] : subkeys_) names.push_back(name);
  return names;
}

const SettingsValue* SettingsKey::Value(std::string_view name) const {
  auto it = FindEntry(values_, name);
  return it == values_.end() ? nullptr : &it->second;
}

void SettingsKey::SetValue(std::string_view name, SettingsValue value) {
  auto it = FindEntry(values_, name);
  if (it == values_.end()) {
    values_.emplace_back(std::string(name), std::move(value));
  } else {
    it->second = std::move(value);
  }
}

bool SettingsKey::DeleteValue(std::string_view name) {
  auto it = FindEntry(values_, name);
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

// ---- SettingsJson ------------------------------------------------------------------------

namespace {

// True when [text] is well-formed UTF-8, which is all a JSON text can hold.
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                         : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
      return false;
    }
    i += length;
  }
  return true;
}

// A binary value's data is always hexadecimal; a text that is not UTF-8 is kept byte for byte
// as hexadecimal under "hex" instead of "data".
Json ValueToJson(const SettingsValue& value) {
  if (value.type == ValueType::kBinary) {
    return Json{{"type", TypeName(value.type)}, {"data", ToHex(value.data)}};
  }
  if (!IsUtf8(value.data)) return Json{{"type", TypeName(value.type)}, {"hex", ToHex(value.data)}};
  return Json{{"type", TypeName(value.type)}, {"data", value.data}};
}

bool ValueFromJson(const Json& json, SettingsValue* value) {
  if (!json.is_object() || json.size() != 2 || !json.contains("type") || !json["type"].is_string()) {
    return false;
  }
  std::optional<ValueType> type = TypeFromName(json["type"].get<std::string>());
  if (!type) return false;
  value->type = *type;
  if (json.contains("hex") && json["hex"].is_string()) {
    return FromHex(json["hex"].get<std::string>(), &value->data);
  }
  if (!json.contains("data") || !json["data"].is_string()) return false;
  if (*type == ValueType::kBinary) return FromHex(json["data"].get<std::string>(), &value->data);
  value->data = json["data"].get<std::string>();
  return true;
}

}  // namespace

bool SettingsJson::Write(const SettingsKey& root, std::string* text, std::string* error) {
  std::string bad_name;
  bool too_deep = false;
  std::function<Json(const SettingsKey&, int)> to_json = [&](const SettingsKey& key, int depth) {
    Json object = Json::object();
    if (!key.subkeys_.empty() && depth >= kMaxKeyDepth) {
      too_deep = true;
    } else if (!key.subkeys_.empty()) {
      Json keys = Json::object();
      for (const auto& [name, subkey] : key.subkeys_) {
        if (!IsUtf8(name)) bad_name = name;
        keys[name] = to_json(subkey, depth + 1);
      }
      object["keys"] = std::move(keys);
    }
    if (!key.values_.empty()) {
      Json values = Json::object();
      for (const auto& [name, value] : key.values_) {
        if (!IsUtf8(name)) bad_name = name;
        values[name] = ValueToJson(value);
      }
      object["values"] = std::move(values);
    }
    return object;
  };
  Json document = to_json(root, 0);
  if (too_deep) {
    *error = "keys are nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
    return false;
  }
  if (!bad_name.empty()) {
    // Writing it would change the name; refusing keeps everything as it was.
    *error = "the name '" + bad_name + "' is not UTF-8 text";
    return false;
  }
  *text = document.dump() + "\n";
  return true;
}

bool SettingsJson::Read(std::string_view text, SettingsKey* root, std::string* error) {
  *root = SettingsKey();
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  // A key is two JSON levels ("keys", then the key's object); a value adds two more.
  constexpr int kMaxJsonDepth = 2 * kMaxKeyDepth + 3;
  struct TooDeep {};
  Json document;
  try {
    auto limit_depth = [](int depth, Json::parse_event_t event, Json&) {
      if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
          depth >= kMaxJsonDepth) {
        throw TooDeep{};
      }
      return true;
    };
    document = Json::parse(text.begin(), text.end(), limit_depth);
  } catch (const Json::exception& e) {
    // The parser's message without its "[json.exception...] " tag: "parse error at line 2, ...".
    std::string_view what = e.what();
    if (what.starts_with("[json.") && what.find("] ") != std::string_view::npos) {
      what.remove_prefix(what.find("] ") + 2);
    }
    *error = std::string(what);
    return false;
  } catch (const TooDeep&) {
    *error = "keys are nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
    return false;
  }
  std::function<bool(const Json&, const std::string&, SettingsKey&, int)> from_json =
      [&](const Json& object, const std::string& where, SettingsKey& key, int depth) {
        if (depth > kMaxKeyDepth) {
          *error = "keys are nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
          return false;
        }
        if (!object.is_object()) {
          *error = "key '" + where + "' is not a JSON object";
          return false;
        }
        for (const auto& [member, content] : object.items()) {
          if (member == "keys" && content.is_object()) {
            for (const auto& [name, sub] : content.items()) {
              key.subkeys_.emplace_back(name, SettingsKey());
              std::string sub_where = where.empty() ? name : where + "\\" + name;
              if (!from_json(sub, sub_where, key.subkeys_.back().second, depth + 1)) return false;
            }
          } else if (member == "values" && content.is_object()) {
            for (const auto& [name, json] : content.items()) {
              SettingsValue value;
              if (!ValueFromJson(json, &value)) {
                *error = "value '" + name + "' of key '" + where +
                         "' is not {\"type\": REG_SZ|REG_EXPAND_SZ|REG_BINARY, \"data\": text}";
                return false;
              }
              key.values_.emplace_back(name, std::move(value));
            }
          } else {
            *error = "unexpected member '" + member + "' in key '" + where + "'";
            return false;
          }
        }
        return true;
      };
  if (!from_json(document, "", *root, 0)) {
    *root = SettingsKey();
    return false;
  }
  return true;
}

// ---- SettingsFile ------------------------------------------------------------------------

SettingsFile::SettingsFile(std::string path, mode_t new_file_mode)
    : path_(std::move(path)), new_file_mode_(new_file_mode) {}

SettingsFile::ReadStatus SettingsFile::Read(SettingsKey* root, std::string* error) const {
  *root = SettingsKey();
  FileDescriptor fd = OpenFile(path_, O_RDONLY);
  if (!fd.valid()) {
    if (errno == ENOENT) return ReadStatus::kMissing;
    *error = Describe("cannot read", path_, errno);
    return ReadStatus::kError;
  }
  std::string text;
  if (!ReadAll(fd.get(), &text)) {
    *error = Describe("cannot read", path_, errno);
    return ReadStatus::kError;
  }
  std::string parse_error;
  if (!SettingsJson::Read(text, root, &parse_error)) {
    *error = "cannot parse " + path_ + ": " + parse_error;
    return ReadStatus::kError;
  }
  return ReadStatus::kOk;
}

bool SettingsFile::Modify(const std::function<bool(SettingsKey& root)>& change,
                          std::string* error) {
  const std::string target = WriteTarget(path_);
  const std::string directory = DirectoryOf(target);
  const mode_t directory_mode = (new_file_mode_ & 0044) ? 0755 : 0700;
  if (!MakeDirectories(directory, directory_mode, error)) return false;

  FileDescriptor lock = OpenFile(target + ".lock", O_RDONLY | O_CREAT, new_file_mode_);
  if (!lock.valid()) {
    *error = Describe("cannot lock", path_, errno);
    return false;
  }
  if (!LockExclusive(lock.get())) {
    *error = Describe("cannot lock", path_, errno);
    return false;
  }
  // The replacement is written by rename, which the file's own permission bits would not stop.
  if (Exists(target) && ::access(target.c_str(), W_OK) != 0) {
    *error = Describe("cannot write", path_, errno);
    return false;
  }

  SettingsKey root;
  SettingsFile current(target, new_file_mode_);
  if (current.Read(&root, error) == ReadStatus::kError) {
    if (target != path_) *error += " (through " + path_ + ")";
    return false;
  }
  if (!change(root)) return true;

  std::string text;
  std::string problem;
  if (!SettingsJson::Write(root, &text, &problem)) {
    *error = "cannot write " + path_ + ": " + problem;
    return false;
  }
  return WriteFileAtomically(target, text, new_file_mode_, error);
}

bool SettingsFile::CanWrite() const {
  const std::string target = WriteTarget(path_);
  if (Exists(target)) {
    return ::access(target.c_str(), W_OK) == 0 &&
           ::access(DirectoryOf(target).c_str(), W_OK | X_OK) == 0;
  }
  // A missing file can be written when the nearest existing directory above it can take the
  // directories and the file that a change would create.
  std::filesystem::path directory = std::filesystem::path(target).parent_path();
  while (!directory.empty() && !Exists(directory.string())) {
    if (directory == directory.parent_path()) break;
    directory = directory.parent_path();
  }
  std::string existing = directory.empty() ? "." : directory.string();
  struct stat info;
  return ::stat(existing.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(existing.c_str(), W_OK | X_OK) == 0;
}

std::string DefaultSettingsPath(SettingsScope scope) {
  auto env = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value ? value : "";
  };
  if (scope == SettingsScope::kMachine) {
    std::string path = env("ORDALIS_MACHINE_SETTINGS");
    return path.empty() ? "/etc/ordalis/settings.json" : path;
  }
  std::string path = env("ORDALIS_USER_SETTINGS");
  if (!path.empty()) return path;
  std::string config = env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {
    std::string home = env("HOME");
    if (home.empty()) {
      struct passwd entry;
      struct passwd* found = nullptr;
      char buffer[4096];
      if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
        home = found->pw_dir;
      }
    }
    config = home + "/.config";
  }
  return config + "/ordalis/settings.json";
}

}  // namespace ordalis::settings
