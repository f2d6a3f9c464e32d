// The wire layout of a mail: base64, the body part, header values, the date and server names.

#include "mail/mime.h"

#include <gtest/gtest.h>

#include "mail/base64.h"
#include "mail/smtp.h"

namespace ordalis {
namespace {

struct Base64Case {
  std::string data;
  std::size_t line_length;
  std::string expected;
};

TEST(Base64, EncodesWithPaddingAndLineBreaks) {
  const std::vector<Base64Case> cases = {
      {"", 0, ""},
      {"f", 0, "Zg=="},
      {"fo", 0, "Zm8="},
      {"foo", 0, "Zm9v"},
      {"foobar", 0, "Zm9vYmFy"},
      {"\xff\xfe\x80", 0, "//6A"},
      {std::string(57, '\0'), 76, std::string(76, 'A')},
      {std::string(58, '\0'), 76, std::string(76, 'A') + "\r\nAA=="},
  };
  for (const Base64Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.data, c.line_length), c.expected) << "length " << c.data.size();
  }
  // 51 bytes fill one 68-character line exactly: no line break after it.
  std::string line = Base64Encode(std::string(51, 'a'), 68);
  EXPECT_EQ(line.size(), 68u);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  std::string two_lines = Base64Encode(std::string(52, 'a'), 68);
  EXPECT_EQ(two_lines.substr(68), "\r\nYQ==");
}

const std::string kPlainHead =
    "--Marrowind Boundary\r\nContent-type: text/plain; charset=us-ascii\r\n\r\n";
const std::string kEncodedHead =
    "--Marrowind Boundary\r\nContent-type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n";

TEST(BodyPart, LineEndsAndDotTransparency) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {".", "..\r\n"},
      {".\n.x\n..\nend", "..\r\n..x\r\n...\r\nend\r\n"},
      {"a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n"},
      {"not. at start\n", "not. at start\r\n"},
      {"", "\r\n"},
      {"x", "x\r\n"},
      {"a\rb\n\nc", "a\r\nb\r\n\r\nc\r\n"},
  };
  for (const auto& [body, wire] : cases) {
    EXPECT_EQ(BodyPart(body), kPlainHead + wire) << "body: " << body;
  }
}

TEST(BodyPart, NonAsciiOverlongOrBoundaryTextTravelsBase64) {
  EXPECT_EQ(BodyPart("\xc3\xa9\n"), kEncodedHead + "w6kNCg==\r\n");
  std::string long_line(999, 'a');
  std::string part = BodyPart(long_line);
  ASSERT_EQ(part.rfind(kEncodedHead, 0), 0u);
  EXPECT_EQ(part.substr(kEncodedHead.size()),
            Base64Encode(long_line + "\r\n", kMimeBase64LineLength) + "\r\n");
  EXPECT_EQ(BodyPart(std::string(998, 'a')), kPlainHead + std::string(998, 'a') + "\r\n");
  EXPECT_EQ(BodyPart("--Marrowind Boundary--\n"),
            kEncodedHead + Base64Encode("--Marrowind Boundary--\r\n", kMimeBase64LineLength) +
                "\r\n");
}

TEST(HeaderText, KeepsAsciiEncodesTheRestAndNeverBreaksALine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Results for script a.odl Passed", "Results for script a.odl Passed"},
      {"a\r\nBcc: x@y", "a  Bcc: x@y"},
      {"R\xc3\xa9sum\xc3\xa9", "=?utf-8?B?UsOpc3Vtw6k=?="},
  };
  for (const auto& [text, header] : cases) EXPECT_EQ(EncodeHeaderText(text), header);

  // A long text becomes several encoded words on folded lines, none cut inside a character.
  std::string long_text;
  for (int i = 0; i < 40; ++i) long_text += "\xc3\xa9";
  std::string encoded = EncodeHeaderText(long_text);
  EXPECT_EQ(encoded, "=?utf-8?B?" + Base64Encode(long_text.substr(0, 44)) + "?=\r\n =?utf-8?B?" +
                         Base64Encode(long_text.substr(44)) + "?=");
}

TEST(HeaderText, DisplayNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"Team ", "Team "},
      {"Doe, John", "\"Doe, John\""},
      {"a\"b\\c<d>", "\"a\\\"b\\\\c<d>\""},
      {"J\xc3\xbcrgen", "=?utf-8?B?SsO8cmdlbg==?="},
  };
  for (const auto& [name, header] : cases) EXPECT_EQ(HeaderDisplayName(name), header);
  EXPECT_EQ(WireAddress(" lead@example.com "), "lead@example.com");
  EXPECT_EQ(WireAddress("a@x>\r\nRSET"), "a@x>  RSET");
}

TEST(MailDate, EnglishNamesFourDigitYearNumericZone) {
  std::tm local{};
  local.tm_year = 2012 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 3;
  local.tm_wday = 6;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 7;
  local.tm_gmtoff = 3600;
  EXPECT_EQ(FormatMailDate(local), "Sat, 03 Mar 2012 09:05:07 +0100");
  local.tm_gmtoff = -(5 * 3600 + 30 * 60);
  EXPECT_EQ(FormatMailDate(local), "Sat, 03 Mar 2012 09:05:07 -0530");
}

TEST(AttachmentPart, NamedAfterTheLastPathComponent) {
  auto head = [](const std::string& name) {
    return "\r\n--Marrowind Boundary\r\n"
           "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n"
           "Content-Disposition: attachment; filename=\"" + name + "\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n";
  };
  EXPECT_EQ(AttachmentPartHead("/results/test.odl_2012_03_03_09_05_07.xml"),
            head("test.odl_2012_03_03_09_05_07.xml"));
  EXPECT_EQ(AttachmentPartHead("C:\\results\\r.log"), head("r.log"));
  EXPECT_EQ(AttachmentPartHead("plain.xsd"), head("plain.xsd"));
  EXPECT_EQ(AttachmentPartHead("/d/a\"b.log"), head("a_b.log"));
}

struct ServerNameCase {
  const char* name;
  bool valid;
  const char* host;
  std::uint16_t port;
};

TEST(ServerName, PortFromColonSuffixOtherwise25) {
  const std::vector<ServerNameCase> cases = {
      {"mail.example.com", true, "mail.example.com", 25},
      {"mail.example.com:2525", true, "mail.example.com", 2525},
      {"127.0.0.1:65535", true, "127.0.0.1", 65535},
      {"[::1]:2525", true, "::1", 2525},
      {"[::1]", true, "::1", 25},
      {"::1", true, "::1", 25},
      {"mail:0", false, "", 0},
      {"mail:65536", false, "", 0},
      {"mail:", false, "", 0},
      {"mail:smtp", false, "", 0},
      {":25", false, "", 0},
      {"", false, "", 0},
      {"[::1", false, "", 0},
  };
  for (const ServerNameCase& c : cases) {
    std::optional<MailServerAddress> address = SplitServerName(c.name);
    ASSERT_EQ(address.has_value(), c.valid) << c.name;
    if (!c.valid) continue;
    EXPECT_EQ(address->host, c.host) << c.name;
    EXPECT_EQ(address->port, c.port) << c.name;
  }
}

}  // namespace
}  // namespace ordalis
