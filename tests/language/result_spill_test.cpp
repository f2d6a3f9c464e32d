#include "language/result_spill.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "language/script_item.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

// The values a record may carry, nested arrays and every scalar kind among them.
VariantArray ValuesFor(int n) {
  if (n % 3 != 0) return {};
  return {Variant::Int(n), Variant::Double(n / 4.0), Variant::String("v<&>\"" + std::to_string(n)),
          Variant::Bool(n % 2 == 0),
          Variant::Array({Variant::Int(-n), Variant::Array({Variant::String("")})}),
          Variant::Other(VT_DATE, n)};
}

void ExpectSameValue(const Variant& a, const Variant& b) {
  ASSERT_EQ(a.type(), b.type());
  if (a.is_array()) {
    ASSERT_EQ(a.as_array()->size(), b.as_array()->size());
    for (std::size_t i = 0; i < a.as_array()->size(); ++i) ExpectSameValue((*a.as_array())[i], (*b.as_array())[i]);
    return;
  }
  EXPECT_EQ(a.as_int64(), b.as_int64());
  EXPECT_EQ(a.as_double(), b.as_double());
  EXPECT_EQ(a.as_string(), b.as_string());
}

void ExpectSameRecord(const ResultRecord& a, const ResultRecord& b) {
  EXPECT_EQ(a.result, b.result);
  EXPECT_EQ(a.iteration, b.iteration);
  EXPECT_EQ(a.time, b.time);
  EXPECT_EQ(a.time_taken, b.time_taken);
  ASSERT_EQ(a.values.size(), b.values.size());
  for (std::size_t i = 0; i < a.values.size(); ++i) ExpectSameValue(a.values[i], b.values[i]);
  ASSERT_EQ(a.measurements.size(), b.measurements.size());
  for (std::size_t i = 0; i < a.measurements.size(); ++i) {
    const Measurement& x = a.measurements[i];
    const Measurement& y = b.measurements[i];
    EXPECT_EQ(x.name, y.name);
    EXPECT_EQ(x.kind, y.kind);
    EXPECT_EQ(x.number, y.number);
    EXPECT_EQ(x.text, y.text);
    EXPECT_EQ(x.unit, y.unit);
    EXPECT_EQ(x.low, y.low);
    EXPECT_EQ(x.high, y.high);
    EXPECT_EQ(x.comparison, y.comparison);
    EXPECT_EQ(x.result, y.result);
  }
}

ResultRecord Measured(VariantArray values, std::vector<Measurement> measurements) {
  ResultRecord record;
  record.result = TestFailed;
  record.iteration = 3;
  record.time = 1700000000;
  record.values = std::move(values);
  record.measurements = MeasurementList(std::move(measurements));
  return record;
}

// A run's measurements come back with it, with or without values beside them, whatever limits
// they have, and a record without any stays without.
TEST(ResultSpill, MeasurementsComeBackWithTheirRecords) {
  const Measurement rail{"3.3 V rail", MeasuredKind::kNumber, 4.9963, "4.9963", "V", 3.2, 3.4,
                         Comparison::kBetweenInclusive, TestFailed};
  const Measurement label{"serial", MeasuredKind::kText, 0, "SN-\xCE\xA9<1>", "", std::nullopt,
                          std::nullopt, Comparison::kLogOnly, TestPassed};
  const Measurement at_least{"power", MeasuredKind::kNumber, -3, "-3", "dBm", -10.0, std::nullopt,
                             Comparison::kAtLeast, TestPassed};
  const Measurement flag{"relay", MeasuredKind::kBoolean, 1, "true", "", std::nullopt, 7.0,
                         Comparison::kAtMost, static_cast<Result>(-5)};
  const std::vector<ResultRecord> written = {
      Measured({}, {rail}),
      Measured({}, {}),
      Measured(ValuesFor(3), {label, at_least, flag}),
      Measured(ValuesFor(3), {}),
      Measured({}, {rail, rail}),
  };
  std::string bytes;
  EncodeRecords(written, &bytes);
  std::vector<ResultRecord> back;
  ASSERT_TRUE(DecodeRecords(bytes, &back));
  ASSERT_EQ(back.size(), written.size());
  for (std::size_t i = 0; i < back.size(); ++i) ExpectSameRecord(back[i], written[i]);
  // Cut anywhere inside its measurements, a record is refused.
  bytes.clear();
  EncodeRecords({written[2]}, &bytes);
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    back.clear();
    EXPECT_FALSE(DecodeRecords(std::string_view(bytes).substr(0, cut), &back)) << cut;
  }
}

TEST(ResultSpill, BlocksComeBackAsWritten) {
  ResultSpill spill(fs::temp_directory_path().string());
  std::vector<ResultRecord> written;
  for (int n = 0; n < 10; ++n) {
    written.push_back({static_cast<Result>(n % 7), static_cast<std::uint32_t>(n), 1000 + n, n * 0.5, ValuesFor(n), {}});
  }
  ResultSpill::Block first, second;
  ASSERT_TRUE(spill.Append({written.begin(), written.begin() + 4}, &first));
  ASSERT_TRUE(spill.Append({written.begin() + 4, written.end()}, &second));
  EXPECT_EQ(second.offset, first.bytes);
  std::vector<ResultRecord> read;
  ASSERT_TRUE(spill.Read(first, &read));
  ASSERT_TRUE(spill.Read(second, &read));
  ASSERT_EQ(read.size(), written.size());
  for (std::size_t i = 0; i < read.size(); ++i) ExpectSameRecord(read[i], written[i]);
  ResultRecord one;
  ASSERT_TRUE(spill.ReadOne(second, 5, &one));
  ExpectSameRecord(one, written[9]);
  EXPECT_FALSE(spill.ReadOne(second, 6, &one));
}

// A block leaves out the fields a record shares with the one before it; every field still comes
// back exactly, whatever the neighbours and however far apart.
TEST(ResultSpill, RecordsComeBackWhateverTheirNeighbours) {
  const std::vector<ResultRecord> written = {
      {TestPassed, 1, 1700000000, 0.25, {}, {}},
      {TestPassed, 1, 1700000000, 0.0, {}, {}},                      // shares iteration and second
      {TestNotRun, 1, 1700000000, -0.0, {}, {}},                     // a negative result, -0.0 taken
      {TestAborted, 4000000000u, 1699999990, 1e300, ValuesFor(3), {}},  // back in time, far iteration
      {static_cast<Result>(-2147483647 - 1), 0, INT64_MIN, 0.0, {}, {}},
      {static_cast<Result>(2147483647), UINT32_MAX, INT64_MAX, 5e-324, ValuesFor(6), {}},
      {TestFailed, UINT32_MAX, INT64_MAX, 1.5, {}, {}},
      {TestPassed, 2, 1700000001, 137 * 1e-9, {}, {}},            // whole nanoseconds, as timed
      {TestWarning, 2, 1700000001, 3600.000000001, {}, {}},       // nearly whole: kept as it is
      {TestPassed, 2, 1700000001, 1e-10, {}, {}},                 // below a nanosecond
  };
  std::string bytes;
  EncodeRecords(written, &bytes);
  std::vector<ResultRecord> back;
  ASSERT_TRUE(DecodeRecords(bytes, &back));
  ASSERT_EQ(back.size(), written.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    ExpectSameRecord(back[i], written[i]);
    EXPECT_EQ(std::signbit(back[i].time_taken), std::signbit(written[i].time_taken)) << i;
  }
}

// Blocks go to the file a page at a time and the rest waits in memory: every block comes back
// whole, those in the file, those still waiting, and the one split between the two.
TEST(ResultSpill, BlocksComeBackWhereverTheyAreHeld) {
  ResultSpill spill(fs::temp_directory_path().string());
  std::vector<std::vector<ResultRecord>> written(40);
  std::vector<ResultSpill::Block> blocks(written.size());
  for (std::size_t b = 0; b < written.size(); ++b) {
    for (int n = 0; n < 300; ++n) {
      int at = static_cast<int>(b) * 300 + n;
      written[b].push_back({static_cast<Result>(at % 7), static_cast<std::uint32_t>(at / 3), 1700000000 + at / 50,
                            (100 + at % 900) * 1e-9, ValuesFor(at % 5 == 0 ? 3 : 1), {}});
    }
    ASSERT_TRUE(spill.Append(written[b], &blocks[b]));
  }
  ASSERT_GT(spill.size(), 2 * kSpillWriteBytes);
  ASSERT_NE(spill.size() % kSpillPageBytes, 0u);
  for (std::size_t b = written.size(); b-- > 0;) {
    std::vector<ResultRecord> read;
    ASSERT_TRUE(spill.Read(blocks[b], &read)) << b;
    ASSERT_EQ(read.size(), written[b].size());
    for (std::size_t i = 0; i < read.size(); ++i) ExpectSameRecord(read[i], written[b][i]);
  }
}

TEST(ResultSpill, DamagedBytesAreRefused) {
  std::vector<ResultRecord> records = {{TestFailed, 1, 2, 3.0, ValuesFor(3), {}}};
  std::string bytes;
  EncodeRecords(records, &bytes);
  std::vector<ResultRecord> back;
  EXPECT_TRUE(DecodeRecords(bytes, &back));
  for (std::size_t cut = 1; cut < bytes.size(); cut += 7) {
    back.clear();
    EXPECT_FALSE(DecodeRecords(std::string_view(bytes).substr(0, cut), &back)) << cut;
  }
}

TEST(ResultSpill, NoDirectoryFallsBackToTheTemporaryOne) {
  ResultSpill spill("/nonexistent/ordalis/results");
  ResultSpill::Block block;
  ASSERT_TRUE(spill.Append({{TestPassed, 1, 2, 0.0, {}, {}}}, &block));
  std::vector<ResultRecord> read;
  EXPECT_TRUE(spill.Read(block, &read));
  EXPECT_EQ(read.size(), 1u);
}

// The answers an item gives about its results are the same whether its records stayed in
// memory or went to the spill file, and a reset takes the spilled ones too.
TEST(ResultSpill, ItemAnswersDoNotChangeWhenRecordsSpill) {
  auto kept = ScriptItem::Make(rootItem, "root", "t.odl", 0);
  auto spilled = ScriptItem::Make(rootItem, "root", "t.odl", 0);
  auto child = ScriptItem::Make(commentItem, "#", "t.odl", 1);
  spilled->AddChild(child);
  spilled->SetResultSpill(std::make_shared<ResultSpill>(fs::temp_directory_path().string(), SpillWindow{4, 6}));
  for (int n = 0; n < 50; ++n) {
    Result result = n % 11 == 5 ? TestError : n % 13 == 7 ? TestWarning : TestPassed;
    kept->RecordResult(result, static_cast<std::uint32_t>(n), n * 0.25, ValuesFor(n));
    spilled->RecordResult(result, static_cast<std::uint32_t>(n), n * 0.25, ValuesFor(n));
    child->RecordResult(TestPassed, static_cast<std::uint32_t>(n), 0.0);
  }
  ASSERT_EQ(spilled->NumberOfRecords(), 50u);
  EXPECT_EQ(spilled->OverallOfRecords(), kept->OverallOfRecords());
  EXPECT_EQ(spilled->CountOf(TestError), kept->CountOf(TestError));
  for (std::uint32_t i : {0u, 3u, 4u, 17u, 48u, 49u, 1u}) {
    ResultRecord a = kept->Record(i), b = spilled->Record(i);
    b.time = a.time;  // recorded a moment apart
    ExpectSameRecord(a, b);
    Result result;
    std::uint32_t iteration;
    std::int64_t time;
    double taken;
    VariantArrayPtr values;
    ASSERT_EQ(spilled->Results(i, &result, &iteration, &time, &taken, &values), S_OK);
    EXPECT_EQ(iteration, i);
    EXPECT_EQ(values != nullptr, !ValuesFor(static_cast<int>(i)).empty());
  }
  std::vector<ResultRecord> from_10;
  std::size_t got = 0, total = 0;
  while ((got = spilled->ReadRecords(10 + total, 7, &from_10)) > 0) total += got;
  ASSERT_EQ(from_10.size(), 40u);
  for (std::size_t i = 0; i < from_10.size(); ++i) EXPECT_EQ(from_10[i].iteration, 10 + i);

  spilled->ResetResults();
  EXPECT_EQ(spilled->NumberOfRecords(), 0u);
  EXPECT_EQ(child->NumberOfRecords(), 0u);
  EXPECT_FALSE(spilled->HasResultSpill());
  EXPECT_EQ(spilled->Results(0, nullptr, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
}

// An item of a tree whose spill folds Passed runs keeps a record of the first Passed run only,
// in its place among the others, and counts every one.
TEST(ResultSpill, FoldedPassedRunsAreCountedNotStored) {
  auto folding = ScriptItem::Make(rootItem, "root", "t.odl", 0);
  SpillWindow window;
  window.fold_passed = true;
  folding->SetResultSpill(std::make_shared<ResultSpill>(fs::temp_directory_path().string(), window));
  const Result runs[] = {TestFailed, TestPassed, TestPassed, TestError, TestPassed, TestWarning, TestPassed};
  std::uint32_t n = 0;
  for (Result result : runs) {
    EXPECT_EQ(folding->PassedRunIsFolded(), n > 1) << "before run " << n;  // once one Passed is kept
    folding->RecordResult(result, n++, 0.5);
  }
  EXPECT_EQ(folding->CountOf(TestPassed), 4u);
  EXPECT_EQ(folding->current_result(), TestPassed);
  EXPECT_EQ(folding->OverallOfRecords(), TestFailed);
  std::vector<ResultRecord> kept;
  folding->ReadRecords(0, 10, &kept);
  std::string order;
  for (const ResultRecord& record : kept) order += std::to_string(record.iteration) + ":" + std::to_string(record.result) + ";";
  folding->ResetResults();
  EXPECT_FALSE(folding->PassedRunIsFolded());
  EXPECT_EQ(order, "0:" + std::to_string(TestFailed) + ";1:" + std::to_string(TestPassed) + ";3:" +
                       std::to_string(TestError) + ";5:" + std::to_string(TestWarning) + ";");
}

// Clients reading an item's results while its run records and spills them: every record they
// ask for is there, in its place, whether it is in memory, on its way to the file or in it.
TEST(ResultSpill, ReadersWhileSpillingSeeEveryRecordInItsPlace) {
  constexpr std::uint32_t kRecords = 3000;
  auto item = ScriptItem::Make(rootItem, "root", "t.odl", 0);
  item->SetResultSpill(std::make_shared<ResultSpill>(fs::temp_directory_path().string(), SpillWindow{16, 40}));
  std::atomic<bool> done{false};
  std::atomic<int> misplaced{0};
  auto read = [&](bool by_batch) {
    std::vector<ResultRecord> batch;
    while (!done.load()) {
      std::size_t count = item->NumberOfRecords();
      if (count == 0) continue;
      if (item->Record(count - 1).iteration != count - 1) ++misplaced;
      if (!by_batch) continue;
      std::size_t first = count > 50 ? count - 50 : 0;
      batch.clear();
      std::size_t got = 0;
      while (first + batch.size() < count && (got = item->ReadRecords(first + batch.size(), 7, &batch)) > 0) {}
      for (std::size_t i = 0; i < batch.size(); ++i) {
        if (batch[i].iteration != first + i) ++misplaced;
      }
    }
  };
  std::thread single(read, false), batches(read, true);
  for (std::uint32_t n = 0; n < kRecords; ++n) item->RecordResult(TestPassed, n, 0.0, ValuesFor(static_cast<int>(n)));
  done.store(true);
  single.join();
  batches.join();
  EXPECT_EQ(misplaced.load(), 0);
  ASSERT_EQ(item->NumberOfRecords(), kRecords);
  std::vector<ResultRecord> all;
  while (item->ReadRecords(all.size(), 1000, &all) > 0) {}
  ASSERT_EQ(all.size(), kRecords);
  for (std::uint32_t i = 0; i < kRecords; ++i) EXPECT_EQ(all[i].iteration, i);
}

}  // namespace
}  // namespace ordalis
