// The echo tester: answers every action from its parameters, so scripts and the engine's tests
// can exercise results, values, returned testers, aborts, logging and failing calls without a
// device. The module also offers a batch item kind for files of type "echo", whose lines say
// what the item does, so batch queues can be tried and tested with a plug-in item.

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "ordalis/tester_plugin.h"

namespace {

using ordalis::Result;
using ordalis::Variant;
using ordalis::plugin::Call;

class Echo : public ordalis::plugin::Tester<Echo> {
 public:
  static constexpr const char* kType = "echo";
  static constexpr const char* kVersion = "1.0";

  static const ActionTable& Actions() {
    static const ActionTable table = {
        {"Echo", "Returns its parameters as values and passes", {"values..."}, {"values..."},
         &Echo::DoEcho},
        {"Result", "Returns the given result code and the remaining parameters as values",
         {"code", "values..."}, {"values..."}, &Echo::DoResult},
        {"Fail", "Fails, returning no values", {}, {}, &Echo::DoFail},
        {"Count", "Returns the number of actions this tester has executed, this one included", {},
         {"count"}, &Echo::DoCount},
        {"Wait", "Waits the given number of milliseconds; ends early, aborted, on Abort", {"ms"},
         {}, &Echo::DoWait},
        {"Log", "Logs the text at the given level through the tester's trace", {"level", "text"},
         {}, &Echo::DoLog},
        {"NewEcho", "Returns a new echo tester among its values", {}, {"tester"},
         &Echo::DoNewEcho},
        {"Broken", "The call itself fails (E_FAIL)", {}, {}, &Echo::DoBroken},
        {"Measure",
         "Reports a measurement of the value with its name, unit and limits (comparison GELE, GTLT, "
         "GE, LE, EQ, NE or LOG); returns the value, with the measurement's verdict as its result",
         {"name", "value", "unit", "comparison", "low", "high"}, {"value"}, &Echo::DoMeasure},
    };
    return table;
  }

  static std::shared_ptr<ordalis::ITester> Make() { return std::make_shared<Echo>(); }

 protected:
  // Opened unless the constructor is the single parameter false.
  bool OnOpen(Call& constructor) override {
    return !(constructor.Count() == 1 && constructor.Bool(0) == false);
  }
  std::string Description() const override {
    return "Echoes its parameters; for trying the engine and for tests";
  }
  std::string ConstructorDescription() const override {
    return "No parameters needed; the single parameter false makes the open fail";
  }
  ordalis::TextArray ConstructorParameters() const override { return {"open"}; }
  std::vector<ReturnedTesterFactory> ReturnedTesters() const override { return {&Echo::Make}; }

 private:
  Result DoEcho(Call& call) {
    for (std::size_t i = 0; i < call.Count(); ++i) call.Return(call[i]);
    return ordalis::TestPassed;
  }

  Result DoResult(Call& call) {
    auto code = call.Int(0);
    if (!code) {
      call.Log(ordalis::severe, "Result needs an integer result code as its first parameter");
      return ordalis::TestError;
    }
    for (std::size_t i = 1; i < call.Count(); ++i) call.Return(call[i]);
    return static_cast<Result>(*code);
  }

  Result DoFail(Call&) { return ordalis::TestFailed; }

  Result DoCount(Call& call) {
    call.Return(Variant::Int(static_cast<std::int32_t>(ExecuteCount())));
    return ordalis::TestPassed;
  }

  Result DoWait(Call& call) {
    auto ms = call.Int(0);
    if (!ms || *ms < 0) {
      call.Log(ordalis::severe, "Wait needs a number of milliseconds");
      return ordalis::TestError;
    }
    call.Log(ordalis::fine, "Waiting " + std::to_string(*ms) + " ms");
    if (WaitForAbort(std::chrono::milliseconds(*ms))) {
      call.Log(ordalis::warning, "Wait aborted");
      return ordalis::TestAborted;
    }
    return ordalis::TestPassed;
  }

  Result DoLog(Call& call) {
    auto level = call.Int(0);
    if (!level || *level < ordalis::finest || *level > ordalis::severe) {
      call.Log(ordalis::severe, "Log needs a level from 0 (finest) to 6 (severe)");
      return ordalis::TestError;
    }
    call.Log(static_cast<ordalis::LoggingLevel>(*level), call.Text(1));
    return ordalis::TestPassed;
  }

  Result DoNewEcho(Call& call) {
    call.Return(Variant::Dispatch(Make()));
    return ordalis::TestPassed;
  }

  // Measure(name, value, unit, comparison, low, high): an empty name is left for the script to
  // name; a comparison without the limits it needs fails the measurement.
  Result DoMeasure(Call& call) {
    static const std::pair<const char*, ordalis::MeasurementComparison> kComparisons[] = {
        {"GELE", ordalis::CompareBetweenInclusive}, {"GTLT", ordalis::CompareBetweenExclusive},
        {"GE", ordalis::CompareAtLeast}, {"LE", ordalis::CompareAtMost}, {"EQ", ordalis::CompareEqual},
        {"NE", ordalis::CompareNotEqual}, {"LOG", ordalis::CompareLogOnly}};
    ordalis::MeasuredValue& measured = call.Measure(call.Text(0), call[1], call.Text(2));
    const std::string word = call.Text(3);
    bool known = word.empty();
    for (const auto& [name, comparison] : kComparisons) {
      if (word == name) {
        measured.comparison = comparison;
        known = true;
      }
    }
    if (!known) {
      call.Log(ordalis::severe, "Measure knows the comparisons GELE, GTLT, GE, LE, EQ, NE and LOG, not " + word);
      return ordalis::TestError;
    }
    if (auto low = call.Number(4)) {
      measured.has_low = true;
      measured.low = *low;
    }
    if (auto high = call.Number(5)) {
      measured.has_high = true;
      measured.high = *high;
    }
    measured.Judge();
    const Result verdict = measured.result;
    call.Return(call[1]);
    return verdict;
  }

  Result DoBroken(Call& call) {
    call.FailCall(ordalis::E_FAIL);
    return ordalis::TestError;
  }
};

// A batch item for ".echo" files. Each line of the file is one step, carried out in order on
// the item's own thread:
//   log TEXT       logs TEXT through the item's trace at level information
//   wait MS        waits MS milliseconds; Abort ends the wait and the item is Aborted
//   result WORD    the item ends Passed, Failed or Aborted (passed, failed, aborted)
// Without a result line the item passes; a file that cannot be read fails.
class EchoBatchItem : public ordalis::IBatchQueueItem1 {
 public:
  ~EchoBatchItem() override {
    Abort();
    std::lock_guard lock(mutex_);
    if (worker_.joinable()) worker_.join();
  }

  ordalis::Status get_Version(std::string* version) override { return Text(version, "1.0"); }
  ordalis::Status get_Description(std::string* description) override { return Text(description, "Echo batch file"); }

  ordalis::Status Execute(const std::string& file_name, std::shared_ptr<ordalis::ITrace> trace) override {
    std::lock_guard lock(mutex_);
    {
      std::lock_guard state(state_mutex_);
      if (status_ == ordalis::BatchQueueItemRunning) return ordalis::S_OK;
    }
    if (worker_.joinable()) worker_.join();
    {
      std::lock_guard state(state_mutex_);
      status_ = ordalis::BatchQueueItemRunning;
      aborted_ = false;
    }
    worker_ = std::thread([this, file_name, trace] { Work(file_name, trace); });
    return ordalis::S_OK;
  }
  ordalis::Status get_Status(ordalis::BatchQueueItemStatus* status) override {
    if (!status) return ordalis::E_POINTER;
    std::lock_guard lock(state_mutex_);
    *status = status_;
    return ordalis::S_OK;
  }
  ordalis::Status Abort() override {
    {
      std::lock_guard lock(state_mutex_);
      aborted_ = true;
    }
    changed_.notify_all();
    return ordalis::S_OK;
  }
  ordalis::Status Reset() override { return ordalis::S_OK; }
  ordalis::Status get_PauseOnError(ordalis::VariantBool* value) override {
    if (!value) return ordalis::E_POINTER;
    *value = ordalis::kVariantFalse;
    return ordalis::S_OK;
  }
  ordalis::Status put_PauseOnError(ordalis::VariantBool) override { return ordalis::S_OK; }
  ordalis::Status get_ResultsFile(std::string* file) override { return Text(file, ""); }
  ordalis::Status get_ResultsDirectory(std::string* directory) override { return Text(directory, ""); }
  ordalis::Status put_ResultsDirectory(const std::string&) override { return ordalis::S_OK; }

 private:
  static ordalis::Status Text(std::string* out, const char* text) {
    if (!out) return ordalis::E_POINTER;
    *out = text;
    return ordalis::S_OK;
  }

  void Work(const std::string& file_name, const std::shared_ptr<ordalis::ITrace>& trace) {
    std::ifstream file(file_name);
    ordalis::BatchQueueItemStatus end = file ? ordalis::BatchQueueItemPassed : ordalis::BatchQueueItemFailed;
    std::string line;
    while (end != ordalis::BatchQueueItemAborted && std::getline(file, line)) {
      std::istringstream words(line);
      std::string step, rest;
      words >> step;
      std::getline(words >> std::ws, rest);
      if (step == "log" && trace) trace->Log(ordalis::information, rest);
      if (step == "wait" && !Wait(std::atoi(rest.c_str()))) end = ordalis::BatchQueueItemAborted;
      if (step == "result") end = rest == "failed"  ? ordalis::BatchQueueItemFailed
                                  : rest == "aborted" ? ordalis::BatchQueueItemAborted
                                                      : ordalis::BatchQueueItemPassed;
    }
    std::lock_guard lock(state_mutex_);
    status_ = end;
  }

  // False when an abort ended the wait.
  bool Wait(int ms) {
    std::unique_lock lock(state_mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return aborted_; });
  }

  std::mutex mutex_;  // one Execute at a time
  std::mutex state_mutex_;
  std::condition_variable changed_;
  ordalis::BatchQueueItemStatus status_ = ordalis::BatchQueueItemNotRunning;
  bool aborted_ = false;
  std::thread worker_;
};

class EchoBatchItemCreator : public ordalis::IBatchQueueItemCreator {
 public:
  ordalis::Status get_Version(std::string* version) override {
    if (!version) return ordalis::E_POINTER;
    *version = "1.0";
    return ordalis::S_OK;
  }
  ordalis::Status create(std::uint32_t index, std::shared_ptr<ordalis::IBatchQueueItem>* item) override {
    if (!item) return ordalis::E_POINTER;
    item->reset();
    if (index == 0) *item = std::make_shared<EchoBatchItem>();
    return ordalis::S_OK;
  }
  ordalis::Status get_NumberOfFileTypes(std::uint32_t* count) override {
    if (!count) return ordalis::E_POINTER;
    *count = 1;
    return ordalis::S_OK;
  }
  ordalis::Status get_FileType(std::uint32_t index, std::string* file_type) override {
    if (!file_type) return ordalis::E_POINTER;
    if (index != 0) return ordalis::E_INVALIDARG;
    *file_type = "echo";
    return ordalis::S_OK;
  }
};

}  // namespace

ORDALIS_PLUGIN(registry) {
  registry.AddTesterCreator<Echo>("{AE96A215-DD09-45A8-9075-26D1616B16E9}");
  registry.AddBatchQueueItemCreator("{5C1D6F0B-3E2A-4B7C-9D8E-1F2A3B4C5D6E}", [] {
    return std::shared_ptr<ordalis::IBatchQueueItemCreator>(std::make_shared<EchoBatchItemCreator>());
  });
}
