#pragma once
// The batch report: <stamp>.html beside a batch results file, for a person to open in a browser.
// It shows the batch's verdict and summary and each entry with its attempts (result, time, why
// it did not pass) and a link to the attempt's own report or log.

#include <string>
#include <vector>

namespace ordalis::cli {

struct BatchReportAttempt {
  std::string result;             // "Passed", "Failed", "Aborted" or "Error"
  double seconds = -1.0;          // below 0 when unknown
  std::string link;               // relative to the report; empty when there is none
  std::vector<std::string> why;   // why it did not pass, one line each
};

struct BatchReportEntry {
  std::string name;
  std::vector<BatchReportAttempt> attempts;  // in the order they ran
};

struct BatchReport {
  std::string batch_name;
  std::string verdict;   // "Passed" or "Failed"
  std::string started;   // the batch's start, as a person reads it
  std::vector<BatchReportEntry> entries;
};

// The whole page.
std::string BatchReportHtml(const BatchReport& report);

}  // namespace ordalis::cli
