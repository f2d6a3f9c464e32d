#include "batch/junit_writer.h"

#include <cstdio>
#include <ctime>

#include "batch/batch_paths.h"
#include "platform/xml_text.h"

namespace ordalis::batch {

namespace {

struct Counts {
  std::size_t tests = 0, failures = 0, errors = 0, skipped = 0;
  void Add(const JUnitCase& c) {
    ++tests;
    failures += c.outcome == JUnitCase::Outcome::kFailed;
    errors += c.outcome == JUnitCase::Outcome::kError;
    skipped += c.outcome == JUnitCase::Outcome::kSkipped;
  }
  void Add(const Counts& other) {
    tests += other.tests;
    failures += other.failures;
    errors += other.errors;
    skipped += other.skipped;
  }
};

std::string Seconds(double time) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", time);
  return text;
}

void Attribute(std::string& out, const char* name, const std::string& value) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendXmlText(out, value);
  out += '"';
}

// The skipped count belongs to a testsuite only; the common schema has none on testsuites.
enum class CountsOf { kSuites, kSuite };

void CountAttributes(std::string& out, const Counts& counts, CountsOf element) {
  Attribute(out, "tests", std::to_string(counts.tests));
  Attribute(out, "failures", std::to_string(counts.failures));
  Attribute(out, "errors", std::to_string(counts.errors));
  if (element == CountsOf::kSuite) Attribute(out, "skipped", std::to_string(counts.skipped));
}

void AppendOutcome(std::string& out, const char* element, const std::string& message,
                   const std::string& details) {
  out += "      <";
  out += element;
  Attribute(out, "message", message);
  if (details.empty()) {
    out += "/>\n";
    return;
  }
  out += '>';
  AppendXmlText(out, details);
  out += "</";
  out += element;
  out += ">\n";
}

const char* EarlierElement(const JUnitCase& c, const JUnitCase::Attempt& attempt) {
  bool error = attempt.outcome == JUnitCase::Outcome::kError;
  if (c.outcome == JUnitCase::Outcome::kPassed) return error ? "flakyError" : "flakyFailure";
  return error ? "rerunError" : "rerunFailure";
}

void AppendCase(std::string& out, const JUnitCase& c) {
  out += "    <testcase";
  Attribute(out, "name", c.name);
  Attribute(out, "classname", c.classname);
  Attribute(out, "time", Seconds(c.time));
  if (!c.file.empty()) Attribute(out, "file", c.file);
  if (c.line != 0) Attribute(out, "line", std::to_string(c.line));
  const char* element = c.outcome == JUnitCase::Outcome::kFailed  ? "failure"
                        : c.outcome == JUnitCase::Outcome::kError ? "error"
                        : c.outcome == JUnitCase::Outcome::kSkipped ? "skipped"
                                                                    : nullptr;
  if (element == nullptr && c.earlier.empty()) {
    out += "/>\n";
    return;
  }
  out += ">\n";
  if (element != nullptr) AppendOutcome(out, element, c.message, c.details);
  for (const JUnitCase::Attempt& attempt : c.earlier) {
    AppendOutcome(out, EarlierElement(c, attempt), attempt.message, attempt.details);
  }
  out += "    </testcase>\n";
}

}  // namespace

std::string JUnitXml(const std::vector<JUnitSuite>& suites) {
  Counts all;
  double total_time = 0.0;
  std::string body;
  for (const JUnitSuite& suite : suites) {
    Counts counts;
    for (const JUnitCase& c : suite.cases) counts.Add(c);
    all.Add(counts);
    total_time += suite.time;
    body += "  <testsuite";
    Attribute(body, "name", suite.name);
    CountAttributes(body, counts, CountsOf::kSuite);
    Attribute(body, "time", Seconds(suite.time));
    Attribute(body, "timestamp", suite.timestamp);
    Attribute(body, "hostname", suite.hostname);
    body += ">\n";
    for (const JUnitCase& c : suite.cases) AppendCase(body, c);
    body += "  </testsuite>\n";
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
  CountAttributes(out, all, CountsOf::kSuites);
  Attribute(out, "time", Seconds(total_time));
  out += ">\n" + body + "</testsuites>\n";
  return out;
}

std::string IsoTimestamp(std::int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm parts{};
  localtime_r(&t, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace ordalis::batch
