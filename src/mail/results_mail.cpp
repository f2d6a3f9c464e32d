#include "mail/results_mail.h"

#include <cstdio>

#include "mail/mail_message.h"
#include "mail/smtp.h"

namespace ordalis {

namespace {

constexpr std::string_view kDashLine =
    "-------------------------------------------------------------------";

// One counter cell of the summary table: a bar and the number right-aligned in 7 columns.
std::string Cell(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "|%7llu ", static_cast<unsigned long long>(value));
  return text;
}

std::string Row(const SummaryRow& row) {
  const ResultCounts& c = row.counts;
  std::string line = Cell(c.passed) + Cell(c.failed) + Cell(c.not_implemented) + Cell(c.warning) +
                     Cell(c.error) + "|";
  std::uint64_t sum = std::uint64_t{c.passed} + c.failed + c.not_implemented + c.warning + c.error;
  if (sum == 0) {
    line += "    N/A";
  } else {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%7llu",
                  static_cast<unsigned long long>(std::uint64_t{c.passed} * 100 / sum));
    line += percent;
  }
  return line + " | " + row.script_text;
}

}  // namespace

std::string ResultWordOf(std::int32_t result) {
  static constexpr const char* kWords[] = {"Passed", "Failed",  "Not Implemented", "Warning",
                                           "Error",  "Not Run", "Aborted"};
  if (result >= 0 && result <= TestAborted) return kWords[result];
  return "Unknown Result " + std::to_string(result);
}

std::string SummaryMailBody(const SummaryMailData& data) {
  const ResultCounts& root = data.root_counts;
  std::string body = "Overall Script Result " + ResultWordOf(data.overall_result) + "\n\n";
  body += "    Passed " + std::to_string(root.passed) + "\n";
  body += "    Failed " + std::to_string(root.failed) + "\n";
  body += "    Warning " + std::to_string(root.warning) + "\n";
  body += "    Error " + std::to_string(root.error) + "\n\n";
  if (data.rows.empty()) return body;
  std::string dashes = std::string(kDashLine) + "\n";
  body += "Results Summary\n" + dashes;
  body += "| Passed | Failed | Not Imp| Warn   | Error  | % Pass | Test Result\n" + dashes;
  for (const SummaryRow& row : data.rows) body += Row(row) + "\n";
  return body + dashes + "\n";
}

std::string SummaryMailSubject(std::string_view script_file_name, Result overall_result,
                               std::uint32_t iteration) {
  std::string subject =
      "Results for script " + std::string(script_file_name) + " " + ResultWordOf(overall_result);
  if (iteration > 1) subject += " Loop " + std::to_string(iteration);
  return subject;
}

std::vector<std::string> SummaryMailAttachments(const std::string& run_base_path,
                                                const std::string& results_directory) {
  return {run_base_path + ".xml", results_directory + "/Ordalis4_2.xsd",
          results_directory + "/Ordalis4_2.xsl", run_base_path + ".log"};
}

MailReport SendResultsMail(const MailServerSettings& settings, const OutgoingMail& mail) {
  MailReport report;
  if (settings.server_name.empty() || (mail.address_list.empty() && mail.extra_addresses.empty())) {
    return report;
  }
  CMailMessage message;
  message.AddMultipleRecipients(mail.address_list);
  message.AddMultipleRecipients(mail.extra_addresses);
  if (message.RecipientCount() == 0) {
    report.outcome = MailOutcome::kNoRecipients;
    report.log_lines.push_back("No valid email addresses " + mail.address_list);
    return report;
  }
  std::optional<MailServerAddress> address = SplitServerName(settings.server_name);
  std::optional<CSMTP> smtp;
  if (address) {
    smtp.emplace(address->host, address->port);
    smtp->SetTimeout(settings.timeout);
  }
  if (!smtp || !smtp->Connect(settings.user_name, settings.password)) {
    report.outcome = MailOutcome::kConnectFailed;
    report.log_lines.push_back("Failed to connect to email server " + settings.server_name);
    report.trace_message = "Failed to connect to email server";
    report.last_error = smtp ? smtp->GetLastError() : "Invalid mail server name";
    return report;
  }
  message.set_from(mail.sender);
  message.set_subject(mail.subject);
  message.set_body(mail.body);
  for (const std::string& path : mail.attachments) message.AddAttachment(path);
  bool sent = smtp->SendMessage(message);
  report.refused_recipients = smtp->RefusedRecipients();
  if (!sent) {
    report.outcome = MailOutcome::kSendFailed;
    report.log_lines.push_back("Failed to send results email");
    report.trace_message = "Failed to send results email";
    report.last_error = smtp->GetLastError();
    return report;
  }
  report.outcome = MailOutcome::kSent;
  smtp->Disconnect();
  return report;
}

}  // namespace ordalis
