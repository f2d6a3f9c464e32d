// What a client may do with a script object from any thread and any notification: call back
// into it, drop the last reference to it, keep its testers after it has gone, and walk its tree
// while loads and remote chunks replace it.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "script_fixture.h"

namespace ordalis {
namespace {

using testing_support::Observer;
using testing_support::ScriptTest;
namespace fs = std::filesystem;

// A batch queue's way of stopping an item: it resets the item from the notification that the
// item is stopping, and Reset waits until the stop has completed.
class ResettingObserver : public Observer {
 public:
  std::atomic<CScript*> script{nullptr};
  std::atomic<bool> reset_done{false};
  std::atomic<Status> reset_status{E_FAIL};
  std::atomic<ScriptState> state_after_reset{ScriptStopping};

  void StateChanged(ScriptState state) override {
    Observer::StateChanged(state);
    CScript* target = script.load();
    if (state != ScriptStopping || target == nullptr || reset_done.exchange(true)) return;
    reset_status.store(target->Reset());
    ScriptState now = ScriptStopping;
    target->get_State(&now);
    state_after_reset.store(now);
  }
};

TEST_F(ScriptTest, AClientMayWaitInANotificationForTheRunToEnd) {
  auto resetting = std::make_shared<ResettingObserver>();
  script_->SetScriptEventsClient(resetting);
  Load("while true do x = 1 endwhile\n");
  script_->Run();
  ASSERT_TRUE(resetting->WaitFor([&] { return resetting->executed.size() > 3; }));
  resetting->script.store(script_.get());
  script_->Stop();
  ASSERT_TRUE(resetting->reset_done.load());
  EXPECT_EQ(resetting->reset_status.load(), S_OK);
  EXPECT_EQ(resetting->state_after_reset.load(), ScriptNotRunning);
  // The changes made meanwhile are told after the one being handled, in order.
  ASSERT_TRUE(resetting->WaitForRunEnd());
  std::vector<ScriptState> tail(resetting->states.end() - 3, resetting->states.end());
  EXPECT_EQ(tail, (std::vector<ScriptState>{ScriptStopping, ScriptStopping, ScriptNotRunning}));
  script_->SetScriptEventsClient(nullptr);
}

// The client told that the run has ended finds the root as the current item again, not the
// "next statement" after the last one, which is none.
class CurrentItemAtEndObserver : public Observer {
 public:
  std::atomic<CScript*> script{nullptr};
  std::atomic<bool> seen{false};
  std::atomic<bool> root_current{false};

  void StateChanged(ScriptState state) override {
    CScript* target = script.load();
    if (state == ScriptNotRunning && target != nullptr && !seen.load()) {
      std::shared_ptr<IScriptItem> item;
      target->get_CurrentItem(&item);
      ScriptItemPtr root = target->root();
      root_current.store(item != nullptr && item.get() == static_cast<IScriptItem*>(root.get()));
      seen.store(true);
    }
    Observer::StateChanged(state);
  }
};

TEST_F(ScriptTest, TheRootIsTheCurrentItemOnceTheRunHasEnded) {
  auto observer = std::make_shared<CurrentItemAtEndObserver>();
  observer->script.store(script_.get());
  script_->SetScriptEventsClient(observer);
  Load("x = 1\ny = 2\n");
  script_->Run();
  ASSERT_TRUE(observer->WaitForRunEnd());
  EXPECT_TRUE(observer->seen.load());
  EXPECT_TRUE(observer->root_current.load());
  script_->SetScriptEventsClient(nullptr);
}

// A client replaced in the middle of a run hears nothing more and is let go before the next
// statement is told to its successor.
TEST_F(ScriptTest, AClientReplacedDuringARunIsReleasedAtTheNextStatement) {
  auto first = std::make_shared<Observer>();
  std::weak_ptr<Observer> first_gone = first;
  script_->SetScriptEventsClient(first);
  Load("x = 1\ny = 2\nz = 3\n");
  Statement(1)->put_BreakpointSet(kVariantTrue);
  script_->Run();
  ASSERT_TRUE(first->WaitForState(ScriptPaused));
  EXPECT_EQ(first->Executed().size(), 1u);
  auto second = std::make_shared<Observer>();
  script_->SetScriptEventsClient(second);
  first.reset();
  script_->Run();
  ASSERT_TRUE(second->WaitFor([&] { return !second->executed.empty(); }));
  EXPECT_TRUE(first_gone.expired());
  ASSERT_TRUE(second->WaitForState(ScriptNotRunning));
  EXPECT_EQ(second->Executed().size(), 3u);  // y, z and the root
  script_->SetScriptEventsClient(nullptr);
}

// Holds the only reference to a script and lets it go from an Executed event, on the run
// thread. Its own end shows that the script's state has gone too.
class LastOwner : public IScriptEventsClient {
 public:
  explicit LastOwner(std::shared_ptr<Event> gone) : gone_(std::move(gone)) {}
  ~LastOwner() override { gone_->Set(); }
  void Take(std::shared_ptr<CScript> script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
  }
  void Executed(ScriptItem*) override {
    std::shared_ptr<CScript> last;
    {
      std::lock_guard lock(mutex_);
      last.swap(script_);
    }
    released_on_run_thread.store(last != nullptr);
  }
  void ResultsReset() override {}
  void Started() override {}
  void Reset() override {}
  void StateChanged(ScriptState) override {}
  std::atomic<bool> released_on_run_thread{false};

 private:
  std::shared_ptr<Event> gone_;
  std::mutex mutex_;
  std::shared_ptr<CScript> script_;
};

TEST_F(ScriptTest, TheLastReferenceMayGoOnTheRunThread) {
  auto gone = std::make_shared<Event>();
  {
    auto owner = std::make_shared<LastOwner>(gone);
    auto script = CScript::Create(nullptr, Pacing{0, 0, 0});
    script->SetScriptEventsClient(owner);
    auto lines = std::make_shared<Observer>();
    script->SetTraceEventsClient(lines);
    std::string path = (dir_ / "last.odl").string();
    std::ofstream(path) << "x = 1\ny = 2\n";
    VariantBool loaded;
    script->Load(path, &loaded);
    script->root()->child(0)->put_BreakpointSet(kVariantTrue);
    CScript* raw = script.get();
    owner->Take(std::move(script));
    raw->Run();
    ASSERT_TRUE(lines->WaitFor([&] {  // paused at the breakpoint, before the first statement
      return std::any_of(lines->lines.begin(), lines->lines.end(), [](const Observer::Line& line) {
        return line.message == "State changed to ScriptPaused 6";
      });
    }));
    raw->Run();  // the first Executed event lets the script go
  }
  // The run thread ends by itself and releases everything, the owner included.
  EXPECT_TRUE(gone->Wait(20000));
}

std::size_t ThreadCount() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

// Loaded and queued scripts that never run hold no run thread (and no stack for one); the
// first Run starts it, and a script dropped without running still ends as it always has.
TEST_F(ScriptTest, OnlyAScriptThatRunsHoldsARunThread) {
  std::string path = (dir_ / "idle.odl").string();
  std::ofstream(path) << "x = 1\n";
  std::size_t before = ThreadCount();
  std::vector<std::shared_ptr<CScript>> idle;
  std::vector<std::shared_ptr<Observer>> lines;
  for (int i = 0; i < 5; ++i) {
    idle.push_back(CScript::Create(nullptr, Pacing{0, 0, 0}));
    lines.push_back(std::make_shared<Observer>());
    idle.back()->SetTraceEventsClient(lines.back());
    VariantBool loaded;
    idle.back()->Load(path, &loaded);
  }
  EXPECT_EQ(ThreadCount(), before);
  auto ended = std::make_shared<Observer>();
  idle.front()->SetScriptEventsClient(ended);
  idle.front()->Run();
  ASSERT_TRUE(ended->WaitForRunEnd());
  EXPECT_GT(ThreadCount(), before);  // its run thread (and, under a sanitizer, the sanitizer's own)
  idle.front()->SetScriptEventsClient(nullptr);
  idle.clear();
  for (const auto& observer : lines) {
    EXPECT_TRUE(std::any_of(observer->lines.begin(), observer->lines.end(), [](const Observer::Line& line) {
      return line.message == "State changed to ScriptNotRunning 3";
    }));
  }
}

// In a child process: limits the address space to a little more than is in use, starts a batch
// run of [path] and exits 0 when the run has ended, failed, with no run thread.
[[noreturn]] void RunWithNoRoomForAThread(const std::string& path) {
  auto script = CScript::Create(nullptr, Pacing{0, 0, 0});
  VariantBool loaded;
  script->Load(path, &loaded);
  std::ifstream status("/proc/self/status");
  std::string key;
  rlim_t used_kib = 0;
  while (status >> key) {
    if (key == "VmSize:") status >> used_kib;
  }
  rlimit limit{(used_kib + (64 << 10)) << 10, RLIM_INFINITY};  // 64 MiB more than now
  ::setrlimit(RLIMIT_AS, &limit);
  script->Execute(path, nullptr);
  BatchQueueItemStatus batch = BatchQueueItemRunning;
  script->get_Status(&batch);
  ScriptState state = ScriptRunning;
  script->get_State(&state);
  std::exit(state == ScriptNotRunning && batch == BatchQueueItemFailed ? 0 : 3);
}

// With no address space left for a run thread, a run ends at once as failed; the process and
// the script object go on.
TEST_F(ScriptTest, ARunWithNoRoomForItsThreadEndsFailed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need address space of their own";
#endif
  std::string path = (dir_ / "cramped.odl").string();
  std::ofstream(path) << "x = 1\n";
  EXPECT_EXIT(RunWithNoRoomForAThread(path), ::testing::ExitedWithCode(0), "");
}

TEST_F(ScriptTest, ATesterKeptByAClientOutlivesTheScript) {
  Load("t = new echo()\nx = 1\n");
  Statement(1)->put_BreakpointSet(kVariantTrue);
  script_->Run();
  ASSERT_TRUE(observer_->WaitForState(ScriptPaused));
  VariantArrayPtr value;
  ASSERT_EQ(script_->get_VariableValue("t", &value), S_OK);
  ASSERT_TRUE(value && value->size() == 1);
  auto tester = std::dynamic_pointer_cast<ITester>((*value)[0].as_object());
  ASSERT_TRUE(tester);
  value.reset();
  script_.reset();
  // The tester logs through the trace the script gave it; the line has nowhere to go now.
  std::uint32_t count = 0, log_action = 0;
  ASSERT_EQ(tester->get_ActionCount(&count), S_OK);
  for (std::string name; log_action < count; ++log_action) {
    if (Succeeded(tester->get_Actions(log_action, &name)) && name == "Log") break;
  }
  VariantArrayPtr returned;
  Result result = TestError;
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::Int(severe), Variant::String("late")});
  EXPECT_EQ(tester->Execute(log_action, parameters, &returned, &result), S_OK);
  EXPECT_FALSE(observer_->Logged("late"));
}

// Walks every item below [root], as a front end showing the tree would.
std::size_t Walk(IScriptItem& root) {
  std::size_t items = 1;
  std::uint32_t count = 0;
  root.get_ChildCount(&count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::shared_ptr<IScriptItem> child;
    if (root.get_Children(i, &child) == S_OK && child) items += Walk(*child);
  }
  return items;
}

TEST_F(ScriptTest, RemoteChunksNeverChangeATreeAClientHolds) {
  script_->SetFileNames((dir_ / "remote.odl").string());
  ASSERT_TRUE(script_->MakeRemoteRoot());
  std::atomic<bool> done{false};
  std::vector<std::shared_ptr<IScriptItem>> held;  // kept to the end, as a front end might
  std::jthread walker([&] {
    while (!done.load()) {
      std::shared_ptr<IScriptItem> root;
      script_->get_Item(&root);
      std::size_t before = Walk(*root);
      EXPECT_EQ(Walk(*root), before) << "a published tree changed under its reader";
      held.push_back(std::move(root));
    }
  });
  const int kChunks = 20;
  for (int i = 0; i < kChunks; ++i) {
    ASSERT_TRUE(script_->RemoteRun("a" + std::to_string(i) + " = " + std::to_string(i) + "\n"));
    ASSERT_TRUE(observer_->WaitFor([&] {
      return std::count(observer_->states.begin(), observer_->states.end(), ScriptPaused) > i;
    }));
  }
  done.store(true);
  walker.join();
  EXPECT_EQ(script_->root()->child_count(), static_cast<std::size_t>(kChunks));
  EXPECT_TRUE(script_->variables().Contains("a19"));
}

// A load builds its whole tree before anyone sees it, and the tree a client reads stays whole.
TEST_F(ScriptTest, LoadsPublishWholeTreesWhileClientsReadThem) {
  std::string path = (dir_ / "test.odl").string();
  {
    std::ofstream file(path);
    for (int i = 0; i < 2000; ++i) file << "x" << i << " = " << i << "\n";
  }
  std::atomic<bool> done{false};
  std::jthread reader([&] {
    while (!done.load()) {
      std::shared_ptr<IScriptItem> root;
      script_->get_Item(&root);
      std::size_t before = Walk(*root);
      EXPECT_EQ(Walk(*root), before) << "a published tree changed under its reader";
      std::shared_ptr<IScriptItem> current;
      script_->get_CurrentItem(&current);
      std::string text;
      if (current) current->get_Text(&text);
    }
  });
  for (int i = 0; i < 20; ++i) {
    VariantBool loaded;
    ASSERT_EQ(script_->Load(path, &loaded), S_OK);
  }
  done.store(true);
}

}  // namespace
}  // namespace ordalis
