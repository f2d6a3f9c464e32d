#pragma once
// The results mail a script run sends when it ends: the summary body, the subject, the list of
// attached files, and the sending itself with the lines the run writes to its log when mail
// fails. The inputs are plain data, so the run's end processing fills them from its item tree
// and settings without this module knowing either. Every function here is safe to call from
// any thread; SendResultsMail blocks until the server has answered or timed out.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ordalis/types.h"

namespace ordalis {

// Results of one item by kind, as its result counters hold them.
struct ResultCounts {
  std::uint32_t passed = 0;
  std::uint32_t failed = 0;
  std::uint32_t not_implemented = 0;
  std::uint32_t warning = 0;
  std::uint32_t error = 0;
};

// One row of the results summary table: a result block of the script.
struct SummaryRow {
  ResultCounts counts;
  std::string script_text;  // the item's script text
};

struct SummaryMailData {
  Result overall_result = TestNotRun;  // the root item's current result
  ResultCounts root_counts;            // the root item's counters
  // One row per result block, in tree order (depth first, parent before children); no table
  // when the script has none.
  std::vector<SummaryRow> rows;
};

// "Passed", "Failed", "Not Implemented", "Warning", "Error", "Not Run", "Aborted", or
// "Unknown Result " and the number.
std::string ResultWordOf(std::int32_t result);

// The summary body, lines separated by LF: the overall result, the root's counts and, when
// there are rows, the results summary table.
std::string SummaryMailBody(const SummaryMailData& data);

// "Results for script " + [script_file_name] + " " + result word, and " Loop " + [iteration]
// when the iteration counter is above 1.
std::string SummaryMailSubject(std::string_view script_file_name, Result overall_result,
                               std::uint32_t iteration);

// The attachments of a results mail in order: the results XML, the schema, the stylesheet and
// the run's log. [run_base_path] is the results directory joined with the run stamp.
std::vector<std::string> SummaryMailAttachments(const std::string& run_base_path,
                                                const std::string& results_directory);

// The sender of results mail.
inline constexpr std::string_view kResultsMailSender = "ordalis@localhost";

struct MailServerSettings {
  std::string server_name;  // "host" or "host:port"; port 25 when none is given
  std::string user_name;    // empty: no authentication
  std::string password;     // decrypted
  std::chrono::milliseconds timeout{60000};
};

struct OutgoingMail {
  std::string address_list;     // the default recipient list of the mail settings
  std::string extra_addresses;  // the script's own recipient list
  std::string sender{kResultsMailSender};
  std::string subject;
  std::string body;
  std::vector<std::string> attachments;
};

enum class MailOutcome { kNotAttempted, kNoRecipients, kConnectFailed, kSendFailed, kSent };

struct MailReport {
  MailOutcome outcome = MailOutcome::kNotAttempted;
  // Lines to append to the run's log file, as they stand (no time stamp).
  std::vector<std::string> log_lines;
  // Message of the warning the run raises to its trace clients; empty when none is due.
  std::string trace_message;
  // The mail client's last error text after a failure ("535:SMTP Authendication failed").
  std::string last_error;
  // Recipients the server refused although the mail went to the others.
  std::vector<std::string> refused_recipients;
};

// Sends [mail] through the server of [settings]. Mail is attempted only when the server name
// is set and at least one of the two recipient lists is not empty; recipients come from the
// default list first, then from the extra list.
MailReport SendResultsMail(const MailServerSettings& settings, const OutgoingMail& mail);

}  // namespace ordalis
