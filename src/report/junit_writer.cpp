#include "report/junit_writer.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "report/report_text.h"

namespace ordalis::report {

namespace fs = std::filesystem;

namespace {

constexpr const char* kOutsideRows = "statements outside named results";
constexpr const char* kVerdictCase = "verdict";
// Warning statements listed in full in one case's failure text.
constexpr std::size_t kWarningsListed = 20;

struct TestCase {
  std::string name;
  std::string file;
  std::uint32_t line = 0;
  double time = 0.0;
  Result result = TestPassed;
  bool has_failure = false;
  FailureDigest failure;
  std::size_t failing_statements = 0;
  std::vector<FailureDigest> warnings;  // for a Warning case: where its warnings came from
  std::size_t warning_statements = 0;
};

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// When the run started, as the suite's timestamp: the save time less the run's duration.
std::string StartTimestamp(const RunDigest& digest) {
  std::tm parts{};
  if (std::sscanf(digest.heading.date.c_str(), "%d-%d-%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday) != 3 ||
      std::sscanf(digest.heading.time.c_str(), "%d:%d:%d", &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 3) {
    return std::string();
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  parts.tm_isdst = -1;
  std::time_t saved = std::mktime(&parts);
  if (saved == static_cast<std::time_t>(-1)) return std::string();
  std::time_t started = saved - static_cast<std::time_t>(digest.duration);
  localtime_r(&started, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  return text;
}

std::vector<TestCase> Cases(const RunDigest& digest) {
  std::vector<TestCase> cases;
  if (digest.rows.empty()) {
    TestCase whole;
    whole.name = digest.heading.name;
    whole.file = digest.script_file;
    whole.time = digest.duration;
    whole.result = digest.verdict;
    for (const FailureDigest& failure : digest.failures) {
      if (failure.uncounted) continue;
      whole.has_failure = true;
      whole.failure = failure;
      break;
    }
    whole.failing_statements = digest.failures_total;
    whole.warnings.assign(digest.warnings.begin(),
                          digest.warnings.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(digest.warnings.size(), kWarningsListed)));
    whole.warning_statements = digest.warnings_total;
    cases.push_back(std::move(whole));
    return cases;
  }
  for (const RowDigest& row : digest.rows) {
    TestCase test{row.text, row.file, row.line, row.time_taken, row.overall, row.has_failure,
                  row.first_failure, row.failing_statements, {}, row.warning_statements};
    if (row.warning_statements > 0) test.warnings.push_back(row.first_warning);
    cases.push_back(std::move(test));
  }
  // Failures no row holds would otherwise leave a failed run looking green to CI.
  if (digest.failures_outside_rows > 0) {
    TestCase rest;
    rest.name = kOutsideRows;
    rest.file = digest.script_file;
    rest.result = digest.first_outside_failure.result;
    rest.has_failure = true;
    rest.failure = digest.first_outside_failure;
    rest.failing_statements = digest.failures_outside_rows;
    cases.push_back(std::move(rest));
  } else if (digest.warnings_outside_rows > 0) {
    TestCase rest;
    rest.name = kOutsideRows;
    rest.file = digest.script_file;
    rest.result = TestWarning;
    rest.warnings.push_back(digest.first_outside_warning);
    rest.warning_statements = digest.warnings_outside_rows;
    cases.push_back(std::move(rest));
  }
  return cases;
}

// A run that did not pass fails the suite, whatever its cases say: its exit status is not 0,
// and a CI server must not show it green (a run stopped before any named result, a verdict of
// Not Implemented or Not Run).
void AddVerdictCase(const RunDigest& digest, std::vector<TestCase>& cases) {
  if (digest.verdict == TestPassed) return;
  for (const TestCase& test : cases) {
    if (IsFailure(test.result) || test.result == TestWarning || test.result == TestAborted) return;
  }
  TestCase verdict;
  verdict.name = kVerdictCase;
  verdict.file = digest.script_file;
  verdict.time = digest.duration;
  verdict.result = digest.verdict == TestAborted ? TestAborted : TestFailed;
  verdict.failure.text = std::string("the run's verdict is ") + ResultWordOf(digest.verdict);
  verdict.failure.result = digest.verdict;
  verdict.has_failure = true;
  cases.push_back(std::move(verdict));
}

const char* OutcomeElement(Result result) {
  switch (result) {
    // A Warning verdict fails the run, so its case fails too.
    case TestFailed: case TestWarning: return "failure";
    case TestError: case TestAborted: return "error";
    case TestNotRun: case TestNotImplemented: return "skipped";
    default: return nullptr;
  }
}

void Attribute(std::string& out, const char* name, const std::string& value) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendXml(out, value);
  out += '"';
}

void Outcome(std::string& out, const TestCase& test) {
  const char* element = OutcomeElement(test.result);
  if (element == nullptr) return;
  std::string message;
  std::string body;
  if (test.result == TestWarning && !test.warnings.empty()) {
    message = test.warnings.front().ConsoleLine();
    for (const FailureDigest& warning : test.warnings) body += warning.ConsoleLine() + "\n";
    if (test.warning_statements > test.warnings.size()) {
      body += std::to_string(test.warning_statements - test.warnings.size()) +
              " more statements with a warning in the report.\n";
    }
  } else if (test.has_failure) {
    message = test.failure.ConsoleLine();
    body = message + "\n";
    if (test.failing_statements > 1) {
      body += std::to_string(test.failing_statements - 1) + " more failing statement" +
              (test.failing_statements == 2 ? "" : "s") + " in the report.\n";
    }
    for (const std::string& line : test.failure.log_lines) body += line + "\n";
  } else {
    message = test.name + ": " + ResultWordOf(test.result);
  }
  out += "   <";
  out += element;
  Attribute(out, "message", message);
  Attribute(out, "type", ResultWordOf(test.result));
  if (body.empty()) {
    out += "/>\n";
    return;
  }
  out += '>';
  AppendXml(out, body);
  out += "</";
  out += element;
  out += ">\n";
}

// A CI server's test view stays readable: the first measurements are properties, the rest counted.
constexpr std::size_t kMaxMeasurementProperties = 1000;

// The run's measurements as properties of the suite, one each, named after the named result
// they were made in: name "3.3 V rail: DCV", value "4.9963 V, limits 3.2–3.4 V, Failed". (The
// schema CI servers read allows properties on the suite only.)
void MeasurementProperties(std::string& out, const RunDigest& digest) {
  std::size_t written = 0;
  for (const MeasurementDigest& measured : digest.measurements) {
    if (written++ == kMaxMeasurementProperties) break;
    const Measurement& m = measured.measurement;
    std::string name = measured.row.empty() || measured.row == m.name ? m.name : measured.row + ": " + m.name;
    std::string value = m.kind == MeasuredKind::kText ? "\"" + m.text + "\"" : m.text;
    if (!m.unit.empty() && m.kind != MeasuredKind::kText) value += " " + m.unit;
    std::string limits = LimitsText(m);
    if (!limits.empty()) value += ", limits " + limits;
    value += ", ";
    value += ResultWordOf(m.result);
    out += "   <property";
    Attribute(out, "name", name);
    Attribute(out, "value", value);
    out += "/>\n";
  }
  std::size_t shown = std::min(digest.measurements.size(), kMaxMeasurementProperties);
  if (digest.measurements_total > shown) {
    out += "   <property";
    Attribute(out, "name", "measurements left out");
    Attribute(out, "value", std::to_string(digest.measurements_total - shown));
    out += "/>\n";
  }
}

// The log file named first in the document, cut to kMaxSystemOut bytes.
std::string LogText(const RunDigest& digest, const std::string& xml_path) {
  if (digest.heading.log_files.empty()) return std::string();
  std::string entry = LogEntryFileName(digest.heading.log_files[0]);
  std::ifstream file(fs::path(xml_path).parent_path() / entry, std::ios::binary);
  if (!file) return std::string();
  file.seekg(0, std::ios::end);
  std::streamoff size = file.tellg();
  file.seekg(0);
  std::size_t half = kMaxSystemOut / 2;
  if (size <= static_cast<std::streamoff>(kMaxSystemOut)) {
    std::string text(static_cast<std::size_t>(size), '\0');
    file.read(text.data(), size);
    return text;
  }
  std::string head(half, '\0');
  file.read(head.data(), static_cast<std::streamsize>(half));
  std::string tail(half, '\0');
  file.seekg(size - static_cast<std::streamoff>(half));
  file.read(tail.data(), static_cast<std::streamsize>(half));
  return head + "\n[" + std::to_string(size - static_cast<std::streamoff>(kMaxSystemOut)) +
         " bytes of the log left out]\n" + tail;
}

}  // namespace

std::string UncountedText(const RunDigest& digest) {
  if (digest.uncounted_total == 0) return std::string();
  std::string text = std::string(kUncountedHeading) + "\n";
  for (const FailureDigest& failure : digest.failures) {
    if (failure.uncounted) text += failure.ConsoleLine() + "\n";
  }
  return text;
}

std::string JunitDocument(const RunDigest& digest, const std::string& log_text) {
  std::vector<TestCase> cases = Cases(digest);
  AddVerdictCase(digest, cases);
  std::size_t failures = 0, errors = 0, skipped = 0;
  for (const TestCase& test : cases) {
    const char* element = OutcomeElement(test.result);
    if (element == nullptr) continue;
    std::string kind = element;
    failures += kind == "failure";
    errors += kind == "error";
    skipped += kind == "skipped";
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
  Attribute(out, "name", digest.heading.name);
  Attribute(out, "tests", std::to_string(cases.size()));
  Attribute(out, "failures", std::to_string(failures));
  Attribute(out, "errors", std::to_string(errors));
  Attribute(out, "time", Seconds(digest.duration));
  out += ">\n <testsuite";
  Attribute(out, "name", digest.heading.name);
  Attribute(out, "tests", std::to_string(cases.size()));
  Attribute(out, "failures", std::to_string(failures));
  Attribute(out, "errors", std::to_string(errors));
  Attribute(out, "skipped", std::to_string(skipped));
  Attribute(out, "time", Seconds(digest.duration));
  std::string timestamp = StartTimestamp(digest);
  if (!timestamp.empty()) Attribute(out, "timestamp", timestamp);
  Attribute(out, "hostname", digest.heading.host_name);
  if (!digest.script_file.empty()) Attribute(out, "file", digest.script_file);
  out += ">\n  <properties>\n";
  for (const auto& [name, value] : {std::pair{"verdict", std::string(ResultWordOf(digest.verdict))},
                                    std::pair{"version under test", digest.heading.version_under_test}}) {
    out += "   <property";
    Attribute(out, "name", name);
    Attribute(out, "value", value);
    out += "/>\n";
  }
  MeasurementProperties(out, digest);
  out += "  </properties>\n";
  for (const TestCase& test : cases) {
    out += "  <testcase";
    Attribute(out, "name", test.name);
    Attribute(out, "classname", digest.heading.name);
    if (!test.file.empty()) Attribute(out, "file", test.file);
    if (test.line != 0) Attribute(out, "line", std::to_string(test.line));
    Attribute(out, "time", Seconds(test.time));
    if (OutcomeElement(test.result) == nullptr) {
      out += "/>\n";
      continue;
    }
    out += ">\n";
    Outcome(out, test);
    out += "  </testcase>\n";
  }
  out += "  <system-out>";
  AppendXml(out, log_text);
  out += "</system-out>\n";
  std::string uncounted = UncountedText(digest);
  if (!uncounted.empty()) {
    out += "  <system-err>";
    AppendXml(out, uncounted);
    out += "</system-err>\n";
  }
  out += " </testsuite>\n</testsuites>\n";
  return out;
}

std::string NotRunJunitDocument(const std::string& script, const std::vector<std::string>& problems) {
  std::string name = fs::path(script).filename().string();
  std::string text;
  for (const std::string& problem : problems) text += problem + "\n";
  std::string message = problems.empty() ? name + " was not run" : problems.front();
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
  Attribute(out, "name", name);
  out += " tests=\"1\" failures=\"0\" errors=\"1\" time=\"0.000\">\n <testsuite";
  Attribute(out, "name", name);
  out += " tests=\"1\" failures=\"0\" errors=\"1\" skipped=\"0\" time=\"0.000\"";
  Attribute(out, "file", script);
  out += ">\n  <testcase";
  Attribute(out, "name", name);
  Attribute(out, "classname", name);
  Attribute(out, "file", script);
  out += " time=\"0.000\">\n   <error";
  Attribute(out, "message", message);
  out += " type=\"not loaded\">";
  AppendXml(out, text);
  out += "</error>\n  </testcase>\n </testsuite>\n</testsuites>\n";
  return out;
}

bool WriteNotRunJunit(const std::string& script, const std::vector<std::string>& problems,
                      const std::string& junit_path, std::string* error) {
  std::string document = NotRunJunitDocument(script, problems);
  if (junit_path == "-") {
    std::fwrite(document.data(), 1, document.size(), stdout);
    return std::fflush(stdout) == 0;
  }
  return WriteWholeFile(junit_path, document, error);
}

bool WriteJunit(const RunDigest& digest, const std::string& xml_path, const std::string& junit_path,
                std::string* error) {
  std::string document = JunitDocument(digest, LogText(digest, xml_path));
  if (junit_path == "-") {
    std::fwrite(document.data(), 1, document.size(), stdout);
    return std::fflush(stdout) == 0;
  }
  return WriteWholeFile(junit_path, document, error);
}

}  // namespace ordalis::report
