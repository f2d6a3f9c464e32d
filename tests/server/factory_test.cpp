#include "server/factory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/script.h"
#include "history/results_store.h"
#include "platform/event.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

TEST(Factory, MakesTheCreatableClassesByProgrammaticIdentifier) {
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.ScriptItem", &object), S_OK);
  auto item = std::dynamic_pointer_cast<IScriptItem>(object);
  ASSERT_TRUE(item);
  std::string text;
  item->get_Text(&text);
  EXPECT_EQ(text, "Unknown");
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  item.reset();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  ASSERT_EQ(CreateInstance("ordalis.testerutilities.1", &object), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<ITesterUtilities1>(object));
  object.reset();
  ASSERT_EQ(CreateInstance("Ordalis.ScriptProxy.1", &object), S_OK);
  auto proxy = std::dynamic_pointer_cast<IScriptProxy>(object);
  ASSERT_TRUE(proxy);
  std::shared_ptr<IScript> script;
  EXPECT_EQ(proxy->get_Script(&script), S_OK);
  EXPECT_TRUE(script);
  script.reset();
  proxy.reset();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  EXPECT_EQ(CreateInstance("Ordalis.Nothing", &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(object);
  EXPECT_EQ(CreateInstance("Ordalis.Script", nullptr), E_POINTER);
}

// Says when the script has gone back to not running: its run, reports included, is over.
class EndOfRun : public IScriptEventsClient {
 public:
  void Executed(ScriptItem*) override {}
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptNotRunning) stopped_.Set();
  }
  Event& stopped() { return stopped_; }

 private:
  Event stopped_{EventReset::kManual};
};

// A client's script leaves the HTML report beside each results document it writes (the test
// waits out the end-of-run pause a client's script keeps).
TEST(Factory, AScriptForAClientLeavesItsReport) {
  namespace fs = std::filesystem;
  testing_support::TemporaryFolder folder("ordalis_factory_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path dir = folder.path();
  std::ofstream(dir / "s.odl") << "x = 1\ny = 2\n";
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.Script", &object), S_OK);
  auto script = std::dynamic_pointer_cast<CScript>(object);
  ASSERT_TRUE(script);
  auto end = std::make_shared<EndOfRun>();
  script->SetScriptEventsClient(end);
  VariantBool loaded = kVariantFalse;
  ASSERT_EQ(script->Load((dir / "s.odl").string(), &loaded), S_OK);
  script->put_ResultsDirectory((dir / "out").string());
  ASSERT_EQ(script->Run(), S_OK);
  ASSERT_TRUE(end->stopped().Wait(60000));
  script->SetScriptEventsClient(nullptr);
  std::string xml = script->results_xml_path();
  ASSERT_FALSE(xml.empty());
  fs::path page = fs::path(xml).replace_extension(".html");
  EXPECT_TRUE(fs::exists(page)) << page;
  EXPECT_TRUE(fs::exists(dir / "out" / "index.html"));
  // The run is in the results folder's store too.
  history::ResultsStore store(history::StoreLocation{history::StoreKind::kSqlite, (dir / "out" / "results.db").string()});
  EXPECT_TRUE(store.HasDocument(fs::absolute(xml).lexically_normal().string(), history::ThisHost())) << xml;
  script.reset();
  object.reset();
}

}  // namespace
}  // namespace ordalis
