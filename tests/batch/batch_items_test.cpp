// Batch item kinds and their creators: command, perl, shell and python files run in their own
// folders; the built-in creators' tables; the runner; plug-in items; queues side by side.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <optional>
#include <sstream>

#include "batch/batch_queue.h"
#include "batch/batch_queue_runner.h"
#include "batch/builtin_creators.h"
#include "batch/command_file_runners.h"
#include "batch_test_support.h"
#include "server/factory.h"
#include "settings/application_manager.h"

namespace ordalis {
namespace {

using testing_support::QueueEvent;
using testing_support::QueueRecorder;
using testing_support::ReadFile;

// Collects the lines a trace receives.
class LineTrace : public ITrace {
 public:
  Status Log(LoggingLevel level, const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::to_string(level) + ":" + text);
    return S_OK;
  }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Waits for [item] to reach a status other than Running and NotRunning, or gives up after
// a generous while.
BatchQueueItemStatus WaitForEnd(IBatchQueueItem& item) {
  auto wake = std::make_shared<Event>(EventReset::kAuto);
  if (auto notifier = dynamic_cast<IStatusNotifier*>(&item)) notifier->NotifyStatusChanges(wake);
  BatchQueueItemStatus status = BatchQueueItemRunning;
  for (int i = 0; i < 300; ++i) {
    item.get_Status(&status);
    if (status != BatchQueueItemRunning && status != BatchQueueItemNotRunning) break;
    wake->Wait(100);
  }
  return status;
}

class BatchItemsTest : public testing_support::TempDirTest {};

TEST_F(BatchItemsTest, CommandFilesRunInTheirFolderAndLogTheirOutput) {
  std::string cwd = std::filesystem::current_path().string();
  std::string file = Write("sub dir/build.BAT", "echo out; echo err >&2; pwd > where.txt; exit 3\n");
  BatFileRunner item;
  item.put_ResultsDirectory(Path("Results"));
  auto trace = std::make_shared<LineTrace>();
  ASSERT_EQ(item.Execute(file, trace), S_OK);
  EXPECT_EQ(WaitForEnd(item), BatchQueueItemFailed);
  EXPECT_EQ(std::filesystem::current_path().string(), cwd) << "the engine's own folder never changes";
  EXPECT_EQ(ReadFile(Path("sub dir/where.txt")), Path("sub dir") + "\n");
  std::vector<std::string> lines = trace->lines();
  EXPECT_EQ(lines.front(), "3:Item: 'Bat file' Version '1.0'");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "4:out"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "4:err"), lines.end());
  EXPECT_EQ(lines.back(), "6:BatchQueueItem::Execute " + file + " failed");
  std::string results;
  item.get_ResultsFile(&results);
  ASSERT_FALSE(results.empty());
  EXPECT_NE(ReadFile(results).find("<result>Failed</result>"), std::string::npos);
  std::string log = results.substr(0, results.size() - 4) + ".log";
  EXPECT_NE(ReadFile(log).find("Info  :BatchQueueItem::Execute " + file + " start"), std::string::npos);
  EXPECT_NE(ReadFile(log).find("Info  :err"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Path("Results/BatchQueueItem.xsl")));
}

struct KindCase {
  const char* file;
  const char* text;
  const char* description;
  BatchQueueItemStatus end;
};

class CommandKindTest : public BatchItemsTest, public ::testing::WithParamInterface<KindCase> {};

// Each kind is picked by file type, ignoring case, and succeeds exactly when its exit status is 0.
TEST_P(CommandKindTest, RunsThroughItsInterpreter) {
  const KindCase& c = GetParam();
  auto runner = CreateRunner(BatchQueueCreators::Instance(), Write(c.file, c.text), BatchItemContext{});
  ASSERT_TRUE(runner);
  std::string description;
  runner->get_Description(&description);
  EXPECT_EQ(description, c.description);
  runner->Execute();
  std::shared_ptr<IBatchQueueItem> item;
  runner->get_Item(&item);
  EXPECT_EQ(WaitForEnd(*item), c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CommandKindTest,
    ::testing::Values(KindCase{"a.bat", "exit 0\n", "Bat file", BatchQueueItemPassed},
                      KindCase{"build.BAT", "exit 1\n", "Bat file", BatchQueueItemFailed},
                      KindCase{"a.pl", "exit(0);\n", "Perl file", BatchQueueItemPassed},
                      KindCase{"a.Pl", "die 'no';\n", "Perl file", BatchQueueItemFailed},
                      KindCase{"a.sh", "test 1 = 1\n", "Shell file", BatchQueueItemPassed},
                      KindCase{"a.py", "import sys\nsys.exit(2)\n", "Python file", BatchQueueItemFailed}));

TEST_F(BatchItemsTest, AbortEndsARunningCommandAtOnce) {
  std::string file = Write("slow.sh", "echo started > started.txt\nsleep 60\n");
  ShellFileRunner item;
  ASSERT_EQ(item.Execute(file, nullptr), S_OK);
  BatchQueueItemStatus status;
  item.get_Status(&status);
  EXPECT_EQ(status, BatchQueueItemRunning);
  EXPECT_EQ(item.Execute(file, nullptr), S_OK) << "an Execute while running is ignored";
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(item.Abort(), S_OK);
  item.get_Status(&status);
  EXPECT_EQ(status, BatchQueueItemNotRunning) << "at once";
  EXPECT_EQ(WaitForEnd(item), BatchQueueItemAborted);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30)) << "the command was ended";
  // A finished item runs again.
  Write("slow.sh", "exit 0\n");
  ASSERT_EQ(item.Execute(file, nullptr), S_OK);
  EXPECT_EQ(WaitForEnd(item), BatchQueueItemPassed);
}

TEST_F(BatchItemsTest, ACommandThatCannotStartFails) {
  std::string file = Write("a.pl", "exit 0;\n");
  class MissingInterpreter : public BatchQueueItem {
   public:
    MissingInterpreter() : BatchQueueItem("Missing", "0") {}
    std::vector<std::string> CommandLine(const std::string& path) const override {
      return {"ordalis-no-such-interpreter", path};
    }
  } item;
  auto trace = std::make_shared<LineTrace>();
  item.Execute(file, trace);
  EXPECT_EQ(WaitForEnd(item), BatchQueueItemFailed);
  bool reported = false;
  for (const std::string& line : trace->lines()) reported |= line.find("cannot start ordalis-no-such-interpreter") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST(BuiltInCreators, TheirTables) {
  ODLBatchQueueItemCreator odl;
  std::uint32_t count = 0;
  std::string text;
  EXPECT_EQ(odl.get_NumberOfFileTypes(&count), S_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(odl.get_Version(&text), S_OK);
  EXPECT_EQ(text, "V1.0");
  const char* types[] = {"odl", "bat", "pl"};
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(odl.get_FileType(i, &text), S_OK);
    EXPECT_EQ(text, types[i]);
  }
  EXPECT_EQ(odl.get_FileType(3, &text), E_INVALIDARG);
  std::shared_ptr<IBatchQueueItem> item;
  EXPECT_EQ(odl.create(3, &item), S_OK);
  EXPECT_FALSE(item);
  EXPECT_EQ(odl.create(0, nullptr), E_POINTER);
  EXPECT_EQ(odl.get_FileType(0, nullptr), E_POINTER);
  ASSERT_EQ(odl.create(0, &item), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<IScript>(item)) << "odl makes a script object";
  ASSERT_EQ(odl.create(1, &item), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<BatFileRunner>(item));
  ASSERT_EQ(odl.create(2, &item), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<PerlFileRunner>(item));
  EXPECT_EQ(std::dynamic_pointer_cast<IBatchQueueItem2>(item), nullptr) << "command kinds lack the version face";

  std::vector<std::string> ids = BatchQueueCreators::Instance().Identifiers();
  ASSERT_GE(ids.size(), 2u);
  EXPECT_EQ(ids[0], "MarrowindCon.BuiltIn");
  EXPECT_EQ(ids[1], "Ordalis.BuiltIn.Shell");
  EXPECT_FALSE(Accepts(BatchQueueCreators::Instance(), "Makefile")) << "no creator declares the empty type";
  EXPECT_FALSE(CreateRunner(BatchQueueCreators::Instance(), "notes.txt", BatchItemContext{}));
}

TEST_F(BatchItemsTest, TheRunnerForwardsToItsScriptItem) {
  std::string script = Write("s.odl", "x = 1\n");
  auto runner = CreateRunner(BatchQueueCreators::Instance(), script, BatchItemContext{nullptr, Pacing{0, 0, 0}});
  ASSERT_TRUE(runner);
  std::shared_ptr<IBatchQueueItem> item;
  runner->get_Item(&item);
  auto script_item = std::dynamic_pointer_cast<IScript>(item);
  ASSERT_TRUE(script_item);
  std::shared_ptr<IScriptItem> root;
  script_item->get_Item(&root);
  std::uint32_t children = 0;
  root->get_ChildCount(&children);
  EXPECT_EQ(children, 1u) << "setting the file name loaded the script";
  std::string text;
  runner->get_Version(&text);
  EXPECT_EQ(text, "3.1e");
  runner->put_VersionUnderTest("7.7");
  runner->get_VersionUnderTest(&text);
  EXPECT_EQ(text, "7.7");
  runner->put_ResultsDirectory(Path("R"));
  runner->get_ResultsDirectory(&text);
  EXPECT_EQ(text, Path("R"));
  runner->put_EmailAddresses("a@b");
  runner->get_EmailAddresses(&text);
  EXPECT_EQ(text, "a@b");
  runner->get_FileName(&text);
  EXPECT_EQ(text, script);
}

// The runner's trace is named "Batch"; its lines come out of the runner's _ITraceEvents.
TEST_F(BatchItemsTest, TheRunnersTraceReachesItsSinks) {
  class Sink : public ITraceEvents {
   public:
    Status Log(const std::string& file, std::uint32_t, std::int64_t, double, LoggingLevel, const std::string& name,
               const std::string& message) override {
      std::lock_guard lock(mutex);
      lines.push_back(file + "|" + name + "|" + message);
      return S_OK;
    }
    Status LogClear() override { return S_OK; }
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::string file = Write("t.sh", "echo hello\n");
  auto runner = CreateRunner(BatchQueueCreators::Instance(), file, BatchItemContext{});
  auto sink = std::make_shared<Sink>();
  std::uint32_t cookie = 0;
  runner->TraceEvents().Advise(sink, &cookie);
  runner->Execute();
  std::shared_ptr<IBatchQueueItem> item;
  runner->get_Item(&item);
  ASSERT_EQ(WaitForEnd(*item), BatchQueueItemPassed);
  std::lock_guard lock(sink->mutex);
  EXPECT_NE(std::find(sink->lines.begin(), sink->lines.end(), file + "|Batch|hello"), sink->lines.end());
}

// A client of the runner's trace that holds the only reference to the runner lets go of it from
// the line the runner's worker logs when the file cannot run: the worker ends by itself.
TEST_F(BatchItemsTest, ARunnerLetGoFromItsOwnTraceEndsCleanly) {
  class DroppingSink : public ITraceEvents {
   public:
    Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel, const std::string&,
               const std::string&) override {
      std::shared_ptr<BatchQueueRunner> last;
      {
        std::lock_guard lock(mutex);
        last = std::move(runner);
      }
      last.reset();  // the runner goes here, on its worker's thread
      dropped.Set();
      return S_OK;
    }
    Status LogClear() override { return S_OK; }
    std::mutex mutex;
    std::shared_ptr<BatchQueueRunner> runner;
    Event dropped;
  };
  auto runner = CreateRunner(BatchQueueCreators::Instance(), Path("missing.sh"), BatchItemContext{});
  ASSERT_TRUE(runner);
  auto sink = std::make_shared<DroppingSink>();
  std::uint32_t cookie = 0;
  runner->TraceEvents().Advise(sink, &cookie);
  BatchQueueRunner* raw = runner.get();
  {
    std::lock_guard lock(sink->mutex);
    sink->runner = std::move(runner);
  }
  raw->Execute();
  EXPECT_TRUE(sink->dropped.Wait(30000));
}

class QueueWithItemsTest : public testing_support::TempDirTest {
 protected:
  std::shared_ptr<CBatchQueue> Queue(const std::string& folder) {
    auto queue = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
    queue->SetResultsDirectory(Path(folder + "/Results"));
    return queue;
  }
};

TEST_F(QueueWithItemsTest, AFailingShellFileIsRetried) {
  auto queue = Queue("q");
  auto recorder = QueueRecorder::Attach(*queue);
  queue->put_RetryCount(1);
  std::uint32_t id = 0;
  ASSERT_EQ(queue->Add(Write("q/fails.sh", "echo attempt >> count.txt; exit 1\n"), "", &id), S_OK);
  queue->Run();
  ASSERT_TRUE(recorder->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(ReadFile(Path("q/count.txt")), "attempt\nattempt\n");
  std::vector<batch::BatchResultRecord> records = queue->Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].results_file, records[1].results_file) << "each attempt keeps its own results";
  for (const auto& record : records) {
    EXPECT_EQ(record.status, BatchQueueItemFailed);
    EXPECT_EQ(record.name, "../fails.sh");
    EXPECT_TRUE(std::filesystem::exists(Path("q/Results/" + record.results_file))) << record.results_file;
  }
}

TEST_F(QueueWithItemsTest, AbortingARunningCommandRecordsAnAbortedAttempt) {
  auto queue = Queue("q");
  auto recorder = QueueRecorder::Attach(*queue);
  queue->put_RetryCount(3);
  std::uint32_t id = 0;
  ASSERT_EQ(queue->Add(Write("q/slow.sh", "sleep 60\n"), "", &id), S_OK);
  queue->Run();
  ASSERT_TRUE(recorder->WaitForEvent("Started", id));
  ASSERT_EQ(queue->Abort(id), S_OK);
  ASSERT_TRUE(recorder->WaitForState(BatchQueueNotRunning));
  ASSERT_EQ(queue->Records().size(), 1u) << "an aborted attempt is not retried";
  EXPECT_EQ(queue->Records()[0].status, BatchQueueItemAborted);
}

// A built-in entry whose file cannot run is an attempt that never starts: Failed, with the
// reason in the record and its comment, and the batch does not pass. Files that can run still do.
TEST_F(QueueWithItemsTest, EntriesWhoseFilesCannotRunAreErrorsWithTheirReason) {
  Write("q/syntax.odl", "if x then\nfailed\n");
  Write("q/ok.odl", "x = 1\n");
  std::filesystem::create_directories(Path("q/folder.odl"));
  std::filesystem::create_directories(Path("q/folder.sh"));
  std::filesystem::create_symlink("/dev/zero", Path("q/zero.odl"));
  std::filesystem::create_symlink(Path("q/loop.odl"), Path("q/loop.odl"));
  ASSERT_EQ(::mkfifo(Path("q/fifo.odl").c_str(), 0600), 0);
  struct Case {
    const char* file;
    const char* reason;  // a part of the reason; empty for a file that runs
  };
  const Case cases[] = {
      {"syntax.odl", "syntax.odl(2) : Error: unexpected end of file"},
      {"missing.odl", "No such file or directory"},
      {"folder.odl", "not a regular file"},
      {"zero.odl", "not a regular file"},
      {"fifo.odl", "not a regular file"},
      {"loop.odl", "Too many levels of symbolic links"},
      {"missing.sh", "No such file or directory"},
      {"folder.sh", "not a regular file"},
      {"ok.odl", ""},
  };
  auto queue = Queue("q");
  auto recorder = QueueRecorder::Attach(*queue);
  for (const Case& c : cases) {
    std::uint32_t id = 0;
    ASSERT_EQ(queue->Add(Path(std::string("q/") + c.file), "", &id), S_OK) << c.file;
  }
  queue->Run();
  ASSERT_TRUE(recorder->WaitForState(BatchQueueNotRunning));
  std::vector<batch::BatchResultRecord> records = queue->Records();
  ASSERT_EQ(records.size(), std::size(cases));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(records[i].name, std::string("../") + c.file);
    if (*c.reason == '\0') {
      EXPECT_EQ(records[i].status, BatchQueueItemPassed) << c.file << ": " << records[i].error;
      EXPECT_EQ(records[i].error, "") << c.file;
      continue;
    }
    EXPECT_EQ(records[i].status, BatchQueueItemFailed) << c.file;
    EXPECT_NE(records[i].error.find(c.reason), std::string::npos) << c.file << ": " << records[i].error;
    EXPECT_EQ(records[i].comment, "Error: " + records[i].error) << c.file;
    EXPECT_EQ(records[i].results_file, "") << c.file << ": an attempt that never ran has no results file";
  }
  EXPECT_FALSE(queue->ResultsHeader().all_passed);
}

// Whether the process [pid] has ended (or is gone), waiting on it for up to [wait_ms].
bool ProcessEnded(pid_t pid, int wait_ms) {
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return true;
  pollfd ended{fd, POLLIN, 0};
  bool gone = ::poll(&ended, 1, wait_ms) == 1;
  ::close(fd);
  return gone;
}

// What a command entry starts in the background ends with the entry, unless the queue keeps it.
TEST_F(QueueWithItemsTest, WhatACommandLeavesInTheBackgroundEndsWithItUnlessKept) {
  struct Case {
    std::optional<batch::Background> background;  // the queue's default when empty
    bool ended;
  };
  const Case cases[] = {{std::nullopt, true}, {batch::Background::kEnd, true}, {batch::Background::kKeep, false}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::string folder = "q" + std::to_string(i);
    auto queue = Queue(folder);
    if (c.background) queue->SetBackground(*c.background);
    auto recorder = QueueRecorder::Attach(*queue);
    std::uint32_t id = 0;
    ASSERT_EQ(queue->Add(Write(folder + "/spawns.sh", "for i in 1 2 3; do sleep 1003 & echo $! >> pids.txt; done\n"), "", &id),
              S_OK);
    queue->Run();
    ASSERT_TRUE(recorder->WaitForState(BatchQueueNotRunning));
    ASSERT_EQ(queue->Records().at(0).status, BatchQueueItemPassed);
    std::istringstream pids(ReadFile(Path(folder + "/pids.txt")));
    int count = 0;
    for (pid_t pid; pids >> pid; ++count) {
      bool ended = ProcessEnded(pid, c.ended ? 30000 : 0);
      EXPECT_EQ(ended, c.ended) << i << ": " << pid;
      if (!ended) ::kill(pid, SIGKILL);  // nothing outlives the test
    }
    EXPECT_EQ(count, 3) << i;
  }
}

// Two queues run side by side in one process, each item in its own folder.
TEST_F(QueueWithItemsTest, TwoQueuesRunAtOnce) {
  auto first = Queue("one");
  auto second = Queue("two");
  auto first_recorder = QueueRecorder::Attach(*first);
  auto second_recorder = QueueRecorder::Attach(*second);
  std::uint32_t id = 0;
  // Each waits until the other has started, so they overlap.
  first->Add(Write("one/a.sh", "pwd > where.txt; touch ../one.started; while [ ! -e ../two.started ]; do sleep 0.01; done\n"), "", &id);
  second->Add(Write("two/b.sh", "pwd > where.txt; touch ../two.started; while [ ! -e ../one.started ]; do sleep 0.01; done\n"), "", &id);
  first->Run();
  second->Run();
  ASSERT_TRUE(first_recorder->WaitForState(BatchQueueNotRunning));
  ASSERT_TRUE(second_recorder->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(ReadFile(Path("one/where.txt")), Path("one") + "\n");
  EXPECT_EQ(ReadFile(Path("two/where.txt")), Path("two") + "\n");
  EXPECT_EQ(first->Records().at(0).status, BatchQueueItemPassed);
  EXPECT_EQ(second->Records().at(0).status, BatchQueueItemPassed);
}

// The echo module's batch item kind, found on the plug-in path.
TEST_F(QueueWithItemsTest, APlugInItemKind) {
  auto queue = Queue("q");
  auto recorder = QueueRecorder::Attach(*queue);
  VariantBool valid = kVariantFalse;
  queue->FileTypeValid("x.ECHO", &valid);
  ASSERT_EQ(valid, kVariantTrue);
  std::uint32_t failing = 0, passing = 0;
  ASSERT_EQ(queue->Add(Write("q/a.echo", "log hello\nresult failed\n"), "", &failing), S_OK);
  ASSERT_EQ(queue->Add(Write("q/b.echo", "log fine\n"), "", &passing), S_OK);
  std::string description;
  queue->get_Description(failing, &description);
  EXPECT_EQ(description, "Echo batch file");
  queue->Run();
  ASSERT_TRUE(recorder->WaitForState(BatchQueueNotRunning));
  std::vector<batch::BatchResultRecord> records = queue->Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].status, BatchQueueItemFailed);
  EXPECT_EQ(records[1].status, BatchQueueItemPassed);
}

TEST_F(QueueWithItemsTest, TheClassTableAndTheApplicationManagerMakeQueues) {
  std::shared_ptr<IUnknown> object;
  ASSERT_EQ(CreateInstance("Ordalis.BatchQueue.1", &object), S_OK);
  auto queue = std::dynamic_pointer_cast<IBatchQueue>(object);
  ASSERT_TRUE(queue);
  BatchQueueState state;
  queue->get_State(&state);
  EXPECT_EQ(state, BatchQueueNotRunning);
  queue.reset();
  object.reset();

  batch::BatchResultsHeader header;
  header.batch_name = "nightly";
  header.all_passed = true;
  ASSERT_TRUE(batch::WriteBatchResults(Path("r.xml"), header, {batch::BatchResultRecord{"a.odl", "", "", BatchQueueItemPassed, 0, 1, 0, 0, ""}}));
  CApplicationManager manager;
  ASSERT_EQ(manager.LoadResults(Path("r.xml"), &object), S_OK);
  queue = std::dynamic_pointer_cast<IBatchQueue>(object);
  ASSERT_TRUE(queue);
  std::uint32_t count = 0;
  queue->get_ResultCount(&count);
  EXPECT_EQ(count, 1u);
  std::string name;
  queue->get_BatchFileName(&name);
  EXPECT_EQ(name, "./nightly");
}

}  // namespace
}  // namespace ordalis
