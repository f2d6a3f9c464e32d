#include "settings/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <unordered_map>

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

std::string TooDeepText() {
  return "keys are nested deeper than " + std::to_string(kMaxKeyDepth) + " levels";
}

// A JSON string literal for [text], escaped as the parser reads it back.
void AppendString(std::string& out, const std::string& text) { out += Json(text).dump(); }

void AppendValue(std::string& out, const SettingsValue& value) {
  out += "{\"type\":\"";
  out += TypeName(value.type);
  if (value.type == ValueType::kBinary) {
    out += "\",\"data\":\"" + ToHex(value.data) + "\"}";
  } else if (!IsUtf8(value.data)) {
    out += "\",\"hex\":\"" + ToHex(value.data) + "\"}";
  } else {
    out += "\",\"data\":";
    AppendString(out, value.data);
    out += '}';
  }
}

// Writes [key] as one JSON object straight into the text, in time linear in its size.
class KeyTreeWriter {
 public:
  explicit KeyTreeWriter(std::string& out) : out_(out) {}
  // False with [error] set when a name is not UTF-8 or the keys nest too deep.
  bool Write(const SettingsKey& key, int depth, std::string* error);

 private:
  bool Name(const std::string& name, std::string* error) {
    if (!IsUtf8(name)) {
      // Writing it would change the name; refusing keeps everything as it was.
      *error = "the name '" + name + "' is not UTF-8 text";
      return false;
    }
    AppendString(out_, name);
    out_ += ':';
    return true;
  }
  std::string& out_;
};

bool KeyTreeWriter::Write(const SettingsKey& key, int depth, std::string* error) {
  out_ += '{';
  if (!key.Subkeys().empty()) {
    if (depth >= kMaxKeyDepth) {
      *error = TooDeepText();
      return false;
    }
    out_ += "\"keys\":{";
    for (std::size_t i = 0; i < key.Subkeys().size(); ++i) {
      if (i > 0) out_ += ',';
      const auto& [name, subkey] = key.Subkeys()[i];
      if (!Name(name, error) || !Write(subkey, depth + 1, error)) return false;
    }
    out_ += '}';
  }
  if (!key.Values().empty()) {
    if (!key.Subkeys().empty()) out_ += ',';
    out_ += "\"values\":{";
    for (std::size_t i = 0; i < key.Values().size(); ++i) {
      if (i > 0) out_ += ',';
      const auto& [name, value] = key.Values()[i];
      if (!Name(name, error)) return false;
      AppendValue(out_, value);
    }
    out_ += '}';
  }
  out_ += '}';
  return true;
}

}  // namespace

bool SettingsJson::Write(const SettingsKey& root, std::string* text, std::string* error) {
  std::string out;
  std::string problem;
  if (!KeyTreeWriter(out).Write(root, 0, &problem)) {
    *error = problem;
    return false;
  }
  *text = std::move(out) + "\n";
  return true;
}

// Builds a key tree from the JSON parser's events as they come, so reading takes time linear in
// the text however many subkeys a key has. A name given twice in one JSON object keeps its first
// place and its last content, as a JSON object holds it. A text that is not a key tree is
// reported at its first fault, but only once the whole text has parsed: a syntax error anywhere
// is the one reported, and nesting deeper than a file may hold stops the parse where it is met.
class KeyTreeReader : public nlohmann::json_sax<Json> {
 public:
  explicit KeyTreeReader(SettingsKey* root) { frames_.push_back(Frame{Kind::kDocument, root, ""}); }

  // The problem to report once the parse is over; empty when the text is a key tree.
  std::string Problem(bool parsed) const {
    if (too_deep_) return TooDeepText();
    if (!parsed) return syntax_error_;
    return fault_;
  }

  bool null() override { return Scalar(std::nullopt); }
  bool boolean(bool) override { return Scalar(std::nullopt); }
  bool number_integer(number_integer_t) override { return Scalar(std::nullopt); }
  bool number_unsigned(number_unsigned_t) override { return Scalar(std::nullopt); }
  bool number_float(number_float_t, const string_t&) override { return Scalar(std::nullopt); }
  bool string(string_t& text) override { return Scalar(std::move(text)); }
  bool binary(binary_t&) override { return Scalar(std::nullopt); }
  bool start_object(std::size_t) override { return Open(/*object=*/true); }
  bool start_array(std::size_t) override { return Open(/*object=*/false); }
  bool key(string_t& name) override {
    member_ = std::move(name);
    return true;
  }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    // The parser's message without its "[json.exception...] " tag: "parse error at line 2, ...".
    std::string_view what = error.what();
    if (what.starts_with("[json.") && what.find("] ") != std::string_view::npos) {
      what.remove_prefix(what.find("] ") + 2);
    }
    syntax_error_ = std::string(what);
    return false;
  }

 private:
  // What the innermost open JSON value is: the document (before its object), a key's object,
  // its "keys" or "values" member, one value's object, or something skipped after a fault.
  enum class Kind { kDocument, kKey, kKeys, kValues, kValue, kSkipped };
  struct Frame {
    Frame(Kind kind, SettingsKey* key, std::string where, int key_depth = 0)
        : kind(kind), key(key), where(std::move(where)), key_depth(key_depth) {}
    Kind kind;
    SettingsKey* key;
    std::string where;  // the key's path, names joined by backslashes
    int key_depth = 0;
    std::unordered_map<std::string, std::size_t> places;  // kKeys, kValues: name -> index
    std::vector<std::pair<std::string, std::optional<std::string>>> members;  // kValue
  };

  static constexpr int kMaxJsonDepth = 2 * kMaxKeyDepth + 3;  // a key is two JSON levels

  bool Fault(std::string text) {
    if (fault_.empty()) fault_ = std::move(text);
    return true;  // parsing goes on: a syntax error later is the one to report
  }
  std::string SubkeyPath(const Frame& keys) const {
    return keys.where.empty() ? member_ : keys.where + "\\" + member_;
  }
  std::string ValueFault(const Frame& values, const std::string& name) const {
    return "value '" + name + "' of key '" + values.where +
           "' is not {\"type\": REG_SZ|REG_EXPAND_SZ|REG_BINARY, \"data\": text}";
  }

  // Everything in the JSON value just opened is passed over.
  void Skip() { frames_.emplace_back(Kind::kSkipped, nullptr, ""); }
  bool Scalar(std::optional<std::string> text);
  bool Open(bool object);
  bool Close();
  bool OpenSubkey(Frame& keys);
  void StoreValue(Frame& value);

  std::vector<Frame> frames_;
  int json_depth_ = 0;
  std::string member_;
  std::string value_name_;
  bool too_deep_ = false;
  std::string syntax_error_;
  std::string fault_;
};

// A string, number, true, false or null where the innermost frame expects a member.
bool KeyTreeReader::Scalar(std::optional<std::string> text) {
  Frame& frame = frames_.back();
  if (!fault_.empty() || frame.kind == Kind::kSkipped) return true;
  switch (frame.kind) {
    case Kind::kDocument: return Fault("key '' is not a JSON object");
    case Kind::kKey: return Fault("unexpected member '" + member_ + "' in key '" + frame.where + "'");
    case Kind::kKeys:
      if (frame.key_depth + 1 > kMaxKeyDepth) return Fault(TooDeepText());
      return Fault("key '" + SubkeyPath(frame) + "' is not a JSON object");
    case Kind::kValues: return Fault(ValueFault(frame, member_));
    case Kind::kValue: {
      auto it = std::find_if(frame.members.begin(), frame.members.end(),
                             [&](const auto& member) { return member.first == member_; });
      if (it == frame.members.end()) {
        frame.members.emplace_back(member_, std::move(text));
      } else {
        it->second = std::move(text);
      }
      return true;
    }
    case Kind::kSkipped: return true;
  }
  return true;
}

bool KeyTreeReader::Open(bool object) {
  if (json_depth_ >= kMaxJsonDepth) {
    too_deep_ = true;
    return false;
  }
  ++json_depth_;
  Frame& frame = frames_.back();
  if (!fault_.empty() || frame.kind == Kind::kSkipped) {
    Skip();
    return true;
  }
  if (!object && frame.kind != Kind::kValue) {
    Scalar(std::nullopt);  // an array stands where it cannot: the same fault as a scalar
    Skip();
    return true;
  }
  switch (frame.kind) {
    case Kind::kDocument:
      frames_.push_back(Frame{Kind::kKey, frame.key, ""});
      return true;
    case Kind::kKey: {
      const bool keys = member_ == "keys";
      if (!keys && member_ != "values") {
        Fault("unexpected member '" + member_ + "' in key '" + frame.where + "'");
        Skip();
        return true;
      }
      // A member given again replaces what the first one held.
      SettingsKey* key = frame.key;
      if (keys) key->subkeys_.clear();
      else key->values_.clear();
      frames_.push_back(Frame{keys ? Kind::kKeys : Kind::kValues, key, frame.where, frame.key_depth});
      return true;
    }
    case Kind::kKeys: return OpenSubkey(frame);
    case Kind::kValues:
      value_name_ = member_;
      frames_.push_back(Frame{Kind::kValue, frame.key, frame.where});
      return true;
    case Kind::kValue:
      // A member of a value that is an object or array: the value is not one, as it will say.
      Scalar(std::nullopt);
      Skip();
      return true;
    case Kind::kSkipped: break;
  }
  return true;
}

bool KeyTreeReader::OpenSubkey(Frame& keys) {
  if (keys.key_depth + 1 > kMaxKeyDepth) {
    Fault(TooDeepText());
    Skip();
    return true;
  }
  auto& subkeys = keys.key->subkeys_;
  auto [place, added] = keys.places.try_emplace(member_, subkeys.size());
  if (added) {
    subkeys.emplace_back(member_, SettingsKey());
  } else {
    subkeys[place->second].second = SettingsKey();
  }
  SettingsKey* subkey = &subkeys[place->second].second;
  frames_.push_back(Frame{Kind::kKey, subkey, SubkeyPath(keys), keys.key_depth + 1});
  return true;
}

bool KeyTreeReader::Close() {
  --json_depth_;
  Frame frame = std::move(frames_.back());
  frames_.pop_back();
  if (frame.kind == Kind::kValue && fault_.empty()) StoreValue(frame);
  return true;
}

// The value object [frame] is over: it holds "type" and one of "data" and "hex", all texts.
void KeyTreeReader::StoreValue(Frame& frame) {
  auto member = [&](const char* name) -> const std::optional<std::string>* {
    for (const auto& [member_name, text] : frame.members) {
      if (member_name == name) return &text;
    }
    return nullptr;
  };
  const auto* type_text = member("type");
  const auto* hex = member("hex");
  const auto* data = member("data");
  std::optional<ValueType> type = type_text && *type_text ? TypeFromName(**type_text) : std::nullopt;
  SettingsValue value;
  bool ok = frame.members.size() == 2 && type.has_value();
  if (ok) {
    value.type = *type;
    if (hex && *hex) {
      ok = FromHex(**hex, &value.data);
    } else if (data && *data) {
      ok = *type == ValueType::kBinary ? FromHex(**data, &value.data) : (value.data = **data, true);
    } else {
      ok = false;
    }
  }
  Frame& values = frames_.back();
  if (!ok) {
    Fault(ValueFault(values, value_name_));
    return;
  }
  auto& entries = values.key->values_;
  auto [place, added] = values.places.try_emplace(value_name_, entries.size());
  if (added) {
    entries.emplace_back(value_name_, std::move(value));
  } else {
    entries[place->second].second = std::move(value);
  }
}

bool SettingsJson::Read(std::string_view text, SettingsKey* root, std::string* error) {
  *root = SettingsKey();
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  KeyTreeReader reader(root);
  bool parsed = Json::sax_parse(text.begin(), text.end(), &reader);
  std::string problem = reader.Problem(parsed);
  if (!parsed && problem.empty()) problem = "the text is not JSON";
  if (!problem.empty()) {
    *root = SettingsKey();
    *error = problem;
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
