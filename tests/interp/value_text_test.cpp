#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fake_script.h"
#include "interp/variable_value.h"
#include "interp/variables.h"
#include "support/temporary_folder.h"

namespace ordalis {
namespace {

using namespace testing_support;

struct ParseCase {
  const char* text;
  bool ok;
  const char* display;
};

class ParseValueText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseValueText, LiteralsOnly) {
  VariableValue value(42);
  EXPECT_EQ(VariableValue::ParseValueText(GetParam().text, &value), GetParam().ok) << GetParam().text;
  EXPECT_EQ(value.DisplayText(), GetParam().display) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, ParseValueText, ::testing::Values(
    ParseCase{"1, \"two\", [3, 4.5]", true, "[1,\"two\",[3,4.5]]"},
    ParseCase{"0x10", true, "[16]"},
    ParseCase{"017", true, "[15]"},
    ParseCase{"-5", true, "[-5]"},
    ParseCase{"true, false", true, "[true,false]"},
    ParseCase{"[]", true, "[[]]"},
    ParseCase{"1e10", true, "[1e+10]"},
    ParseCase{"\"a\" \"b\"", true, "[\"ab\"]"},
    ParseCase{"abc", false, "42"},
    ParseCase{"1, x", false, "42"},
    ParseCase{"1 + 2", false, "42"},
    ParseCase{"[1, y]", false, "42"},
    ParseCase{"", false, "42"},
    ParseCase{"1 y = 2", false, "42"},
    ParseCase{"\"unclosed", false, "42"}));

// A value text is a literal: one that names an include is not a literal list, and reading it
// never opens the file (a device or a huge file there would hang or flood the reader).
TEST(ParseValueTextFiles, NeverFollowsAnInclude) {
  namespace fs = std::filesystem;
  testing_support::TemporaryFolder folder("ordalis_value_include_");
  ASSERT_FALSE(folder.path().empty());
  const fs::path file = folder / "included";
  std::ofstream(file) << "";
  int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, file.c_str(), IN_OPEN | IN_ACCESS), 0);

  VariableValue value(42);
  EXPECT_FALSE(VariableValue::ParseValueText("1\ninclude \"" + file.string() + "\"", &value));
  EXPECT_EQ(value.DisplayText(), "42");
  alignas(inotify_event) char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "the included file was opened";
  ::close(watch);
}

class FallbackTest : public ::testing::Test {
 protected:
  std::string Lookup(const std::string& name) {
    std::string lower;
    VariableValue value;
    return FindVariableByName(script_, name, &lower, &value) ? value.DisplayText() : "not found";
  }
  FakeScript script_;
};

TEST_F(FallbackTest, UserThenSystemVariablesBecomeScriptVariables) {
  script_.manager.user["limit"] = "10";
  script_.manager.user["word"] = "abc";
  script_.manager.user["both"] = "";
  script_.manager.system["both"] = "\"sys\"";
  script_.manager.system["pair"] = "1,2";
  EXPECT_EQ(Lookup("Limit"), "[10]");
  EXPECT_TRUE(script_.table.Contains("limit"));
  script_.manager.user["limit"] = "11";  // cached: the script variable now answers
  EXPECT_EQ(Lookup("limit"), "[10]");
  EXPECT_EQ(Lookup("word"), "not found");
  EXPECT_FALSE(script_.table.Contains("word"));
  EXPECT_EQ(Lookup("both"), "[\"sys\"]");
  EXPECT_EQ(Lookup("pair"), "[1,2]");
  EXPECT_EQ(Lookup("none"), "not found");
}

TEST_F(FallbackTest, PlaybackRecordingIsTheOnlyFallback) {
  script_.playback = true;
  script_.recorded["rate"] = "2.5";
  script_.manager.user["limit"] = "10";
  EXPECT_EQ(Lookup("RATE"), "[2.5]");
  EXPECT_EQ(Lookup("limit"), "not found");
}

TEST_F(FallbackTest, DefaultKeepsASystemVariable) {
  script_.manager.system["n"] = "7";
  auto statement = Item(defaultItem, "default", {Assign("n", {Int(5)})});
  EXPECT_EQ(ExecuteDefault(script_, statement.get()), TestPassed);
  EXPECT_EQ(Lookup("n"), "[7]");
  EXPECT_TRUE(script_.log.Contains("Variable n found default will be ignored"));
}

}  // namespace
}  // namespace ordalis
