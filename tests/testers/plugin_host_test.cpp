#include "testers/plugin_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "testers/tester_proxy.h"
#include "testers_support.h"

namespace ordalis {
namespace {

using namespace testing_support;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

struct LoadedHost {
  std::vector<std::string> log;
  std::shared_ptr<PluginHost> host;
  explicit LoadedHost(const std::vector<std::string>& directories)
      : host(PluginHost::Create(directories, [this](const std::string& line) { log.push_back(line); })) {}
};

std::uint32_t TypeCount(ITesterCreator& creator) {
  std::uint32_t count = 0;
  EXPECT_EQ(creator.get_NumberOfTypes(&count), S_OK);
  return count;
}

TEST(PluginHost, LoadsTheProjectsModulesAndMakesTheirCreators) {
  LoadedHost loaded({kProjectPlugins});
  EXPECT_THAT(loaded.log, IsEmpty());
  EXPECT_THAT(loaded.host->TesterCreatorIds(), AllOf(Contains(kEchoId), Contains(kDemoId)));
  EXPECT_THAT(loaded.host->ModuleFile(kEchoId), EndsWith("/echo.so"));
  EXPECT_THAT(loaded.host->ModuleFile(kDemoId), EndsWith("/demo.so"));

  std::shared_ptr<ITesterCreator> echo;
  // Identifiers compare ignoring letter case, as class identifiers do.
  ASSERT_EQ(loaded.host->CreateTesterCreator("{ae96a215-dd09-45a8-9075-26d1616b16e9}", &echo), S_OK);
  ASSERT_TRUE(echo);
  EXPECT_EQ(TypeCount(*echo), 1u);
  auto versioned = std::dynamic_pointer_cast<ITesterCreator1>(echo);
  ASSERT_TRUE(versioned);
  std::string version;
  EXPECT_EQ(versioned->get_Version(&version), S_OK);
  EXPECT_EQ(version, "1.0");

  std::shared_ptr<ITesterCreator> demo;
  ASSERT_EQ(loaded.host->CreateTesterCreator(kDemoId, &demo), S_OK);
  ASSERT_TRUE(demo);
  EXPECT_EQ(TypeCount(*demo), 3u);
}

TEST(PluginHost, UnknownIdentifierGivesSuccessWithoutCreator) {
  LoadedHost loaded({kProjectPlugins});
  std::shared_ptr<ITesterCreator> creator = nullptr;
  EXPECT_EQ(loaded.host->CreateTesterCreator("{00000000-0000-0000-0000-000000000000}", &creator), S_OK);
  EXPECT_FALSE(creator);
  std::shared_ptr<IBatchQueueItemCreator> batch;
  EXPECT_EQ(loaded.host->CreateBatchQueueItemCreator(kEchoId, &batch), S_OK);
  EXPECT_FALSE(batch) << "a tester creator identifier names no batch item creator";
  EXPECT_EQ(loaded.host->CreateTesterCreator(kEchoId, nullptr), E_POINTER);
}

struct BrokenModule {
  const char* file;
  const char* reason;
  friend void PrintTo(const BrokenModule& row, std::ostream* out) { *out << row.file << ": " << row.reason; }
};

class BrokenModules : public ::testing::TestWithParam<BrokenModule> {};

TEST_P(BrokenModules, AreReportedWithFileAndReasonAndSkipped) {
  LoadedHost loaded({kBrokenFixtures});
  const BrokenModule& row = GetParam();
  std::string path = kBrokenFixtures + "/" + row.file;
  EXPECT_THAT(loaded.log, Contains(AllOf(HasSubstr(path), HasSubstr(row.reason))));
  EXPECT_THAT(loaded.host->Modules(), Not(Contains(path)));
}

INSTANTIATE_TEST_SUITE_P(
    Loader, BrokenModules,
    ::testing::Values(BrokenModule{"no_entry.so", "has no entry point ordalis_plugin_v1"},
                      BrokenModule{"throws.so", "registration threw: registration exploded"},
                      BrokenModule{"wrong_abi.so", "built for plug-in interface version 99"},
                      BrokenModule{"empty.so", "registers no creators"},
                      BrokenModule{"helper_throws.so", "registration failed: half way"},
                      BrokenModule{"helper_throws.so", "refused this engine"},
                      BrokenModule{"not_a_library.so", "not loaded"}));

TEST(PluginHost, BrokenModulesLeaveTheGoodOnesUsable) {
  LoadedHost loaded({kBrokenFixtures, kGoodFixtures});
  // helper_throws registered a creator before it threw; none of its registrations is kept.
  EXPECT_THAT(loaded.host->TesterCreatorIds(), Not(Contains("{08B287C9-488A-49EE-BD16-3761B8059C29}")));
  std::shared_ptr<ITesterCreator> greeter;
  ASSERT_EQ(loaded.host->CreateTesterCreator(kGreeterId, &greeter), S_OK);
  EXPECT_TRUE(greeter);
}

TEST(PluginHost, EarlierDirectoriesWinByFileNameAndByIdentifier) {
  LoadedHost loaded({kGoodFixtures, kBrokenFixtures});
  // broken/catalogue.so has the name of good/catalogue.so: hidden, never loaded.
  EXPECT_THAT(loaded.log, Not(Contains(HasSubstr(kBrokenFixtures + "/catalogue.so"))));
  // duplicate.so registers good/catalogue.so's identifier again (in other letter case).
  EXPECT_THAT(loaded.log, Contains(AllOf(HasSubstr(kBrokenFixtures + "/duplicate.so"),
                                         HasSubstr("already registered"))));
  EXPECT_EQ(loaded.host->ModuleFile(kScopeUpperId), kGoodFixtures + "/catalogue.so");
}

TEST(PluginHost, ModulesStayLoadedWhileTheirObjectsLive) {
  auto loaded = std::make_unique<LoadedHost>(std::vector<std::string>{kProjectPlugins});
  std::shared_ptr<ITesterCreator> creator;
  ASSERT_EQ(loaded->host->CreateTesterCreator(kEchoId, &creator), S_OK);
  std::shared_ptr<ITester> tester;
  ASSERT_EQ(creator->create(0, &tester), S_OK);
  std::weak_ptr<PluginHost> host = loaded->host;
  loaded.reset();
  EXPECT_FALSE(host.expired()) << "the creator and its tester keep the host";
  creator.reset();
  EXPECT_FALSE(host.expired()) << "the tester alone keeps the host";
  std::string type;
  EXPECT_EQ(tester->get_TesterType(&type), S_OK);  // module code still mapped
  EXPECT_EQ(type, "echo");
  tester.reset();
  EXPECT_TRUE(host.expired()) << "the last object lets the host and its modules go";
}

TEST(PluginHost, BatchItemCreatorsAreMadeThroughTheHost) {
  LoadedHost loaded({kGoodFixtures});
  EXPECT_THAT(loaded.host->BatchQueueItemCreatorIds(), ElementsAre(kBatchId));
  std::shared_ptr<IBatchQueueItemCreator> creator;
  ASSERT_EQ(loaded.host->CreateBatchQueueItemCreator(kBatchId, &creator), S_OK);
  ASSERT_TRUE(creator);
  std::string type;
  EXPECT_EQ(creator->get_FileType(0, &type), S_OK);
  EXPECT_EQ(type, "py");
}

std::shared_ptr<ITesterCreator> ThrowingFactory() { throw std::runtime_error("no device"); }
std::shared_ptr<ITesterCreator> NullFactory() { return nullptr; }

TEST(PluginHost, InProcessCreatorsFollowTheSameRules) {
  LoadedHost loaded({});
  EXPECT_TRUE(loaded.host->AddTesterCreator("{1}", &ThrowingFactory));
  EXPECT_TRUE(loaded.host->AddTesterCreator("{2}", &NullFactory));
  EXPECT_FALSE(loaded.host->AddTesterCreator("{1}", &NullFactory)) << "identifier taken";
  EXPECT_FALSE(loaded.host->AddTesterCreator("", &NullFactory));
  EXPECT_EQ(loaded.host->ModuleFile("{2}"), "(built-in)");

  std::shared_ptr<ITesterCreator> creator;
  EXPECT_EQ(loaded.host->CreateTesterCreator("{1}", &creator), E_FAIL);
  EXPECT_THAT(loaded.log, Contains(AllOf(HasSubstr("{1}"), HasSubstr("no device"))));
  EXPECT_EQ(loaded.host->CreateTesterCreator("{2}", &creator), S_OK);
  EXPECT_FALSE(creator);
}

TEST(PluginHost, PluginPathPutsTheEnvironmentFirstAndTheBuildTreeLast) {
  const char* saved = std::getenv("ORDALIS_PLUGIN_PATH");
  std::string old = saved ? saved : "";
  setenv("ORDALIS_PLUGIN_PATH", "/opt/a::/opt/b", 1);
  auto path = PluginHost::PluginPath();
  if (saved) {
    setenv("ORDALIS_PLUGIN_PATH", old.c_str(), 1);
  } else {
    unsetenv("ORDALIS_PLUGIN_PATH");
  }
  ASSERT_GE(path.size(), 4u);
  EXPECT_EQ(path[0], "/opt/a");
  EXPECT_EQ(path[1], "/opt/b");
  EXPECT_EQ(path.back(), kProjectPlugins);
}

TEST(PluginHost, TheGuidesExampleLoadsAndGreets) {
  LoadedHost loaded({kGoodFixtures});
  TesterProxy greeter(loaded.host);
  std::string error;
  ASSERT_TRUE(greeter.Create(kGreeterId, "Greeter", &error)) << error;
  VariantBool opened = kVariantFalse;
  ASSERT_EQ(greeter.Open(std::make_shared<VariantArray>(VariantArray{Variant::String("Hi")}), &opened), S_OK);
  EXPECT_EQ(opened, kVariantTrue);
  VariantArrayPtr values;
  Result result = TestError;
  ASSERT_EQ(greeter.Execute(0, std::make_shared<VariantArray>(VariantArray{Variant::String("world")}),
                            &values, &result), S_OK);
  EXPECT_EQ(result, TestPassed);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 1u);
  EXPECT_EQ((*values)[0].as_string(), "Hi, world!");
  std::string version;
  EXPECT_EQ(greeter.get_Version(&version), S_OK);
  EXPECT_EQ(version, "1.2");
}

}  // namespace
}  // namespace ordalis

namespace ordalis {
namespace {

TEST(PluginHost, HostsWithoutASinkWriteToTheDefaultSink) {
  std::vector<std::string> lines;
  PluginHost::SetDefaultLogSink([&lines](const std::string& line) { lines.push_back(line); });
  auto host = PluginHost::Create({testing_support::kBrokenFixtures});
  PluginHost::SetDefaultLogSink(nullptr);
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("no_entry.so")));
}

// The host that made the creator below, and whether it was still there when the module's own
// object went: a creator's code lives in its module.
std::weak_ptr<PluginHost> watched_host;
std::string released_while;

void NoteRelease() { released_while = watched_host.expired() ? "unloaded" : "loaded"; }

// [Level] is ITesterCreator or ITesterCreator1: the host wraps each in a creator of its own.
template <typename Level>
class WatchingTesterCreator : public Level {
 public:
  ~WatchingTesterCreator() override { NoteRelease(); }
  Status get_NumberOfTypes(std::uint32_t* count) override {
    *count = 0;
    return S_OK;
  }
  Status create(std::uint32_t, std::shared_ptr<ITester>*) override { return E_FAIL; }
};

class WatchingTesterCreator1 : public WatchingTesterCreator<ITesterCreator1> {
 public:
  Status get_Version(std::string* version) override {
    *version = "1.0";
    return S_OK;
  }
};

class WatchingBatchCreator : public IBatchQueueItemCreator {
 public:
  ~WatchingBatchCreator() override { NoteRelease(); }
  Status get_Version(std::string* version) override {
    *version = "1.0";
    return S_OK;
  }
  Status create(std::uint32_t, std::shared_ptr<IBatchQueueItem>*) override { return E_FAIL; }
  Status get_NumberOfFileTypes(std::uint32_t* count) override {
    *count = 0;
    return S_OK;
  }
  Status get_FileType(std::uint32_t, std::string*) override { return E_INVALIDARG; }
};

constexpr const char* kWatchedId = "{7F2E5D10-3A4B-4C6D-8E9F-0A1B2C3D4E5F}";

// Registers a creator of [kind] with a fresh host and hands it out; returns the creator.
std::shared_ptr<void> HandOut(const std::string& kind, std::shared_ptr<PluginHost> host) {
  if (kind == "batch") {
    host->AddBatchQueueItemCreator(kWatchedId, [] {
      return std::shared_ptr<IBatchQueueItemCreator>(std::make_shared<WatchingBatchCreator>());
    });
    std::shared_ptr<IBatchQueueItemCreator> creator;
    host->CreateBatchQueueItemCreator(kWatchedId, &creator);
    return creator;
  }
  if (kind == "tester") {
    host->AddTesterCreator(kWatchedId, [] {
      return std::shared_ptr<ITesterCreator>(std::make_shared<WatchingTesterCreator<ITesterCreator>>());
    });
  } else {
    host->AddTesterCreator(kWatchedId, [] {
      return std::shared_ptr<ITesterCreator>(std::make_shared<WatchingTesterCreator1>());
    });
  }
  std::shared_ptr<ITesterCreator> creator;
  host->CreateTesterCreator(kWatchedId, &creator);
  return creator;
}

class HandedOutCreatorTest : public testing::TestWithParam<std::string> {};

TEST_P(HandedOutCreatorTest, ReleasesTheModulesObjectBeforeTheModule) {
  LoadedHost loaded({});
  std::shared_ptr<void> creator = HandOut(GetParam(), loaded.host);
  ASSERT_TRUE(creator);
  watched_host = loaded.host;
  released_while.clear();
  loaded.host.reset();  // the creator's keep-alive reference is the last one now
  creator.reset();
  EXPECT_EQ(released_while, "loaded");
}

INSTANTIATE_TEST_SUITE_P(Kinds, HandedOutCreatorTest, testing::Values("tester", "tester1", "batch"));

}  // namespace
}  // namespace ordalis
