#pragma once
// How a finished run's results are written — the results document with its companion files,
// and the summary mail — and what clients read about the latest finished run.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/results_writer.h"
#include "engine/run_session.h"
#include "mail/results_mail.h"
#include "ordalis/interfaces.h"

namespace ordalis {

class ScriptItem;
class ScriptLogger;

// The summary of a run as the results mail and `ordalis run` show it: the root's result and
// counts and one row per result block, in tree order.
SummaryMailData SummaryOf(ScriptItem& root);

// Writes the results document of [root] to ResultsXmlName([file_name]), whole or not at all,
// and the companion files into [results_directory]. False, with the path and the system's
// reason in [error] when it is given, when the document cannot be written.
bool WriteResults(const std::string& file_name, ScriptItem& root, const ResultsHeader& header,
                  const std::string& results_directory, std::string* error = nullptr);

// What the summary mail of a run is made of.
struct SummaryMailRequest {
  IApplicationManager* manager = nullptr;  // mail settings; no mail without one
  std::string extra_addresses;             // the script's EmailAddress
  std::string script_file_name;
  std::uint32_t iteration = 0;
};

// Sends the summary mail of [run] over the tree of [root] when a server and addresses are
// configured; the conversation's lines go to the run's log file and a failure to [log]'s
// listeners.
void SendSummaryMail(const SummaryMailRequest& request, ScriptItem& root, const FinishedRun& run,
                     ScriptLogger& log);

// The latest finished run as clients see it. Safe to call from any thread.
class LatestResults {
 public:
  // [written]: whether the results document of [run] is on disk.
  void Set(const FinishedRun& run, bool written);
  // What the latest run could not write, each with its path and reason; empty when nothing.
  std::vector<std::string> problems() const;
  // The stem given to SaveResults for the latest run; empty before the first.
  std::string stem() const;
  // The log files the latest run's results document lists.
  std::vector<std::string> logs() const;

 private:
  mutable std::mutex mutex_;
  std::string stem_;
  std::vector<std::string> logs_;
  std::vector<std::string> problems_;
};

}  // namespace ordalis
