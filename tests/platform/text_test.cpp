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

}  // namespace
}  // namespace ordalis
