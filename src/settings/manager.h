#pragma once
// Manager: the component's settings store, one per process. It holds the system variables
// (machine scope), the user variables (user scope), the registered tester creators and batch
// item creators and the mail settings, reads them from both scopes' settings files when it is
// created, and writes every change to the files at once.
//
// Every public operation is safe to call from any thread: each takes the manager's lock. The
// lock is never held while a creator catalogue is asked about an identifier, so a catalogue may
// read the manager; it must not create the manager, though (Manager::Instance() from inside the
// first Manager::Instance() would wait for itself).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ordalis/status.h"
#include "settings/settings_store.h"

namespace ordalis::settings {

enum class CreatorKind { kTester, kBatchItem };

// The mail settings with the password decrypted, as the results mailer needs them.
struct MailSettings {
  std::string server_name;  // "host" or "host:port"
  std::string user_name;    // empty: no authentication
  std::string password;     // decrypted; empty when none is stored
  std::string email_addresses;
};

// What a Manager is built on. Manager::Instance() uses the default locations and catalogues;
// tests build managers of their own over temporary files and stand-in catalogues.
struct ManagerOptions {
  std::string machine_path;  // empty: DefaultSettingsPath(kMachine)
  std::string user_path;     // empty: DefaultSettingsPath(kUser)
  // Asked whether a creator identifier is accepted; null: the process-wide catalogues.
  std::function<bool(CreatorKind, const std::string& id)> offer_creator;
  // Whether a scope's file can be opened for writing; null: SettingsFile::CanWrite.
  std::function<bool(SettingsScope)> can_write;
};

class Manager {
 public:
  // The process-wide manager, created on first use with the default options.
  static Manager& Instance();

  // Reads both scopes (machine first, then user) and creates the user file's key when it does
  // not exist yet. Files that cannot be read are skipped and listed in LoadErrors().
  explicit Manager(ManagerOptions options = {});
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;

  // ---- Variables. [scope] kMachine holds the system variables, kUser the user variables.
  // Stores [value] under lower([name]). E_FAIL, with nothing changed, when the scope's file
  // cannot be read or written (LastError() names it).
  Status AddVariable(SettingsScope scope, const std::string& name, const std::string& value);
  // S_OK when the scope's "Variables" key exists (whether or not [name] was there), E_FAIL when
  // it does not or the file cannot be read or written.
  Status RemoveVariable(SettingsScope scope, const std::string& name);
  // The value under lower([name]), or an empty text.
  std::string VariableValue(SettingsScope scope, const std::string& name) const;
  std::size_t VariableCount(SettingsScope scope) const;
  // The [index]-th name in byte order (lower case); empty past the end.
  std::string VariableName(SettingsScope scope, std::size_t index) const;
  std::map<std::string, std::string> Variables(SettingsScope scope) const;

  // ---- The combined view used by scripts and results: user variables first.
  std::size_t CombinedVariableCount() const;
  // Indexes below the user count give user names, the rest system names.
  std::string CombinedVariableName(std::size_t index) const;
  // lower([name]) among the user variables, then the system variables, else an empty text.
  std::string CombinedVariableValue(const std::string& name) const;

  // ---- Creators.
  // Offers [id] to its catalogue and, when accepted, registers it in the machine scope when that
  // can be written, else in the user scope. True when it was newly registered; otherwise
  // [reason] says why not.
  bool AddCreator(CreatorKind kind, const std::string& id, std::string* reason = nullptr);
  // Removes [id] (exact comparison) from the list and its registration from the scope that
  // takes writes. A registration its catalogue refused at start-up, so not listed, is removed
  // from that file too. True when the registration was deleted; otherwise [reason] says why not.
  bool RemoveCreator(CreatorKind kind, const std::string& id, std::string* reason = nullptr);
  // The creators registered and accepted by their catalogue, in order.
  std::vector<std::string> Creators(CreatorKind kind) const;
  // Every identifier registered in the two files as they stand now, accepted or not (machine
  // first, each once). Unreadable files contribute nothing.
  std::vector<std::string> StoredCreators(CreatorKind kind) const;

  // ---- Mail settings. Writes go to the machine scope when it can be written, else the user's.
  Status SetSmtpServerName(const std::string& name);
  // An empty [password] clears the stored one. Nothing changes when encryption fails.
  Status SetSmtpAuthentication(const std::string& user_name, const std::string& password);
  // Refuses (E_INVALIDARG, [reason] says why, nothing changes) a recipient list in which a "<"
  // has no ">" before the next ";".
  Status SetEmailAddresses(const std::string& addresses, std::string* reason = nullptr);
  std::string SmtpServerName() const;
  std::string SmtpUserName() const;
  std::string EmailAddresses() const;
  // The stored password, decrypted; empty when there is none.
  std::string SmtpPassword() const;
  MailSettings Mail() const;
  // The password bytes as stored (encrypted).
  std::string EncryptedSmtpPassword() const;

  // True when the machine scope's file can be opened for writing.
  bool HasAdminRights() const;
  // The scope that takes creator and mail changes: the machine's when it can be written.
  SettingsScope SharedSettingsScope() const;

  // The two files this manager reads and writes.
  const std::string& Path(SettingsScope scope) const;
  // Problems met while reading the files at creation, one line each, naming the file.
  std::vector<std::string> LoadErrors() const;
  // The problem met reading [scope]'s file at creation; empty when it was read (or absent).
  std::string LoadError(SettingsScope scope) const;
  // The message of the last operation that failed on a file; empty when none has.
  std::string LastError() const;

 private:
  struct Scope {
    explicit Scope(std::string path, mode_t mode) : file(std::move(path), mode) {}
    SettingsFile file;
    std::map<std::string, std::string> variables;
    std::string load_error;
  };

  void ReadScope(SettingsScope which);
  Scope& ScopeOf(SettingsScope which) { return which == SettingsScope::kMachine ? machine_ : user_; }
  const Scope& ScopeOf(SettingsScope which) const {
    return which == SettingsScope::kMachine ? machine_ : user_;
  }
  SettingsScope WriteScope() const;
  bool CanWrite(SettingsScope scope) const;
  bool Offer(CreatorKind kind, const std::string& id) const;
  bool RegisterCreator(CreatorKind kind, const std::string& id, std::string* reason);
  std::vector<std::string>& CreatorList(CreatorKind kind) {
    return kind == CreatorKind::kTester ? tester_creators_ : batch_item_creators_;
  }
  // Runs a locked read-modify-write on [scope]'s file; records the error when it fails.
  bool Modify(SettingsScope scope, const std::function<bool(SettingsKey& ordalis)>& change);
  // Writes the "SMTP" value [name]: deleted first, then written when [value] is not empty.
  bool WriteMailValue(const std::string& name, const SettingsValue& value);

  ManagerOptions options_;
  mutable std::mutex mutex_;
  Scope machine_;
  Scope user_;
  std::vector<std::string> tester_creators_;
  std::vector<std::string> batch_item_creators_;
  std::string smtp_server_name_;
  std::string smtp_user_name_;
  std::string smtp_password_;  // encrypted bytes
  std::string email_addresses_;
  std::string last_error_;
};

// Checks [addresses] as a recipient list: entries separated by ";", each an address or a display
// name followed by an address in "<" and ">". False, with [reason] set, when an entry has a "<"
// without a ">" after it.
bool IsValidRecipientList(const std::string& addresses, std::string* reason);

// The component's version text and build time ("Aug  7 2012 21:31:46").
std::string ComponentVersion();
std::string BuildTimeStamp();

}  // namespace ordalis::settings

namespace ordalis {
using settings::Manager;
using settings::MailSettings;
}  // namespace ordalis
