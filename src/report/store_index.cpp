#include "report/store_index.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/file_descriptor.h"
#include "platform/resources.h"
#include "report/measurement_charts.h"
#include "report/report_text.h"
#include "report/results_index.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kTrendDays = 30;   // the days a script's trend draws
constexpr std::int64_t kFlakyWindow = 20; // the runs per script looked at for flakiness

// An exclusive lock on a directory while its index is made; released when it goes.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory)
      : fd_(OpenFile(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (!fd_) return;
    while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  bool locked() const { return static_cast<bool>(fd_); }

 private:
  FileDescriptor fd_;
};

// The day [days] days before the day of [ended] ("YYYY-MM-DD ..."), as "YYYY-MM-DD".
std::string DaysBefore(const std::string& ended, std::int64_t days) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(ended.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return std::string();
  using namespace std::chrono;
  sys_days date = year_month_day{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
  year_month_day before{date - std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(before.year()),
                static_cast<unsigned>(before.month()), static_cast<unsigned>(before.day()));
  return text;
}

bool IsFailing(Result result) { return result == TestFailed || result == TestError; }

struct DayCount {
  std::int64_t passed = 0;
  std::int64_t total = 0;
};

struct ScriptTrend {
  std::map<std::string, DayCount> days;  // by day, oldest first
  std::int64_t passed = 0;
  std::int64_t total = 0;
};

struct Flakiness {
  std::int64_t passed = 0;
  std::int64_t failed = 0;
  std::int64_t seen = 0;
};

// Passes and failures per (script, named result, version) within each one's last runs.
using FlakyMap = std::map<std::tuple<std::string, std::string, std::string>, Flakiness>;

void CountFlaky(FlakyMap& flaky, std::map<std::pair<std::string, std::string>, std::int64_t>& seen,
                const std::string& script, const std::string& named, const std::string& version, Result result) {
  if (++seen[{script, named}] > kFlakyWindow) return;
  Flakiness& entry = flaky[{script, named, version}];
  ++entry.seen;
  if (result == TestPassed) ++entry.passed;
  if (IsFailing(result)) ++entry.failed;
}

std::string Percent(std::int64_t part, std::int64_t whole) {
  char text[16];
  std::snprintf(text, sizeof text, "%.0f%%", whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0);
  return text;
}

// A script's pass rate over its last days with runs, as a line drawn inline.
std::string TrendSvg(const ScriptTrend& trend) {
  constexpr int kStep = 8, kHeight = 32;
  std::vector<std::pair<std::string, DayCount>> days(trend.days.begin(), trend.days.end());
  if (days.size() > static_cast<std::size_t>(kTrendDays)) days.erase(days.begin(), days.end() - kTrendDays);
  int width = std::max(kStep, static_cast<int>(days.size()) * kStep);
  std::string svg = "<svg class=\"trend\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(kHeight) +
                    "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(kHeight) +
                    "\" role=\"img\"><polyline fill=\"none\" stroke=\"#1a7f37\" stroke-width=\"2\" points=\"";
  std::string dots;
  for (std::size_t i = 0; i < days.size(); ++i) {
    const DayCount& day = days[i].second;
    int x = static_cast<int>(i) * kStep + kStep / 2;
    int y = kHeight - 2 - static_cast<int>((kHeight - 4) * day.passed / std::max<std::int64_t>(day.total, 1));
    svg += std::to_string(x) + "," + std::to_string(y) + " ";
    dots += "<circle cx=\"" + std::to_string(x) + "\" cy=\"" + std::to_string(y) + "\" r=\"2\" fill=\"" +
            (day.passed == day.total ? "#1a7f37" : "#cf222e") + "\"><title>" + Html(days[i].first) + ": " +
            std::to_string(day.passed) + " of " + std::to_string(day.total) + " passed</title></circle>";
  }
  return svg + "\"/>" + dots + "</svg>";
}

void TrendSection(std::string& out, const std::map<std::string, ScriptTrend>& trends) {
  out += "<section id=\"trends\"><h2>Pass rate by script</h2>\n<p class=\"muted\">The " +
         std::to_string(kTrendDays) + " days up to the newest run.</p>\n<table id=\"trend-table\"><tr><th>Script</th>"
         "<th>Runs</th><th>Passed</th><th>Pass rate per day</th></tr>\n";
  for (const auto& [script, trend] : trends) {
    out += "<tr class=\"trend-row\"><td>" + Html(script) + "</td><td class=\"n\">" + std::to_string(trend.total) +
           "</td><td class=\"n\">" + Percent(trend.passed, trend.total) + "</td><td>" + TrendSvg(trend) + "</td></tr>\n";
  }
  out += "</table></section>\n";
}

void FlakySection(std::string& out, const FlakyMap& flaky) {
  out += "<section id=\"flaky\"><h2>Flaky</h2>\n<table id=\"flaky-table\"><tr><th>Script</th><th>Named result</th>"
         "<th>Version under test</th><th>Passed</th><th>Failed</th></tr>\n";
  std::size_t shown = 0;
  for (const auto& [key, entry] : flaky) {
    if (entry.passed == 0 || entry.failed == 0) continue;
    ++shown;
    out += "<tr class=\"flaky-row\"><td>" + Html(std::get<0>(key)) + "</td><td>" + Html(std::get<1>(key)) + "</td><td>" +
           Html(std::get<2>(key)) + "</td><td class=\"n\">" + std::to_string(entry.passed) + "</td><td class=\"n\">" +
           std::to_string(entry.failed) + "</td></tr>\n";
  }
  out += "</table>\n";
  if (shown == 0) out += "<p class=\"muted\">Nothing both passed and failed on one version.</p>\n";
  out += "</section>\n";
}

// A link from the index to a file of the folder; files elsewhere are linked by their path.
std::string Href(const std::string& directory, const std::string& path) {
  if (path.empty()) return std::string();
  return LinkFrom((fs::path(directory) / kIndexFile).string(), path);
}

std::string CountsText(const history::RunRecord& run) {
  return std::to_string(run.counts[TestPassed]) + " passed \xC2\xB7 " + std::to_string(run.counts[TestFailed]) +
         " failed \xC2\xB7 " + std::to_string(run.counts[TestError]) + " error";
}

// The batch itself among its runs: a batch's attempts are numbered from 1.
bool IsBatch(const history::RunRecord& run) { return !run.batch.empty() && run.attempt == 0; }

std::string Links(const std::string& directory, const history::RunRecord& run) {
  std::string links;
  for (const auto& [path, label] : {std::pair{run.report_path, "report"}, std::pair{run.results_path, "XML"},
                                    std::pair{run.log_path, "log"}}) {
    if (path.empty()) continue;
    if (!links.empty()) links += " \xC2\xB7 ";
    links += "<a href=\"" + Html(Href(directory, path)) + "\">" + label + "</a>";
  }
  return links;
}

// The listed batches, newest first: each with its verdict, its entries by the result of their
// last attempt, and its report.
void BatchSection(std::string& out, const std::string& directory, const std::vector<history::RunRecord>& runs) {
  std::string rows;
  for (const history::RunRecord& run : runs) {
    if (!IsBatch(run)) continue;
    rows += "<tr class=\"batch\"><td>" + Html(run.started) + "</td><td>" + Html(run.batch) +
            "</td><td class=\"verdict-cell\"><span class=\"badge r-" + ResultClass(run.verdict) + "\">" +
            ResultWordOf(run.verdict) + "</span></td><td>" + Html(CountsText(run)) + "</td><td class=\"n\">" +
            Html(DurationText(run.duration)) + "</td><td>" + Links(directory, run) + "</td></tr>\n";
  }
  if (rows.empty()) return;
  out += "<section id=\"batches\"><h2>Batches</h2>\n<table id=\"batch-table\"><tr><th>Started</th><th>Batch</th>"
         "<th>Verdict</th><th>Entries</th><th>Duration</th><th>Files</th></tr>\n" + rows + "</table></section>\n";
}

// The Batch cell of a run: the batch and the attempt, or the batch alone for the batch itself.
std::string BatchCell(const history::RunRecord& run) {
  if (run.batch.empty() || IsBatch(run)) return run.batch;
  return run.batch + " #" + std::to_string(run.attempt);
}

// The listed runs as rows of JSON the page's script draws, page by page.
std::string RunsJson(const std::string& directory, const std::vector<history::RunRecord>& runs) {
  nlohmann::json rows = nlohmann::json::array();
  for (std::size_t i = 0; i < runs.size() && i < static_cast<std::size_t>(kIndexRunsListed); ++i) {
    const history::RunRecord& run = runs[i];
    rows.push_back({run.id, run.ended, run.script, ResultWordOf(run.verdict), ResultClass(run.verdict), CountsText(run),
                    DurationText(run.duration), run.host, run.version_under_test,
                    BatchCell(run),
                    Href(directory, run.report_path), Href(directory, run.results_path), Href(directory, run.log_path)});
  }
  std::string text = rows.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // "</" would end the script element that carries the data.
  for (std::size_t at = text.find("</"); at != std::string::npos; at = text.find("</", at + 3)) text.replace(at, 2, "<\\/");
  return text;
}

constexpr const char* kRunsScript = R"JS(
(function () {
  var rows = JSON.parse(document.getElementById('runs-data').textContent);
  var body = document.querySelector('#runs tbody'), filter = document.getElementById('filter');
  var info = document.getElementById('page-info'), size = 50, page = 0, shown = rows;
  function cell(tr, text, cls) { var td = tr.insertCell(); td.textContent = text; if (cls) td.className = cls; return td; }
  function link(td, href, label) {
    if (!href) return;
    if (td.childNodes.length) td.appendChild(document.createTextNode(' \u00b7 '));
    var a = document.createElement('a'); a.href = href; a.textContent = label; td.appendChild(a);
  }
  function draw() {
    body.textContent = '';
    var pages = Math.max(1, Math.ceil(shown.length / size));
    page = Math.min(page, pages - 1);
    shown.slice(page * size, page * size + size).forEach(function (r) {
      var tr = body.insertRow(); tr.className = 'run';
      cell(tr, r[1]); cell(tr, r[2]);
      var badge = document.createElement('span'); badge.className = 'badge r-' + r[4]; badge.textContent = r[3];
      cell(tr, '', 'verdict-cell').appendChild(badge);
      cell(tr, r[5]); cell(tr, r[6], 'n'); cell(tr, r[7]); cell(tr, r[8]); cell(tr, r[9]);
      var files = cell(tr, ''); link(files, r[10], 'report'); link(files, r[11], 'XML'); link(files, r[12], 'log');
    });
    info.textContent = shown.length + ' runs \u00b7 page ' + (page + 1) + ' of ' + pages;
    document.getElementById('runs').setAttribute('data-page', String(page + 1));
  }
  filter.addEventListener('input', function () {
    var words = filter.value.toLowerCase();
    shown = rows.filter(function (r) { return r.slice(1, 10).join(' ').toLowerCase().indexOf(words) >= 0; });
    page = 0; draw();
  });
  document.getElementById('newer').addEventListener('click', function () { if (page > 0) { page--; draw(); } });
  document.getElementById('older').addEventListener('click', function () { page++; draw(); });
  draw();
})();
)JS";

std::string Page(const std::string& directory, std::int64_t total, const std::vector<history::RunRecord>& runs,
                 const std::map<std::string, ScriptTrend>& trends, const FlakyMap& flaky,
                 const std::vector<MeasurementSeries>& measured) {
  std::string title = "Ordalis results \xE2\x80\x94 " + fs::absolute(directory).filename().string();
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Html(title) +
                    "</title>\n<style>\n" + std::string(EmbeddedResource("report.css")) +
                    "svg.trend{vertical-align:middle}#runs-tools{margin:8px 0}#runs-tools input{width:24em}\n"
                    "</style>\n</head>\n<body class=\"index\">\n<h1>" + Html(title) + "</h1>\n<p class=\"muted\">" +
                    std::to_string(total) + " run" + (total == 1 ? "" : "s") + " in the results store, newest first";
  if (total > kIndexRunsListed) {
    out += "; the newest " + std::to_string(kIndexRunsListed) + " are listed ('ordalis history list' shows them all)";
  }
  out += ".</p>\n";
  TrendSection(out, trends);
  out += MeasurementChartsSection(measured);
  FlakySection(out, flaky);
  BatchSection(out, directory, runs);
  out += "<section id=\"runs-section\"><h2>Runs</h2>\n<div id=\"runs-tools\"><input id=\"filter\" type=\"search\" "
         "placeholder=\"Filter: script, verdict, host, version, batch\"> <button id=\"newer\">Newer</button> "
         "<button id=\"older\">Older</button> <span id=\"page-info\" class=\"muted\"></span></div>\n"
         "<table id=\"runs\"><thead><tr><th>Ended</th><th>Script</th><th>Verdict</th><th>Statements</th>"
         "<th>Duration</th><th>Host</th><th>Version under test</th><th>Batch</th><th>Files</th></tr></thead>"
         "<tbody></tbody></table>\n<noscript><p class=\"note\">The list of runs needs JavaScript.</p></noscript>\n"
         "</section>\n<script type=\"application/json\" id=\"runs-data\">" + RunsJson(directory, runs) +
         "</script>\n<script>" + kRunsScript + "</script>\n</body>\n</html>\n";
  return out;
}

}  // namespace

namespace {

// What the index shows, read from the store's newest rows and running counts.
struct IndexData {
  std::vector<history::RunRecord> runs;  // newest first
  std::map<std::string, ScriptTrend> trends;
  FlakyMap flaky;
  std::vector<MeasurementSeries> measured;
};

void GatherTrends(history::ResultsStore& store, const history::StationFolder& folder, IndexData& data) {
  if (data.runs.empty()) return;
  for (const history::ScriptDay& day : store.FolderDays(folder, DaysBefore(data.runs.front().ended, kTrendDays))) {
    ScriptTrend& trend = data.trends[day.script];
    trend.days[day.day] = DayCount{day.passed, day.runs};
    trend.passed += day.passed, trend.total += day.runs;
  }
}

// The flaky list, from the listed runs and their named results.
void GatherRuns(history::ResultsStore& store, const history::StationFolder& folder, std::int64_t from,
                IndexData& data) {
  std::map<std::pair<std::string, std::string>, std::int64_t> seen;
  std::map<std::int64_t, const history::RunRecord*> by_id;
  for (const history::RunRecord& run : data.runs) {
    if (IsBatch(run)) continue;  // a batch is flaky through its entries
    CountFlaky(data.flaky, seen, run.script, "", run.version_under_test, run.verdict);
    by_id[run.id] = &run;
  }
  for (const auto& outcome : store.FolderNamedResults(folder, from)) {
    auto run = by_id.find(outcome.run_id);
    if (run == by_id.end()) continue;
    CountFlaky(data.flaky, seen, run->second->script, outcome.label, run->second->version_under_test, outcome.result);
  }
}

}  // namespace

bool WriteStoreIndex(const std::string& directory, history::ResultsStore& store, const std::string& host,
                     std::string* error) {
  DirectoryLock lock(directory);
  if (!lock.locked()) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  history::StationFolder folder{host, fs::absolute(directory).lexically_normal().string()};
  while (folder.folder.size() > 1 && folder.folder.back() == '/') folder.folder.pop_back();
  try {
    IndexData data;
    std::int64_t from = store.FolderWindowStart(folder, kIndexRunsListed);
    data.runs = store.FolderRuns(folder, from, kIndexRunsListed);
    GatherTrends(store, folder, data);
    GatherRuns(store, folder, from, data);
    data.measured = FolderSeries(store, folder);
    std::string page =
        Page(directory, store.FolderRunCount(folder), data.runs, data.trends, data.flaky, data.measured);
    return WriteWholeFile((fs::path(directory) / kIndexFile).string(), page, error);
  } catch (const std::exception& fault) {
    if (error) *error = fault.what();
    return false;
  }
}

namespace {

void StripRow(std::string& out, const std::string& name, const std::vector<Result>& verdicts) {
  out += "<div class=\"strip-row\"><span class=\"strip-name\">" + Html(name) + "</span> ";
  for (auto it = verdicts.rbegin(); it != verdicts.rend(); ++it) {
    out += "<span class=\"badge strip-run r-";
    out += ResultClass(*it);
    out += "\" style=\"min-width:0;padding:0 4px\" title=\"";
    out += ResultWordOf(*it);
    out += "\">";
    out += ResultWordOf(*it)[0];
    out += "</span>";
  }
  out += "</div>\n";
}

}  // namespace

std::string HistoryStripHtml(history::ResultsStore& store, std::int64_t run_id, const std::string& script,
                             const RunDigest& digest) {
  std::string out = "<section id=\"history-strip\"><h2>History</h2>\n<p class=\"muted\">The " +
                    std::to_string(kStripLength) + " runs of this script and of its named results, oldest first.</p>\n";
  StripRow(out, script, store.LastVerdicts(script, "", run_id, kStripLength));
  std::size_t shown = 0;
  for (const RowDigest& row : digest.rows) {
    if (++shown > kStripNamedResults) break;
    StripRow(out, row.text, store.LastVerdicts(script, row.text, run_id, kStripLength));
  }
  return out + "</section>\n";
}

}  // namespace ordalis::report
