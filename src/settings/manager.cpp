#include "settings/manager.h"

#include <algorithm>

#include "links/encrypt.h"
#include "platform/text.h"
#include "settings/creator_catalogues.h"

namespace ordalis::settings {

namespace {

constexpr const char* kVariablesKey = "Variables";
constexpr const char* kValueName = "Value";
constexpr const char* kSmtpKey = "SMTP";
constexpr const char* kServerName = "Server Name";
constexpr const char* kUserName = "User Name";
constexpr const char* kPassword = "Password";
constexpr const char* kEmailAddresses = "Email Addresses";

// The phrase the stored mail password is encrypted under; the same for writing and reading.
constexpr const char* kPassPhrase = "Mrw1ndCL";

const char* CreatorKey(CreatorKind kind) {
  return kind == CreatorKind::kTester ? "TesterCreators" : "BatchQueueItemCreators";
}

// A mail text value is taken when it is a string or an expandable string.
bool ReadText(const SettingsKey& key, const char* name, std::string* text) {
  const SettingsValue* value = key.Value(name);
  if (!value || value->type == ValueType::kBinary) return false;
  *text = value->data;
  return true;
}

template <typename Map>
std::string NameAt(const Map& map, std::size_t index) {
  if (index >= map.size()) return "";
  return std::next(map.begin(), static_cast<std::ptrdiff_t>(index))->first;
}

template <typename Map>
std::string ValueOf(const Map& map, const std::string& name) {
  auto it = map.find(LowerAscii(name));
  return it == map.end() ? "" : it->second;
}

}  // namespace

Manager& Manager::Instance() {
  static Manager manager;
  return manager;
}

Manager::Manager(ManagerOptions options)
    : options_(std::move(options)),
      machine_(options_.machine_path.empty() ? DefaultSettingsPath(SettingsScope::kMachine)
                                             : options_.machine_path,
               0644),
      // The user's file holds the mail password, so only its owner may read it.
      user_(options_.user_path.empty() ? DefaultSettingsPath(SettingsScope::kUser)
                                       : options_.user_path,
            0600) {
  ReadScope(SettingsScope::kMachine);
  ReadScope(SettingsScope::kUser);
}

void Manager::ReadScope(SettingsScope which) {
  Scope& scope = ScopeOf(which);
  SettingsKey root;
  std::string error;
  SettingsFile::ReadStatus status = scope.file.Read(&root, &error);
  if (status == SettingsFile::ReadStatus::kError) {
    // Never repaired here: the file stays as it is until someone looks at it.
    scope.load_error = error;
    return;
  }
  // Reading never writes: a missing key or subkey is made by the first change that needs it,
  // so a command that only lists settings leaves the files exactly as they were.
  const SettingsKey* ordalis = root.Find(kOrdalisKeyPath);
  if (!ordalis) return;
  if (const SettingsKey* variables = ordalis->Subkey(kVariablesKey)) {
    // Each variable's own key is taken as it is walked: no lookup by name per variable.
    for (const auto& [name, variable] : variables->Subkeys()) {
      const SettingsValue* value = variable.Value(kValueName);
      if (value && value->type == ValueType::kString) {
        scope.variables[LowerAscii(name)] = value->data;
      }
    }
  }
  for (CreatorKind kind : {CreatorKind::kTester, CreatorKind::kBatchItem}) {
    if (const SettingsKey* creators = ordalis->Subkey(CreatorKey(kind))) {
      for (const std::string& id : creators->SubkeyNames()) {
        if (Offer(kind, id)) CreatorList(kind).push_back(id);
      }
    }
  }
  if (const SettingsKey* smtp = ordalis->Subkey(kSmtpKey)) {
    ReadText(*smtp, kServerName, &smtp_server_name_);
    ReadText(*smtp, kUserName, &smtp_user_name_);
    ReadText(*smtp, kEmailAddresses, &email_addresses_);
    const SettingsValue* password = smtp->Value(kPassword);
    if (password && password->type == ValueType::kBinary) smtp_password_ = password->data;
  }
}

bool Manager::CanWrite(SettingsScope scope) const {
  return options_.can_write ? options_.can_write(scope) : ScopeOf(scope).file.CanWrite();
}

SettingsScope Manager::WriteScope() const {
  return CanWrite(SettingsScope::kMachine) ? SettingsScope::kMachine : SettingsScope::kUser;
}

bool Manager::Offer(CreatorKind kind, const std::string& id) const {
  try {
    return options_.offer_creator ? options_.offer_creator(kind, id) : OfferToCatalogue(kind, id);
  } catch (...) {
    return false;
  }
}

bool Manager::Modify(SettingsScope scope,
                     const std::function<bool(SettingsKey& ordalis)>& change) {
  std::string error;
  bool ok = ScopeOf(scope).file.Modify(
      [&](SettingsKey& root) { return change(root.Create(kOrdalisKeyPath)); },
      &error);
  if (!ok) last_error_ = error;
  return ok;
}

// ---- Variables ---------------------------------------------------------------------------

Status Manager::AddVariable(SettingsScope scope, const std::string& name,
                            const std::string& value) {
  std::lock_guard lock(mutex_);
  bool ok = Modify(scope, [&](SettingsKey& ordalis) {
    ordalis.CreateSubkey(kVariablesKey)
        .CreateSubkey(name)
        .SetValue(kValueName, SettingsValue{ValueType::kString, value});
    return true;
  });
  if (!ok) return E_FAIL;
  ScopeOf(scope).variables[LowerAscii(name)] = value;
  return S_OK;
}

Status Manager::RemoveVariable(SettingsScope scope, const std::string& name) {
  std::lock_guard lock(mutex_);
  bool found_key = false;
  bool ok = Modify(scope, [&](SettingsKey& ordalis) {
    SettingsKey* variables = ordalis.Subkey(kVariablesKey);
    found_key = variables != nullptr;
    return found_key && variables->DeleteSubkey(name);
  });
  if (!ok) return E_FAIL;
  ScopeOf(scope).variables.erase(LowerAscii(name));
  return found_key ? S_OK : E_FAIL;
}

std::string Manager::VariableValue(SettingsScope scope, const std::string& name) const {
  std::lock_guard lock(mutex_);
  return ValueOf(ScopeOf(scope).variables, name);
}

std::size_t Manager::VariableCount(SettingsScope scope) const {
  std::lock_guard lock(mutex_);
  return ScopeOf(scope).variables.size();
}

std::string Manager::VariableName(SettingsScope scope, std::size_t index) const {
  std::lock_guard lock(mutex_);
  return NameAt(ScopeOf(scope).variables, index);
}

std::map<std::string, std::string> Manager::Variables(SettingsScope scope) const {
  std::lock_guard lock(mutex_);
  return ScopeOf(scope).variables;
}

std::size_t Manager::CombinedVariableCount() const {
  std::lock_guard lock(mutex_);
  return user_.variables.size() + machine_.variables.size();
}

std::string Manager::CombinedVariableName(std::size_t index) const {
  std::lock_guard lock(mutex_);
  if (index < user_.variables.size()) return NameAt(user_.variables, index);
  return NameAt(machine_.variables, index - user_.variables.size());
}

std::string Manager::CombinedVariableValue(const std::string& name) const {
  std::lock_guard lock(mutex_);
  std::string lower = LowerAscii(name);
  if (auto it = user_.variables.find(lower); it != user_.variables.end()) return it->second;
  return ValueOf(machine_.variables, lower);
}

// ---- Creators ----------------------------------------------------------------------------

bool Manager::AddCreator(CreatorKind kind, const std::string& id, std::string* reason) {
  std::string why;
  bool added = RegisterCreator(kind, id, &why);
  if (!added && reason) *reason = why;
  return added;
}

bool Manager::RegisterCreator(CreatorKind kind, const std::string& id, std::string* reason) {
  // The catalogue may load plug-ins and read settings; it is asked before the lock is taken.
  if (!Offer(kind, id)) {
    *reason = "'" + id + "' was refused by the creator catalogue";
    return false;
  }
  std::lock_guard lock(mutex_);
  const SettingsScope scope = WriteScope();
  bool added = false;
  bool ok = Modify(scope, [&](SettingsKey& ordalis) {
    SettingsKey& creators = ordalis.CreateSubkey(CreatorKey(kind));
    if (creators.Subkey(id)) return false;
    creators.CreateSubkey(id);
    added = true;
    return true;
  });
  if (!ok) {
    *reason = last_error_;
    return false;
  }
  if (!added) {
    *reason = "'" + id + "' is already registered in " + ScopeOf(scope).file.Path();
    return false;
  }
  CreatorList(kind).push_back(id);
  return true;
}

bool Manager::RemoveCreator(CreatorKind kind, const std::string& id, std::string* reason) {
  std::lock_guard lock(mutex_);
  std::string why;
  std::vector<std::string>& list = CreatorList(kind);
  auto it = std::find(list.begin(), list.end(), id);
  const SettingsScope scope = WriteScope();
  bool deleted = false;
  const bool listed = it != list.end();
  bool ok = Modify(scope, [&](SettingsKey& ordalis) {
    SettingsKey* creators = ordalis.Subkey(CreatorKey(kind));
    if (creators == nullptr) return false;
    // An identifier that is not listed is compared as exactly as the list compares.
    std::vector<std::string> names = creators->SubkeyNames();
    if (!listed && std::find(names.begin(), names.end(), id) == names.end()) return false;
    deleted = creators->DeleteSubkey(id);
    return deleted;
  });
  if (!listed) {
    // A registration its catalogue refused at start-up (its module is gone, say) is not
    // listed, but it is still removed from the file that takes changes.
    if (ok && deleted) return true;
    if (reason) *reason = "'" + id + "' is not registered";
    return false;
  }
  // A registration that could not be deleted comes back at the next start, so it stays listed.
  if (!ok || !deleted) {
    if (reason) {
      *reason = !ok ? last_error_
                    : "'" + id + "' is not registered in " + ScopeOf(scope).file.Path() +
                          ", the file that takes changes";
    }
    return false;
  }
  list.erase(it);
  return true;
}

std::vector<std::string> Manager::Creators(CreatorKind kind) const {
  std::lock_guard lock(mutex_);
  return kind == CreatorKind::kTester ? tester_creators_ : batch_item_creators_;
}

std::vector<std::string> Manager::StoredCreators(CreatorKind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> ids;
  for (SettingsScope scope : {SettingsScope::kMachine, SettingsScope::kUser}) {
    SettingsKey root;
    std::string error;
    if (ScopeOf(scope).file.Read(&root, &error) != SettingsFile::ReadStatus::kOk) continue;
    const SettingsKey* ordalis = root.Find(kOrdalisKeyPath);
    const SettingsKey* creators = ordalis ? ordalis->Subkey(CreatorKey(kind)) : nullptr;
    if (creators == nullptr) continue;
    for (const std::string& id : creators->SubkeyNames()) {
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
  }
  return ids;
}

// ---- Mail settings -----------------------------------------------------------------------

bool Manager::WriteMailValue(const std::string& name, const SettingsValue& value) {
  return Modify(WriteScope(), [&](SettingsKey& ordalis) {
    SettingsKey& smtp = ordalis.CreateSubkey(kSmtpKey);
    smtp.DeleteValue(name);
    if (!value.data.empty()) smtp.SetValue(name, value);
    return true;
  });
}

Status Manager::SetSmtpServerName(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (!WriteMailValue(kServerName, SettingsValue{ValueType::kString, name})) return E_FAIL;
  smtp_server_name_ = name;
  return S_OK;
}

Status Manager::SetSmtpAuthentication(const std::string& user_name, const std::string& password) {
  std::string encrypted = password;
  Encrypt cipher(kPassPhrase);
  if (!encrypted.empty() && !cipher.Apply(encrypted)) {
    std::lock_guard lock(mutex_);
    last_error_ = "cannot encrypt the mail password: " + cipher.LastError();
    return E_FAIL;
  }
  std::lock_guard lock(mutex_);
  // User name and password land together in one change of the file.
  bool ok = Modify(WriteScope(), [&](SettingsKey& ordalis) {
    SettingsKey& smtp = ordalis.CreateSubkey(kSmtpKey);
    smtp.DeleteValue(kUserName);
    if (!user_name.empty()) smtp.SetValue(kUserName, SettingsValue{ValueType::kString, user_name});
    smtp.DeleteValue(kPassword);
    if (!encrypted.empty()) smtp.SetValue(kPassword, SettingsValue{ValueType::kBinary, encrypted});
    return true;
  });
  if (!ok) return E_FAIL;
  smtp_user_name_ = user_name;
  smtp_password_ = encrypted;
  return S_OK;
}

Status Manager::SetEmailAddresses(const std::string& addresses, std::string* reason) {
  std::string why;
  if (!IsValidRecipientList(addresses, &why)) {
    if (reason) *reason = why;
    return E_INVALIDARG;
  }
  std::lock_guard lock(mutex_);
  if (!WriteMailValue(kEmailAddresses, SettingsValue{ValueType::kString, addresses})) {
    if (reason) *reason = last_error_;
    return E_FAIL;
  }
  email_addresses_ = addresses;
  return S_OK;
}

std::string Manager::SmtpServerName() const {
  std::lock_guard lock(mutex_);
  return smtp_server_name_;
}

std::string Manager::SmtpUserName() const {
  std::lock_guard lock(mutex_);
  return smtp_user_name_;
}

std::string Manager::EmailAddresses() const {
  std::lock_guard lock(mutex_);
  return email_addresses_;
}

std::string Manager::EncryptedSmtpPassword() const {
  std::lock_guard lock(mutex_);
  return smtp_password_;
}

std::string Manager::SmtpPassword() const {
  std::string password = EncryptedSmtpPassword();
  Encrypt cipher(kPassPhrase);
  if (!cipher.Apply(password)) return "";
  return password;
}

MailSettings Manager::Mail() const {
  MailSettings mail;
  mail.password = SmtpPassword();
  std::lock_guard lock(mutex_);
  mail.server_name = smtp_server_name_;
  mail.user_name = smtp_user_name_;
  mail.email_addresses = email_addresses_;
  return mail;
}

// ---- Rights and diagnostics --------------------------------------------------------------

bool Manager::HasAdminRights() const { return CanWrite(SettingsScope::kMachine); }

SettingsScope Manager::SharedSettingsScope() const { return WriteScope(); }

const std::string& Manager::Path(SettingsScope scope) const { return ScopeOf(scope).file.Path(); }

std::vector<std::string> Manager::LoadErrors() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> errors;
  for (const Scope* scope : {&machine_, &user_}) {
    if (!scope->load_error.empty()) errors.push_back(scope->load_error);
  }
  return errors;
}

std::string Manager::LoadError(SettingsScope scope) const {
  std::lock_guard lock(mutex_);
  return ScopeOf(scope).load_error;
}

std::string Manager::LastError() const {
  std::lock_guard lock(mutex_);
  return last_error_;
}

// ---- Helpers -----------------------------------------------------------------------------

bool IsValidRecipientList(const std::string& addresses, std::string* reason) {
  std::size_t start = 0;
  for (int entry = 1;; ++entry) {
    std::size_t end = addresses.find(';', start);
    std::string text = addresses.substr(start, end == std::string::npos ? end : end - start);
    std::size_t open = text.find('<');
    if (open != std::string::npos && text.find('>', open + 1) == std::string::npos) {
      if (reason) {
        *reason = "recipient " + std::to_string(entry) + " ('" + text +
                  "') has a '<' without a closing '>'";
      }
      return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string ComponentVersion() { return "4.0n"; }

}  // namespace ordalis::settings
