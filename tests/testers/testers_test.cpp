#include "testers/testers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testers/batch_queue_creators.h"
#include "ordalis/plugin.h"
#include "testers/plugin_host.h"
#include "testers/tester_proxy.h"
#include "testers/tester_utilities.h"
#include "testers_support.h"

namespace ordalis {
namespace {

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::Pair;

std::shared_ptr<PluginHost> QuietHost(const std::vector<std::string>& directories) {
  return PluginHost::Create(directories, [](const std::string&) {});
}

TEST(Testers, LowerCasingTouchesOnlyAsciiCapitals) {
  EXPECT_EQ(Testers::Lower("ScOPE_9\xC3\x84"), "scope_9\xC3\x84");
}

TEST(Testers, SameNameInOtherCaseIsOneEntryAndTheLaterRegistrationWins) {
  Testers catalogue(QuietHost({kGoodFixtures}));
  EXPECT_TRUE(catalogue.Add(kScopeUpperId));
  EXPECT_TRUE(catalogue.Add(kScopeLowerId));
  EXPECT_THAT(catalogue.Types(), ElementsAre(Pair("scope", kScopeLowerId)));
  EXPECT_EQ(catalogue.Count(), 1u);

  std::string message;
  auto tester = catalogue.Create("SCOPE", &message);
  ASSERT_TRUE(tester);
  EXPECT_EQ(message, "Type 'scope' created successfully");
  std::string version;
  EXPECT_EQ(tester->get_Version(&version), S_OK);
  EXPECT_EQ(version, "B");

  EXPECT_TRUE(catalogue.Add(kScopeUpperId));
  EXPECT_THAT(catalogue.Types(), ElementsAre(Pair("scope", kScopeUpperId)));
}

TEST(Testers, AddRefusesCreatorsThatCannotServe) {
  Testers catalogue(QuietHost({kGoodFixtures}));
  EXPECT_FALSE(catalogue.Add(kNoTypesId)) << "no types";
  EXPECT_FALSE(catalogue.Add(kUnnamedId)) << "a tester with an empty type name";
  EXPECT_FALSE(catalogue.Add("{00000000-0000-0000-0000-000000000000}")) << "no module";
  EXPECT_FALSE(catalogue.Add(kBatchId)) << "a batch item creator is no tester creator";
  EXPECT_EQ(catalogue.Count(), 0u);
}

TEST(Testers, CreatorIsReturnedOncePerTypeName) {
  Testers catalogue(QuietHost({kProjectPlugins}));
  ASSERT_TRUE(catalogue.Add(kDemoId));
  ASSERT_EQ(catalogue.Count(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(catalogue.Creator(i)) << i;
  EXPECT_FALSE(catalogue.Creator(3));
}

TEST(Testers, TheProcessCatalogueOffersThePluginPathAtStartUp) {
  Testers& catalogue = Testers::Instance();
  EXPECT_EQ(&catalogue, &Testers::Instance());
  std::string message;
  auto echo = catalogue.Create("Echo", &message);
  ASSERT_TRUE(echo) << message;
  auto demo = catalogue.Create("multimeter", &message);
  ASSERT_TRUE(demo) << message;
  EXPECT_TRUE(catalogue.Add(kEchoId)) << "registering a known creator again is harmless";
}

TEST(Testers, ReadersAndWritersMayRunOnSeveralThreads) {
  Testers catalogue(QuietHost({kProjectPlugins, kGoodFixtures}));
  ASSERT_TRUE(catalogue.Add(kEchoId));
  std::vector<std::jthread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&catalogue] {
      for (int i = 0; i < 20; ++i) {
        std::string message;
        EXPECT_TRUE(catalogue.Create("echo", &message)) << message;
        EXPECT_GE(catalogue.Count(), 1u);
      }
    });
  }
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(catalogue.Add(i % 2 ? kScopeUpperId : kScopeLowerId));
    EXPECT_TRUE(catalogue.Add(kDemoId));
  }
}

// An in-process creator whose failures a test switches on after the creator was added, so
// each failure shows at the step of Create where it happens.
struct Knobs {
  bool factory_throws = false;
  bool factory_gives_none = false;
  bool second_count_fails = false;   // NumberOfTypes fails on its second read
  int type_throws_on = 0;            // the n-th tester a creator makes throws from TesterType
  bool throw_unknown = false;        // ... with something that is no automation error
  std::string type = "Scope";
};
Knobs knobs;

class KnobTester : public ITester {
 public:
  explicit KnobTester(bool throws) : throws_(throws) {}
  Status get_ActionCount(std::uint32_t* count) override { *count = 0; return S_OK; }
  Status get_Actions(std::uint32_t, std::string*) override { return E_INVALIDARG; }
  Status Execute(std::uint32_t, VariantArrayPtr, VariantArrayPtr*, Result*) override { return E_INVALIDARG; }
  Status ActionDocumentation(std::uint32_t, std::string*, TextArray*, TextArray*) override { return E_INVALIDARG; }
  Status Open(VariantArrayPtr, VariantBool* opened) override { *opened = kVariantTrue; return S_OK; }
  Status Close(VariantBool* closed) override { *closed = kVariantTrue; return S_OK; }
  Status Abort() override { return S_OK; }
  Status get_TesterType(std::string* type) override {
    if (throws_ && knobs.throw_unknown) throw 42;
    if (throws_) throw AutomationError(E_FAIL, "lost the device");
    *type = knobs.type;
    return S_OK;
  }
  Status get_Status(std::string* status) override { *status = ""; return S_OK; }
  Status SetTrace(std::shared_ptr<ITrace>) override { return S_OK; }

 private:
  bool throws_;
};

class KnobCreator : public ITesterCreator {
 public:
  Status get_NumberOfTypes(std::uint32_t* count) override {
    if (knobs.second_count_fails && ++count_reads_ == 2) return E_NOTIMPL;
    *count = 1;
    return S_OK;
  }
  Status create(std::uint32_t, std::shared_ptr<ITester>* tester) override {
    *tester = std::make_shared<KnobTester>(++made_ == knobs.type_throws_on);
    return S_OK;
  }

 private:
  int count_reads_ = 0;
  int made_ = 0;
};

std::shared_ptr<ITesterCreator> KnobFactory() {
  if (knobs.factory_throws) throw std::runtime_error("creator unavailable");
  if (knobs.factory_gives_none) return nullptr;
  return std::make_shared<KnobCreator>();
}

struct MessageRow {
  const char* name;
  const char* type_name;
  std::function<void()> arrange;
  const char* message;
  bool created;
  friend void PrintTo(const MessageRow& row, std::ostream* out) { *out << row.name; }
};

class CreateMessages : public ::testing::TestWithParam<MessageRow> {};

TEST_P(CreateMessages, TellWhatHappened) {
  knobs = Knobs();
  auto host = QuietHost({});
  ASSERT_TRUE(host->AddTesterCreator("{knobs}", &KnobFactory));
  Testers catalogue(host);
  ASSERT_TRUE(catalogue.Add("{knobs}"));
  GetParam().arrange();
  std::string message;
  auto tester = catalogue.Create(GetParam().type_name, &message);
  EXPECT_EQ(message, GetParam().message);
  EXPECT_EQ(tester != nullptr, GetParam().created);
  knobs = Knobs();
}

INSTANTIATE_TEST_SUITE_P(
    Testers, CreateMessages,
    ::testing::Values(
        MessageRow{"Created", "SCOPE", [] {}, "Type 'scope' created successfully", true},
        MessageRow{"NotFound", "Probe", [] {}, "Type 'probe' not found", false},
        MessageRow{"CreatorThrows", "scope", [] { knobs.factory_throws = true; },
                   "Type 'scope' Failed to create creator error 0x80004005", false},
        MessageRow{"NoCreator", "scope", [] { knobs.factory_gives_none = true; },
                   "Type 'scope' Failed to create creator error 0x0", false},
        MessageRow{"Unacceptable", "scope", [] { knobs.type = ""; },
                   "Type 'scope' Failed to create creator error 0x0", false},
        MessageRow{"CountFails", "scope", [] { knobs.second_count_fails = true; },
                   "Type 'scope' Failed to get tester count 0x80004001", false},
        MessageRow{"AutomationError", "scope", [] { knobs.type_throws_on = 2; },
                   "Type 'scope' exception -2147467259 lost the device", false},
        MessageRow{"OtherException", "scope",
                   [] {
                     knobs.type_throws_on = 2;
                     knobs.throw_unknown = true;
                   },
                   "Type 'scope' Unknown exception", false},
        MessageRow{"TypeGone", "scope", [] { knobs.type = "Probe"; }, "Type 'scope' ", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TesterUtilities, LooksUpCreatorsThroughTheHost) {
  CTesterUtilities utilities(QuietHost({kGoodFixtures}));
  std::shared_ptr<ITesterCreator> tester_creator;
  EXPECT_EQ(utilities.TesterCreator(kScopeUpperId, &tester_creator), S_OK);
  EXPECT_TRUE(tester_creator);
  EXPECT_EQ(utilities.TesterCreator(kNoTypesId, &tester_creator), S_OK);
  EXPECT_FALSE(tester_creator) << "refused by the acceptance rule";
  std::shared_ptr<IBatchQueueItemCreator> batch_creator;
  EXPECT_EQ(utilities.BatchQueueItemCreator(kBatchId, &batch_creator), S_OK);
  EXPECT_TRUE(batch_creator);
  EXPECT_EQ(utilities.TesterCreator(kScopeUpperId, nullptr), E_POINTER);
  EXPECT_EQ(utilities.BatchQueueItemCreator(kBatchId, nullptr), E_POINTER);
  std::string text = "x";
  EXPECT_EQ(utilities.Format(0, nullptr, &text), S_OK);
  EXPECT_EQ(text, "");
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::String("%d|%s"), Variant::Int(4), Variant::String("a")});
  EXPECT_EQ(utilities.Format(0, parameters, &text), S_OK);
  EXPECT_EQ(text, "4|a");
  EXPECT_EQ(utilities.Format(0, parameters, nullptr), E_POINTER);
  VariantArrayPtr values;
  EXPECT_EQ(utilities.VariableValue("1, \"two\", [3]", &values), S_OK);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[1].as_string(), "two");
  EXPECT_TRUE((*values)[2].is_array());
  EXPECT_EQ(utilities.VariableValue("bare words", &values), S_OK);
  EXPECT_FALSE(values) << "text that is not a list of literals gives no array";
}

TEST(BatchQueueCreators, BuiltInComesFirstAndOnlyObtainableCreatorsAreAppended) {
  BatchQueueCreators list(QuietHost({kGoodFixtures}));
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Identifier(0), "MarrowindCon.BuiltIn");
  EXPECT_EQ(list.Identifier(1), "Ordalis.BuiltIn.Shell");
  EXPECT_FALSE(list.Add("{00000000-0000-0000-0000-000000000000}"));
  EXPECT_FALSE(list.Add(kScopeUpperId)) << "a tester creator is no batch item creator";
  EXPECT_TRUE(list.Add(kBatchId));
  EXPECT_TRUE(list.Add(kBatchId)) << "already listed";
  EXPECT_EQ(list.Identifiers(), (std::vector<std::string>{"MarrowindCon.BuiltIn", "Ordalis.BuiltIn.Shell", kBatchId}));
  EXPECT_EQ(list.Identifier(3), "");
  EXPECT_EQ(BatchQueueCreators::Instance().Identifier(0), BatchQueueCreators::kBuiltIn);
}

}  // namespace
}  // namespace ordalis
