#include "platform/text.h"

#include <gtest/gtest.h>

namespace ordalis {
namespace {

// Only A-Z fold: the neighbours of the letter ranges and UTF-8 bytes stay as they are, whatever
// the locale.
TEST(Text, CaseFoldsOnlyAToZ) {
  EXPECT_EQ(LowerAscii("AZaz@[`{_09\xC3\x84"), "azaz@[`{_09\xC3\x84");
  EXPECT_TRUE(EqualsIgnoringCase("Ordalis.Script", "oRDALIS.sCRIPT"));
  EXPECT_FALSE(EqualsIgnoringCase("@", "`"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_FALSE(EqualsIgnoringCase("abc", "ab"));
  EXPECT_TRUE(StartsWithIgnoringCase("TRUE, 1", "true"));
  EXPECT_FALSE(StartsWithIgnoringCase("tru", "true"));
}

// What a terminal would act on is shown, not obeyed; text, tabs and line ends stay as they are.
struct TerminalCase {
  const char* name;
  std::string text;
  std::string shown;
};

class TerminalTextTest : public testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalTextTest, ControlsAreShownEscaped) { EXPECT_EQ(TerminalText(GetParam().text), GetParam().shown); }

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalTextTest,
    testing::Values(TerminalCase{"PlainTabAndLineEnd", "a\tb\n\xC3\xA9", "a\tb\n\xC3\xA9"},
                    TerminalCase{"EscapeAndBell", "\x1B]0;t\x07", "\\x1B]0;t\\x07"},
                    TerminalCase{"CarriageReturnAndDelete", "ok\r\x7F", "ok\\x0D\\x7F"},
                    TerminalCase{"C1InUtf8", "\xC2\x9B" "2J", "\\u009B2J"},
                    TerminalCase{"ByteNotUtf8", "\x9B" "2J", "\\x9B2J"}),
    [](const testing::TestParamInfo<TerminalCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ordalis
