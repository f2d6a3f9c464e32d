#include "mail/mail_message.h"

#include <gtest/gtest.h>

namespace ordalis {
namespace {

struct ListCase {
  const char* list;
  std::vector<MailRecipient> expected;
  bool complete;
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << '"' << c.list << '"'; }

class RecipientListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(RecipientListTest, ParsesEntriesInOrder) {
  const ListCase& c = GetParam();
  std::vector<MailRecipient> parsed;
  EXPECT_EQ(ParseRecipientList(c.list, &parsed), c.complete);
  ASSERT_EQ(parsed.size(), c.expected.size());
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    EXPECT_EQ(parsed[i].address, c.expected[i].address) << "entry " << i;
    EXPECT_EQ(parsed[i].name, c.expected[i].name) << "entry " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RecipientListTest,
    ::testing::ValuesIn(std::vector<ListCase>{
        // Spaces are kept as written: the second address keeps its leading space.
        {"Team<team@example.com>; lead@example.com",
         {{"team@example.com", "Team"}, {" lead@example.com", ""}}, true},
        {"Team <a@x>", {{"a@x", "Team "}}, true},
        {"a@x", {{"a@x", ""}}, true},
        {"", {}, true},
        // Empty and blank entries name no one.
        {"a@x;", {{"a@x", ""}}, true},
        {"a@x; ;;b@y", {{"a@x", ""}, {"b@y", ""}}, true},
        // Text after the closing ">" and further brackets are ignored.
        {"<a@x>trailing", {{"a@x", ""}}, true},
        {"Name <a@x> <b@y>", {{"a@x", "Name "}}, true},
        // A "<" without ">" before the next ";" refuses the list; earlier entries stay.
        {"Team<team@example.com; lead@example.com", {}, false},
        {"a@x;Team<b@y", {{"a@x", ""}}, false},
        {"a@x;Team<b@y;c@z>", {{"a@x", ""}}, false},
    }));

TEST(MailMessage, RecipientsAndAttachmentsByIndex) {
  CMailMessage message;
  EXPECT_FALSE(message.AddRecipient(""));
  EXPECT_TRUE(message.AddRecipient("a@x", "A"));
  EXPECT_FALSE(message.AddMultipleRecipients("b@y;Broken<c@z"));
  EXPECT_TRUE(message.AddMultipleRecipients(""));
  ASSERT_EQ(message.RecipientCount(), 2u);
  std::string address, name;
  ASSERT_TRUE(message.GetRecipient(1, &address, &name));
  EXPECT_EQ(address, "b@y");
  EXPECT_EQ(name, "");
  EXPECT_FALSE(message.GetRecipient(2, &address, &name));

  EXPECT_FALSE(message.AddAttachment(""));
  EXPECT_TRUE(message.AddAttachment("/tmp/r.xml"));
  std::string path;
  ASSERT_TRUE(message.GetAttachment(0, &path));
  EXPECT_EQ(path, "/tmp/r.xml");
  EXPECT_FALSE(message.GetAttachment(1, &path));
  EXPECT_EQ(message.AttachmentCount(), 1u);
}

}  // namespace
}  // namespace ordalis
