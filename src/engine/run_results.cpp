#include "engine/run_results.h"

#include <filesystem>

#include "engine/script_logger.h"
#include "platform/atomic_file.h"
#include "language/script_item.h"
#include "settings/application_manager.h"
#include "trace/script_log.h"

namespace ordalis {

namespace fs = std::filesystem;

namespace {

ResultCounts CountsOf(const ScriptItem& item) {
  return {item.CountOf(TestPassed), item.CountOf(TestFailed), item.CountOf(TestNotImplemented),
          item.CountOf(TestWarning), item.CountOf(TestError)};
}

// The result blocks of the tree below [root], in tree order.
void CollectResultRows(ScriptItem& root, std::vector<SummaryRow>* rows) {
  std::vector<ScriptItem*> pending = {&root};
  while (!pending.empty()) {
    ScriptItem* item = pending.back();
    pending.pop_back();
    if (item->type() == resultItem) rows->push_back({CountsOf(*item), item->SourceText()});
    for (auto child = item->children().rbegin(); child != item->children().rend(); ++child) {
      pending.push_back(child->get());
    }
  }
}

}  // namespace

SummaryMailData SummaryOf(ScriptItem& root) {
  SummaryMailData data;
  data.overall_result = root.current_result();
  data.root_counts = CountsOf(root);
  CollectResultRows(root, &data.rows);
  return data;
}

bool WriteResults(const std::string& file_name, ScriptItem& root, const ResultsHeader& header,
                  const std::string& results_directory, std::string* error) {
  // The document is streamed into the temporary file, never whole in memory.
  auto write = [&root, &header](int fd) {
    XmlOutput output(fd);
    WriteResultsXml(root, header, output);
    return output.Finish();
  };
  std::string reason;
  if (!WriteFileAtomically(ResultsXmlName(file_name), write, 0644, &reason)) {
    if (error != nullptr) *error = reason;
    return false;
  }
  WriteCompanionFiles(results_directory);
  return true;
}

void SendSummaryMail(const SummaryMailRequest& request, ScriptItem& root, const FinishedRun& run,
                     ScriptLogger& log) {
  IApplicationManager* manager = request.manager;
  if (manager == nullptr) return;
  std::string server, addresses, user;
  manager->get_SMTPServerName(&server);
  manager->get_EmailAddresses(&addresses);
  if (server.empty() || (addresses.empty() && request.extra_addresses.empty())) return;
  manager->get_smtpAuthenticationUserName(&user);
  MailServerSettings settings;
  settings.server_name = server;
  settings.user_name = user;
  // The password is kept encrypted in the settings store; only the store can read it back.
  if (dynamic_cast<CApplicationManager*>(manager) != nullptr) {
    settings.password = settings::Manager::Instance().SmtpPassword();
  }
  OutgoingMail mail;
  mail.address_list = addresses;
  mail.extra_addresses = request.extra_addresses;
  mail.subject = SummaryMailSubject(request.script_file_name, root.current_result(), request.iteration);
  mail.body = SummaryMailBody(SummaryOf(root));
  mail.attachments = SummaryMailAttachments(run.names.base_path, run.names.results_directory);
  MailReport report = SendResultsMail(settings, mail);
  for (const std::string& line : report.log_lines) ScriptLog::AppendLine(run.names.base_path + ".log", line);
  if (!report.trace_message.empty()) log.RaiseEvent(warning, "script", report.trace_message);
}

void LatestResults::Set(const FinishedRun& run, bool written) {
  std::lock_guard lock(mutex_);
  stem_ = written ? run.stem() : std::string();
  logs_ = run.results_logs;
  problems_ = run.problems;
}

std::vector<std::string> LatestResults::problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

std::string LatestResults::stem() const {
  std::lock_guard lock(mutex_);
  return stem_;
}

std::vector<std::string> LatestResults::logs() const {
  std::lock_guard lock(mutex_);
  return logs_;
}

}  // namespace ordalis
