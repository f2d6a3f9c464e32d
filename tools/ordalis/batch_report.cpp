#include "batch_report.h"

#include <cstdio>

#include "report/report_text.h"

namespace ordalis::cli {

namespace {

using report::Html;

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}table{border-collapse:collapse}"
    "td,th{border:1px solid #ccc;padding:.3em .6em;text-align:left;vertical-align:top}"
    ".Passed{color:#176617}.Failed,.Error,.Aborted{color:#b00020;font-weight:bold}"
    "pre{margin:.3em 0;white-space:pre-wrap}";

std::string Seconds(double seconds) {
  if (seconds < 0) return "time unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

const std::string& Last(const BatchReportEntry& entry) {
  static const std::string kNotRun = "Not Run";
  return entry.attempts.empty() ? kNotRun : entry.attempts.back().result;
}

void Summary(std::string& out, const BatchReport& report) {
  std::size_t passed = 0;
  for (const BatchReportEntry& entry : report.entries) passed += Last(entry) == "Passed";
  out += "<h1>Batch " + Html(report.batch_name) + ": <span class=\"" + Html(report.verdict) + "\" id=\"verdict\">" +
         Html(report.verdict) + "</span></h1>\n<p id=\"summary\">Started " + Html(report.started) + "; " +
         std::to_string(report.entries.size()) + " entries, " + std::to_string(passed) + " passed, " +
         std::to_string(report.entries.size() - passed) + " did not pass.</p>\n";
}

void Attempt(std::string& out, const BatchReportEntry& entry, std::size_t number) {
  const BatchReportAttempt& attempt = entry.attempts[number];
  out += "<tr><td>" + (number == 0 ? Html(entry.name) : std::string()) + "</td><td>" + std::to_string(number + 1) +
         "</td><td class=\"" + Html(attempt.result) + "\">" + Html(attempt.result) + "</td><td>" +
         Seconds(attempt.seconds) + "</td><td>";
  if (!attempt.link.empty()) out += "<a href=\"" + Html(attempt.link) + "\">" + Html(attempt.link) + "</a>";
  if (!attempt.why.empty()) {
    out += "<pre>";
    for (const std::string& line : attempt.why) out += Html(line) + "\n";
    out += "</pre>";
  }
  out += "</td></tr>\n";
}

}  // namespace

std::string BatchReportHtml(const BatchReport& report) {
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Batch " +
                    Html(report.batch_name) + "</title><style>" + kStyle + "</style></head><body>\n";
  Summary(out, report);
  out += "<table id=\"entries\"><tr><th>Entry</th><th>Attempt</th><th>Result</th><th>Time</th>"
         "<th>Report and why</th></tr>\n";
  for (const BatchReportEntry& entry : report.entries) {
    if (entry.attempts.empty()) {
      out += "<tr><td>" + Html(entry.name) + "</td><td></td><td class=\"Failed\">Not Run</td><td></td><td></td></tr>\n";
    }
    for (std::size_t i = 0; i < entry.attempts.size(); ++i) Attempt(out, entry, i);
  }
  out += "</table>\n</body></html>\n";
  return out;
}

}  // namespace ordalis::cli
