#include "settings/settings_store.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings_test_support.h"

namespace ordalis::settings {
namespace {

using testing::ReadBytes;
using testing::SettingsDirectory;
using testing::WriteBytes;

TEST(SettingsKey, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  SettingsKey root;
  root.Create("SOFTWARE\\Vendor\\Product").SetValue("Server Name", {ValueType::kString, "a"});
  ASSERT_NE(root.Find("software\\VENDOR\\product"), nullptr);
  root.Create("software\\vendor\\PRODUCT").SetValue("server name", {ValueType::kString, "b"});
  const SettingsKey* product = root.Find("SOFTWARE\\Vendor\\Product");
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(root.Find("SOFTWARE")->SubkeyNames(), std::vector<std::string>{"Vendor"});
  EXPECT_EQ(product->Value("SERVER NAME")->data, "b");
  // A name given whole keeps its backslash instead of making a path.
  SettingsKey copy = *product;
  copy.CreateSubkey("a\\b");
  EXPECT_EQ(copy.SubkeyNames(), std::vector<std::string>{"a\\b"});
  EXPECT_TRUE(copy.DeleteSubkey("A\\B"));
  EXPECT_FALSE(copy.DeleteSubkey("a\\b"));
  EXPECT_TRUE(copy.DeleteValue("Server Name"));
  EXPECT_FALSE(copy.DeleteValue("Server Name"));
}

TEST(SettingsJson, RoundTripsEveryValueTypeAndKeepsOrder) {
  SettingsKey root;
  SettingsKey& key = root.Create("SOFTWARE\\Marrowind Consulting Ltd\\Ordalis");
  key.CreateSubkey("zeta");
  key.CreateSubkey("alpha");
  key.SetValue("text", {ValueType::kString, "caf\xc3\xa9 \"quoted\""});
  key.SetValue("path", {ValueType::kExpandString, "$HOME/x"});
  key.SetValue("bytes", {ValueType::kBinary, std::string("\x00\xff\x10 ", 4)});
  key.SetValue("latin1", {ValueType::kString, "caf\xe9"});
  std::string text = testing::Written(root);
  EXPECT_NE(text.find("\"hex\":\"636166e9\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"00ff1020\""), std::string::npos) << text;  // binary as hexadecimal
  SettingsKey back;
  std::string error;
  ASSERT_TRUE(SettingsJson::Read(text, &back, &error)) << error;
  EXPECT_EQ(back, root);
  EXPECT_EQ(back.Find(kOrdalisKeyPath)->SubkeyNames(), (std::vector<std::string>{"zeta", "alpha"}));
}

struct BadContent {
  const char* name;
  const char* text;
  const char* message_part;
};

void PrintTo(const BadContent& row, std::ostream* out) { *out << row.name; }

class SettingsJsonRejects : public ::testing::TestWithParam<BadContent> {};

TEST_P(SettingsJsonRejects, WithAMessage) {
  SettingsKey root;
  std::string error;
  EXPECT_FALSE(SettingsJson::Read(GetParam().text, &root, &error));
  EXPECT_NE(error.find(GetParam().message_part), std::string::npos) << error;
  EXPECT_EQ(root, SettingsKey());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsJsonRejects,
    ::testing::Values(
        BadContent{"truncated", "{\"keys\": {\"SOFTWARE\": {", "parse error"},
        BadContent{"not_an_object", "[1, 2]", "is not a JSON object"},
        BadContent{"unknown_member", "{\"colour\": 1}", "unexpected member 'colour'"},
        BadContent{"unknown_type", "{\"values\": {\"v\": {\"type\": \"REG_DWORD\", \"data\": \"1\"}}}",
                   "value 'v'"},
        BadContent{"odd_hex", "{\"values\": {\"v\": {\"type\": \"REG_BINARY\", \"data\": \"abc\"}}}",
                   "value 'v'"},
        BadContent{"bad_hex", "{\"values\": {\"v\": {\"type\": \"REG_BINARY\", \"data\": \"zz\"}}}",
                   "value 'v'"},
        BadContent{"nested_bad_key", "{\"keys\": {\"A\": {\"keys\": {\"B\": 5}}}}", "key 'A\\B'"}),
    [](const auto& info) { return info.param.name; });

// Nesting is bounded on reading and writing; the text is compact, so its size follows the
// content and not the depth.
TEST(SettingsJson, NestingIsBoundedAndTheTextCompact) {
  auto nested_keys = [](int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "{\"keys\":{\"k\":";
    text += "{}";
    for (int i = 0; i < depth; ++i) text += "}}";
    return text;
  };
  SettingsKey root;
  std::string error;
  ASSERT_TRUE(SettingsJson::Read(nested_keys(kMaxKeyDepth), &root, &error)) << error;
  std::string text = testing::Written(root);
  EXPECT_EQ(text, nested_keys(kMaxKeyDepth) + "\n");
  for (const std::string& hostile :
       {nested_keys(kMaxKeyDepth + 1), std::string(100000, '[') + std::string(100000, ']'),
        std::string(100000, '[')}) {
    EXPECT_FALSE(SettingsJson::Read(hostile, &root, &error));
    EXPECT_NE(error.find("nested deeper than 512"), std::string::npos) << error;
    EXPECT_EQ(root, SettingsKey());
  }
  // A tree made deeper in memory than a file may hold is refused, not written.
  SettingsKey deep;
  SettingsKey* key = &deep;
  for (int i = 0; i <= kMaxKeyDepth; ++i) key = &key->CreateSubkey("k");
  EXPECT_FALSE(SettingsJson::Write(deep, &text, &error));
  EXPECT_NE(error.find("nested deeper than 512"), std::string::npos) << error;
}

// A name given twice in one JSON object keeps its first place and its last content, as the
// object holds it; the reader builds the tree as it parses, so it keeps that rule itself.
TEST(SettingsJson, ANameGivenTwiceKeepsItsPlaceAndItsLastContent) {
  struct Row {
    const char* text;
    std::vector<std::string> subkeys;
    std::vector<std::pair<std::string, std::string>> values;  // of the first subkey, else the root
  };
  const Row rows[] = {
      {R"({"keys":{"A":{"values":{"v":{"type":"REG_SZ","data":"1"}}},"B":{},"A":{"values":{"w":{"type":"REG_SZ","data":"2"}}}}})",
       {"A", "B"}, {{"w", "2"}}},
      {R"({"values":{"v":{"type":"REG_SZ","data":"1"},"w":{"type":"REG_SZ","data":"2"},"v":{"type":"REG_SZ","data":"3"}}})",
       {}, {{"v", "3"}, {"w", "2"}}},
      {R"({"values":{"v":{"type":"REG_SZ","data":"1"}},"values":{"x":{"type":"REG_SZ","data":"4"}}})", {}, {{"x", "4"}}},
      {R"({"values":{"v":{"type":"REG_BINARY","data":"zz","data":"0a"}}})", {}, {{"v", "\n"}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    SettingsKey root;
    std::string error;
    ASSERT_TRUE(SettingsJson::Read(row.text, &root, &error)) << error;
    EXPECT_EQ(root.SubkeyNames(), row.subkeys);
    const SettingsKey& holder = row.subkeys.empty() ? root : *root.Subkey(row.subkeys.front());
    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& [name, value] : holder.Values()) values.emplace_back(name, value.data);
    EXPECT_EQ(values, row.values);
  }
}

TEST(SettingsJson, EmptyTextIsAnEmptyTree) {
  SettingsKey root;
  std::string error;
  EXPECT_TRUE(SettingsJson::Read(" \n", &root, &error));
  EXPECT_EQ(root, SettingsKey());
}

// A change that adds the key [path].
std::function<bool(SettingsKey&)> AddKey(std::string path) {
  return [path](SettingsKey& root) {
    root.Create(path);
    return true;
  };
}

class SettingsFileTest : public ::testing::Test {
 protected:
  SettingsDirectory dir_;
};

TEST_F(SettingsFileTest, ModifyCreatesDirectoriesAndReadsBack) {
  SettingsFile file(dir_.user(), 0600);
  SettingsKey root;
  std::string error;
  EXPECT_EQ(file.Read(&root, &error), SettingsFile::ReadStatus::kMissing);
  ASSERT_TRUE(file.Modify(
      [](SettingsKey& key) {
        key.Create("A\\B").SetValue("v", {ValueType::kString, "1"});
        return true;
      },
      &error))
      << error;
  ASSERT_EQ(file.Read(&root, &error), SettingsFile::ReadStatus::kOk) << error;
  EXPECT_EQ(root.Find("a\\b")->Value("V")->data, "1");
  struct stat info;
  ASSERT_EQ(::stat(dir_.user().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary file is left beside it.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.dir() + "/user")) {
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(SettingsFileTest, CorruptFileIsReportedAndNeverOverwritten) {
  const std::string corrupt = "{\"keys\": {\"SOFTWARE\": ";
  WriteBytes(dir_.machine(), corrupt);
  SettingsFile file(dir_.machine());
  SettingsKey root;
  std::string error;
  EXPECT_EQ(file.Read(&root, &error), SettingsFile::ReadStatus::kError);
  EXPECT_NE(error.find(dir_.machine()), std::string::npos) << error;
  EXPECT_NE(error.find("parse error"), std::string::npos) << error;
  bool called = false;
  EXPECT_FALSE(file.Modify(
      [&](SettingsKey&) {
        called = true;
        return true;
      },
      &error));
  EXPECT_FALSE(called);
  EXPECT_NE(error.find(dir_.machine()), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(dir_.machine()), corrupt);
}

TEST_F(SettingsFileTest, ChangeThatAnswersFalseWritesNothing) {
  SettingsFile file(dir_.machine());
  std::string error;
  ASSERT_TRUE(file.Modify([](SettingsKey&) { return false; }, &error));
  EXPECT_FALSE(std::filesystem::exists(dir_.machine()));
}

TEST_F(SettingsFileTest, UnwritableFileIsNotReplacedAndCanWriteSaysSo) {
  SettingsFile file(dir_.machine());
  std::string error;
  ASSERT_TRUE(file.Modify(AddKey("A"), &error));
  EXPECT_TRUE(file.CanWrite());
  const std::string before = ReadBytes(dir_.machine());
  if (!dir_.MakeReadOnly(dir_.machine())) GTEST_SKIP() << "cannot make a file read-only here";
  EXPECT_FALSE(file.CanWrite());
  EXPECT_FALSE(file.Modify(AddKey("B"), &error));
  EXPECT_NE(error.find("cannot write " + dir_.machine()), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(dir_.machine()), before);
}

TEST_F(SettingsFileTest, MissingFileIsWritableWhereItsDirectoryCanBeMade) {
  EXPECT_TRUE(SettingsFile(dir_.dir() + "/a/b/c/settings.json").CanWrite());
  const std::string locked = dir_.dir() + "/locked";
  std::filesystem::create_directories(locked);
  if (!dir_.MakeReadOnly(locked)) GTEST_SKIP() << "cannot make a directory read-only here";
  SettingsFile below(locked + "/a/settings.json");
  EXPECT_FALSE(below.CanWrite());
  std::string error;
  EXPECT_FALSE(below.Modify(AddKey("A"), &error));
  EXPECT_NE(error.find(locked + "/a"), std::string::npos) << error;
}

TEST_F(SettingsFileTest, SymbolicLinkIsFollowedAndKept) {
  std::filesystem::create_directories(dir_.dir() + "/real");
  const std::string real = dir_.dir() + "/real/settings.json";
  WriteBytes(real, "{}");
  std::filesystem::create_directories(dir_.dir() + "/user");
  std::filesystem::create_symlink(real, dir_.user());
  SettingsFile file(dir_.user());
  std::string error;
  ASSERT_TRUE(file.Modify(AddKey("A"), &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.user()));
  EXPECT_NE(ReadBytes(real).find("\"A\""), std::string::npos);
}

// Several processes change the same file at the same moment; each keeps its change.
TEST_F(SettingsFileTest, ConcurrentProcessesKeepEveryChange) {
  constexpr int kProcesses = 8;
  constexpr int kChangesEach = 10;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) > 0) {
      }  // released when the parent closes its end
      SettingsFile file(dir_.user(), 0600);
      bool ok = true;
      for (int i = 0; i < kChangesEach; ++i) {
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        std::string error;
        ok = ok && file.Modify(
                       [&](SettingsKey& k) {
                         k.Create("Variables\\" + name).SetValue("Value", {ValueType::kString, name});
                         return true;
                       },
                       &error);
      }
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
  SettingsKey root;
  std::string error;
  ASSERT_EQ(SettingsFile(dir_.user()).Read(&root, &error), SettingsFile::ReadStatus::kOk) << error;
  EXPECT_EQ(root.Find("Variables")->SubkeyNames().size(),
            static_cast<std::size_t>(kProcesses * kChangesEach));
}

TEST(DefaultSettingsPath, EnvironmentOverridesAndXdgFallback) {
  ::setenv("ORDALIS_MACHINE_SETTINGS", "/x/m.json", 1);
  ::setenv("ORDALIS_USER_SETTINGS", "/x/u.json", 1);
  EXPECT_EQ(DefaultSettingsPath(SettingsScope::kMachine), "/x/m.json");
  EXPECT_EQ(DefaultSettingsPath(SettingsScope::kUser), "/x/u.json");
  ::unsetenv("ORDALIS_MACHINE_SETTINGS");
  ::unsetenv("ORDALIS_USER_SETTINGS");
  const char* old_config = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old_config ? old_config : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(DefaultSettingsPath(SettingsScope::kMachine), "/etc/ordalis/settings.json");
  EXPECT_EQ(DefaultSettingsPath(SettingsScope::kUser), "/cfg/ordalis/settings.json");
  if (old_config) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace ordalis::settings
