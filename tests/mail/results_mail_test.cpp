// The results mail: summary body and subject as pure text, and the sending with the lines the
// run logs when mail fails.

#include "mail/results_mail.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_servers.h"

namespace ordalis {
namespace {

using testing::Addresses;
using testing::MessageRecord;

using namespace std::chrono_literals;

TEST(SummaryMailBody, FullLayout) {
  SummaryMailData data;
  data.overall_result = TestFailed;
  data.root_counts = {4, 1, 0, 2, 3};
  data.rows = {{{3, 1, 0, 0, 0}, "result \"login\""}, {{0, 0, 0, 0, 0}, "result \"idle\""}};
  EXPECT_EQ(SummaryMailBody(data),
            "Overall Script Result Failed\n"
            "\n"
            "    Passed 4\n"
            "    Failed 1\n"
            "    Warning 2\n"
            "    Error 3\n"
            "\n"
            "Results Summary\n"
            "-------------------------------------------------------------------\n"
            "| Passed | Failed | Not Imp| Warn   | Error  | % Pass | Test Result\n"
            "-------------------------------------------------------------------\n"
            "|      3 |      1 |      0 |      0 |      0 |     75 | result \"login\"\n"
            "|      0 |      0 |      0 |      0 |      0 |    N/A | result \"idle\"\n"
            "-------------------------------------------------------------------\n"
            "\n");
}

TEST(SummaryMailBody, NoTableWithoutResultBlocks) {
  SummaryMailData data;
  data.overall_result = TestPassed;
  data.root_counts.passed = 12;
  EXPECT_EQ(SummaryMailBody(data),
            "Overall Script Result Passed\n\n    Passed 12\n    Failed 0\n    Warning 0\n"
            "    Error 0\n\n");
}

// The table row a single result block produces.
std::string RowFor(ResultCounts counts, const std::string& text) {
  SummaryMailData data;
  data.rows = {{counts, text}};
  std::string body = SummaryMailBody(data);
  std::size_t header = body.find("| Passed");
  std::size_t start = body.find('\n', body.find('\n', header) + 1) + 1;
  return body.substr(start, body.find('\n', start) - start);
}

TEST(SummaryMailBody, RowColumns) {
  const std::vector<std::pair<ResultCounts, std::string>> rows = {
      {{3, 1, 0, 0, 0}, "|      3 |      1 |      0 |      0 |      0 |     75 | r"},
      {{1, 1, 1, 0, 0}, "|      1 |      1 |      1 |      0 |      0 |     33 | r"},
      {{0, 0, 0, 0, 7}, "|      0 |      0 |      0 |      0 |      7 |      0 | r"},
      {{0, 0, 0, 0, 0}, "|      0 |      0 |      0 |      0 |      0 |    N/A | r"},
      {{9, 0, 0, 0, 0}, "|      9 |      0 |      0 |      0 |      0 |    100 | r"},
      // Numbers wider than the column push the row to the right rather than being cut.
      {{12345678, 0, 0, 0, 0}, "|12345678 |      0 |      0 |      0 |      0 |    100 | r"},
      {{4000000000u, 4000000000u, 0, 0, 0},
       "|4000000000 |4000000000 |      0 |      0 |      0 |     50 | r"},
  };
  for (const auto& [counts, line] : rows) EXPECT_EQ(RowFor(counts, "r"), line);
}

TEST(SummaryMailSubject, ResultWordAndLoopCounter) {
  EXPECT_EQ(SummaryMailSubject("test.odl", TestPassed, 1), "Results for script test.odl Passed");
  EXPECT_EQ(SummaryMailSubject("test.odl", TestNotImplemented, 0),
            "Results for script test.odl Not Implemented");
  EXPECT_EQ(SummaryMailSubject("t.odl", TestFailed, 2), "Results for script t.odl Failed Loop 2");
  EXPECT_EQ(SummaryMailSubject("t.odl", TestAborted, 3), "Results for script t.odl Aborted Loop 3");
  EXPECT_EQ(SummaryMailSubject("t.odl", static_cast<Result>(9), 1),
            "Results for script t.odl Unknown Result 9");
}

TEST(SummaryMailAttachments, XmlSchemaStylesheetLog) {
  EXPECT_EQ(SummaryMailAttachments("/s/Results/t.odl_2012_03_03_09_05_07", "/s/Results"),
            (std::vector<std::string>{"/s/Results/t.odl_2012_03_03_09_05_07.xml",
                                      "/s/Results/Ordalis4_2.xsd", "/s/Results/Ordalis4_2.xsl",
                                      "/s/Results/t.odl_2012_03_03_09_05_07.log"}));
}

// ---- Sending.

struct OutcomeCase {
  const char* label;
  std::string server;  // "" none, "live" the recording server, "closed" a port nobody serves
  std::string password;
  std::string address_list;
  std::string extra_addresses;
  MailOutcome outcome;
  std::vector<std::string> log_lines;  // "%s" stands for the server name
  std::string trace_message;
  std::string last_error;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.label; }

class ResultsMailOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(ResultsMailOutcomeTest, LogLinesForEachOutcome) {
  const OutcomeCase& c = GetParam();
  testing::RecordingServer server({"--refuse", "no@x"});
  ASSERT_TRUE(server.started()) << server.error();
  MailServerSettings settings;
  if (c.server == "live") settings.server_name = server.server_name();
  if (c.server == "closed") {
    settings.server_name = "127.0.0.1:" + std::to_string(testing::ClosedPort());
  }
  settings.user_name = c.password.empty() ? "" : "alice";
  settings.password = c.password;
  settings.timeout = 10s;
  OutgoingMail mail;
  mail.address_list = c.address_list;
  mail.extra_addresses = c.extra_addresses;
  mail.subject = "Results for script t.odl Passed";
  mail.body = "Overall Script Result Passed\n";

  MailReport report = SendResultsMail(settings, mail);
  EXPECT_EQ(report.outcome, c.outcome);
  std::vector<std::string> expected_lines;
  for (std::string line : c.log_lines) {
    std::size_t at = line.find("%s");
    if (at != std::string::npos) line.replace(at, 2, settings.server_name);
    expected_lines.push_back(line);
  }
  EXPECT_EQ(report.log_lines, expected_lines);
  EXPECT_EQ(report.trace_message, c.trace_message);
  EXPECT_EQ(report.last_error, c.last_error);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ResultsMailOutcomeTest,
    ::testing::ValuesIn(std::vector<OutcomeCase>{
        {"NoServer", "", "", "a@x", "", MailOutcome::kNotAttempted, {}, "", ""},
        {"NoAddresses", "live", "", "", "", MailOutcome::kNotAttempted, {}, "", ""},
        {"NoValidAddress", "live", "", "Team <a@x", "", MailOutcome::kNoRecipients,
         {"No valid email addresses Team <a@x"}, "", ""},
        {"ServerDown", "closed", "", "a@x", "", MailOutcome::kConnectFailed,
         {"Failed to connect to email server %s"}, "Failed to connect to email server",
         "Unable to connect to server"},
        {"WrongPassword", "live", "wrong", "a@x", "", MailOutcome::kConnectFailed,
         {"Failed to connect to email server %s"}, "Failed to connect to email server",
         "535:SMTP Authendication failed"},
        {"EveryRecipientRefused", "live", "", "no@x", "", MailOutcome::kSendFailed,
         {"Failed to send results email"}, "Failed to send results email",
         "503:SMTP server not ready for data"},
        {"Sent", "live", "secret", "a@x", "b@y", MailOutcome::kSent, {}, "", ""},
    }),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SendResultsMail, RecipientsSubjectBodyAndAttachmentsArrive) {
  testing::RecordingServer server({"--refuse", "no@x"});
  ASSERT_TRUE(server.started()) << server.error();
  std::string directory = testing::MakeTempDirectory();
  std::string base = directory + "/t.odl_2012_03_03_09_05_07";
  testing::WriteFileBytes(base + ".xml", "<odl_script_result/>\r\n");
  testing::WriteFileBytes(directory + "/Ordalis4_2.xsd", "<xs:schema/>");
  testing::WriteFileBytes(base + ".log", "line \xe2\x9c\x93\n");  // the stylesheet is missing

  MailServerSettings settings{server.server_name(), "alice", "secret", 10s};
  OutgoingMail mail;
  mail.address_list = "Team <a@x>;no@x";
  mail.extra_addresses = "b@y";
  mail.subject = SummaryMailSubject("t.odl", TestFailed, 2);
  mail.body = "Overall Script Result Failed\n";
  mail.attachments = SummaryMailAttachments(base, directory);
  MailReport report = SendResultsMail(settings, mail);
  ASSERT_EQ(report.outcome, MailOutcome::kSent) << report.last_error;
  EXPECT_TRUE(report.log_lines.empty());
  EXPECT_EQ(report.refused_recipients,
            std::vector<std::string>{"no@x: 550 5.1.1 Recipient refused"});

  std::optional<MessageRecord> record = server.Record(1);
  ASSERT_TRUE(record) << "no mail arrived";
  EXPECT_EQ(record->auth_user, "alice");
  EXPECT_EQ(record->mail_from, std::string(kResultsMailSender));
  EXPECT_EQ(record->rcpt_tos, (Addresses{"a@x", "b@y"}));
  EXPECT_NE(server.RawMessage(1).find("\r\nSubject: Results for script t.odl Failed Loop 2\r\n"),
            std::string::npos);
  std::vector<std::string> parts = server.Parts(1);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0], "Overall Script Result Failed\r\n");
  EXPECT_EQ(record->part_names.at(1), "t.odl_2012_03_03_09_05_07.xml");
  EXPECT_EQ(parts[1], "<odl_script_result/>\r\n");
  EXPECT_EQ(record->part_names.at(2), "Ordalis4_2.xsd");
  EXPECT_EQ(record->part_names.at(3), "t.odl_2012_03_03_09_05_07.log");
  EXPECT_EQ(parts[3], "line \xe2\x9c\x93\n");
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace ordalis
