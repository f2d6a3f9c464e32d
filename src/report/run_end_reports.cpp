#include "report/run_end_reports.h"

#include <stdexcept>
#include <string>

#include "report/run_reports.h"

namespace ordalis::report {

namespace {

class RunEndReports : public IRunEndObserver {
 public:
  void ResultsWritten(const WrittenResults& results) override {
    RunReports reports = PublishRunReports(results.results_xml_path, nullptr, "");
    if (reports.problems.empty()) return;
    std::string problems;
    for (const std::string& problem : reports.problems) {
      if (!problems.empty()) problems += "; ";
      problems += problem;
    }
    throw std::runtime_error(problems);
  }
};

}  // namespace

std::shared_ptr<IRunEndObserver> MakeRunEndReports() { return std::make_shared<RunEndReports>(); }

}  // namespace ordalis::report
