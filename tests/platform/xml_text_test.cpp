#include "platform/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ordalis {
namespace {

struct XmlTextCase {
  const char* name;
  std::string bytes;
  std::string written;
  bool valid_utf8 = true;  // the text reads back unchanged
};

class XmlTextTest : public testing::TestWithParam<XmlTextCase> {};

TEST_P(XmlTextTest, WritesTheOneRule) {
  EXPECT_EQ(XmlText(GetParam().bytes), GetParam().written);
  // What is written for valid UTF-8 reads back as the original text.
  if (GetParam().valid_utf8) {
    EXPECT_EQ(XmlUnescape(GetParam().written), GetParam().bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, XmlTextTest,
    testing::Values(XmlTextCase{"Markup", "a<b & \"c\" >", "a&lt;b &amp; &quot;c&quot; &gt;"},
                    XmlTextCase{"ValidUtf8KeptAsItIs", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
                    XmlTextCase{"Latin1ByteAsItsCharacter", "caf\xE9", "caf\xC3\xA9", false},
                    XmlTextCase{"ForbiddenControlVisible", std::string("ack\x06", 4), "ack\\x06", false},
                    XmlTextCase{"TabLineEndsKept", "a\tb\r\nc", "a\tb\r\nc"},
                    XmlTextCase{"CutSequence", "x\xE2\x82", "x\xC3\xA2\xC2\x82", false}),
    [](const testing::TestParamInfo<XmlTextCase>& info) { return info.param.name; });

}  // namespace
}  // namespace ordalis
