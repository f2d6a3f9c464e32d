#include "proxy/proxy_messages.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ordalis
