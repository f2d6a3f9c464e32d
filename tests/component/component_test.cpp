// A client of the shipped component: this program links libordalis.so and sees nothing but the
// SDK headers, as a third-party client does. It checks that the exported surface is enough to
// make the objects, cast them to their interfaces across the library boundary and use them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ordalis/component.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

class ComponentClient : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new fs::path(fs::temp_directory_path() /
                              ("ordalis_component_" + std::to_string(::getpid())));
    fs::create_directories(*directory_);
    // The script object's application manager must not touch the machine's real settings.
    ::setenv("ORDALIS_MACHINE_SETTINGS", (*directory_ / "machine.json").c_str(), 1);
    ::setenv("ORDALIS_USER_SETTINGS", (*directory_ / "user.json").c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*directory_, ignored);
    delete directory_;
  }

  template <typename Interface>
  std::shared_ptr<Interface> Make(const std::string& progid) {
    std::shared_ptr<IUnknown> object;
    EXPECT_EQ(CreateInstance(progid, &object), S_OK) << progid;
    return std::dynamic_pointer_cast<Interface>(object);
  }

  static fs::path* directory_;
};

fs::path* ComponentClient::directory_ = nullptr;

// A client's sink of all three outgoing interfaces: it writes each event as a line, in the order
// they arrive, and lets the test wait for a line. A sink that throws stands for a faulty client.
class Recorder : public IScriptEvents, public ITraceEvents, public IBatchQueueEvents {
 public:
  enum class Behaviour { kRecord, kThrow, kFail };
  explicit Recorder(Behaviour behaviour = Behaviour::kRecord) : behaviour_(behaviour) {}

  Status Executed(std::uint32_t id) override { return Note("Executed " + std::to_string(id)); }
  Status ResultsReset() override { return Note("ResultsReset"); }
  Status Started() override { return Note("Started"); }
  Status Reset() override { return Note("Reset"); }
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel, const std::string&,
             const std::string& message) override {
    return Note("Log " + message);
  }
  Status LogClear() override { return Note("LogClear"); }
  Status Started(std::uint32_t id) override { return Note("Started " + std::to_string(id)); }
  Status Finished(std::uint32_t id) override { return Note("Finished " + std::to_string(id)); }
  Status Added(std::uint32_t id) override { return Note("Added " + std::to_string(id)); }
  Status Removed(std::uint32_t id) override { return Note("Removed " + std::to_string(id)); }
  Status Moved(std::uint32_t id) override { return Note("Moved " + std::to_string(id)); }

  // Waits (a minute at most, for a broken build) until [line] has arrived.
  bool WaitFor(const std::string& line) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::minutes(1), [&] { return Has(line); });
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Called with each line after it is noted, outside the recorder's lock.
  std::function<void(const std::string&)> after;

 private:
  Status Note(const std::string& line) {
    if (behaviour_ == Behaviour::kThrow) throw std::runtime_error("a faulty client");
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    }
    arrived_.notify_all();
    if (after) after(line);
    return behaviour_ == Behaviour::kFail ? E_FAIL : S_OK;
  }
  bool Has(const std::string& line) const {
    for (const std::string& seen : lines_) {
      if (seen == line) return true;
    }
    return false;
  }

  const Behaviour behaviour_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> lines_;
};

// True when [expected] occur in [lines] in this order (other lines may come between them).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  std::size_t next = 0;
  for (const std::string& line : lines) {
    if (next < expected.size() && line == expected[next]) ++next;
  }
  return next == expected.size();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::uint32_t ChildId(IScriptItem& root, std::uint32_t index) {
  std::shared_ptr<IScriptItem> child;
  std::uint32_t id = 0;
  if (root.get_Children(index, &child) == S_OK && child) child->get_Id(&id);
  return id;
}

TEST_F(ComponentClient, LoadsAScriptAndWalksItsTree) {
  fs::path script_file = *directory_ / "client.odl";
  std::ofstream(script_file) << "x = 1\nif x == 1 then\n  y = \"one\"\nendif\n";
  auto script = Make<IScript>("Ordalis.Script");
  ASSERT_TRUE(script);
  VariantBool loaded = kVariantFalse;
  ASSERT_EQ(script->Load(script_file.string(), &loaded), S_OK);
  EXPECT_EQ(loaded, kVariantTrue);

  std::shared_ptr<IScriptItem> root;
  ASSERT_EQ(script->get_Item(&root), S_OK);
  ASSERT_TRUE(root);
  std::uint32_t count = 0;
  root->get_ChildCount(&count);
  ASSERT_EQ(count, 2u);
  std::shared_ptr<IScriptItem> branch;
  ASSERT_EQ(root->get_Children(1, &branch), S_OK);
  ItemType type = errorItem;
  branch->get_Type(&type);
  EXPECT_STREQ(ItemTypeName(type), "ifItem");
  std::shared_ptr<IScriptItem> assignment;
  ASSERT_EQ(root->get_Children(0, &assignment), S_OK);
  std::string text;
  assignment->get_ScriptText(&text);
  EXPECT_EQ(text, "x = 1");
}

TEST_F(ComponentClient, ReadsValueTextsAndCountsLiveObjects) {
  auto utilities = Make<ITesterUtilities1>("ordalis.testerutilities.1");
  ASSERT_TRUE(utilities);
  VariantArrayPtr values;
  ASSERT_EQ(utilities->VariableValue("1, \"two\", [3]", &values), S_OK);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[1].as_string(), "two");
  EXPECT_TRUE((*values)[2].is_array());
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  utilities.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  std::shared_ptr<IUnknown> object;
  EXPECT_EQ(CreateInstance("Ordalis.Nothing", &object), CLASS_E_CLASSNOTAVAILABLE);
}

// A script's events reach every sink a client advises through the component interface, in the
// order the run makes them; a sink that throws or fails keeps them from no one, and a sink that
// unadvises (here from its own first Executed) hears nothing after.
TEST_F(ComponentClient, ScriptEventsReachEverySinkInOrderUntilUnadvised) {
  fs::path script_file = *directory_ / "events.odl";
  std::ofstream(script_file) << "x = 1\nprintf(\"x is %d\", x)\ny = 2\n";
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.Script", &object), S_OK);
  auto script = std::dynamic_pointer_cast<IScript>(object);
  VariantBool loaded = kVariantFalse;
  ASSERT_EQ(script->Load(script_file.string(), &loaded), S_OK);
  std::shared_ptr<IScriptItem> root;
  ASSERT_EQ(script->get_Item(&root), S_OK);
  const std::string x = "Executed " + std::to_string(ChildId(*root, 0));
  const std::string print = "Executed " + std::to_string(ChildId(*root, 1));
  const std::string y = "Executed " + std::to_string(ChildId(*root, 2));

  auto thrower = std::make_shared<Recorder>(Recorder::Behaviour::kThrow);
  auto failer = std::make_shared<Recorder>(Recorder::Behaviour::kFail);
  auto leaver = std::make_shared<Recorder>();
  auto recorder = std::make_shared<Recorder>();
  std::uint32_t cookie = 0, leaver_script = 0, leaver_trace = 0;
  for (const auto& sink : {thrower, failer}) {
    ASSERT_EQ(Advise<IScriptEvents>(object, sink, &cookie), S_OK);
    ASSERT_EQ(Advise<ITraceEvents>(object, sink, &cookie), S_OK);
  }
  ASSERT_EQ(Advise<IScriptEvents>(object, leaver, &leaver_script), S_OK);
  ASSERT_EQ(Advise<ITraceEvents>(object, leaver, &leaver_trace), S_OK);
  ASSERT_EQ(Advise<IScriptEvents>(object, recorder, &cookie), S_OK);
  ASSERT_EQ(Advise<ITraceEvents>(object, recorder, &cookie), S_OK);
  EXPECT_EQ(Advise<IBatchQueueEvents>(object, recorder, &cookie), E_NOINTERFACE);
  leaver->after = [&](const std::string& line) {
    if (line.rfind("Executed ", 0) != 0) return;
    EXPECT_EQ(Unadvise<IScriptEvents>(object, leaver_script), S_OK);
    EXPECT_EQ(Unadvise<ITraceEvents>(object, leaver_trace), S_OK);
  };

  ASSERT_EQ(script->Run(), S_OK);
  ASSERT_TRUE(recorder->WaitFor(y)) << Joined(recorder->lines());
  std::vector<std::string> lines = recorder->lines();
  EXPECT_TRUE(InOrder(lines, {"Started", "LogClear", x, "Log x is 1", print, y})) << Joined(lines);
  EXPECT_TRUE(InOrder(failer->lines(), {"Started", "LogClear", x, "Log x is 1", print, y})) << Joined(failer->lines());
  std::vector<std::string> left = leaver->lines();
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), x) << Joined(left);
  EXPECT_EQ(Unadvise<IScriptEvents>(object, leaver_script), E_INVALIDARG);
  script->Stop();
}

// A batch queue's events and the log lines of its entry's runner reach a client: the entry is
// added, started and finished in that order, and its runner tells what the entry printed.
TEST_F(ComponentClient, BatchQueueAndRunnerEventsReachTheClient) {
  fs::path entry_file = *directory_ / "entry.sh";
  std::ofstream(entry_file) << "echo first line\necho second line\n";
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.BatchQueue", &object), S_OK);
  auto queue = std::dynamic_pointer_cast<IBatchQueue>(object);
  ASSERT_TRUE(queue);
  auto thrower = std::make_shared<Recorder>(Recorder::Behaviour::kThrow);
  auto events = std::make_shared<Recorder>();
  auto log = std::make_shared<Recorder>();
  std::uint32_t cookie = 0, trace_cookie = 0;
  ASSERT_EQ(Advise<IBatchQueueEvents>(object, thrower, &cookie), S_OK);
  ASSERT_EQ(Advise<IBatchQueueEvents>(object, events, &cookie), S_OK);
  ASSERT_EQ(Advise<ITraceEvents>(object, events, &trace_cookie), S_OK);
  EXPECT_EQ(Advise<IScriptEvents>(object, events, &cookie), E_NOINTERFACE);

  // Its results go beside its queue file, into the test's folder.
  ASSERT_EQ(queue->SaveAs((*directory_ / "queue.tbq").string()), S_OK);
  std::uint32_t id = 0;
  ASSERT_EQ(queue->Add(entry_file.string(), "", &id), S_OK);
  std::shared_ptr<IBatchQueueRunner> runner;
  ASSERT_EQ(queue->get_Item(id, &runner), S_OK);
  ASSERT_EQ(Advise<ITraceEvents>(runner, log, &cookie), S_OK);
  EXPECT_EQ(Advise<IBatchQueueEvents>(runner, log, &cookie), E_NOINTERFACE);
  queue->put_StopAtEnd(kVariantTrue);
  ASSERT_EQ(queue->Run(), S_OK);

  const std::string finished = "Finished " + std::to_string(id);
  ASSERT_TRUE(events->WaitFor(finished)) << Joined(events->lines());
  EXPECT_TRUE(InOrder(events->lines(), {"Added " + std::to_string(id), finished})) << Joined(events->lines());
  // The entry's lines were all logged before its status said it had finished.
  EXPECT_TRUE(InOrder(log->lines(), {"Log BatchQueueItem::Execute " + entry_file.string() + " start",
                                     "Log first line", "Log second line",
                                     "Log BatchQueueItem::Execute " + entry_file.string() + " passed"}))
      << Joined(log->lines());
  EXPECT_EQ(Unadvise<ITraceEvents>(object, trace_cookie), S_OK);
  EXPECT_EQ(Unadvise<ITraceEvents>(object, trace_cookie), E_INVALIDARG);
}

}  // namespace
}  // namespace ordalis
