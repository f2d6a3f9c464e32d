#pragma once
// Everything made from a run's results document when the run has ended: the HTML report beside
// it, the JUnit document when one was asked for, and the index of its results directory.

#include <string>
#include <vector>

#include "report/html_report.h"
#include "report/run_history.h"

namespace ordalis::report {

struct RunReports {
  std::string html_path;             // empty when the report could not be written
  ReportOutcome outcome;             // the digest the console shows
  bool junit_written = false;
  std::vector<std::string> problems; // one line per file that could not be written
  // One line per store the run could not be added to: told, but never the run's failure, since
  // the results document stays the record of the run and `ordalis history import` can add it.
  std::vector<std::string> warnings;
};

// Writes the report of [xml_path] beside it, the JUnit document to [junit_path] when it is not
// empty, the run's entry in the results store (with [history]'s labels and batch) and the
// index of the document's directory. A store that cannot be written is a warning; nothing else
// is lost for it.
RunReports PublishRunReports(const std::string& xml_path, const RunAnnotations* notes,
                             const std::string& junit_path, const HistoryContext& history);
// The same with the process's default history context.
RunReports PublishRunReports(const std::string& xml_path, const RunAnnotations* notes,
                             const std::string& junit_path);

}  // namespace ordalis::report
