#include "proxy/proxy_messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

namespace ordalis {
namespace {

TEST(ProxyMessages, ValueTextWritesEachElementKind) {
  VariantArray nested = {Variant::Int(2), Variant::String("b")};
  VariantArray values = {Variant::Int(-7),  Variant::Double(2.5),         Variant::Double(1e20),
                         Variant::String("ab"), Variant::Bool(true),       Variant::Bool(false),
                         Variant::Array(nested), Variant::Other(VT_DATE)};
  EXPECT_EQ(ValueText(values), "-7,2.5,1e+20,\"ab\",true,false,[2,\"b\"],Unknown Format 7");
  EXPECT_EQ(ValueText({}), "");
}

TEST(ProxyMessages, ValueTextStopsAtADepthLimit) {
  Variant deep = Variant::Int(1);
  for (int i = 0; i < 200; ++i) deep = Variant::Array(VariantArray{deep});
  std::string text = ValueText({deep});
  EXPECT_NE(text.find("[...]"), std::string::npos);
  EXPECT_LT(text.size(), 200u);
}

TEST(ProxyMessages, LogLinesResultWordsAndFraming) {
  EXPECT_EQ(LogMessage(warning, "scriptproxy", "Unknown command 'X' ignored"),
            "log:5Variable scriptproxy Unknown command 'X' ignored");
  ProxyLogLine line;
  ASSERT_TRUE(ParseLogMessage("log:4Variable Script Start", &line));
  EXPECT_EQ(line.level, 4);
  EXPECT_EQ(line.variable_name, "Script");
  EXPECT_EQ(line.message, "Start");
  EXPECT_FALSE(ParseLogMessage("logbook", &line));

  const char* words[] = {"passed", "failed", "notimplemented", "warning", "error", "notrun", "aborted"};
  for (int result = 0; result < 7; ++result) {
    EXPECT_STREQ(ResultWord(static_cast<Result>(result)), words[result]);
    EXPECT_EQ(KindOf(words[result]), ProxyMessageKind::kResult);
  }
  EXPECT_STREQ(ResultWord(static_cast<Result>(9)), "unknown");
  EXPECT_EQ(KindOf("OK"), ProxyMessageKind::kReply);
  EXPECT_EQ(FramedMessage("OK"), std::string("\0\0\0\2OK", 6));
}

TEST(ProxyMessages, ACommandSplitsAtItsFirstColon) {
  ProxyCommand command = SplitCommand("script:a = \"x:y\"");
  EXPECT_EQ(command.name, "script");
  EXPECT_EQ(command.argument, "a = \"x:y\"");
  EXPECT_TRUE(command.has_argument);
  EXPECT_FALSE(SplitCommand("connect").has_argument);
  EXPECT_TRUE(SplitCommand("script:").has_argument);
}

// Chunks of a stream from a peer, each arriving some milliseconds after the start, and the
// commands read from them ("dropped" for a framed command given up unfinished).
struct StreamCommandsCase {
  const char* name;
  std::vector<std::pair<int, std::string>> chunks;
  std::vector<std::string> commands;
};

void PrintTo(const StreamCommandsCase& c, std::ostream* out) { *out << c.name; }

class StreamCommands : public ::testing::TestWithParam<StreamCommandsCase> {};

TEST_P(StreamCommands, AFramedCommandTheStreamPausedInsideIsDropped) {
  CommandReader reader;
  std::vector<CommandReader::Command> commands;
  const auto start = FrameReader::Clock::time_point() + std::chrono::hours(1);
  for (const auto& [at, chunk] : GetParam().chunks) {
    reader.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(),
                start + std::chrono::milliseconds(at), commands);
  }
  std::vector<std::string> read;
  for (const CommandReader::Command& command : commands) read.push_back(command.dropped ? "dropped" : command.text);
  EXPECT_EQ(read, GetParam().commands);
}

const int kLate = static_cast<int>(kFramePause.count()) + 100;

INSTANTIATE_TEST_SUITE_P(
    Pauses, StreamCommands,
    ::testing::ValuesIn(std::vector<StreamCommandsCase>{
        {"StrayZeroByteThenABareCommand", {{0, std::string(1, '\0')}, {kLate, "connect"}}, {"dropped", "connect"}},
        {"StrayZeroBytesThenAFramedCommand", {{0, std::string(2, '\0')}, {kLate, FramedMessage("abort")}},
         {"dropped", "abort"}},
        {"FramedCommandInPiecesWithinThePause",
         {{0, FramedMessage("variable:x").substr(0, 3)}, {kLate - 101, FramedMessage("variable:x").substr(3)}},
         {"variable:x"}},
    }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ordalis
