#include "settings/manager.h"

#include <thread>

#include <gtest/gtest.h>

#include "links/encrypt.h"
#include "settings/application_manager.h"
#include "settings_test_support.h"

namespace ordalis::settings {
namespace {

using testing::ReadBytes;
using testing::SettingsDirectory;
using testing::WriteBytes;

// Identifiers starting "{BAD" are refused by the stand-in catalogues.
bool StandInCatalogue(CreatorKind, const std::string& id) { return id.rfind("{BAD", 0) != 0; }

// Default locations (the environment overrides), the stand-in catalogues and the real probe.
ManagerOptions StandInOptions() {
  ManagerOptions options;
  options.offer_creator = StandInCatalogue;
  return options;
}

// The value [name] of key [path] below the Ordalis key of the file at [file]; nullopt when absent.
std::optional<SettingsValue> Stored(const std::string& file, const std::string& path,
                                    const std::string& name) {
  SettingsKey root;
  std::string error;
  if (SettingsFile(file).Read(&root, &error) != SettingsFile::ReadStatus::kOk) return std::nullopt;
  const SettingsKey* key = root.Find(std::string(kOrdalisKeyPath) + "\\" + path);
  if (!key || !key->Value(name)) return std::nullopt;
  return *key->Value(name);
}

bool HasKey(const std::string& file, const std::string& path) {
  SettingsKey root;
  std::string error;
  SettingsFile(file).Read(&root, &error);
  return root.Find(std::string(kOrdalisKeyPath) + "\\" + path) != nullptr;
}

class ManagerTest : public ::testing::Test {
 protected:
  // A manager over the fixture's files (named through the environment overrides).
  std::unique_ptr<Manager> Make() {
    ManagerOptions options;
    options.offer_creator = [this](CreatorKind kind, const std::string& id) {
      offered_.push_back(id);
      return StandInCatalogue(kind, id);
    };
    if (!machine_writable_) {
      options.can_write = [](SettingsScope scope) { return scope == SettingsScope::kUser; };
    }
    return std::make_unique<Manager>(std::move(options));
  }

  SettingsDirectory dir_;
  bool machine_writable_ = true;
  std::vector<std::string> offered_;
};

TEST_F(ManagerTest, VariableNamesAreLowerCaseAndValuesExact) {
  auto manager = Make();
  CApplicationManager app(*manager);
  ASSERT_EQ(app.AddUserVariable("Build", "12"), S_OK);
  std::string text;
  ASSERT_EQ(app.get_UserVariableValue("BUILD", &text), S_OK);
  EXPECT_EQ(text, "12");
  ASSERT_EQ(app.get_UserVariableNames(0, &text), S_OK);
  EXPECT_EQ(text, "build");
  ASSERT_EQ(app.get_UserVariableNames(1, &text), S_OK);
  EXPECT_EQ(text, "");
  ASSERT_EQ(app.AddUserVariable("Path", " \"C:\\x\" "), S_OK);
  EXPECT_EQ(manager->VariableValue(SettingsScope::kUser, "path"), " \"C:\\x\" ");
  // A new manager reads the same back from the file.
  auto again = Make();
  EXPECT_EQ(again->Variables(SettingsScope::kUser),
            (std::map<std::string, std::string>{{"build", "12"}, {"path", " \"C:\\x\" "}}));
  EXPECT_EQ(Stored(dir_.user(), "Variables\\Build", "Value"),
            (SettingsValue{ValueType::kString, "12"}));
}

TEST_F(ManagerTest, BytesThatAreNotUtf8) {
  auto manager = Make();
  const std::string latin1 = "caf\xe9";
  ASSERT_EQ(manager->AddVariable(SettingsScope::kUser, "text", latin1), S_OK);
  EXPECT_EQ(Make()->VariableValue(SettingsScope::kUser, "text"), latin1);
  // A name JSON cannot hold is refused rather than changed.
  const std::string before = ReadBytes(dir_.user());
  EXPECT_EQ(manager->AddVariable(SettingsScope::kUser, latin1, "1"), E_FAIL);
  EXPECT_NE(manager->LastError().find("is not UTF-8"), std::string::npos) << manager->LastError();
  EXPECT_EQ(manager->VariableValue(SettingsScope::kUser, latin1), "");
  EXPECT_EQ(ReadBytes(dir_.user()), before);
}

TEST_F(ManagerTest, CombinedViewPrefersUserVariables) {
  auto manager = Make();
  ASSERT_EQ(manager->AddVariable(SettingsScope::kMachine, "Shared", "system"), S_OK);
  ASSERT_EQ(manager->AddVariable(SettingsScope::kMachine, "OnlySystem", "s"), S_OK);
  ASSERT_EQ(manager->AddVariable(SettingsScope::kUser, "SHARED", "user"), S_OK);
  EXPECT_EQ(manager->CombinedVariableValue("shared"), "user");
  EXPECT_EQ(manager->CombinedVariableValue("onlysystem"), "s");
  EXPECT_EQ(manager->CombinedVariableValue("none"), "");
  ASSERT_EQ(manager->CombinedVariableCount(), 3u);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < 4; ++i) names.push_back(manager->CombinedVariableName(i));
  EXPECT_EQ(names, (std::vector<std::string>{"shared", "onlysystem", "shared", ""}));
}

TEST_F(ManagerTest, RemovingVariables) {
  auto manager = Make();
  CApplicationManager app(*manager);
  // No "Variables" key yet in the machine scope.
  EXPECT_EQ(app.RemoveSystemVariable("x"), E_FAIL);
  ASSERT_EQ(app.AddSystemVariable("Keep", "1"), S_OK);
  ASSERT_EQ(app.AddSystemVariable("Gone", "2"), S_OK);
  EXPECT_EQ(app.RemoveSystemVariable("missing"), S_OK);
  EXPECT_EQ(app.RemoveSystemVariable("GONE"), S_OK);
  std::uint32_t count = 0;
  ASSERT_EQ(app.get_SystemVariableCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(HasKey(dir_.machine(), "Variables\\Keep"));
  EXPECT_FALSE(HasKey(dir_.machine(), "Variables\\Gone"));
}

TEST_F(ManagerTest, CreatorsRegisterOnceAndRefusedOnesAreNeitherListedNorStored) {
  auto manager = Make();
  CApplicationManager app(*manager);
  VariantBool added = kVariantFalse;
  ASSERT_EQ(app.AddBatchQueueItemCreator("{B1}", &added), S_OK);
  EXPECT_EQ(added, kVariantTrue);
  ASSERT_EQ(app.AddBatchQueueItemCreator("{B1}", &added), S_OK);
  EXPECT_EQ(added, kVariantFalse);
  ASSERT_EQ(app.AddTesterCreator("{BAD-1}", &added), S_OK);
  EXPECT_EQ(added, kVariantFalse);
  ASSERT_EQ(app.AddTesterCreator("{T1}", &added), S_OK);
  EXPECT_EQ(added, kVariantTrue);
  EXPECT_EQ(manager->Creators(CreatorKind::kTester), std::vector<std::string>{"{T1}"});
  EXPECT_EQ(manager->Creators(CreatorKind::kBatchItem), std::vector<std::string>{"{B1}"});
  EXPECT_FALSE(HasKey(dir_.machine(), "TesterCreators\\{BAD-1}"));
  EXPECT_TRUE(HasKey(dir_.machine(), "TesterCreators\\{T1}"));
  EXPECT_TRUE(HasKey(dir_.machine(), "BatchQueueItemCreators\\{B1}"));

  std::string id;
  ASSERT_EQ(app.get_TesterCreators(1, &id), S_OK);
  EXPECT_EQ(id, "");
  VariantBool removed = kVariantFalse;
  ASSERT_EQ(app.RemoveTesterCreator("{t1}", &removed), S_OK);  // list comparison is exact
  EXPECT_EQ(removed, kVariantFalse);
  ASSERT_EQ(app.RemoveTesterCreator("{T1}", &removed), S_OK);
  EXPECT_EQ(removed, kVariantTrue);
  EXPECT_TRUE(manager->Creators(CreatorKind::kTester).empty());
  EXPECT_FALSE(HasKey(dir_.machine(), "TesterCreators\\{T1}"));
}

TEST_F(ManagerTest, CreationReadsMachineThenUserAndOffersEveryCreator) {
  {
    auto writer = Make();
    writer->AddVariable(SettingsScope::kMachine, "sys", "1");
    writer->AddCreator(CreatorKind::kTester, "{M}");
    writer->SetSmtpServerName("machine.example");
    writer->SetEmailAddresses("machine@example");
  }
  {
    machine_writable_ = false;  // now everything shared lands in the user's file
    auto writer = Make();
    writer->AddVariable(SettingsScope::kUser, "usr", "2");
    writer->AddCreator(CreatorKind::kTester, "{U}");
    writer->SetSmtpServerName("user.example");
  }
  // Reading changes neither file.
  std::string user_before = ReadBytes(dir_.user());
  offered_.clear();
  auto manager = Make();
  EXPECT_EQ(offered_, (std::vector<std::string>{"{M}", "{U}"}));
  EXPECT_EQ(manager->Creators(CreatorKind::kTester), (std::vector<std::string>{"{M}", "{U}"}));
  EXPECT_EQ(manager->VariableValue(SettingsScope::kMachine, "sys"), "1");
  EXPECT_EQ(manager->VariableValue(SettingsScope::kUser, "usr"), "2");
  EXPECT_EQ(manager->SmtpServerName(), "user.example");      // the user's value wins
  EXPECT_EQ(manager->EmailAddresses(), "machine@example");   // kept where the user has none
  EXPECT_TRUE(manager->LoadErrors().empty());
  EXPECT_EQ(ReadBytes(dir_.user()), user_before);
}

// Reading the settings never writes them: missing files stay missing, and a file without the
// product's key (or without its creator keys) stays byte for byte; the first change makes the keys.
TEST_F(ManagerTest, CreationWritesNothing) {
  {
    auto manager = Make();
    EXPECT_TRUE(manager->LoadErrors().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.user()));
  EXPECT_FALSE(std::filesystem::exists(dir_.machine()));
  std::string other = "{\"keys\":{\"SOFTWARE\":{\"keys\":{\"Other\":{}}}}}";
  std::string product = "{\"keys\":{\"SOFTWARE\":{\"keys\":{\"Marrowind Consulting Ltd\":"
                        "{\"keys\":{\"Ordalis\":{}}}}}}}";
  WriteBytes(dir_.user(), other);
  WriteBytes(dir_.machine(), product);
  {
    auto manager = Make();
    EXPECT_EQ(ReadBytes(dir_.user()), other);
    EXPECT_EQ(ReadBytes(dir_.machine()), product);
    EXPECT_EQ(manager->AddVariable(SettingsScope::kUser, "x", "1"), S_OK);
  }
  EXPECT_TRUE(HasKey(dir_.user(), ""));
  EXPECT_NE(ReadBytes(dir_.user()).find("\"Other\""), std::string::npos);
}

TEST_F(ManagerTest, OnlyStringVariablesAndMatchingMailTypesAreTaken) {
  SettingsKey root;
  SettingsKey& key = root.Create(kOrdalisKeyPath);
  key.Create("Variables\\good").SetValue("Value", {ValueType::kString, "yes"});
  key.Create("Variables\\expand").SetValue("Value", {ValueType::kExpandString, "no"});
  key.Create("Variables\\binary").SetValue("Value", {ValueType::kBinary, "no"});
  key.Create("Variables\\empty");
  key.Create("SMTP").SetValue("Server Name", {ValueType::kExpandString, "mail.example"});
  key.CreateSubkey("SMTP").SetValue("Password", {ValueType::kString, "plain"});
  WriteBytes(dir_.machine(), testing::Written(root));
  auto manager = Make();
  EXPECT_EQ(manager->Variables(SettingsScope::kMachine),
            (std::map<std::string, std::string>{{"good", "yes"}}));
  EXPECT_EQ(manager->SmtpServerName(), "mail.example");
  EXPECT_EQ(manager->EncryptedSmtpPassword(), "");
}

TEST_F(ManagerTest, PasswordIsStoredEncryptedAndDecryptsAfterRestart) {
  {
    auto manager = Make();
    ASSERT_EQ(manager->SetSmtpAuthentication("bob", "s3cret pass"), S_OK);
    ASSERT_EQ(manager->SetSmtpServerName("mail.example:2525"), S_OK);
    ASSERT_EQ(manager->SetEmailAddresses("Team <team@example>; lead@example"), S_OK);
  }
  auto stored = Stored(dir_.machine(), "SMTP", "Password");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, ValueType::kBinary);
  EXPECT_NE(stored->data, "s3cret pass");
  EXPECT_EQ(ReadBytes(dir_.machine()).find("s3cret"), std::string::npos);
  // The stored bytes are the password under RC4 with an 8-character phrase.
  std::string plain = stored->data;
  ASSERT_TRUE(Encrypt("Mrw1ndCL").Apply(plain));
  EXPECT_EQ(plain, "s3cret pass");

  auto manager = Make();
  MailSettings mail = manager->Mail();
  EXPECT_EQ(mail.server_name, "mail.example:2525");
  EXPECT_EQ(mail.user_name, "bob");
  EXPECT_EQ(mail.password, "s3cret pass");
  EXPECT_EQ(mail.email_addresses, "Team <team@example>; lead@example");
}

TEST_F(ManagerTest, EmptyTextsDeleteTheirValues) {
  auto manager = Make();
  CApplicationManager app(*manager);
  ASSERT_EQ(app.smtpAuthentication("bob", "pw"), S_OK);
  ASSERT_EQ(app.put_SMTPServerName("mail.example"), S_OK);
  ASSERT_EQ(app.put_EmailAddresses("a@example"), S_OK);
  ASSERT_EQ(app.smtpAuthentication("bob", ""), S_OK);
  EXPECT_FALSE(Stored(dir_.machine(), "SMTP", "Password").has_value());
  EXPECT_TRUE(Stored(dir_.machine(), "SMTP", "User Name").has_value());
  EXPECT_EQ(manager->SmtpPassword(), "");
  ASSERT_EQ(app.smtpAuthentication("", ""), S_OK);
  ASSERT_EQ(app.put_SMTPServerName(""), S_OK);
  ASSERT_EQ(app.put_EmailAddresses(""), S_OK);
  for (const char* name : {"User Name", "Server Name", "Email Addresses"}) {
    EXPECT_FALSE(Stored(dir_.machine(), "SMTP", name).has_value()) << name;
  }
}

struct RecipientCase {
  const char* list;
  bool accepted;
};

void PrintTo(const RecipientCase& row, std::ostream* out) { *out << '"' << row.list << '"'; }

class RecipientListTest : public ManagerTest, public ::testing::WithParamInterface<RecipientCase> {};

TEST_P(RecipientListTest, RefusedListLeavesTheOldOne) {
  auto manager = Make();
  CApplicationManager app(*manager);
  ASSERT_EQ(app.put_EmailAddresses("old@example"), S_OK);
  Status status = app.put_EmailAddresses(GetParam().list);
  std::string now;
  ASSERT_EQ(app.get_EmailAddresses(&now), S_OK);
  if (GetParam().accepted) {
    EXPECT_EQ(status, S_OK);
    EXPECT_EQ(now, GetParam().list);
  } else {
    EXPECT_TRUE(Failed(status));
    EXPECT_EQ(now, "old@example");
    EXPECT_EQ(Stored(dir_.machine(), "SMTP", "Email Addresses")->data, "old@example");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecipientListTest,
    ::testing::Values(RecipientCase{"Team <team@example>; lead@example", true},
                      RecipientCase{"Team <team@example; lead@example", false},
                      RecipientCase{"Team <team@example", false},
                      RecipientCase{"a@example;Team <x@example>;B <b", false},
                      RecipientCase{"a@example;;b@example", true},
                      RecipientCase{"x> <y", false},
                      RecipientCase{"", true}));

TEST_F(ManagerTest, SharedSettingsFallBackToTheUserWhenTheMachineCannotBeWritten) {
  machine_writable_ = false;
  auto manager = Make();
  CApplicationManager app(*manager);
  VariantBool flag = kVariantTrue;
  ASSERT_EQ(app.HasAdminRights(&flag), S_OK);
  EXPECT_EQ(flag, kVariantFalse);
  ASSERT_EQ(app.AddTesterCreator("{T}", &flag), S_OK);
  EXPECT_EQ(flag, kVariantTrue);
  ASSERT_EQ(app.put_SMTPServerName("mail.example"), S_OK);
  EXPECT_TRUE(HasKey(dir_.user(), "TesterCreators\\{T}"));
  EXPECT_TRUE(Stored(dir_.user(), "SMTP", "Server Name").has_value());
  EXPECT_FALSE(std::filesystem::exists(dir_.machine()));
  ASSERT_EQ(app.RemoveTesterCreator("{T}", &flag), S_OK);
  EXPECT_EQ(flag, kVariantTrue);
  EXPECT_FALSE(HasKey(dir_.user(), "TesterCreators\\{T}"));
}

TEST_F(ManagerTest, RegistrationThatCannotBeDeletedStaysListed) {
  {
    auto admin = Make();
    ASSERT_TRUE(admin->AddCreator(CreatorKind::kTester, "{M}"));
  }
  machine_writable_ = false;
  auto manager = Make();
  std::string reason;
  EXPECT_FALSE(manager->RemoveCreator(CreatorKind::kTester, "{M}", &reason));
  EXPECT_NE(reason.find("not registered in " + dir_.user()), std::string::npos) << reason;
  EXPECT_EQ(manager->Creators(CreatorKind::kTester), std::vector<std::string>{"{M}"});
  EXPECT_TRUE(HasKey(dir_.machine(), "TesterCreators\\{M}"));
}

// The same fall-back with a machine file this process really cannot write.
TEST_F(ManagerTest, ReadOnlyMachineFileSendsSharedSettingsToTheUser) {
  {
    auto writer = Make();
    ASSERT_EQ(writer->AddVariable(SettingsScope::kMachine, "sys", "1"), S_OK);
  }
  if (!dir_.MakeReadOnly(dir_.machine())) GTEST_SKIP() << "cannot make a file read-only here";
  const std::string machine_before = ReadBytes(dir_.machine());
  auto manager = std::make_unique<Manager>(StandInOptions());
  EXPECT_FALSE(manager->HasAdminRights());
  EXPECT_EQ(manager->VariableValue(SettingsScope::kMachine, "sys"), "1");
  EXPECT_TRUE(manager->AddCreator(CreatorKind::kBatchItem, "{B}"));
  EXPECT_EQ(manager->SetSmtpAuthentication("bob", "pw"), S_OK);
  EXPECT_TRUE(HasKey(dir_.user(), "BatchQueueItemCreators\\{B}"));
  EXPECT_TRUE(Stored(dir_.user(), "SMTP", "Password").has_value());
  // A system variable cannot be stored, so it is not taken either.
  EXPECT_EQ(manager->AddVariable(SettingsScope::kMachine, "new", "2"), E_FAIL);
  EXPECT_NE(manager->LastError().find(dir_.machine()), std::string::npos) << manager->LastError();
  EXPECT_EQ(manager->VariableValue(SettingsScope::kMachine, "new"), "");
  EXPECT_EQ(manager->RemoveVariable(SettingsScope::kMachine, "sys"), E_FAIL);
  EXPECT_EQ(manager->VariableValue(SettingsScope::kMachine, "sys"), "1");
  EXPECT_EQ(ReadBytes(dir_.machine()), machine_before);
}

TEST_F(ManagerTest, HasAdminRightsWithAWritableMachineFile) {
  auto manager = std::make_unique<Manager>(StandInOptions());
  EXPECT_TRUE(manager->HasAdminRights());
  EXPECT_EQ(manager->SharedSettingsScope(), SettingsScope::kMachine);
}

TEST_F(ManagerTest, CorruptUserFileIsReportedAndLeftByteForByte) {
  const std::string corrupt = "{\"keys\": {\"SOFTWARE\": {\"keys\": ";
  WriteBytes(dir_.user(), corrupt);
  auto manager = Make();
  ASSERT_EQ(manager->LoadErrors().size(), 1u);
  EXPECT_NE(manager->LoadError(SettingsScope::kUser).find(dir_.user()), std::string::npos);
  EXPECT_NE(manager->LoadError(SettingsScope::kUser).find("parse error"), std::string::npos);
  EXPECT_EQ(manager->AddVariable(SettingsScope::kUser, "x", "1"), E_FAIL);
  EXPECT_NE(manager->LastError().find(dir_.user()), std::string::npos);
  EXPECT_EQ(manager->VariableCount(SettingsScope::kUser), 0u);
  EXPECT_EQ(manager->RemoveVariable(SettingsScope::kUser, "x"), E_FAIL);
  EXPECT_EQ(ReadBytes(dir_.user()), corrupt);
  // The machine scope is unaffected.
  EXPECT_EQ(manager->AddVariable(SettingsScope::kMachine, "x", "1"), S_OK);
}

TEST_F(ManagerTest, ConcurrentManagersInSeparateProcessesKeepEveryVariable) {
  constexpr int kProcesses = 6;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      auto manager = std::make_unique<Manager>(StandInOptions());
      char byte;
      while (::read(gate[0], &byte, 1) > 0) {
      }
      std::string name = "var" + std::to_string(p);
      bool ok = manager->AddVariable(SettingsScope::kUser, name, name) == S_OK &&
                manager->AddCreator(CreatorKind::kTester, "{" + name + "}");
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto manager = Make();
  EXPECT_EQ(manager->VariableCount(SettingsScope::kUser), static_cast<std::size_t>(kProcesses));
  EXPECT_EQ(manager->Creators(CreatorKind::kTester).size(), static_cast<std::size_t>(kProcesses));
}

TEST_F(ManagerTest, ThreadsShareOneManager) {
  auto manager = Make();
  constexpr int kThreads = 4;
  constexpr int kEach = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(manager->AddVariable(SettingsScope::kUser, name, name), S_OK);
        EXPECT_EQ(manager->CombinedVariableValue(name), name);
        manager->CombinedVariableName(manager->CombinedVariableCount() - 1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Make()->VariableCount(SettingsScope::kUser), static_cast<std::size_t>(kThreads * kEach));
}

TEST_F(ManagerTest, NullOutPointers) {
  auto manager = Make();
  CApplicationManager app(*manager);
  EXPECT_EQ(app.get_SystemVariableValue("x", nullptr), E_POINTER);
  EXPECT_EQ(app.get_UserVariableCount(nullptr), E_POINTER);
  EXPECT_EQ(app.AddTesterCreator("{T}", nullptr), E_POINTER);
  EXPECT_EQ(app.get_AllTestCreators(0, nullptr), E_POINTER);
  EXPECT_EQ(app.HasAdminRights(nullptr), E_POINTER);
  EXPECT_EQ(app.LoadResults("x", nullptr), E_POINTER);
  EXPECT_EQ(app.get_smtpAuthenticationUserName(nullptr), E_FAIL);
  EXPECT_EQ(app.get_EmailAddresses(nullptr), E_FAIL);
  EXPECT_TRUE(manager->Creators(CreatorKind::kTester).empty());
}

TEST_F(ManagerTest, VersionAndBuildTimeStamp) {
  auto manager = Make();
  CApplicationManager app(*manager);
  std::string text;
  ASSERT_EQ(app.get_Version(&text), S_OK);
  EXPECT_EQ(text, "4.0n");
  ASSERT_EQ(app.get_BuildTimeStamp(&text), S_OK);
  // "Aug  7 2012 21:31:46": month, day padded with a space, year, time.
  ASSERT_EQ(text.size(), 20u) << text;
  EXPECT_NE(std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(text.substr(0, 3)),
            std::string::npos)
      << text;
  std::string mask;
  for (char c : text.substr(3)) mask += (c >= '0' && c <= '9') ? '#' : c;
  EXPECT_TRUE(mask == " ## #### ##:##:##" || mask == "  # #### ##:##:##") << text;
  EXPECT_EQ(app.LoadCreators(), S_OK);
  EXPECT_EQ(app.UnloadCreators(), S_OK);
}

// ---- LoadResults ---------------------------------------------------------------------------

class LoadResultsTest : public ManagerTest {
 protected:
  void TearDown() override {
    RegisterResultsLoader(ResultsKind::kBatch, nullptr);
    RegisterResultsLoader(ResultsKind::kScript, nullptr);
  }
  std::string Results(const std::string& root) {
    std::string path = dir_.dir() + "/results.xml";
    WriteBytes(path,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<?xml-stylesheet type=\"text/xsl\" href=\"x.xsl\"?>\n<" +
                   root + " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n</" + root +
                   ">\n");
    return path;
  }
};

struct Loaded : IUnknown {};

TEST_F(LoadResultsTest, RecognisesBothKinds) {
  auto manager = Make();
  CApplicationManager app(*manager);
  std::shared_ptr<IUnknown> object = std::make_shared<Loaded>();
  EXPECT_EQ(app.LoadResults(dir_.dir() + "/missing.xml", &object), E_FAIL);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(app.LoadResults(Results("odl_script_result"), &object), S_OK);
  EXPECT_EQ(object, nullptr);
  // Batch results need a batch queue to load them into: without the batch subsystem's loader
  // (it registers one when the library loads), they cannot be loaded.
  RegisterResultsLoader(ResultsKind::kBatch, nullptr);
  EXPECT_EQ(app.LoadResults(Results("odl_batch_result"), &object), E_FAIL);
  EXPECT_EQ(object, nullptr);

  std::string loaded_from;
  auto made = std::make_shared<Loaded>();
  RegisterResultsLoader(ResultsKind::kBatch,
                        [&](const std::string& file, std::shared_ptr<IUnknown>* out) {
                          loaded_from = file;
                          *out = made;
                          return S_OK;
                        });
  const std::string batch = Results("odl_batch_result");
  EXPECT_EQ(app.LoadResults(batch, &object), S_OK);
  EXPECT_EQ(object, made);
  EXPECT_EQ(loaded_from, batch);
  EXPECT_EQ(app.LoadResults(Results("odl_script_result"), &object), S_OK);
  EXPECT_EQ(object, nullptr);
}

TEST_F(LoadResultsTest, ShortFilesAndThrowingLoaders) {
  auto manager = Make();
  CApplicationManager app(*manager);
  std::shared_ptr<IUnknown> object;
  const std::string two_lines = dir_.dir() + "/short.xml";
  WriteBytes(two_lines, "<?xml?>\n<odl_batch_result>\n");
  EXPECT_EQ(app.LoadResults(two_lines, &object), S_OK);
  RegisterResultsLoader(ResultsKind::kScript,
                        [](const std::string&, std::shared_ptr<IUnknown>*) -> Status {
                          throw std::runtime_error("broken");
                        });
  EXPECT_EQ(app.LoadResults(Results("odl_script_result"), &object), E_FAIL);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
}  // namespace ordalis::settings
