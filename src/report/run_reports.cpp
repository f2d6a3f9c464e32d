#include "report/run_reports.h"

#include <filesystem>
#include <optional>

#include "report/junit_writer.h"
#include "report/measurement_charts.h"
#include "report/results_index.h"
#include "report/store_index.h"

namespace ordalis::report {

namespace {

// "cannot write the report PATH: reason"
std::string Problem(const char* what, const std::string& path, const std::string& reason) {
  std::string line = what;
  line += ' ';
  line += path;
  line += ": ";
  line += reason;
  return line;
}

}  // namespace

RunReports PublishRunReports(const std::string& xml_path, const RunAnnotations* notes,
                             const std::string& junit_path) {
  return PublishRunReports(xml_path, notes, junit_path, DefaultHistoryContext());
}

RunReports PublishRunReports(const std::string& xml_path, const RunAnnotations* notes,
                             const std::string& junit_path, const HistoryContext& history) {
  RunReports reports;
  std::string error;
  std::string html_path = HtmlPathFor(xml_path);
  // The run is stored as soon as its digest is known, so its report can show where it stands
  // among the runs before it.
  std::optional<StoredRun> stored;
  auto strip = [&](const RunDigest& digest) -> std::string {
    stored = StoreRun(digest, xml_path, html_path, history);
    if (!stored->store) return std::string();
    try {
      std::string script = RecordOfRun(digest, xml_path).script;
      return HistoryStripHtml(*stored->store, stored->id, script, digest) +
             RunMeasurementChartsHtml(*stored->store, stored->id, script);
    } catch (const std::exception&) {
      return std::string();  // the page goes on without its strip
    }
  };
  if (WriteHtmlReport(xml_path, html_path, notes, &reports.outcome, &error, PageLimits(), strip)) {
    reports.html_path = html_path;
  } else {
    reports.problems.push_back(Problem("cannot write the report", html_path, error));
    // The console and the JUnit document still need the digest.
    error.clear();
    if (!DigestResults(xml_path, notes, &reports.outcome.digest, &error)) {
      reports.problems.push_back(Problem("cannot read", xml_path, error));
      return reports;
    }
  }
  error.clear();
  if (!junit_path.empty()) {
    reports.junit_written = WriteJunit(reports.outcome.digest, xml_path, junit_path, &error);
    if (!reports.junit_written) {
      reports.problems.push_back(Problem("cannot write the JUnit document", junit_path, error));
    }
  }
  if (!stored) stored = StoreRun(reports.outcome.digest, xml_path, std::string(), history);
  if (!stored->problem.empty()) reports.warnings.push_back(stored->problem);
  error.clear();
  std::filesystem::path parent = std::filesystem::path(xml_path).parent_path();
  std::string directory = parent.empty() ? std::string(".") : parent.string();
  // Without a store the index is made from every document in the folder, as it was before.
  bool indexed = stored->store ? WriteStoreIndex(directory, *stored->store, stored->host, &error)
                               : WriteResultsIndex(directory, &error);
  if (!indexed) {
    reports.problems.push_back(Problem("cannot write the results index in", directory, error));
  }
  return reports;
}

}  // namespace ordalis::report
