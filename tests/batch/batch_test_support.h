#pragma once
// Shared pieces of the batch tests: a temporary folder per test, a recorder of a queue's events
// and states with waits on them, and "fake" batch items whose outcome each test scripts.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_queue.h"
#include "batch/item_creation.h"
#include "ordalis/interfaces.h"
#include "testers/plugin_host.h"

namespace ordalis::testing_support {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every test that reaches the settings store reads and writes files of its own.
inline const bool kPrivateSettings = [] {
  std::string base = (fs::temp_directory_path() / ("ordalis_batch_settings_" + std::to_string(::getpid()))).string();
  setenv("ORDALIS_MACHINE_SETTINGS", (base + "_machine.json").c_str(), 1);
  setenv("ORDALIS_USER_SETTINGS", (base + "_user.json").c_str(), 1);
  return true;
}();

inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A folder of its own for each test, removed afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests are named "Test/0"
    dir_ = fs::temp_directory_path() / ("ordalis_batch_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    WriteFile(Path(name), text);
    return Path(name);
  }
  fs::path dir_;
};

// One event of a queue, as "Added 12" or "State 4".
struct QueueEvent {
  std::string name;
  std::uint32_t value;
  bool operator==(const QueueEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const QueueEvent& e) { return out << e.name << ' ' << e.value; }

// Records a queue's events and state changes; every wait has a generous safety time-out so a
// broken queue fails instead of hanging.
class QueueRecorder : public IBatchQueueEvents, public IBatchQueueClient {
 public:
  Status Started(std::uint32_t id) override { return Note("Started", id); }
  Status Finished(std::uint32_t id) override { return Note("Finished", id); }
  Status Added(std::uint32_t id) override { return Note("Added", id); }
  Status Removed(std::uint32_t id) override { return Note("Removed", id); }
  Status Moved(std::uint32_t id) override { return Note("Moved", id); }
  void StateChanged(BatchQueueState state) override { Note("State", static_cast<std::uint32_t>(state)); }

  static std::shared_ptr<QueueRecorder> Attach(CBatchQueue& queue) {
    auto recorder = std::make_shared<QueueRecorder>();
    std::uint32_t cookie = 0;
    queue.BatchQueueEvents().Advise(recorder, &cookie);
    queue.SetClient(recorder);
    return recorder;
  }

  template <typename Predicate>
  bool WaitFor(Predicate ready) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return ready(events_); });
  }
  // Waits until [name] [value] has been seen [times] times.
  bool WaitForEvent(const std::string& name, std::uint32_t value, std::size_t times = 1) {
    return WaitFor([&](const std::vector<QueueEvent>& events) { return Count(events, name, value) >= times; });
  }
  bool WaitForState(BatchQueueState state, std::size_t times = 1) {
    return WaitForEvent("State", static_cast<std::uint32_t>(state), times);
  }
  // The events other than state changes, in order.
  std::vector<QueueEvent> Events() {
    std::lock_guard lock(mutex_);
    std::vector<QueueEvent> events;
    for (const QueueEvent& e : events_) {
      if (e.name != "State") events.push_back(e);
    }
    return events;
  }
  std::vector<std::uint32_t> States() {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> states;
    for (const QueueEvent& e : events_) {
      if (e.name == "State") states.push_back(e.value);
    }
    return states;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  static std::size_t Count(const std::vector<QueueEvent>& events, const std::string& name, std::uint32_t value) {
    std::size_t n = 0;
    for (const QueueEvent& e : events) n += e.name == name && e.value == value;
    return n;
  }

 private:
  Status Note(const char* name, std::uint32_t value) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back({name, value});
    }
    changed_.notify_all();
    return S_OK;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<QueueEvent> events_;
};

// ---- fake items ---------------------------------------------------------------------------------

// What one attempt of a fake item does: end at once with a status, or stay Running until the test
// releases it (or an abort ends it).
enum class FakeStep { kPass, kFail, kAbort, kHold };

// The process-wide script and journal of the fake items, keyed by file name.
class FakeItems {
 public:
  static constexpr const char* kCreatorId = "{0F0F0F0F-1111-2222-3333-444444444444}";
  static FakeItems& Get() {
    static FakeItems items;
    return items;
  }
  // Registers the "fake" file type with the process-wide creator list, once.
  static void Register();

  // Sets what the attempts of [file] do, in order (further attempts pass), and forgets its journal.
  void Script(const std::string& file, std::vector<FakeStep> steps) {
    std::lock_guard lock(mutex_);
    steps_[file] = std::deque<FakeStep>(steps.begin(), steps.end());
    journal_.erase(file);
  }
  FakeStep Next(const std::string& file) {
    std::lock_guard lock(mutex_);
    auto& steps = steps_[file];
    if (steps.empty()) return FakeStep::kPass;
    FakeStep step = steps.front();
    steps.pop_front();
    return step;
  }
  void Note(const std::string& file, const std::string& call) {
    {
      std::lock_guard lock(mutex_);
      journal_[file].push_back(call);
    }
    changed_.notify_all();
  }
  std::vector<std::string> Journal(const std::string& file) {
    std::lock_guard lock(mutex_);
    return journal_[file];
  }
  // Waits until [file] has been executed [times] times.
  bool WaitForExecutions(const std::string& file, std::size_t times) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] {
      std::size_t n = 0;
      for (const std::string& call : journal_[file]) n += call == "Execute";
      return n >= times;
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::deque<FakeStep>> steps_;
  std::map<std::string, std::vector<std::string>> journal_;
};

class FakeItem : public IBatchQueueItem1 {
 public:
  Status get_Version(std::string* v) override { return (*v = "9.9"), S_OK; }
  Status get_Description(std::string* d) override { return (*d = "Fake item"), S_OK; }
  Status Execute(const std::string& file_name, std::shared_ptr<ITrace>) override {
    {
      std::lock_guard lock(mutex_);
      file_ = file_name;
    }
    Note("Execute");
    FakeStep step = FakeItems::Get().Next(file_name);
    status_.store(step == FakeStep::kPass    ? BatchQueueItemPassed
                  : step == FakeStep::kFail  ? BatchQueueItemFailed
                  : step == FakeStep::kAbort ? BatchQueueItemAborted
                                             : BatchQueueItemRunning);
    return S_OK;
  }
  Status get_Status(BatchQueueItemStatus* s) override { return (*s = status_.load()), S_OK; }
  Status Abort() override {
    Note("Abort");
    status_.store(BatchQueueItemAborted);
    return S_OK;
  }
  Status Reset() override {
    Note("Reset");
    return S_OK;
  }
  Status get_PauseOnError(VariantBool* v) override { return (*v = kVariantFalse), S_OK; }
  Status put_PauseOnError(VariantBool) override { return S_OK; }
  Status get_ResultsFile(std::string* f) override { return (*f = ""), S_OK; }
  Status get_ResultsDirectory(std::string* d) override { return (*d = ""), S_OK; }
  Status put_ResultsDirectory(const std::string&) override { return S_OK; }
  // Ends a held attempt with [status].
  void Release(BatchQueueItemStatus status) { status_.store(status); }
  // The calls this item received, in order: "Reset", "Execute", "Abort".
  std::vector<std::string> Journal() {
    std::lock_guard lock(mutex_);
    return journal_;
  }

 private:
  void Note(const char* call) {
    std::string file;
    {
      std::lock_guard lock(mutex_);
      file = file_;
      journal_.push_back(call);
    }
    if (!file.empty()) FakeItems::Get().Note(file, call);
  }
  std::mutex mutex_;
  std::string file_;
  std::vector<std::string> journal_;
  std::atomic<BatchQueueItemStatus> status_{BatchQueueItemNotRunning};
};

class FakeCreator : public IBatchQueueItemCreator {
 public:
  Status get_Version(std::string* v) override { return (*v = "1"), S_OK; }
  Status create(std::uint32_t index, std::shared_ptr<IBatchQueueItem>* item) override {
    *item = index == 0 ? std::make_shared<FakeItem>() : nullptr;
    return S_OK;
  }
  Status get_NumberOfFileTypes(std::uint32_t* n) override { return (*n = 1), S_OK; }
  Status get_FileType(std::uint32_t index, std::string* type) override {
    if (index != 0) return E_INVALIDARG;
    *type = "fake";
    return S_OK;
  }
};

inline void FakeItems::Register() {
  static const bool registered = [] {
    PluginHost::Instance()->AddBatchQueueItemCreator(kCreatorId, [] {
      return std::shared_ptr<IBatchQueueItemCreator>(std::make_shared<FakeCreator>());
    });
    return BatchQueueCreators::Instance().Add(kCreatorId);
  }();
  ASSERT_TRUE(registered);
}

// The fake item behind entry [id] of [queue].
inline std::shared_ptr<FakeItem> FakeOf(CBatchQueue& queue, std::uint32_t id) {
  std::shared_ptr<IBatchQueueRunner> runner;
  std::shared_ptr<IBatchQueueItem> item;
  if (Failed(queue.get_Item(id, &runner)) || Failed(runner->get_Item(&item))) return nullptr;
  return std::dynamic_pointer_cast<FakeItem>(item);
}

}  // namespace ordalis::testing_support
