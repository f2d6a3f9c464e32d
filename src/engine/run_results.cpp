#include "engine/run_results.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "engine/script_logger.h"
#include "language/script_item.h"
#include "platform/file_descriptor.h"
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
    if (item->type() == resultItem) rows->push_back({CountsOf(*item), item->ScriptTextOf()});
    for (auto child = item->children().rbegin(); child != item->children().rend(); ++child) {
      pending.push_back(child->get());
    }
  }
}

// Streams the results document of [root] to [path] through a temporary file and a rename, so a
// reader never sees half a document. False when the file cannot be created or written.
bool StreamResultsAtomically(const std::string& path, ScriptItem& root, const ResultsHeader& header) {
  std::string temporary = path + ".tmp" + std::to_string(::getpid());
  bool written = false;
  {
    FileDescriptor file = OpenFile(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (!file) return false;
    XmlOutput output(file.get());
    WriteResultsXml(root, header, output);
    written = output.Finish();
  }
  std::error_code error;
  if (written) fs::rename(temporary, path, error);
  if (!written || error) {
    fs::remove(temporary, error);
    return false;
  }
  return true;
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
                  const std::string& results_directory) {
  if (!StreamResultsAtomically(ResultsXmlName(file_name), root, header)) return false;
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

void LatestResults::Set(const FinishedRun& run) {
  std::lock_guard lock(mutex_);
  stem_ = run.stem();
  logs_ = run.results_logs;
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
