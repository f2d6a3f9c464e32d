#pragma once
// The HTML report of one run: a single page with its styles and script inline that opens from
// disk in any current browser. Top down it shows the verdict and the facts of the run, the
// named results, the failures with their lines, values and log lines, and the whole item tree
// with a "Failures only" view. It is rendered from the results document, so a report made right
// after a run and one made years later from the same document agree.

#include <cstddef>
#include <functional>
#include <string>

#include "report/run_annotations.h"
#include "report/run_digest.h"

namespace ordalis::report {

// The tree data a page carries is cut after this many bytes (about 400,000 statements with one
// run each); the verdict, the named results and the failures always come from the whole
// document, and the page says how many items were left out of the tree. The same bound keeps
// the memory of the writer in check.
inline constexpr std::size_t kMaxTreeBytes = 48u * 1024 * 1024;
// Runs of one item the tree shows: the first ones, then further failing ones.
inline constexpr std::size_t kRunsShown = 50;
inline constexpr std::size_t kFailingRunsShown = 50;

// How much of a run one page carries; tests set a smaller bound.
struct PageLimits {
  std::size_t tree_bytes = kMaxTreeBytes;
};

// What writing a report produced.
struct ReportOutcome {
  RunDigest digest;
  std::size_t tree_bytes = 0;
  std::size_t items_left_out = 0;  // items the tree does not show
};

// HTML the caller adds below the head of the page once the run's digest is known (the run's
// history strip); empty for none.
using PageInsert = std::function<std::string(const RunDigest& digest)>;

// Writes the report of the results document at [xml_path] to [html_path]. [notes] adds files,
// lines and log lines, and may be null. False, with [error] saying why, when the document cannot
// be read or the page cannot be written; no page is left behind then.
bool WriteHtmlReport(const std::string& xml_path, const std::string& html_path,
                     const RunAnnotations* notes, ReportOutcome* outcome, std::string* error,
                     PageLimits limits = PageLimits(), const PageInsert& insert = {});

// The report's name for a results document: the same name ending in ".html".
std::string HtmlPathFor(const std::string& xml_path);

}  // namespace ordalis::report
