#include "report/run_end_reports.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "report/run_reports.h"

namespace ordalis::report {

namespace {

class RunEndReports : public IRunEndObserver {
 public:
  void ResultsWritten(const WrittenResults& results) override {
    RunReports reports = PublishRunReports(results.results_xml_path, nullptr, "");
    if (reports.problems.empty() && reports.warnings.empty()) return;
    // Thrown to the run thread, which logs it as a severe line of the script's log.
    std::vector<std::string> lines = reports.problems;
    lines.insert(lines.end(), reports.warnings.begin(), reports.warnings.end());
    std::string problems;
    for (const std::string& problem : lines) {
      if (!problems.empty()) problems += "; ";
      problems += problem;
    }
    throw std::runtime_error(problems);
  }
};

}  // namespace

std::shared_ptr<IRunEndObserver> MakeRunEndReports() { return std::make_shared<RunEndReports>(); }

}  // namespace ordalis::report
