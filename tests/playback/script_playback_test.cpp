#include "testers/script_playback.h"

#include <gtest/gtest.h>

#include <cstdint>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "testers/action_record.h"

namespace ordalis {
namespace {

namespace fs = std::filesystem;

// Collects what the playback tester logs through its trace.
class RecordingTrace : public ITrace {
 public:
  Status Log(LoggingLevel level, const std::string& text) override {
    lines.push_back({level, text});
    return S_OK;
  }
  std::vector<std::pair<LoggingLevel, std::string>> lines;
};

class ScriptPlaybackTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ordalis_playback_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    trace_ = std::make_shared<RecordingTrace>();
    playback_.SetTrace(trace_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& text) {
    std::string path = (dir_ / "run.odlrec").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  Result Replay(VariantArrayPtr parameters, VariantArrayPtr* values) {
    Result result = TestNotRun;
    EXPECT_EQ(playback_.Execute(7, std::move(parameters), values, &result), S_OK);
    return result;
  }

  bool Logged(const std::string& text) const {
    for (const auto& line : trace_->lines) {
      if (line.second == text) return true;
    }
    return false;
  }

  fs::path dir_;
  std::shared_ptr<RecordingTrace> trace_;
  ScriptPlayback playback_;
};

TEST_F(ScriptPlaybackTest, ReadsVariablesAndRecordsWithLooseLineEnds) {
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n    port 5025\r\n    name \"bench 1\"\r\n"
                       "    novalue\r\n100 1,\"a\"\r\n    250 0 [2.5,\"x\\ny\"]\n\n"
                       "300 \r\n    400 1 \r\n500 3\r\n"));
  ASSERT_EQ(playback_.RecordedVariableCount(), 2u);
  EXPECT_EQ(playback_.RecordedVariableName(0), "name");
  EXPECT_EQ(playback_.RecordedVariableName(5), "");
  std::string value;
  ASSERT_TRUE(playback_.RecordedVariableValue("name", &value));
  EXPECT_EQ(value, "\"bench 1\"");

  const auto& records = playback_.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].in_ticks, 100);
  EXPECT_EQ(records[0].in_text, "1,\"a\"");
  EXPECT_EQ(records[0].out_ticks, 250);
  EXPECT_EQ(records[0].result, TestPassed);
  EXPECT_EQ(records[0].out_text, "[2.5,\"x\\ny\"]");
  EXPECT_EQ(records[1].result, TestFailed);
  EXPECT_EQ(records[1].out_text, "");
  // An in line without its out line: the record is an error with no out ticks.
  EXPECT_EQ(records[2].out_ticks, -1);
  EXPECT_EQ(records[2].result, TestError);
}

TEST_F(ScriptPlaybackTest, WrongSecondLineGivesAnEmptySource) {
  playback_.Load(Write("Version 4.0n \r\nSystemVariables\r\n    a 1\r\n1 2\r\n    3 0 \r\n"));
  EXPECT_EQ(playback_.RecordedVariableCount(), 0u);
  EXPECT_TRUE(playback_.records().empty());
  VariantArrayPtr values;
  EXPECT_EQ(Replay(nullptr, &values), TestError);
  EXPECT_TRUE(Logged("end of data reached"));
}

TEST_F(ScriptPlaybackTest, ReplaysResultsAndValuesInOrder) {
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n1 1,\"a\"\r\n    2 0 7,\"x\\ny\",[true]\r\n"
                       "3 \r\n    4 1 \r\n"));
  VariantArrayPtr values;
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::Int(1), Variant::String("a")});
  EXPECT_EQ(Replay(parameters, &values), TestPassed);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 3u);
  EXPECT_EQ((*values)[0].as_int(), 7);
  EXPECT_EQ((*values)[1].as_string(), "x\ny");  // escapes decoded
  EXPECT_TRUE((*values)[2].is_array());
  EXPECT_FALSE(Logged("in != expected"));

  // Different parameters are reported but the recorded outcome still comes back.
  EXPECT_EQ(Replay(std::make_shared<VariantArray>(VariantArray{Variant::Int(9)}), &values), TestFailed);
  EXPECT_FALSE(values);
  EXPECT_TRUE(Logged("in != expected"));

  EXPECT_EQ(Replay(nullptr, &values), TestError);
  EXPECT_TRUE(Logged("end of data reached"));
  playback_.Rewind();
  EXPECT_EQ(Replay(parameters, &values), TestPassed);
}

TEST_F(ScriptPlaybackTest, NullValuesPointerIsReported) {
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n1 \r\n    2 0 \r\n"));
  Result result = TestPassed;
  EXPECT_EQ(playback_.Execute(0, nullptr, nullptr, &result), S_OK);
  EXPECT_EQ(result, TestError);
  EXPECT_TRUE(Logged("values array pointer in 0"));
}

TEST_F(ScriptPlaybackTest, UnparsableOutTextIsAnError) {
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n1 \r\n    2 0 abc\r\n"));
  VariantArrayPtr values;
  EXPECT_EQ(Replay(nullptr, &values), TestError);
  EXPECT_TRUE(Logged("failed to get out variable value"));
}

TEST_F(ScriptPlaybackTest, TesterFaceAnswersAsPlayback) {
  std::string text;
  EXPECT_EQ(playback_.get_TesterType(&text), S_OK);
  EXPECT_EQ(text, "playback");
  std::uint32_t count = 9;
  EXPECT_EQ(playback_.get_ActionCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  VariantBool flag = kVariantFalse;
  EXPECT_EQ(playback_.Open(nullptr, &flag), S_OK);
  EXPECT_EQ(flag, kVariantTrue);
  EXPECT_EQ(playback_.get_Version(&text), S_OK);
  EXPECT_EQ(text, "1.0");
}

TEST_F(ScriptPlaybackTest, RecordWrittenByARunReplays) {
  std::string path = (dir_ / "written.odlrec").string();
  ActionRecord record;
  ASSERT_TRUE(record.Start(path, {{"station", "\"A\""}}));
  auto parameters = std::make_shared<VariantArray>(VariantArray{Variant::String("tab\there"), Variant::Double(1.5)});
  record.WriteIn(parameters);
  record.WriteOut(TestWarning, std::make_shared<VariantArray>(VariantArray{Variant::String("q\"uote")}));
  record.WriteIn(nullptr);
  record.WriteFailedCall();
  record.Close();

  playback_.Load(path);
  std::string value;
  ASSERT_TRUE(playback_.RecordedVariableValue("station", &value));
  EXPECT_EQ(value, "\"A\"");
  VariantArrayPtr values;
  EXPECT_EQ(Replay(parameters, &values), TestWarning);
  EXPECT_FALSE(Logged("in != expected"));
  ASSERT_TRUE(values);
  EXPECT_EQ((*values)[0].as_string(), "q\"uote");
  EXPECT_EQ(Replay(nullptr, &values), TestError);
}

MeasuredValue Reported(std::string name, Variant value, std::string unit, MeasurementComparison comparison,
                       bool has_low, double low, bool has_high, double high, Result result) {
  MeasuredValue m;
  m.name = std::move(name);
  m.value = std::move(value);
  m.unit = std::move(unit);
  m.comparison = comparison;
  m.has_low = has_low;
  m.low = low;
  m.has_high = has_high;
  m.high = high;
  m.result = result;
  return m;
}

// What an action measured is written after its out line and comes back with its outcome in
// playback, every part exact; an action without measurements gives none, and an old record
// (no measurement lines) replays as before.
TEST_F(ScriptPlaybackTest, MeasurementsComeBackWithTheirAction) {
  const MeasuredValues measured = {
      Reported("3.3 V rail", Variant::Double(4.9963), "V", CompareBetweenInclusive, true, 3.2, true, 3.4, TestFailed),
      Reported("", Variant::Double(0.1 + 0.2), "\xCE\xA9", CompareAtLeast, true, -1e-300, false, 0, TestPassed),
      Reported("serial \"7\"\n", Variant::String("SN,[1]\t\"x\""), "", CompareLogOnly, false, 0, false, 0,
               TestPassed),
      Reported("relay", Variant::Bool(true), "", CompareEqual, true, 1, false, 0, TestPassed),
      Reported("count", Variant::Int(-42), "Hz", CompareNotEqual, true, 0, false, 0, static_cast<Result>(9)),
  };
  std::string path = (dir_ / "measured.odlrec").string();
  ActionRecord record;
  ASSERT_TRUE(record.Start(path, {}));
  record.WriteIn(nullptr);
  record.WriteOut(TestFailed, std::make_shared<VariantArray>(VariantArray{Variant::Double(4.9963)}), measured);
  record.WriteIn(nullptr);
  record.WriteOut(TestPassed, nullptr);
  record.Close();

  playback_.Load(path);
  ASSERT_EQ(playback_.records().size(), 2u);
  VariantArrayPtr values;
  EXPECT_EQ(Replay(nullptr, &values), TestFailed);
  MeasuredValues back;
  ASSERT_EQ(playback_.TakeMeasurements(&back), S_OK);
  ASSERT_EQ(back.size(), measured.size());
  for (std::size_t i = 0; i < back.size(); ++i) {
    const MeasuredValue& a = back[i];
    const MeasuredValue& b = measured[i];
    EXPECT_EQ(a.name, b.name) << i;
    double x = 0, y = 0;
    if (MeasuredValue::NumberOf(b.value, &y) && b.value.type() != VT_BOOL) {
      ASSERT_TRUE(MeasuredValue::NumberOf(a.value, &x)) << i;
      EXPECT_EQ(x, y) << i;
    } else {
      EXPECT_EQ(a.value.type(), b.value.type()) << i;
      EXPECT_EQ(a.value.as_string(), b.value.as_string()) << i;
      EXPECT_EQ(a.value.as_bool(), b.value.as_bool()) << i;
    }
    EXPECT_EQ(a.unit, b.unit) << i;
    EXPECT_EQ(a.has_low, b.has_low) << i;
    EXPECT_EQ(a.has_high, b.has_high) << i;
    if (b.has_low) {
      EXPECT_EQ(a.low, b.low) << i;
    }
    if (b.has_high) {
      EXPECT_EQ(a.high, b.high) << i;
    }
    EXPECT_EQ(a.comparison, b.comparison) << i;
    EXPECT_EQ(a.result, b.result) << i;
  }
  ASSERT_EQ(playback_.TakeMeasurements(&back), S_OK);
  EXPECT_TRUE(back.empty());  // handed over once
  EXPECT_EQ(Replay(nullptr, &values), TestPassed);
  ASSERT_EQ(playback_.TakeMeasurements(&back), S_OK);
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(Logged("failed to read the recorded measurements"));

  // A damaged measurement line is reported and gives none; the outcome still comes back.
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n1 \r\n    2 1 3\r\n    M [\"a\",\"Double\",\"x\"]\r\n"));
  EXPECT_EQ(Replay(nullptr, &values), TestFailed);
  ASSERT_EQ(playback_.TakeMeasurements(&back), S_OK);
  EXPECT_TRUE(back.empty());
  EXPECT_TRUE(Logged("failed to read the recorded measurements"));
}

// Tick values at and beyond the 64-bit limit are clamped, and so are the waits computed from
// them (the sanitizer build checks no arithmetic overflows on the way).
TEST_F(ScriptPlaybackTest, TicksBeyondTheRangeAreClamped) {
  playback_.Load(Write("Version 4.0n \r\nSystemVars\r\n"
                       "99999999999999999999999999 \r\n    0 0 1\r\n"
                       "0 \r\n    9223372036854775807 0 2\r\n"
                       "9223372036854775807 \r\n    99999999999999999999 0 3\r\n"));
  ASSERT_EQ(playback_.records().size(), 3u);
  EXPECT_EQ(playback_.records()[0].in_ticks, INT64_MAX);
  EXPECT_EQ(playback_.records()[2].out_ticks, INT64_MAX);
  for (int expected = 1; expected <= 3; ++expected) {
    VariantArrayPtr values;
    EXPECT_EQ(Replay(nullptr, &values), TestPassed);
    ASSERT_TRUE(values);
    EXPECT_EQ((*values)[0].as_int(), expected);
  }
}

// Only a regular file is read: a device or a directory leaves the source empty.
TEST_F(ScriptPlaybackTest, WhatIsNotARegularFileIsNotRead) {
  for (const std::string& path : {std::string("/dev/zero"), dir_.string()}) {
    playback_.Load(path);
    EXPECT_TRUE(playback_.records().empty()) << path;
  }
}

TEST_F(ScriptPlaybackTest, RecordCutShortByACrashEndsAtItsZeroBytes) {
  std::string text = "Version 4.0n \r\nSystemVars\r\n1 \r\n    2 0 7\r\n";
  text.append(4096, '\0');
  playback_.Load(Write(text));
  ASSERT_EQ(playback_.records().size(), 1u);
  EXPECT_EQ(playback_.records()[0].out_text, "7");
}

TEST_F(ScriptPlaybackTest, LongRecordsCrossTheWritersChunksIntact) {
  std::string path = (dir_ / "long.odlrec").string();
  ActionRecord record;
  ASSERT_TRUE(record.Start(path, {}));
  const int kActions = 30000;  // well over one mapped chunk of lines
  for (int i = 0; i < kActions; ++i) {
    record.WriteIn(std::make_shared<VariantArray>(VariantArray{Variant::Int(i), Variant::String("padding padding")}));
    record.WriteOut(TestPassed, std::make_shared<VariantArray>(VariantArray{Variant::Int(i)}));
  }
  record.Close();
  playback_.Load(path);
  ASSERT_EQ(playback_.records().size(), static_cast<std::size_t>(kActions));
  EXPECT_EQ(playback_.records()[kActions - 1].in_text, std::to_string(kActions - 1) + ",\"padding padding\"");
  EXPECT_EQ(playback_.records()[kActions - 1].out_text, std::to_string(kActions - 1));
  // The file ends with its last line, not with the rest of a mapped chunk.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string tail(2, ' ');
  in.seekg(-2, std::ios::end);
  in.read(tail.data(), 2);
  EXPECT_EQ(tail, "\r\n");
}

}  // namespace
}  // namespace ordalis
