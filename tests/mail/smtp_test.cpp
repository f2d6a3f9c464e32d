// The SMTP client against a real SMTP server (aiosmtpd, recording what it receives) and against
// scripted fakes for servers that misbehave.

#include "mail/smtp.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_servers.h"

namespace ordalis {
namespace {

using testing::Addresses;
using testing::AfterScript;
using testing::MessageRecord;
using testing::RecordingServer;
using testing::ScriptedServer;
using namespace std::chrono_literals;

// True when [text] has the [shape]: "A" an upper-case letter, "a" a lower-case one, "9" a digit,
// "+" a sign; every other character stands for itself.
bool HasShape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool fits = shape[i] == 'A'   ? (c >= 'A' && c <= 'Z')
                : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                : shape[i] == '9' ? (c >= '0' && c <= '9')
                : shape[i] == '+' ? (c == '+' || c == '-')
                                  : c == shape[i];
    if (!fits) return false;
  }
  return true;
}

CSMTP ClientFor(std::uint16_t port) { return CSMTP("127.0.0.1", port); }

CMailMessage Message(const std::string& recipients, const std::string& body = "body\n") {
  CMailMessage message;
  message.set_from("ordalis@localhost");
  message.set_subject("Results for script a.odl Passed");
  message.set_body(body);
  message.AddMultipleRecipients(recipients);
  return message;
}

// ---- Greeting and authentication against the real server.

struct GreetingCase {
  const char* label;
  std::vector<std::string> server_options;
  std::optional<std::string> user;
  std::optional<std::string> password;
  bool connects;
  const char* error;           // last error after a failed connect
  const char* greeting;        // HELO or EHLO, as the server saw it
  const char* auth_user;       // who the server authenticated
};

void PrintTo(const GreetingCase& c, std::ostream* os) { *os << c.label; }

class GreetingTest : public ::testing::TestWithParam<GreetingCase> {};

TEST_P(GreetingTest, GreetsAndAuthenticates) {
  const GreetingCase& c = GetParam();
  RecordingServer server(c.server_options);
  ASSERT_TRUE(server.started()) << server.error();
  CSMTP smtp("127.0.0.1", server.port());
  std::optional<std::string_view> user, password;
  if (c.user) user = *c.user;
  if (c.password) password = *c.password;
  ASSERT_EQ(smtp.Connect(user, password), c.connects) << smtp.GetLastError();
  EXPECT_EQ(smtp.connected(), c.connects);
  if (!c.connects) {
    EXPECT_EQ(smtp.GetLastError(), c.error);
    return;
  }
  CMailMessage message = Message("a@x");
  ASSERT_TRUE(smtp.SendMessage(message)) << smtp.GetLastError();
  std::optional<MessageRecord> record = server.Record(1);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->greeting, c.greeting);
  EXPECT_EQ(record->auth_user, c.auth_user);
  EXPECT_TRUE(smtp.Disconnect());
  EXPECT_FALSE(smtp.connected());
}

const std::string kLongPassword(60, 'p');  // its base64 is longer than 68 characters

INSTANTIATE_TEST_SUITE_P(
    Servers, GreetingTest,
    ::testing::ValuesIn(std::vector<GreetingCase>{
        {"NoUser", {}, std::nullopt, std::nullopt, true, "", "HELO", ""},
        {"EmptyUser", {}, "", "secret", true, "", "HELO", ""},
        {"UserWithoutPassword", {}, "alice", std::nullopt, true, "", "HELO", ""},
        {"AuthLogin", {}, "alice", "secret", true, "", "EHLO", "alice"},
        {"RefusedPassword", {}, "alice", "wrong", false, "535:SMTP Authendication failed", "", ""},
        {"LongPasswordOnOneLine", {"--password", kLongPassword}, "alice", kLongPassword, true, "",
         "EHLO", "alice"},
        // An EHLO reply of several kilobytes is read whole before AUTH LOGIN goes out.
        {"LongMultiLineEhlo", {"--long-ehlo", "80"}, "alice", "secret", true, "", "EHLO",
         "alice"},
    }),
    [](const auto& info) { return std::string(info.param.label); });

// ---- Servers that misbehave.

struct FaultCase {
  const char* label;
  std::string greeting;
  std::vector<std::string> replies;
  AfterScript after;
  const char* error;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class ConnectFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ConnectFaultTest, FailsWithClearErrorAndClosed) {
  const FaultCase& c = GetParam();
  ScriptedServer server(c.greeting, c.replies, c.after);
  CSMTP smtp = ClientFor(server.port());
  smtp.SetTimeout(300ms);
  EXPECT_FALSE(smtp.Connect("alice", "secret"));
  EXPECT_EQ(smtp.GetLastError(), c.error);
  EXPECT_FALSE(smtp.connected());
}

INSTANTIATE_TEST_SUITE_P(
    Fakes, ConnectFaultTest,
    ::testing::ValuesIn(std::vector<FaultCase>{
        {"NeverAnswers", "", {}, AfterScript::kStaySilent, "Server didn't respond."},
        {"HangsUpAtOnce", "", {}, AfterScript::kHangUp, "Server didn't respond."},
        {"RefusesService", "554 No service\r\n", {}, AfterScript::kHangUp,
         "554:SMTP server not available"},
        {"RefusesEhlo", "220 hi\r\n", {"502 No EHLO\r\n"}, AfterScript::kHangUp,
         "502:SMTP server error"},
        {"NoAuth", "220 hi\r\n", {"250 ok\r\n", "504 No AUTH LOGIN\r\n"}, AfterScript::kHangUp,
         "504:SMTP Authendication not available"},
        {"SilentAfterEhlo", "220 hi\r\n", {"250 ok\r\n"}, AfterScript::kStaySilent,
         "SMTP server did not answer within 300 ms"},
        {"HangsUpAfterEhlo", "220 hi\r\n", {"250 ok\r\n"}, AfterScript::kHangUp, "Socket Error"},
    }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SmtpConnect, MultiLineReplyIsOneReply) {
  // Continuation lines "250-" up to the line "250 " form one reply; read line by line, the
  // extra lines would be taken as the answers to AUTH LOGIN and the user name.
  ScriptedServer server("220-mail.test\r\n220 ready\r\n",
                        {"250-mail.test\r\n250-SIZE 1000\r\n250-AUTH LOGIN\r\n250 HELP\r\n",
                         "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
                        AfterScript::kHangUp);
  CSMTP smtp = ClientFor(server.port());
  smtp.SetTimeout(5s);
  EXPECT_TRUE(smtp.Connect("alice", "secret")) << smtp.GetLastError();
  EXPECT_EQ(smtp.LastReply(), "235 ok\r\n");
}

TEST(SmtpConnect, UnreachableServers) {
  CSMTP refused = ClientFor(testing::ClosedPort());
  EXPECT_FALSE(refused.Connect());
  EXPECT_EQ(refused.GetLastError(), "Unable to connect to server");

  // A name no resolver accepts fails at once, without asking a name server.
  CSMTP unknown("no such host", 25);
  EXPECT_FALSE(unknown.Connect());
  EXPECT_EQ(unknown.GetLastError(), "Unable to resolve server name no such host");
}

// ---- Sending.

class SmtpSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.started()) << server_.error();
    ASSERT_TRUE(smtp_.Connect()) << smtp_.GetLastError();
  }

  RecordingServer server_{{"--refuse", "no@x"}};
  CSMTP smtp_{"127.0.0.1", server_.port()};
};

TEST_F(SmtpSendTest, NothingIsSentWithoutConnectionOrRecipients) {
  CSMTP idle = ClientFor(server_.port());
  CMailMessage message = Message("a@x");
  EXPECT_EQ(idle.GetLastError(), "OK");
  EXPECT_FALSE(idle.SendMessage(message));
  EXPECT_EQ(idle.GetLastError(), "Must be connected");

  CMailMessage nobody = Message("");
  EXPECT_FALSE(smtp_.SendMessage(nobody));
  EXPECT_EQ(smtp_.GetLastError(), "No Recipients");
  EXPECT_TRUE(smtp_.connected());
}

TEST_F(SmtpSendTest, HeaderAndBodyLayout) {
  CMailMessage message = Message("Team <team@x>;<b@y>;c@z", "Line one\nLine two\n");
  ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();
  std::string raw = server_.RawMessage(1);
  std::size_t date_end = raw.find("\r\n");
  ASSERT_NE(date_end, std::string::npos);
  EXPECT_TRUE(HasShape(raw.substr(0, date_end), "Date:Aaa, 99 Aaa 9999 99:99:99 +9999")) << raw;
  EXPECT_EQ(raw.substr(date_end + 2),
            "From: ordalis@localhost\r\n"
            "To: Team <team@x>,<b@y>,<c@z>\r\n"
            "Subject: Results for script a.odl Passed\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-type: multipart/mixed; boundary=\"Marrowind Boundary\"\r\n"
            "X-Mailer: <Lark Mail>\r\n"
            "\r\n"
            "--Marrowind Boundary\r\n"
            "Content-type: text/plain; charset=us-ascii\r\n"
            "\r\n"
            "Line one\r\n"
            "Line two\r\n"
            "\r\n"
            "--Marrowind Boundary--\r\n");
  EXPECT_EQ(message.header().rfind("Date:", 0), 0u);
  std::optional<MessageRecord> record = server_.Record(1);
  ASSERT_TRUE(record) << "no mail arrived";
  EXPECT_EQ(record->mail_from, "ordalis@localhost");
  EXPECT_EQ(record->rcpt_tos, (Addresses{"team@x", "b@y", "c@z"}));
}

TEST_F(SmtpSendTest, RefusedRecipientDoesNotStopTheOthers) {
  // The second address keeps its leading space in the list; it is sent without it.
  CMailMessage message = Message("Team <a@x>; no@x; b@y");
  ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();
  EXPECT_EQ(server_.Record(1).value_or(MessageRecord()).rcpt_tos, (Addresses{"a@x", "b@y"}));
  EXPECT_EQ(smtp_.RefusedRecipients(),
            std::vector<std::string>{"no@x: 550 5.1.1 Recipient refused"});
}

TEST_F(SmtpSendTest, LongRecipientListFoldsTheToHeader) {
  // Sixty recipients make a To header far longer than a mail line may be; a server refuses
  // such a line, so the message arriving at all shows the header was folded.
  std::string list;
  Addresses addresses;
  for (int i = 0; i < 60; ++i) {
    std::string address = "recipient-" + std::to_string(i) + "@example.com";
    list += address + ";";
    addresses.push_back(address);
  }
  CMailMessage message = Message(list);
  ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();
  EXPECT_EQ(server_.Record(1).value_or(MessageRecord()).rcpt_tos, addresses);
  std::string header = message.header();
  for (std::size_t start = 0, end; (end = header.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    EXPECT_LE(end - start, 998u);
  }
}

TEST_F(SmtpSendTest, RefusedTransactionLeavesConnectionUsable) {
  CMailMessage nobody_valid = Message("no@x");
  EXPECT_FALSE(smtp_.SendMessage(nobody_valid));
  EXPECT_EQ(smtp_.GetLastError(), "503:SMTP server not ready for data");
  EXPECT_TRUE(smtp_.connected());
  CMailMessage message = Message("a@x");
  ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();
  EXPECT_EQ(server_.Record(1).value_or(MessageRecord()).rcpt_tos, (Addresses{"a@x"}));
}

TEST_F(SmtpSendTest, BodyArrivesIntactWhateverItsDots) {
  const std::vector<std::pair<std::string, std::string>> bodies = {
      {".", ".\r\n"},
      {".\n.x\n..\nend\n", ".\r\n.x\r\n..\r\nend\r\n"},
      {"text\r\n.\r\n", "text\r\n.\r\n"},
      {"first\n.\n", "first\r\n.\r\n"},
  };
  int n = 0;
  for (const auto& [body, arrived] : bodies) {
    CMailMessage message = Message("a@x", body);
    ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();
    std::vector<std::string> parts = server_.Parts(++n);
    ASSERT_EQ(parts.size(), 1u) << body;
    EXPECT_EQ(parts[0], arrived) << body;
  }
}

TEST_F(SmtpSendTest, AttachmentsArriveByteIdentical) {
  std::string directory = testing::MakeTempDirectory();
  std::string binary;
  for (int round = 0; round < 300; ++round) {
    for (int byte = 0; byte < 256; ++byte) binary += static_cast<char>(byte);
  }
  binary += "\r\n.\r\n\n.";  // line ends and lone dots stay as they are
  testing::WriteFileBytes(directory + "/data.bin", binary);
  testing::WriteFileBytes(directory + "/empty.log", "");

  CMailMessage message = Message("a@x", "R\xc3\xa9sultats\n");
  message.AddAttachment(directory + "/data.bin");
  message.AddAttachment(directory + "/missing.xml");  // cannot be opened: left out
  message.AddAttachment(directory);                   // a directory: left out
  message.AddAttachment(directory + "/empty.log");
  ASSERT_TRUE(smtp_.SendMessage(message)) << smtp_.GetLastError();

  std::optional<MessageRecord> record = server_.Record(1);
  ASSERT_TRUE(record) << "no mail arrived";
  std::vector<std::string> parts = server_.Parts(1);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0], "R\xc3\xa9sultats\r\n");
  EXPECT_EQ(record->part_names.at(1), "data.bin");
  EXPECT_EQ(parts[1], binary);
  EXPECT_EQ(record->part_names.at(2), "empty.log");
  EXPECT_EQ(parts[2], "");
  std::filesystem::remove_all(directory);
}

TEST(SmtpTimeout, ServerSilentAtEndOfDataFailsTheSendAndCloses) {
  RecordingServer server({"--stall-data"});
  ASSERT_TRUE(server.started()) << server.error();
  CSMTP smtp = ClientFor(server.port());
  smtp.SetTimeout(300ms);
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  CMailMessage message = Message("a@x");
  EXPECT_FALSE(smtp.SendMessage(message));
  EXPECT_EQ(smtp.GetLastError(), "SMTP server did not answer within 300 ms");
  EXPECT_FALSE(smtp.connected());
  EXPECT_FALSE(smtp.SendMessage(message));
  EXPECT_EQ(smtp.GetLastError(), "Must be connected");
}

TEST(SmtpTimeout, ServerGoneInMidConversation) {
  ScriptedServer server("220 hi\r\n", {"250 ok\r\n"}, AfterScript::kHangUp);
  CSMTP smtp = ClientFor(server.port());
  smtp.SetTimeout(5s);
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  CMailMessage message = Message("a@x");
  EXPECT_FALSE(smtp.SendMessage(message));
  EXPECT_EQ(smtp.GetLastError(), "Socket Error");
  EXPECT_FALSE(smtp.connected());
}

TEST(SmtpDisconnect, QuitWithoutConfirmationOnlySetsTheError) {
  ScriptedServer server("220 hi\r\n", {"250 ok\r\n", "500 What?\r\n"}, AfterScript::kHangUp);
  CSMTP smtp = ClientFor(server.port());
  smtp.SetTimeout(5s);
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_FALSE(smtp.Disconnect());
  EXPECT_EQ(smtp.GetLastError(), "500:SMTP server didn't terminate session");
  EXPECT_FALSE(smtp.connected());
}

}  // namespace
}  // namespace ordalis
