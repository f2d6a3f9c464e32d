#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "platform/resources.h"
#include "report/report_text.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

// Node flags in the tree data.
constexpr int kSelfFailed = 1;
constexpr int kInsideFailed = 2;

// Writes the item tree as compact JSON for the page's script: every node as
// [type, text, file, line, runs, counts, overall, children, flags], a run as
// [iteration, result, seconds, "date time", "values"].
class TreeData : public ResultsVisitor {
 public:
  TreeData(const RunAnnotations* notes, std::size_t limit) : limit_(limit) {
    out_ += "{\"files\":[";
    if (notes != nullptr) {
      for (std::size_t i = 0; i < notes->files.size(); ++i) {
        if (i != 0) out_ += ',';
        AppendJsonString(out_, notes->files[i]);
      }
    }
    out_ += "],\"root\":";
  }

  void OnHeading(const ResultsHeading&) override {}

  void OnNodeStart(const NodeHead& head) override {
    Frame frame;
    frame.block = IsBlockType(head.type);
    frame.ignored = head.type == "ignoreResultItem" || (!frames_.empty() && frames_.back().ignored);
    bool parent_written = frames_.empty() || frames_.back().written;
    if (!frames_.empty()) OpenChildren(frames_.back());
    if (parent_written && out_.size() >= limit_) cut_ = true;
    frame.written = parent_written && !cut_ && !(frames_.empty() && root_seen_);
    root_seen_ = true;
    if (!frame.written) {
      ++left_out_;
    } else {
      if (!frames_.empty() && frames_.back().children++ > 0) out_ += ',';
      out_ += '[';
      AppendJsonString(out_, head.type);
      out_ += ',';
      AppendJsonString(out_, head.text);
      out_ += ',';
      out_ += head.note != nullptr ? std::to_string(head.note->file) : "-1";
      out_ += ',';
      out_ += std::to_string(head.note != nullptr ? head.note->line : 0);
      out_ += ",[";
      frame.runs_open = true;
    }
    frames_.push_back(frame);
  }

  void OnRun(const RunEntry& run) override {
    if (frames_.empty()) return;
    Frame& frame = frames_.back();
    bool failure = IsFailure(run.result);
    if (run.result >= 0 && run.result <= TestAborted) frame.counts[static_cast<std::size_t>(run.result)] += run.count;
    if (failure && !frame.block && !frame.ignored) frame.self_failed = true;
    if (!frame.runs_open) return;
    bool shown = frame.runs_shown < kRunsShown || (failure && frame.failing_shown < kFailingRunsShown);
    if (!shown) return;
    if (frame.runs_shown >= kRunsShown) ++frame.failing_shown;
    if (frame.runs_shown++ > 0) out_ += ',';
    out_ += '[';
    out_ += std::to_string(run.iteration);
    out_ += ',';
    out_ += std::to_string(static_cast<int>(run.result));
    out_ += ',';
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", run.time_taken);
    out_ += seconds;
    out_ += ',';
    AppendJsonString(out_, run.date + " " + run.time);
    out_ += ',';
    AppendJsonString(out_, ValuesText(run.values, run.result, run.values_cut));
    out_ += ']';
  }

  void OnNodeResult(Result overall) override {
    if (!frames_.empty()) frames_.back().overall = overall;
  }

  void OnNodeEnd() override {
    if (frames_.empty()) return;
    Frame frame = frames_.back();
    OpenChildren(frame);
    frames_.pop_back();
    int flags = (frame.self_failed ? kSelfFailed : 0) | (frame.inside_failed ? kInsideFailed : 0);
    if (frame.written) {
      out_ += "],";
      out_ += std::to_string(flags);
      out_ += ']';
    }
    if (!frames_.empty() && flags != 0) frames_.back().inside_failed = true;
  }

  // The finished JSON text.
  std::string& Finish() {
    if (!root_seen_) out_ += "[\"root\",\"\",-1,0,[],[0,0,0,0,0,0,0],5,[],0]";
    out_ += ",\"left_out\":";
    out_ += std::to_string(left_out_);
    out_ += '}';
    return out_;
  }
  std::size_t left_out() const { return left_out_; }

 private:
  struct Frame {
    bool written = false;
    bool runs_open = false;
    bool block = false;
    bool ignored = false;
    bool self_failed = false;
    bool inside_failed = false;
    std::size_t runs_shown = 0;
    std::size_t failing_shown = 0;
    std::size_t children = 0;
    std::array<std::uint32_t, 7> counts{};
    Result overall = TestNotRun;
  };

  // Ends the runs of [frame] and opens its list of children.
  void OpenChildren(Frame& frame) {
    if (!frame.runs_open) return;
    frame.runs_open = false;
    out_ += "],[";
    std::uint32_t total = 0;
    for (std::size_t r = 0; r < frame.counts.size(); ++r) {
      if (r != 0) out_ += ',';
      out_ += std::to_string(frame.counts[r]);
      total += frame.counts[r];
    }
    out_ += "],";
    out_ += std::to_string(static_cast<int>(total == 0 ? TestNotRun : frame.overall));
    out_ += ",[";
  }

  std::size_t limit_;
  std::string out_;
  std::vector<Frame> frames_;
  bool root_seen_ = false;
  bool cut_ = false;
  std::size_t left_out_ = 0;
};

std::string Badge(Result result) {
  return std::string("<span class=\"badge r-") + ResultClass(result) + "\">" + ResultWordOf(result) + "</span>";
}

std::string StatementsText(const RunDigest& digest) {
  std::string out;
  for (Result result : {TestPassed, TestFailed, TestError, TestWarning, TestNotImplemented, TestAborted}) {
    std::size_t count = digest.statements[static_cast<std::size_t>(result)];
    if (count == 0) continue;
    if (!out.empty()) out += " \xC2\xB7 ";  // ·
    std::string word = ResultWordOf(result);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out += std::to_string(count) + " " + word;
  }
  return out.empty() ? "none recorded" : out;
}

// A log file entry of the document ('#' written as "%23") as a file beside the document.
std::string LogFilePath(const std::string& xml_path, const std::string& entry) {
  return (fs::path(xml_path).parent_path() / LogEntryFileName(entry)).string();
}

void Fact(std::string& out, const char* label, const std::string& value_html, const char* id = nullptr) {
  out += id != nullptr && std::string_view(id) == "files" ? "<div class=\"wide\"><dt>" : "<div><dt>";
  out += label;
  out += "</dt><dd";
  if (id != nullptr) {
    out += " id=\"";
    out += id;
    out += '"';
  }
  out += '>';
  out += value_html;
  out += "</dd></div>\n";
}

void Head(std::string& out, const RunDigest& digest, const std::string& xml_path,
          const std::string& html_path) {
  const ResultsHeading& heading = digest.heading;
  out += "<header class=\"verdict r-";
  out += ResultClass(digest.verdict);
  out += "\" id=\"verdict\" data-result=\"";
  out += ResultWordOf(digest.verdict);
  out += "\"><div class=\"word\">";
  out += ResultWordOf(digest.verdict);
  out += "</div><h1 class=\"script\">";
  AppendHtml(out, heading.name);
  out += "</h1></header>\n<dl class=\"facts\">\n";
  Fact(out, "Host", Html(heading.host_name.empty() ? "Unknown" : heading.host_name));
  bool unset = heading.version_under_test.empty() || heading.version_under_test == "Undefined";
  Fact(out, "Version under test",
       unset ? std::string("<span class=\"unset\">not set</span>") : Html(heading.version_under_test));
  Fact(out, "Date", Html(heading.date + " " + heading.time), "date");
  std::string duration = Html(DurationText(digest.duration));
  if (digest.iterations > 1) duration += " over " + std::to_string(digest.iterations) + " runs";
  Fact(out, "Duration", duration);
  Fact(out, "Statements", Html(StatementsText(digest)), "statements");
  std::string files = "<a href=\"" + Html(LinkFrom(html_path, xml_path)) + "\">results XML</a>";
  for (const std::string& log : heading.log_files) {
    files += " \xC2\xB7 <a href=\"" + Html(LinkFrom(html_path, LogFilePath(xml_path, log))) + "\">";
    AppendHtml(files, log);
    files += "</a>";
  }
  Fact(out, "Files", files, "files");
  out += "</dl>\n";
}

void NamedResults(std::string& out, const RunDigest& digest) {
  if (digest.rows_total == 0) return;
  out += "<section id=\"named-results\"><h2>Named results</h2>\n<table>\n<tr><th>Result</th>"
         "<th>Test result</th><th>Passed</th><th>Failed</th><th>Not Imp</th><th>Warn</th>"
         "<th>Error</th><th>% Pass</th><th>Time</th><th>Line</th></tr>\n";
  for (const RowDigest& row : digest.rows) {
    out += "<tr class=\"row-result\"><td>" + Badge(row.overall) + "</td><td>";
    AppendHtml(out, row.text);
    out += "</td>";
    std::uint32_t sum = 0;
    for (Result result : {TestPassed, TestFailed, TestNotImplemented, TestWarning, TestError}) {
      std::uint32_t count = row.counts[static_cast<std::size_t>(result)];
      sum += count;
      out += "<td class=\"n\">" + std::to_string(count) + "</td>";
    }
    std::string pass = sum == 0 ? "N/A" : std::to_string(row.counts[TestPassed] * 100 / sum);
    out += "<td class=\"n\">" + pass + "</td><td class=\"n\">" + Html(DurationText(row.time_taken)) + "</td><td>";
    if (row.line != 0) AppendHtml(out, row.file + "(" + std::to_string(row.line) + ")");
    out += "</td></tr>\n";
  }
  out += "</table>\n";
  if (digest.rows_total > digest.rows.size()) {
    out += "<p class=\"muted\">The first " + std::to_string(digest.rows.size()) + " of " +
           std::to_string(digest.rows_total) + " named results are listed.</p>\n";
  }
  out += "</section>\n";
}

void Failure(std::string& out, const FailureDigest& failure, std::size_t number) {
  out += "<li class=\"failure r-";
  out += ResultClass(failure.result);
  out += "\" id=\"failure-" + std::to_string(number) + "\"><div class=\"failure-head\">" + Badge(failure.result);
  std::string where = failure.Where();
  if (!where.empty()) out += "<span class=\"where\">" + Html(where) + "</span>";
  out += "<code class=\"text\">" + Html(failure.Quoted()) + "</code></div>\n";
  // The line as written, to search the source for; the text the results document keeps beside it.
  if (!failure.source.empty() && failure.source != failure.text) {
    out += "<div class=\"normalised\">In the results: <code>" + Html(failure.text) + "</code></div>\n";
  }
  if (failure.uncounted) {
    out += "<div class=\"uncounted\">A condition that could not be evaluated: not counted in the verdict; "
           "--strict fails the run.</div>\n";
  }
  if (!failure.measured.empty()) {
    out += "<div class=\"measured\">Measured: " + Html(failure.measured) + "</div>\n";
  }
  if (!failure.values.empty()) {
    out += "<div class=\"values\">Values: <code>" + Html(failure.values) + "</code></div>\n";
  }
  out += "<div class=\"detail\">";
  if (failure.runs > 1) {
    out += "Not passed " + std::to_string(failure.failing_runs) + " of " + std::to_string(failure.runs) +
           " times. ";
  }
  out += "<a href=\"#tree\" data-node=\"" + std::to_string(failure.index) + "\">Show in the tree</a></div>\n";
  if (!failure.log_lines.empty()) {
    out += "<pre class=\"log\">";
    for (const std::string& line : failure.log_lines) {
      AppendHtml(out, line);
      out += '\n';
    }
    out += "</pre>\n";
  }
  out += "</li>\n";
}

void Failures(std::string& out, const RunDigest& digest) {
  out += "<section id=\"failures\"><h2>Failures</h2>\n";
  if (digest.failures_total == 0) {
    out += "<p class=\"note\" id=\"no-failures\">No statement failed.</p>\n</section>\n";
    return;
  }
  if (!digest.annotated) {
    out += "<p class=\"muted\">This report was made from the results document alone, which does "
           "not record line numbers or log lines.</p>\n";
  }
  out += "<ol class=\"failures\">\n";
  for (std::size_t i = 0; i < digest.failures.size(); ++i) Failure(out, digest.failures[i], i + 1);
  out += "</ol>\n";
  if (digest.failures_total > digest.failures.size()) {
    out += "<p class=\"muted\">The first " + std::to_string(digest.failures.size()) + " of " +
           std::to_string(digest.failures_total) +
           " failing statements are listed; the tree's Failures only view shows the others.</p>\n";
  }
  out += "</section>\n";
}

// How many runs with measurements the page shows a table for; the results document holds all.
constexpr std::size_t kMeasuredRunsShown = 500;

// Where a value sits between its limits, as a small inline drawing: the band between the limits,
// a quarter of its width either side, and a mark at the value (at the edge when it lies beyond).
// Empty unless the measurement is a number with both limits.
std::string PositionBar(const Measurement& m) {
  if (m.kind == MeasuredKind::kText || !m.low || !m.high || !(*m.high > *m.low) || std::isnan(m.number)) {
    return std::string();
  }
  constexpr double kWidth = 120.0;
  const double span = *m.high - *m.low;
  const double from = *m.low - span / 4;
  const double to = *m.high + span / 4;
  auto x = [&](double value) { return std::clamp((value - from) / (to - from), 0.0, 1.0) * kWidth; };
  char svg[512];
  std::snprintf(svg, sizeof svg,
                "<svg class=\"position\" width=\"120\" height=\"12\" viewBox=\"0 0 120 12\" role=\"img\" "
                "aria-label=\"value %s limits\"><rect x=\"0\" y=\"5\" width=\"120\" height=\"2\" fill=\"#d1d9e0\"/>"
                "<rect class=\"band\" x=\"%.1f\" y=\"3\" width=\"%.1f\" height=\"6\" fill=\"#aceebb\"/>"
                "<rect class=\"mark\" x=\"%.1f\" y=\"0\" width=\"2\" height=\"12\" fill=\"%s\"/></svg>",
                m.number < *m.low ? "below" : m.number > *m.high ? "above" : "within", x(*m.low),
                x(*m.high) - x(*m.low), std::min(x(m.number), kWidth - 2),
                m.result == TestPassed ? "#116329" : "#a0111f");
  return svg;
}

// Collects the runs that carry measurements, as a table each: name, value, unit, limits,
// verdict and where the value sits between its limits.
class MeasurementTables : public ResultsVisitor {
 public:
  void OnHeading(const ResultsHeading&) override {}
  void OnNodeStart(const NodeHead& head) override {
    Node node;
    node.index = head.index;
    node.text = head.text;
    if (head.note != nullptr && head.file != nullptr) {
      node.where = *head.file + "(" + std::to_string(head.note->line) + ")";
    }
    nodes_.push_back(std::move(node));
  }
  void OnRun(const RunEntry& run) override {
    if (run.measurements.empty() || nodes_.empty()) return;
    if (++runs_ > kMeasuredRunsShown) return;
    const Node& node = nodes_.back();
    out_ += "<div class=\"measured-run\"><div class=\"measured-head\">" + Badge(run.result);
    if (!node.where.empty()) out_ += "<span class=\"where\">" + Html(node.where) + "</span>";
    out_ += "<code>" + Html(node.text) + "</code> <span class=\"muted\">run " + std::to_string(run.iteration) +
            "</span> <a href=\"#tree\" data-node=\"" + std::to_string(node.index) + "\">Show in the tree</a></div>\n";
    out_ += "<table class=\"measurements\"><thead><tr><th>Name</th><th>Value</th><th>Unit</th><th>Limits</th>"
            "<th>Verdict</th><th>Position</th></tr></thead><tbody>\n";
    for (const Measurement& m : run.measurements) {
      Measurement bare = m;
      bare.unit.clear();
      out_ += "<tr class=\"measurement\"><td>" + Html(m.name) + "</td><td class=\"n\">" + Html(m.text) + "</td><td>" +
              Html(m.unit) + "</td><td>" + Html(LimitsText(bare)) + "</td><td>" + Badge(m.result) + "</td><td>" +
              PositionBar(m) + "</td></tr>\n";
    }
    if (run.measurements_cut) {
      out_ += "<tr><td colspan=\"6\" class=\"muted\">More measurements are in the results document.</td></tr>\n";
    }
    out_ += "</tbody></table></div>\n";
  }
  void OnNodeResult(Result) override {}
  void OnNodeEnd() override {
    if (!nodes_.empty()) nodes_.pop_back();
  }

  // The section, or nothing when no run measured.
  void AppendSection(std::string& page) const {
    if (runs_ == 0) return;
    page += "<section id=\"measurements\"><h2>Measurements</h2>\n";
    page += out_;
    if (runs_ > kMeasuredRunsShown) {
      page += "<p class=\"muted\">The first " + std::to_string(kMeasuredRunsShown) + " of " + std::to_string(runs_) +
              " runs with measurements are shown; the results document holds every one.</p>\n";
    }
    page += "</section>\n";
  }

 private:
  struct Node {
    std::size_t index = 0;
    std::string text;
    std::string where;
  };
  std::vector<Node> nodes_;
  std::string out_;
  std::size_t runs_ = 0;
};

void TreeSection(std::string& out, std::size_t left_out) {
  out += "<section id=\"tree-section\"><h2>All results</h2>\n<div class=\"toolbar\"><label>"
         "<input type=\"checkbox\" id=\"failures-only\"> Failures only</label></div>\n";
  if (left_out > 0) {
    out += "<p class=\"note\" id=\"tree-cut\">This run is too large for one page: " +
           std::to_string(left_out) +
           " items are left out of the tree below. The verdict, the named results and the failures "
           "above cover the whole run; the results XML holds every item.</p>\n";
  }
  out += "<div id=\"tree\" class=\"tree\" role=\"tree\"></div>\n"
         "<noscript><p class=\"note\">The tree needs JavaScript.</p></noscript>\n</section>\n";
}

// A summary of the run in the page's head, read back by the results index.
std::string RunMeta(const RunDigest& digest, const std::string& xml_path) {
  std::string json = "{\"name\":";
  AppendJsonString(json, digest.heading.name);
  json += ",\"date\":";
  AppendJsonString(json, digest.heading.date);
  json += ",\"time\":";
  AppendJsonString(json, digest.heading.time);
  json += ",\"verdict\":" + std::to_string(static_cast<int>(digest.verdict));
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", digest.duration);
  json += ",\"duration\":";
  json += duration;
  json += ",\"statements\":[";
  for (std::size_t r = 0; r < digest.statements.size(); ++r) {
    if (r != 0) json += ',';
    json += std::to_string(digest.statements[r]);
  }
  json += "],\"failures\":" + std::to_string(digest.failures_total);
  json += ",\"xml\":";
  AppendJsonString(json, fs::path(xml_path).filename().string());
  json += ",\"log\":";
  AppendJsonString(json, digest.heading.log_files.empty() ? std::string() : digest.heading.log_files[0]);
  json += '}';
  return json;
}

}  // namespace

std::string HtmlPathFor(const std::string& xml_path) {
  std::string path = xml_path;
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".xml") == 0) path.resize(path.size() - 4);
  return path + ".html";
}

bool WriteHtmlReport(const std::string& xml_path, const std::string& html_path,
                     const RunAnnotations* notes, ReportOutcome* outcome, std::string* error,
                     PageLimits limits, const PageInsert& insert) {
  DigestBuilder digest_builder(notes);
  TreeData tree(notes, limits.tree_bytes);
  MeasurementTables measurements;
  if (!ReadResults(xml_path, {&digest_builder, &tree, &measurements}, notes, error)) return false;
  RunDigest digest = digest_builder.Finish();
  std::string& tree_json = tree.Finish();

  std::string page;
  page.reserve(64 * 1024);
  page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  AppendHtml(page, std::string(ResultWordOf(digest.verdict)) + " \xE2\x80\x94 " + digest.heading.name +
                       " \xE2\x80\x94 Ordalis results");
  page += "</title>\n<meta name=\"generator\" content=\"Ordalis\">\n<meta name=\"ordalis-run\" content=\"";
  AppendHtml(page, RunMeta(digest, xml_path));
  page += "\">\n<style>\n";
  page += EmbeddedResource("report.css");
  page += "</style>\n</head>\n<body>\n";
  Head(page, digest, xml_path, html_path);
  if (insert) page += insert(digest);
  NamedResults(page, digest);
  Failures(page, digest);
  measurements.AppendSection(page);
  TreeSection(page, tree.left_out());
  page += "<script type=\"application/json\" id=\"report-data\">";

  WholeFile file;
  // The page is made again from the results document whenever it is lost.
  if (!file.Open(html_path, error, Sync::kNone)) return false;
  file.Write(page);
  file.Write(tree_json);
  page.clear();
  page += "</script>\n<script>\n";
  page += EmbeddedResource("report.js");
  page += "</script>\n</body>\n</html>\n";
  file.Write(page);
  if (!file.Commit(error)) return false;
  if (outcome != nullptr) {
    outcome->tree_bytes = tree_json.size();
    outcome->items_left_out = tree.left_out();
    outcome->digest = std::move(digest);
  }
  return true;
}

}  // namespace ordalis::report
