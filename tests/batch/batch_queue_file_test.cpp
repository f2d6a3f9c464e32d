// A queue saved to and loaded from queue files: replace and merge modes, byte-for-byte round
// trips, folders that move, and files that are refused.

#include <gtest/gtest.h>

#include "batch/batch_queue.h"
#include "batch/batch_queue_runner.h"
#include "batch/queue_file.h"
#include "batch_test_support.h"

namespace ordalis {
namespace {

using testing_support::FakeItems;
using testing_support::QueueEvent;
using testing_support::QueueRecorder;
using testing_support::ReadFile;

// Keeps the queue's own log lines.
class LineSink : public ITraceEvents {
 public:
  Status Log(const std::string&, std::uint32_t, std::int64_t, double, LoggingLevel level, const std::string& name,
             const std::string& message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::to_string(level) + ":" + name + ":" + message);
    return S_OK;
  }
  Status LogClear() override { return S_OK; }
  std::vector<std::string> lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class QueueFileTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    FakeItems::Register();
    queue_ = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
    recorder_ = QueueRecorder::Attach(*queue_);
    sink_ = std::make_shared<LineSink>();
    std::uint32_t cookie = 0;
    queue_->TraceEvents().Advise(sink_, &cookie);
  }
  void TearDown() override {
    queue_.reset();
    TempDirTest::TearDown();
  }
  // Waits until the queue holds [count] entries added since the recorder was last cleared.
  bool WaitForAdded(std::size_t count) {
    return recorder_->WaitFor([&](const std::vector<QueueEvent>& events) {
      std::size_t added = 0;
      for (const QueueEvent& e : events) added += e.name == "Added";
      return added >= count;
    });
  }
  std::vector<std::string> FileNames(CBatchQueue& queue) {
    std::uint32_t count = 0;
    queue.get_ItemCount(&count);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t id = 0;
      std::string name;
      queue.get_Id(i, &id);
      queue.get_FileName(id, &name);
      names.push_back(name);
    }
    return names;
  }

  std::shared_ptr<CBatchQueue> queue_;
  std::shared_ptr<QueueRecorder> recorder_;
  std::shared_ptr<LineSink> sink_;
};

TEST_F(QueueFileTest, SavedAndLoadedByteForByteWithItsSettings) {
  std::uint32_t id = 0;
  queue_->Add(Path("tests/a.fake"), "one@example.com", &id);
  queue_->Add(Path("tests/sub/b.fake"), "", &id);
  queue_->Add(Path("other/c.fake"), "x@y; z@w", &id);
  queue_->put_RetryCount(4);
  queue_->put_AutoRemove(kVariantTrue);
  queue_->put_EmailEnabled(kVariantTrue);
  queue_->put_AutoReset(kVariantFalse);
  queue_->put_StopAtEnd(kVariantFalse);
  std::filesystem::create_directories(Path("tests"));
  ASSERT_EQ(queue_->SaveAs(Path("tests/q.tbq")), S_OK);
  std::string name;
  queue_->get_BatchFileName(&name);
  EXPECT_EQ(name, Path("tests/q"));
  std::string saved = ReadFile(Path("tests/q.tbq"));
  batch::QueueFileContents stored;
  ASSERT_TRUE(batch::ParseQueueFile(saved, &stored, nullptr));
  EXPECT_EQ(stored.entries[1].file_name, "sub/b.fake");
  EXPECT_EQ(stored.entries[2].file_name, "../other/c.fake");

  auto loaded = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
  auto loaded_recorder = QueueRecorder::Attach(*loaded);
  ASSERT_EQ(loaded->Load(Path("tests/q.tbq")), S_OK);
  ASSERT_TRUE(loaded_recorder->WaitFor([](const std::vector<QueueEvent>& events) { return events.size() >= 3; }));
  EXPECT_EQ(FileNames(*loaded), (std::vector<std::string>{Path("tests/a.fake"), Path("tests/sub/b.fake"), Path("other/c.fake")}));
  std::uint32_t retry = 0;
  VariantBool flag = kVariantFalse;
  loaded->get_RetryCount(&retry);
  EXPECT_EQ(retry, 4u);
  loaded->get_AutoRemove(&flag);
  EXPECT_EQ(flag, kVariantTrue);
  loaded->get_AutoReset(&flag);
  EXPECT_EQ(flag, kVariantFalse);
  ASSERT_EQ(loaded->Save(), S_OK);
  EXPECT_EQ(ReadFile(Path("tests/q.tbq")), saved);

  // The folder moves with its queue file; a file outside it stays where it was.
  std::filesystem::rename(Path("tests"), Path("moved"));
  auto moved = CBatchQueue::Create(nullptr, QueuePacing::kWakeOnChange);
  auto moved_recorder = QueueRecorder::Attach(*moved);
  moved->Load(Path("moved/q.tbq"));
  ASSERT_TRUE(moved_recorder->WaitFor([](const std::vector<QueueEvent>& events) { return events.size() >= 3; }));
  EXPECT_EQ(FileNames(*moved), (std::vector<std::string>{Path("moved/a.fake"), Path("moved/sub/b.fake"), Path("other/c.fake")}));
}

TEST_F(QueueFileTest, LoadingReplacesTheEntriesAndUnreadableFilesChangeNothing) {
  std::uint32_t old_id = 0;
  queue_->Add(Path("old.fake"), "", &old_id);
  batch::QueueFileContents contents;
  contents.entries = {{Path("notes.txt"), ""}, {Path("new.fake"), ""}};
  contents.settings = batch::kNewQueueSettings;
  testing_support::WriteFile(Path("q.tbq"), batch::SerializeQueueFile(contents));
  ASSERT_EQ(queue_->Load(Path("q.tbq")), S_OK);
  ASSERT_TRUE(recorder_->WaitForEvent("Removed", old_id));
  ASSERT_TRUE(recorder_->WaitFor([](const std::vector<QueueEvent>& events) { return events.size() >= 3; }));
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("new.fake")}));
  bool dropped = false;
  for (const std::string& line : sink_->lines()) dropped |= line.find("notes.txt is left out") != std::string::npos;
  EXPECT_TRUE(dropped) << "an entry no creator accepts is reported when it is left out";

  // A file that ends early is refused whole: a severe line names it and the byte offset.
  std::string bytes = batch::SerializeQueueFile(contents);
  testing_support::WriteFile(Path("cut.tbq"), bytes.substr(0, bytes.size() - 3));
  recorder_->Clear();
  EXPECT_EQ(queue_->Load(Path("cut.tbq")), E_FAIL);
  std::vector<std::string> lines = sink_->lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("6:BatchQueue:The file " + Path("cut.tbq") + " is not a queue file", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find("byte offset " + std::to_string(bytes.size() - 4)), std::string::npos) << lines.back();
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("new.fake")}));
  std::string name;
  queue_->get_BatchFileName(&name);
  EXPECT_EQ(name, Path("q")) << "a refused file leaves the queue where it was";
  EXPECT_TRUE(recorder_->Events().empty());

  // A file that cannot be opened moves the queue but keeps its entries.
  EXPECT_EQ(queue_->Load(Path("elsewhere/none.tbq")), S_OK);
  queue_->get_BatchFileName(&name);
  EXPECT_EQ(name, Path("elsewhere/none"));
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("new.fake")}));
}

// A queue file added as an entry, its extension in capitals, queues its entries at the end in
// file order with fresh ids, and leaves the queue's settings alone.
TEST_F(QueueFileTest, AQueueFileAddedAsAnEntryIsMerged) {
  std::uint32_t first = 0;
  queue_->Add(Path("first.fake"), "", &first);
  queue_->put_RetryCount(7);
  batch::QueueFileContents contents;
  contents.entries = {{Path("m1.fake"), "a@b"}, {Path("m2.fake"), ""}};
  contents.settings.retry_count = 1;
  testing_support::WriteFile(Path("MORE.TBQ"), batch::SerializeQueueFile(contents));
  std::uint32_t id = 0;
  ASSERT_EQ(queue_->Add(Path("MORE.TBQ"), "", &id), S_OK);
  EXPECT_EQ(id, CBatchQueue::kNoEntryId);
  ASSERT_TRUE(recorder_->WaitFor([](const std::vector<QueueEvent>& events) { return events.size() >= 3; }));
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("first.fake"), Path("m1.fake"), Path("m2.fake")}));
  std::uint32_t second = 0, third = 0;
  queue_->get_Id(1, &second);
  queue_->get_Id(2, &third);
  EXPECT_GT(second, first);
  EXPECT_GT(third, second);
  std::string addresses;
  queue_->get_EmailAddresses(second, &addresses);
  EXPECT_EQ(addresses, "a@b");
  std::uint32_t retry = 0;
  queue_->get_RetryCount(&retry);
  EXPECT_EQ(retry, 7u);
}

// A queue file that lists another many times cannot multiply its entries past what a queue
// holds: the merge that would go beyond it is refused.
TEST_F(QueueFileTest, MergedQueueFilesCannotGrowTheQueuePastItsLimit) {
  const std::size_t per_file = batch::kMaxQueueEntries * 2 / 5;
  batch::QueueFileContents many, fan;
  for (std::size_t i = 0; i < per_file; ++i) many.entries.push_back({Path("m" + std::to_string(i) + ".fake"), ""});
  fan.entries.assign(3, {Path("many.tbq"), ""});
  testing_support::WriteFile(Path("many.tbq"), batch::SerializeQueueFile(many));
  testing_support::WriteFile(Path("fan.tbq"), batch::SerializeQueueFile(fan));
  ASSERT_EQ(queue_->Load(Path("fan.tbq")), S_OK);
  ASSERT_TRUE(WaitForAdded(2 * per_file));
  bool refused = false;
  for (const std::string& line : sink_->lines()) refused |= line.find("many.tbq is not merged") != std::string::npos;
  EXPECT_TRUE(refused);
  std::uint32_t count = 0;
  queue_->get_ItemCount(&count);
  EXPECT_EQ(count, 2 * per_file);
}

// A queue file that lists itself, directly or through another, is merged once, not for ever.
TEST_F(QueueFileTest, QueueFilesThatListThemselvesAreRefused) {
  batch::QueueFileContents a, b;
  a.entries = {{Path("one.fake"), ""}, {Path("b.tbq"), ""}};
  b.entries = {{Path("two.fake"), ""}, {Path("a.tbq"), ""}};
  a.settings = batch::kNewQueueSettings;
  testing_support::WriteFile(Path("a.tbq"), batch::SerializeQueueFile(a));
  testing_support::WriteFile(Path("b.tbq"), batch::SerializeQueueFile(b));
  ASSERT_EQ(queue_->Load(Path("a.tbq")), S_OK);
  ASSERT_TRUE(recorder_->WaitFor([](const std::vector<QueueEvent>& events) { return events.size() >= 2; }));
  // Run once to be sure the thread has finished with the pending entries.
  queue_->Run();
  ASSERT_TRUE(recorder_->WaitForState(BatchQueueNotRunning));
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("one.fake"), Path("two.fake")}));
  bool refused = false;
  for (const std::string& line : sink_->lines()) refused |= line.find("a.tbq is not merged") != std::string::npos;
  EXPECT_TRUE(refused);
}

TEST_F(QueueFileTest, LoadingAResultsFileLeavesTheEntriesAlone) {
  std::uint32_t id = 0;
  queue_->Add(Path("a.fake"), "", &id);
  batch::BatchResultsHeader header;
  header.batch_name = "old";
  ASSERT_TRUE(batch::WriteBatchResults(Path("r.XML"), header, {}));
  ASSERT_EQ(queue_->Load(Path("r.XML")), S_OK);
  std::string results;
  queue_->get_ResultsFileName(&results);
  EXPECT_EQ(results, Path("r.XML"));
  EXPECT_EQ(FileNames(*queue_), (std::vector<std::string>{Path("a.fake")}));
  // Loading a queue file never leaves its name as the results file.
  testing_support::WriteFile(Path("q.tbq"), batch::SerializeQueueFile({}));
  queue_->Load(Path("q.tbq"));
  queue_->get_ResultsFileName(&results);
  EXPECT_EQ(results, "");
}

TEST_F(QueueFileTest, AutoSaveSavesAfterEveryChangeOfTheList) {
  queue_->SaveAs(Path("auto.tbq"));
  queue_->put_AutoSave(kVariantTrue);
  std::uint32_t a = 0, b = 0;
  queue_->Add(Path("a.fake"), "", &a);
  queue_->Add(Path("b.fake"), "", &b);
  batch::QueueFileContents read;
  ASSERT_EQ(batch::ReadQueueFile(Path("auto.tbq"), &read, nullptr), batch::QueueFileRead::kRead);
  EXPECT_EQ(read.entries.size(), 2u);
  EXPECT_TRUE(read.settings.auto_save);
  queue_->Remove(a);
  ASSERT_EQ(batch::ReadQueueFile(Path("auto.tbq"), &read, nullptr), batch::QueueFileRead::kRead);
  ASSERT_EQ(read.entries.size(), 1u);
  EXPECT_EQ(read.entries[0].file_name, Path("b.fake"));
  EXPECT_EQ(queue_->SaveAs(Path("no/such/folder/q.tbq")), E_FAIL);
}

}  // namespace
}  // namespace ordalis
