// The batch queue through its automation face: events, retries, continuous running, stepping,
// stopping and resetting, positions, and the results it records. Items are "fake" ones whose
// outcome each test scripts, or real scripts where the script kind itself matters.

#include "batch/batch_queue.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "batch/batch_queue_runner.h"
#include "batch_test_support.h"
#include "settings/application_manager.h"

namespace ordalis {
namespace {

using testing_support::FakeItems;
using testing_support::FakeOf;
using testing_support::FakeStep;
using testing_support::QueueEvent;
using testing_support::QueueRecorder;

class BatchQueueTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    FakeItems::Register();
    queue_ = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
    queue_->SetResultsDirectory(Path("Results"));
    recorder_ = QueueRecorder::Attach(*queue_);
  }
  void TearDown() override {
    queue_.reset();
    TempDirTest::TearDown();
  }

  std::uint32_t AddFake(const std::string& name, std::vector<FakeStep> steps = {}) {
    std::string file = Path(name + ".fake");
    FakeItems::Get().Script(file, std::move(steps));
    std::uint32_t id = 0;
    EXPECT_EQ(queue_->Add(file, "", &id), S_OK);
    return id;
  }
  std::vector<std::string> Journal(std::uint32_t id) { return FakeOf(*queue_, id)->Journal(); }
  std::size_t Executions(const std::string& name) {
    std::size_t n = 0;
    for (const std::string& call : FakeItems::Get().Journal(Path(name + ".fake"))) n += call == "Execute";
    return n;
  }
  // Runs the queue until it stops by itself at the end of the list.
  void RunToEnd() {
    std::size_t stops = Count(BatchQueueNotRunning);
    queue_->Run();
    ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning, stops + 1));
  }
  std::size_t Count(BatchQueueState state) {
    std::size_t n = 0;
    for (std::uint32_t s : recorder_->States()) n += s == static_cast<std::uint32_t>(state);
    return n;
  }
  BatchQueueState State() {
    BatchQueueState state;
    queue_->get_State(&state);
    return state;
  }

  std::shared_ptr<CBatchQueue> queue_;
  std::shared_ptr<QueueRecorder> recorder_;
};

TEST_F(BatchQueueTest, APassingScriptGivesAddedStartedFinishedAndARecord) {
  std::string script = Write("pass.odl", "x = 1\n");
  std::uint32_t id = 0;
  ASSERT_EQ(queue_->Add(script, "", &id), S_OK);
  RunToEnd();
  EXPECT_EQ(recorder_->Events(),
            (std::vector<QueueEvent>{{"Added", id}, {"Started", id}, {"Finished", id}}));
  EXPECT_EQ(recorder_->States(), (std::vector<std::uint32_t>{BatchQueueRunning, BatchQueueStopping, BatchQueueNotRunning}));
  std::vector<batch::BatchResultRecord> records = queue_->Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].name, "../pass.odl");
  EXPECT_EQ(records[0].status, BatchQueueItemPassed);
  EXPECT_EQ(records[0].id, id);
  EXPECT_EQ(records[0].iteration, 1u);
  ASSERT_FALSE(records[0].results_file.empty()) << "the script wrote its results into the queue's folder";
  EXPECT_TRUE(std::filesystem::exists(Path("Results/" + records[0].results_file)));
  std::string results;
  queue_->get_ResultsFileName(&results);
  EXPECT_EQ(results.rfind(Path("Results/BatchQueue_"), 0), 0u) << results;
  std::string xml = testing_support::ReadFile(results);
  EXPECT_NE(xml.find("<overall_result>Passed</overall_result>"), std::string::npos);
  EXPECT_NE(xml.find("<result_check_code>12345678</result_check_code>"), std::string::npos);
  int status = std::system(("xmllint --noout --schema '" + Path("Results/OrdalisBatch4_2.xsd") + "' '" + results +
                            "' >/dev/null 2>&1").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(BatchQueueTest, AutoRemoveRemovesEachFinishedEntry) {
  queue_->put_AutoRemove(kVariantTrue);
  std::uint32_t a = AddFake("a");
  std::uint32_t b = AddFake("b");
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Removed", b));
  EXPECT_EQ(recorder_->Events(), (std::vector<QueueEvent>{{"Added", a}, {"Added", b}, {"Started", a}, {"Finished", a},
                                                          {"Removed", a}, {"Started", b}, {"Finished", b}, {"Removed", b}}));
  EXPECT_EQ(State(), BatchQueueRunning) << "under AutoRemove the queue idles, waiting for entries";
  std::uint32_t c = AddFake("c");
  ASSERT_TRUE(recorder_->WaitForEvent("Removed", c));
  EXPECT_EQ(queue_->Records().size(), 3u);
}

// Both pacings give a client the same events and states for an entry that runs a while.
class BatchQueuePacingTest : public BatchQueueTest, public ::testing::WithParamInterface<QueuePacing> {};

TEST_P(BatchQueuePacingTest, TheSameEventsAndStates) {
  queue_->set_pacing(GetParam());
  std::uint32_t id = AddFake("held", {FakeStep::kHold});
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", id));
  FakeOf(*queue_, id)->Release(BatchQueueItemPassed);
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(recorder_->Events(), (std::vector<QueueEvent>{{"Added", id}, {"Started", id}, {"Finished", id}}));
  EXPECT_EQ(recorder_->States(), (std::vector<std::uint32_t>{BatchQueueRunning, BatchQueueStopping, BatchQueueNotRunning}));
}

INSTANTIATE_TEST_SUITE_P(Both, BatchQueuePacingTest,
                         ::testing::Values(QueuePacing::kWakeOnChange, QueuePacing::kPolling),
                         [](const ::testing::TestParamInfo<QueuePacing>& info) {
                           return std::string(info.param == QueuePacing::kPolling ? "Polling" : "WakeOnChange");
                         });

// An entry that fails every time runs 1 + RetryCount times; only the first attempt is preceded by
// a Reset.
class RetryTest : public BatchQueueTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(RetryTest, AFailingEntryIsRetriedRetryCountTimes) {
  std::uint32_t retries = GetParam();
  queue_->put_RetryCount(retries);
  std::uint32_t id = AddFake("fails", std::vector<FakeStep>(5, FakeStep::kFail));
  std::uint32_t next = AddFake("next");
  RunToEnd();
  std::vector<std::string> expected = {"Reset"};
  for (std::uint32_t i = 0; i <= retries; ++i) expected.push_back("Execute");
  EXPECT_EQ(Journal(id), expected);
  std::vector<batch::BatchResultRecord> records = queue_->Records();
  ASSERT_EQ(records.size(), retries + 2);
  for (std::uint32_t i = 0; i <= retries; ++i) {
    EXPECT_EQ(records[i].status, BatchQueueItemFailed);
    EXPECT_EQ(records[i].retry, i);
    EXPECT_EQ(records[i].maxretry, retries);
  }
  EXPECT_EQ(records.back().id, next);
  EXPECT_EQ(recorder_->WaitFor([&](const std::vector<QueueEvent>& events) {
    return QueueRecorder::Count(events, "Started", id) == retries + 1 &&
           QueueRecorder::Count(events, "Finished", id) == retries + 1;
  }), true) << "one Started and Finished per attempt";
  EXPECT_FALSE(queue_->ResultsHeader().all_passed);
}

INSTANTIATE_TEST_SUITE_P(Counts, RetryTest, ::testing::Values(0u, 1u, 2u));

TEST_F(BatchQueueTest, AnEntryThatFailsThenPassesStopsBeingRetried) {
  queue_->put_RetryCount(3);
  std::uint32_t id = AddFake("flaky", {FakeStep::kFail, FakeStep::kPass});
  RunToEnd();
  EXPECT_EQ(Journal(id), (std::vector<std::string>{"Reset", "Execute", "Execute"}));
  EXPECT_FALSE(queue_->ResultsHeader().all_passed) << "the failed attempt still counts";
}

// An aborted attempt is not retried; the batch it belongs to did not run to its end, so it does
// not pass (ResultDetails still reports the attempt itself as no failure).
TEST_F(BatchQueueTest, AnAbortedAttemptIsNotRetriedAndTheBatchDoesNotPass) {
  queue_->put_RetryCount(2);
  std::uint32_t id = AddFake("aborts", {FakeStep::kAbort});
  RunToEnd();
  EXPECT_EQ(Journal(id), (std::vector<std::string>{"Reset", "Execute"}));
  ASSERT_EQ(queue_->Records().size(), 1u);
  EXPECT_EQ(queue_->Records()[0].status, BatchQueueItemAborted);
  EXPECT_FALSE(queue_->ResultsHeader().all_passed);
  std::uint32_t record_id;
  std::string name, file, comment;
  VariantBool passed = kVariantTrue;
  ASSERT_EQ(queue_->ResultDetails(0, &record_id, &name, &file, &comment, &passed), S_OK);
  EXPECT_EQ(passed, kVariantFalse) << "an aborted attempt is not reported as passed";
  EXPECT_EQ(name, "../aborts.fake");
}

TEST_F(BatchQueueTest, ContinuousRunningCountsIterationsAndKeepsEveryResult) {
  std::uint32_t a = AddFake("a");
  std::uint32_t b = AddFake("b");
  queue_->put_AutoRemove(kVariantTrue);
  queue_->put_RunningContinuously(kVariantTrue);
  VariantBool auto_remove = kVariantTrue;
  queue_->get_AutoRemove(&auto_remove);
  EXPECT_EQ(auto_remove, kVariantFalse) << "continuous running clears AutoRemove";
  ASSERT_TRUE(recorder_->WaitForEvent("Finished", a, 3));
  queue_->Stop();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  VariantBool continuous = kVariantTrue;
  queue_->get_RunningContinuously(&continuous);
  EXPECT_EQ(continuous, kVariantFalse) << "a stop ends continuous running";
  std::vector<batch::BatchResultRecord> records = queue_->Records();
  ASSERT_GE(records.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(records[i].id, i % 2 == 0 ? a : b);
    EXPECT_EQ(records[i].iteration, i / 2 + 1);
  }
}

TEST_F(BatchQueueTest, StepRunsOneAttemptAndLeavesTheQueuePaused) {
  AddFake("a");
  std::uint32_t b = AddFake("b");
  AddFake("c");
  queue_->Step();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueuePaused));
  EXPECT_EQ(Executions("a"), 1u);
  EXPECT_EQ(Executions("b"), 0u);
  VariantBool stop_after = kVariantTrue;
  queue_->get_StopAfterCurrentItem(&stop_after);
  EXPECT_EQ(stop_after, kVariantFalse);
  queue_->Step();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueuePaused, 2));
  EXPECT_EQ(Executions("b"), 1u);
  EXPECT_EQ(Executions("c"), 0u);
  EXPECT_EQ(recorder_->Events().back(), (QueueEvent{"Finished", b}));
  queue_->Pause();
  EXPECT_EQ(State(), BatchQueuePaused) << "Pause outside Running changes nothing";
}

TEST_F(BatchQueueTest, StopThenRunBeginsANewResultsFileAndReRunsTheInterruptedEntry) {
  std::uint32_t held = AddFake("held", {FakeStep::kHold, FakeStep::kPass});
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", held));
  std::string first;
  queue_->get_ResultsFileName(&first);
  queue_->Stop();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(recorder_->Events().back(), (QueueEvent{"Finished", held}));
  EXPECT_EQ(Journal(held), (std::vector<std::string>{"Reset", "Execute", "Abort"}));
  ASSERT_EQ(queue_->Records().size(), 1u) << "the attempt the stop cut short is recorded";
  EXPECT_EQ(queue_->Records()[0].status, BatchQueueItemAborted);
  std::string stopped = testing_support::ReadFile(first);
  EXPECT_NE(stopped.find("<overall_result>Failed</overall_result>"), std::string::npos) << stopped;
  EXPECT_NE(stopped.find("<result>Aborted</result>"), std::string::npos) << stopped;
  RunToEnd();
  std::string second;
  queue_->get_ResultsFileName(&second);
  EXPECT_NE(second, first) << "even within the same second";
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_EQ(Executions("held"), 2u);
  ASSERT_EQ(queue_->Records().size(), 1u);
  EXPECT_EQ(queue_->Records()[0].status, BatchQueueItemPassed);
}

TEST_F(BatchQueueTest, ResetWhileNotRunningAbortsTheCurrentEntryAndResetsEveryItem) {
  std::uint32_t a = AddFake("a");
  std::uint32_t b = AddFake("b");
  queue_->Step();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueuePaused));
  queue_->Stop();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  ASSERT_EQ(queue_->Records().size(), 1u);
  recorder_->Clear();
  queue_->Reset();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(recorder_->Events(), (std::vector<QueueEvent>{{"Finished", b}, {"Finished", a}, {"Finished", b}}));
  EXPECT_EQ(Journal(a), (std::vector<std::string>{"Reset", "Execute", "Reset"}));
  EXPECT_EQ(Journal(b), (std::vector<std::string>{"Abort", "Abort", "Reset"})) << "aborted by the stop and the reset";
  EXPECT_TRUE(queue_->Records().empty());
  EXPECT_EQ(State(), BatchQueueNotRunning);
  RunToEnd();
  EXPECT_EQ(queue_->Records().front().id, a) << "the current index went back to the first entry";
}

TEST_F(BatchQueueTest, PositionsWhileRunningAndWhileStopped) {
  std::uint32_t held = AddFake("held", {FakeStep::kHold});
  std::uint32_t b = AddFake("b");
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", held));
  queue_->put_Position(b, 0);
  std::uint32_t position = 9;
  queue_->get_Position(b, &position);
  EXPECT_EQ(position, 1u) << "Position is ignored while running";
  std::uint32_t c = 0;
  queue_->AddAt(0, Path("c.fake"), "", &c);
  queue_->get_Position(c, &position);
  EXPECT_EQ(position, 2u) << "AddAt appends while running";
  queue_->Stop();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  queue_->put_Position(c, 0);
  queue_->get_Position(c, &position);
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(recorder_->Events().back(), (QueueEvent{"Moved", c}));
  queue_->put_Position(b, 99);
  queue_->get_Position(b, &position);
  EXPECT_EQ(position, 2u) << "clamped to the end";
  queue_->get_Position(12345678, &position);
  EXPECT_EQ(position, 3u) << "a missing id gives the entry count";
  std::uint32_t d = 0;
  queue_->AddAt(1, Path("d.fake"), "", &d);
  queue_->get_Position(d, &position);
  EXPECT_EQ(position, 1u) << "AddAt inserts while not running";
}

TEST_F(BatchQueueTest, RemovingAnEarlierEntryKeepsTheCurrentOneCurrent) {
  std::uint32_t a = AddFake("a");
  std::uint32_t held = AddFake("held", {FakeStep::kHold});
  std::uint32_t c = AddFake("c");
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", held));
  ASSERT_EQ(queue_->Remove(a), S_OK);
  FakeOf(*queue_, held)->Release(BatchQueueItemPassed);
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(Executions("held"), 1u);
  EXPECT_EQ(Executions("c"), 1u);
  EXPECT_EQ(queue_->Records().back().id, c);
}

TEST_F(BatchQueueTest, RemovingTheRunningEntryMovesOnToTheNext) {
  std::uint32_t held = AddFake("held", {FakeStep::kHold});
  std::uint32_t b = AddFake("b");
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", held));
  ASSERT_EQ(queue_->Remove(held), S_OK);
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  ASSERT_EQ(queue_->Records().size(), 1u);
  EXPECT_EQ(queue_->Records()[0].id, b);
}

TEST_F(BatchQueueTest, WithoutStopAtEndTheQueueRunsEntriesAddedLater) {
  queue_->put_StopAtEnd(kVariantFalse);
  std::uint32_t a = AddFake("a");
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Finished", a));
  EXPECT_EQ(State(), BatchQueueRunning);
  std::uint32_t b = AddFake("b");
  ASSERT_TRUE(recorder_->WaitForEvent("Finished", b));
  queue_->Stop();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(queue_->Records().size(), 2u);
}

TEST_F(BatchQueueTest, ClearRemovesEveryEntry) {
  std::uint32_t a = AddFake("a");
  std::uint32_t b = AddFake("b");
  queue_->Clear();
  ASSERT_TRUE(recorder_->WaitForEvent("Removed", b));
  EXPECT_EQ(recorder_->Events(), (std::vector<QueueEvent>{{"Added", a}, {"Added", b}, {"Finished", a}, {"Removed", a},
                                                          {"Removed", b}}));
  std::uint32_t count = 9;
  queue_->get_ItemCount(&count);
  EXPECT_EQ(count, 0u);
}

TEST_F(BatchQueueTest, MissingIdsIndexesAndPointers) {
  std::uint32_t id = AddFake("a");
  std::uint32_t missing = id + 100000;
  std::string text;
  BatchQueueItemStatus status;
  std::shared_ptr<IBatchQueueRunner> runner;
  EXPECT_EQ(queue_->Remove(missing), E_INVALIDARG);
  EXPECT_EQ(queue_->get_Item(missing, &runner), E_INVALIDARG);
  EXPECT_EQ(queue_->get_FileName(missing, &text), E_INVALIDARG);
  EXPECT_EQ(queue_->get_EmailAddresses(missing, &text), E_INVALIDARG);
  EXPECT_EQ(queue_->get_Description(missing, &text), E_INVALIDARG);
  EXPECT_EQ(queue_->get_Status(missing, &status), E_INVALIDARG);
  EXPECT_EQ(queue_->Abort(missing), E_INVALIDARG);
  std::uint32_t value;
  EXPECT_EQ(queue_->get_Id(1, &value), E_INVALIDARG);
  EXPECT_EQ(queue_->get_Id(0, &value), S_OK);
  EXPECT_EQ(value, id);
  EXPECT_EQ(queue_->AddResultComment(0, "x"), E_INVALIDARG);
  VariantBool passed;
  EXPECT_EQ(queue_->ResultDetails(0, &value, &text, &text, &text, &passed), E_INVALIDARG);
  EXPECT_EQ(queue_->ResultDetails(0, &value, &text, nullptr, &text, &passed), E_POINTER);
  EXPECT_EQ(queue_->get_VersionUnderTest(nullptr), E_FAIL);
  EXPECT_EQ(queue_->Add(Path("a.fake"), "", nullptr), E_POINTER);
  recorder_->Clear();
  EXPECT_EQ(queue_->Add(Path("notes.txt"), "", &value), E_FAIL);
  EXPECT_EQ(queue_->Add(Path("missing.tbq"), "", &value), E_FAIL);
  EXPECT_TRUE(recorder_->Events().empty()) << "nothing is added and no event fired";
  EXPECT_EQ(queue_->get_Description(id, &text), S_OK);
  EXPECT_EQ(text, "Fake item");
  VariantBool valid = kVariantFalse;
  queue_->FileTypeValid("x.TBQ", &valid);
  EXPECT_EQ(valid, kVariantTrue);
  queue_->FileTypeValid("build.BAT", &valid);
  EXPECT_EQ(valid, kVariantTrue);
  queue_->FileTypeValid("notes.txt", &valid);
  EXPECT_EQ(valid, kVariantFalse);
}

TEST_F(BatchQueueTest, ResultCommentsAndResultsLoadedBack) {
  std::uint32_t a = AddFake("a", {FakeStep::kFail});
  AddFake("b");
  queue_->put_VersionUnderTest("v1 & v2");
  RunToEnd();
  ASSERT_EQ(queue_->AddResultComment(0, "first line\r\nsecond\tline \xC3\xA9"), S_OK);
  std::string results;
  queue_->get_ResultsFileName(&results);
  std::string written = testing_support::ReadFile(results);
  EXPECT_NE(written.find("<comments>first linesecondline </comments>"), std::string::npos) << written;

  auto loaded = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
  ASSERT_EQ(loaded->Load(results), S_OK);
  std::uint32_t count = 0;
  loaded->get_ResultCount(&count);
  EXPECT_EQ(count, 2u);
  std::uint32_t id = 99;
  std::string name, file, comment;
  VariantBool passed = kVariantTrue;
  ASSERT_EQ(loaded->ResultDetails(0, &id, &name, &file, &comment, &passed), S_OK);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(name, "../a.fake");
  EXPECT_EQ(comment, "first linesecondline ");
  EXPECT_EQ(passed, kVariantFalse);
  std::string version;
  loaded->get_VersionUnderTest(&version);
  EXPECT_EQ(version, "v1 & v2");
  std::uint32_t items = 9;
  loaded->get_ItemCount(&items);
  EXPECT_EQ(items, 0u) << "loading results leaves the entries alone";
  ASSERT_EQ(loaded->AddResultComment(1, "second"), S_OK);
  std::string rewritten = testing_support::ReadFile(results);
  EXPECT_EQ(rewritten.substr(0, rewritten.find("   <name>../b.fake")), written.substr(0, written.find("   <name>../b.fake")))
      << "loaded and written back, the file keeps what it had";
  EXPECT_NE(rewritten.find("<comments>second</comments>"), std::string::npos);
  (void)a;
}

TEST_F(BatchQueueTest, RunWritesAResultsFileBeforeAnyAttemptFinishes) {
  std::uint32_t held = AddFake("held", {FakeStep::kHold});
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForEvent("Started", held));
  std::string results;
  queue_->get_ResultsFileName(&results);
  std::string xml = testing_support::ReadFile(results);
  EXPECT_NE(xml.find("<overall_result>Not Run</overall_result>"), std::string::npos);
  EXPECT_EQ(xml.find("<iteration>"), std::string::npos);
  FakeOf(*queue_, held)->Release(BatchQueueItemFailed);
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_NE(testing_support::ReadFile(results).find("<overall_result>Failed</overall_result>"), std::string::npos);
}

// A client that holds the only reference to a queue and lets go of it from one of the queue's
// own events, on the queue's thread.
class DroppingClient : public IBatchQueueEvents, public IBatchQueueClient {
 public:
  DroppingClient(std::shared_ptr<CBatchQueue> queue, QueueEvent drop_on)
      : queue_(std::move(queue)), drop_on_(std::move(drop_on)) {}
  Status Started(std::uint32_t id) override { return Note("Started", id); }
  Status Finished(std::uint32_t id) override { return Note("Finished", id); }
  Status Added(std::uint32_t id) override { return Note("Added", id); }
  Status Removed(std::uint32_t id) override { return Note("Removed", id); }
  Status Moved(std::uint32_t id) override { return Note("Moved", id); }
  void StateChanged(BatchQueueState state) override { Note("State", static_cast<std::uint32_t>(state)); }

 private:
  Status Note(const std::string& name, std::uint32_t value) {
    std::shared_ptr<CBatchQueue> last;
    {
      std::lock_guard lock(mutex_);
      if (name == drop_on_.name && (value == drop_on_.value || name != "State")) last = std::move(queue_);
    }
    return S_OK;  // [last] goes here, on the queue's thread
  }
  std::mutex mutex_;
  std::shared_ptr<CBatchQueue> queue_;
  QueueEvent drop_on_;
};

class DropFromOwnEventTest : public testing_support::TempDirTest,
                             public ::testing::WithParamInterface<QueueEvent> {};

// The queue ends cleanly, its manager released, whichever event of the end of an attempt it
// was let go from.
TEST_P(DropFromOwnEventTest, TheQueueEndsByItself) {
  FakeItems::Register();
  auto gone = std::make_shared<Event>(EventReset::kManual);
  std::shared_ptr<IApplicationManager> manager(new settings::CApplicationManager(),
                                               [gone](IApplicationManager* held) {
                                                 delete held;
                                                 gone->Set();
                                               });
  auto queue = CBatchQueue::Create(std::move(manager), QueuePacing::kWakeOnChange);
  queue->SetResultsDirectory(Path("Results"));
  std::string file = Path("entry.fake");
  FakeItems::Get().Script(file, {FakeStep::kHold});
  std::uint32_t id = 0;
  ASSERT_EQ(queue->Add(file, "", &id), S_OK);
  auto client = std::make_shared<DroppingClient>(queue, GetParam());
  std::uint32_t cookie = 0;
  queue->BatchQueueEvents().Advise(client, &cookie);
  queue->SetClient(client);
  auto recorder = std::make_shared<QueueRecorder>();
  queue->BatchQueueEvents().Advise(recorder, &cookie);
  queue->Run();
  ASSERT_TRUE(recorder->WaitForEvent("Started", id));
  std::shared_ptr<testing_support::FakeItem> held = FakeOf(*queue, id);
  ASSERT_NE(held, nullptr);
  queue.reset();
  client.reset();
  held->Release(BatchQueueItemPassed);  // the events that follow come on the queue's thread
  EXPECT_TRUE(gone->Wait(30000));
}

INSTANTIATE_TEST_SUITE_P(Events, DropFromOwnEventTest,
                         ::testing::Values(QueueEvent{"Finished", 0},
                                           QueueEvent{"State", static_cast<std::uint32_t>(BatchQueueStopping)},
                                           QueueEvent{"State", static_cast<std::uint32_t>(BatchQueueNotRunning)}));

}  // namespace
}  // namespace ordalis
