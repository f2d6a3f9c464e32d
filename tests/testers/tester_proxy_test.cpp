#include "testers/tester_proxy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testers/plugin_host.h"
#include "testers/testers.h"
#include "testers_support.h"

namespace ordalis {
namespace {

using namespace testing_support;

// Plug-in testers of each interface level, recording which operations reached them.
struct Calls {
  std::vector<std::string> names;
};

template <typename Base>
class Level0 : public Base {
 public:
  explicit Level0(Calls* calls) : calls_(calls) {}
  Status get_ActionCount(std::uint32_t* count) override { Note("ActionCount"); *count = 1; return S_OK; }
  Status get_Actions(std::uint32_t, std::string* name) override { Note("Actions"); *name = "Go"; return S_OK; }
  Status Execute(std::uint32_t action, VariantArrayPtr parameters, VariantArrayPtr* values,
                 Result* result) override {
    Note("Execute");
    if (action == 7) throw std::runtime_error("plug-in bug");
    if (action == 9) return static_cast<Status>(0x80070005u);
    *values = parameters;
    *result = TestWarning;
    return S_OK;
  }
  Status ActionDocumentation(std::uint32_t, std::string*, TextArray*, TextArray*) override {
    Note("ActionDocumentation");
    return S_OK;
  }
  Status Open(VariantArrayPtr, VariantBool* opened) override { Note("Open"); *opened = kVariantTrue; return S_OK; }
  Status Close(VariantBool* closed) override { Note("Close"); *closed = kVariantTrue; return S_OK; }
  Status Abort() override { Note("Abort"); return S_OK; }
  Status get_TesterType(std::string* type) override { Note("TesterType"); *type = "level"; return S_OK; }
  Status get_Status(std::string* status) override { Note("Status"); *status = "fine"; return S_OK; }
  Status SetTrace(std::shared_ptr<ITrace>) override { Note("SetTrace"); return S_OK; }

 protected:
  void Note(const char* name) { calls_->names.push_back(name); }
  Calls* calls_;
};

template <typename Base>
class Level1 : public Level0<Base> {
 public:
  using Level0<Base>::Level0;
  Status get_Version(std::string* version) override { this->Note("Version"); *version = "9"; return S_OK; }
  Status scriptDirectory(const std::string&) override { this->Note("scriptDirectory"); return S_OK; }
};

template <typename Base>
class Level2 : public Level1<Base> {
 public:
  using Level1<Base>::Level1;
  Status get_Description(std::string*) override { this->Note("Description"); return S_OK; }
  Status ConstructorDocumentation(std::string*, TextArray*) override {
    this->Note("ConstructorDocumentation");
    return S_OK;
  }
};

class Level3 : public Level2<ITester3> {
 public:
  using Level2<ITester3>::Level2;
  Status get_NumberOfReturnedTesters(std::uint32_t* count) override {
    Note("NumberOfReturnedTesters");
    *count = 0;
    return S_OK;
  }
  Status createReturnedTester(std::uint32_t, std::shared_ptr<ITester>* tester) override {
    Note("createReturnedTester");
    tester->reset();
    return S_OK;
  }
};

std::shared_ptr<ITester> MakeLevel(int level, Calls* calls) {
  switch (level) {
    case 0: return std::make_shared<Level0<ITester>>(calls);
    case 1: return std::make_shared<Level1<ITester1>>(calls);
    case 2: return std::make_shared<Level2<ITester2>>(calls);
    default: return std::make_shared<Level3>(calls);
  }
}

std::shared_ptr<PluginHost> EmptyHost() { return PluginHost::Create({}, [](const std::string&) {}); }

// The operations above ITester, with the level that declares each.
struct LeveledCall {
  const char* name;
  int level;
  std::function<Status(TesterProxy&)> call;
};

const std::vector<LeveledCall>& LeveledCalls() {
  static const std::vector<LeveledCall> calls = {
      {"Version", 1, [](TesterProxy& p) { std::string v; return p.get_Version(&v); }},
      {"scriptDirectory", 1, [](TesterProxy& p) { return p.scriptDirectory("/scripts"); }},
      {"Description", 2, [](TesterProxy& p) { std::string d; return p.get_Description(&d); }},
      {"ConstructorDocumentation", 2,
       [](TesterProxy& p) { std::string d; TextArray in; return p.ConstructorDocumentation(&d, &in); }},
      {"NumberOfReturnedTesters", 3,
       [](TesterProxy& p) { std::uint32_t n; return p.get_NumberOfReturnedTesters(&n); }},
      {"createReturnedTester", 3,
       [](TesterProxy& p) { std::shared_ptr<ITester> t; return p.createReturnedTester(0, &t); }},
  };
  return calls;
}

class ProxyLevels : public ::testing::TestWithParam<int> {};

TEST_P(ProxyLevels, ForwardOfferedLevelsAndFailMissingOnesWithoutCalling) {
  int level = GetParam();
  Calls calls;
  TesterProxy proxy(EmptyHost());
  ASSERT_TRUE(proxy.Attach(MakeLevel(level, &calls)));
  for (const LeveledCall& c : LeveledCalls()) {
    calls.names.clear();
    Status status = c.call(proxy);
    if (c.level <= level) {
      EXPECT_TRUE(Succeeded(status)) << c.name;
      EXPECT_EQ(calls.names, std::vector<std::string>{c.name});
    } else {
      EXPECT_EQ(status, E_FAIL) << c.name;
      EXPECT_TRUE(calls.names.empty()) << c.name << " reached a plug-in that does not offer it";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(TesterProxy, ProxyLevels, ::testing::Values(0, 1, 2, 3));

TEST(TesterProxy, PassesArgumentsResultsAndFailuresThroughUnchanged) {
  Calls calls;
  TesterProxy proxy(EmptyHost());
  ASSERT_TRUE(proxy.Attach(MakeLevel(0, &calls)));
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::Int(5)});
  VariantArrayPtr values;
  Result result = TestPassed;
  EXPECT_EQ(proxy.Execute(0, parameters, &values, &result), S_OK);
  EXPECT_EQ(values, parameters);
  EXPECT_EQ(result, TestWarning);
  EXPECT_EQ(proxy.Execute(9, parameters, &values, &result), static_cast<Status>(0x80070005u));
  EXPECT_EQ(proxy.Execute(7, parameters, &values, &result), E_FAIL) << "a throwing plug-in";
  std::string text;
  EXPECT_EQ(proxy.get_Status(&text), S_OK);
  EXPECT_EQ(text, "fine");
  EXPECT_EQ(proxy.get_TesterType(&text), S_OK);
  EXPECT_EQ(text, "level");
}

TEST(TesterProxy, EmptyProxyFailsEverythingAndAttachReplacesAndReleases) {
  TesterProxy proxy(EmptyHost());
  std::uint32_t count = 0;
  EXPECT_EQ(proxy.get_ActionCount(&count), E_FAIL);
  EXPECT_EQ(proxy.Abort(), E_FAIL);
  EXPECT_FALSE(proxy.Attach(nullptr));

  Calls first_calls, second_calls;
  std::shared_ptr<ITester> first = MakeLevel(3, &first_calls);
  std::weak_ptr<ITester> first_watch = first;
  ASSERT_TRUE(proxy.Attach(std::move(first)));
  ASSERT_TRUE(proxy.Attach(MakeLevel(0, &second_calls)));
  EXPECT_TRUE(first_watch.expired()) << "Attach drops what the proxy held";
  std::string version;
  EXPECT_EQ(proxy.get_Version(&version), E_FAIL) << "no level 1 left over from the first tester";
  EXPECT_EQ(proxy.get_ActionCount(&count), S_OK);
  EXPECT_EQ(second_calls.names, std::vector<std::string>{"ActionCount"});

  auto owned = std::make_shared<TesterProxy>(EmptyHost());
  Calls calls;
  std::shared_ptr<ITester> tester = MakeLevel(1, &calls);
  std::weak_ptr<ITester> watch = tester;
  owned->Attach(std::move(tester));
  owned.reset();
  EXPECT_TRUE(watch.expired()) << "releasing the proxy releases the tester";
}

TEST(TesterProxy, FailedCreateHoldsNothing) {
  TesterProxy proxy(PluginHost::Create({kProjectPlugins}));
  std::string error = "stale";
  EXPECT_FALSE(proxy.Create(kEchoId, "multimeter", &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(proxy.Inner());
  EXPECT_FALSE(proxy.Create("{00000000-0000-0000-0000-000000000000}", "echo", &error));
  EXPECT_EQ(error, "Failed to create creator error 0x0");
  ASSERT_TRUE(proxy.Create(kEchoId, "ECHO", &error));
  EXPECT_TRUE(proxy.Inner());
  EXPECT_FALSE(proxy.Create(kDemoId, "echo", &error)) << "a reused proxy drops its tester first";
  EXPECT_FALSE(proxy.Inner());
}

std::uint32_t ActionNumber(ITester& tester, const std::string& name) {
  std::uint32_t count = 0;
  EXPECT_EQ(tester.get_ActionCount(&count), S_OK);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string action;
    if (Succeeded(tester.get_Actions(i, &action)) && Testers::Lower(action) == Testers::Lower(name)) return i;
  }
  ADD_FAILURE() << "no action " << name;
  return count;
}

TEST(TesterProxy, AbortFromAnotherThreadEndsARunningExecute) {
  std::string message;
  auto echo = Testers::Instance().Create("echo", &message);
  ASSERT_TRUE(echo) << message;
  auto trace = std::make_shared<RecordingTrace>();
  ASSERT_EQ(echo->SetTrace(trace), S_OK);
  VariantBool opened = kVariantFalse;
  ASSERT_EQ(echo->Open(nullptr, &opened), S_OK);
  ASSERT_EQ(opened, kVariantTrue);

  std::uint32_t wait = ActionNumber(*echo, "wait");
  Result result = TestPassed;
  Status status = E_FAIL;
  std::jthread runner([&] {
    VariantArrayPtr values;
    // Long enough that only Abort can end it within the test's time.
    auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::Int(600000)});
    status = echo->Execute(wait, parameters, &values, &result);
  });
  ASSERT_TRUE(trace->WaitFor("Waiting 600000 ms"));
  EXPECT_EQ(echo->Abort(), S_OK);
  runner.join();
  EXPECT_EQ(status, S_OK);
  EXPECT_EQ(result, TestAborted);
  // The abort belonged to that Execute only: the next wait runs to its end.
  VariantArrayPtr values;
  EXPECT_EQ(echo->Execute(wait, std::make_shared<VariantArray>(VariantArray{Variant::Int(0)}), &values,
                          &result), S_OK);
  EXPECT_EQ(result, TestPassed);
}

}  // namespace
}  // namespace ordalis

namespace ordalis {
namespace {

// An action's measurements reach the engine through the proxy from a module of this SDK; a
// module built against the helper as it was before measurements loads, runs its actions
// unchanged and reports none.
struct MeasuringCase {
  const char* name;
  std::string directory;
  const char* identifier;
  const char* type;
  const char* action;
  VariantArray parameters;
  Result result;
  std::size_t measured;
};

class MeasuringTest : public testing::TestWithParam<MeasuringCase> {};

TEST_P(MeasuringTest, ProxyHandsOnWhatTheActionMeasured) {
  const MeasuringCase& c = GetParam();
  TesterProxy proxy(PluginHost::Create({c.directory}));
  std::string error;
  ASSERT_TRUE(proxy.Create(c.identifier, c.type, &error)) << error;
  VariantArrayPtr values;
  Result result = TestNotRun;
  auto parameters = std::make_shared<VariantArray>(c.parameters);
  ASSERT_EQ(proxy.Execute(ActionNumber(proxy, c.action), parameters, &values, &result), S_OK);
  EXPECT_EQ(result, c.result);
  ASSERT_TRUE(values);
  EXPECT_EQ(values->back().as_double(), 4.9963);
  MeasuredValues measured;
  ASSERT_EQ(proxy.TakeMeasurements(&measured), S_OK);
  ASSERT_EQ(measured.size(), c.measured);
  if (c.measured > 0) {
    EXPECT_EQ(measured[0].name, "DCV");
    EXPECT_EQ(measured[0].value.as_double(), 4.9963);
    EXPECT_EQ(measured[0].unit, "V");
    EXPECT_EQ(measured[0].comparison, CompareBetweenInclusive);
    EXPECT_EQ(measured[0].result, TestFailed);
  }
  ASSERT_EQ(proxy.TakeMeasurements(&measured), S_OK);
  EXPECT_TRUE(measured.empty()) << "handed over once";
}

INSTANTIATE_TEST_SUITE_P(
    Modules, MeasuringTest,
    testing::Values(MeasuringCase{"Echo", kProjectPlugins, kEchoId, "echo", "Measure",
                                  {Variant::String("DCV"), Variant::Double(4.9963), Variant::String("V"),
                                   Variant::String("GELE"), Variant::Double(3.2), Variant::Double(3.4)},
                                  TestFailed, 1},
                    MeasuringCase{"PreviousSdk", std::string(ORDALIS_TEST_FIXTURE_DIR) + "/previous",
                                  "{5B0F3C1E-7A44-4C59-9D2E-0C8F7A1B2D63}", "older", "Echo",
                                  {Variant::String("DCV"), Variant::Double(4.9963)}, TestFailed, 0}),
    [](const testing::TestParamInfo<MeasuringCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ordalis
