// Speed of the reports of a large run: the HTML page written from a results document of
// 100,000 results, the JUnit document, and (when Chromium is installed) the time the page takes
// to open and draw in headless Chromium.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/results_writer.h"
#include "scratch_folder.h"
#include "language/script_item.h"
#include "report/html_report.h"
#include "report/junit_writer.h"

namespace ordalis::report {
namespace {

namespace fs = std::filesystem;

// [statements] assignments under a root sharing [records] results, one in ten failing, every
// fourth carrying two values.
ScriptItemPtr BigTree(int statements, int records) {
  auto root = ScriptItem::Make(rootItem, "root", "bench.odl", 0);
  for (int s = 0; s < statements; ++s) {
    auto assignment = ScriptItem::Make(assignmentItem, "=", "bench.odl", s + 1);
    assignment->AddChild(ScriptItem::Make(idItem, "value" + std::to_string(s), "bench.odl", s + 1));
    assignment->AddChild(ScriptItem::Make(integerItem, std::to_string(s), "bench.odl", s + 1));
    root->AddChild(assignment);
  }
  for (int r = 0; r < records; ++r) {
    ScriptItem* item = root->child(static_cast<std::size_t>(r % statements));
    VariantArray values;
    if (r % 4 == 0) values = {Variant::Int(r), Variant::Double(2.5)};
    item->RecordResult(r % 10 == 0 ? TestFailed : TestPassed, 1 + r / statements, 0.0125, std::move(values));
  }
  root->RecordResult(TestFailed, 1, 12.5);
  return root;
}

// The results document of a run of [statements] statements and 100,000 results, written once.
std::string Document(int statements) {
  const fs::path& dir = ordalis::bench::ScratchPath("ordalis_bench_report_");
  std::string path = (dir / ("run_" + std::to_string(statements) + ".xml")).string();
  if (!fs::exists(path)) {
    ScriptItemPtr root = BigTree(statements, 100000);
    std::ofstream(path, std::ios::binary) << ResultsXml(*root, HeaderForNow("bench.odl", "1.0", {"bench.log"}));
  }
  return path;
}

void BM_HtmlReport(benchmark::State& state) {
  std::string xml = Document(static_cast<int>(state.range(0)));
  std::string html = HtmlPathFor(xml);
  ReportOutcome outcome;
  for (auto _ : state) {
    std::string error;
    if (!WriteHtmlReport(xml, html, nullptr, &outcome, &error)) state.SkipWithError(error.c_str());
  }
  state.counters["document_MB"] = static_cast<double>(fs::file_size(xml)) / 1e6;
  state.counters["page_MB"] = static_cast<double>(fs::file_size(html)) / 1e6;
  state.counters["failures"] = static_cast<double>(outcome.digest.failures_total);
}

void BM_JunitDocument(benchmark::State& state) {
  std::string xml = Document(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    RunDigest digest;
    std::string error;
    if (!DigestResults(xml, nullptr, &digest, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(JunitDocument(digest, std::string()).size());
  }
}

// Wall time of headless Chromium opening the page from disk, running its script and painting it
// (a screenshot waits for all three); the browser's own start is measured on an empty page and
// reported beside it. --dump-dom is not used here: serialising a page of many megabytes back to
// text is the tool's cost, not the reader's.
double ChromiumSeconds(const std::string& url) {
  std::string profile = fs::temp_directory_path() / ("ordalis_bench_chromium_" + std::to_string(::getpid()));
  std::string command = "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                        "--disable-background-networking --disable-component-update --disable-sync "
                        "--window-size=1200,1500 --user-data-dir=" + profile + " --screenshot=" + profile +
                        ".png '" + url + "' >/dev/null 2>&1";
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove_all(profile);
  fs::remove(profile + ".png");
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1.0;
}

void BM_OpenInChromium(benchmark::State& state) {
  std::string xml = Document(static_cast<int>(state.range(0)));
  std::string html = HtmlPathFor(xml);
  std::string error;
  if (!WriteHtmlReport(xml, html, nullptr, nullptr, &error)) state.SkipWithError(error.c_str());
  double baseline = ChromiumSeconds("about:blank");
  if (baseline < 0) {
    state.SkipWithError("chromium cannot start");
    return;
  }
  for (auto _ : state) {
    double seconds = ChromiumSeconds("file://" + html);
    state.SetIterationTime(seconds);
  }
  state.counters["browser_start_s"] = baseline;
}

// 100 statements with 1,000 runs each, and 100,000 statements with one run each.
BENCHMARK(BM_HtmlReport)->Arg(100)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JunitDocument)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenInChromium)->Arg(100)->Arg(100000)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ordalis::report

BENCHMARK_MAIN();
