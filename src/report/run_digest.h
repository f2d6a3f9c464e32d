#pragma once
// The digest of one results document: the verdict, the facts of the run, the named results
// (the rows of the console's summary table) and the failing statements. It is what the console,
// the JUnit document, the results index and the head of the HTML report show, built in one pass
// over the document with memory bounded by kMaxFailures and kMaxRows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "report/results_reader.h"

namespace ordalis::report {

inline constexpr std::size_t kMaxFailures = 1000;  // failing statements kept in full
inline constexpr std::size_t kMaxRows = 10000;     // named results kept
inline constexpr std::size_t kMaxMeasurements = 100000;  // measurements kept, over all runs

// One statement with a Failed or Error run.
struct FailureDigest {
  std::size_t index = 0;       // node index in document order
  std::string type;
  std::string text;
  std::string file;            // empty when the document alone was read
  std::uint32_t line = 0;      // 0 when unknown
  Result result = TestFailed;  // of its first failing run
  std::uint32_t iteration = 0;
  std::string values;          // that run's values as the language prints them
  // That run's measurements that did not pass, as phrases after the statement's result label
  // ("3.3 V rail: DCV = 4.9963 V, limits 3.2–3.4 V"), joined by "; "; empty when none.
  std::string measured;
  std::size_t failing_runs = 0;
  std::size_t runs = 0;
  std::vector<std::string> log_lines;
  // The statement's line as written in its file, without its indent; empty when unknown.
  std::string source;
  // A condition of an if or while that could not be evaluated: the language lets it pass, so
  // it does not count in the verdict (except in a strict run).
  bool uncounted = false;

  // The statement as written when its line is known, else the text the document keeps.
  const std::string& Quoted() const { return source.empty() ? text : source; }
  // "file(line)", or "" when the line is unknown.
  std::string Where() const;
  // file(line): result: text — values, the text as written when it is known; the measurements
  // that did not pass stand in place of the values when there are any
  std::string ConsoleLine() const;
};

// One named result (a `result "name" statement`).
struct RowDigest {
  std::size_t index = 0;
  std::string text;
  std::string file;
  std::uint32_t line = 0;
  std::array<std::uint32_t, 7> counts{};  // its runs by result
  Result overall = TestNotRun;
  double time_taken = 0.0;
  bool has_failure = false;
  FailureDigest first_failure;   // the first statement that failed inside it
  std::size_t failing_statements = 0;
  FailureDigest first_warning;   // the first statement with a Warning inside it, when none failed
  std::size_t warning_statements = 0;
};

// A measurement a run of a statement took, with the statement's place when it is known and the
// named result it was made in.
struct MeasurementDigest {
  Measurement measurement;
  std::string file;
  std::uint32_t line = 0;
  std::string row;  // the label of the innermost named result around it; empty outside them
};

struct RunDigest {
  ResultsHeading heading;
  Result verdict = TestNotRun;
  double duration = 0.0;                      // the root's runs added up
  std::size_t iterations = 0;                 // the root's runs
  std::array<std::size_t, 7> statements{};    // statements that ran, by overall result
  std::vector<RowDigest> rows;
  std::size_t rows_total = 0;
  std::vector<FailureDigest> failures;        // in document order, at most kMaxFailures
  std::vector<MeasurementDigest> measurements;  // in document order, at most kMaxMeasurements
  std::size_t measurements_total = 0;
  std::size_t failures_total = 0;
  std::size_t uncounted_total = 0;            // failures that are uncounted conditions
  // Failures outside every named result, which no row of the summary shows.
  std::size_t failures_outside_rows = 0;
  FailureDigest first_outside_failure;
  // Statements whose runs gave Warning (and none Failed or Error): a Warning verdict fails the
  // run, so CI and the console name where it came from.
  std::vector<FailureDigest> warnings;        // in document order, at most kMaxFailures
  std::size_t warnings_total = 0;
  std::size_t warnings_outside_rows = 0;
  FailureDigest first_outside_warning;
  std::size_t nodes = 0;
  bool annotated = false;                     // files and lines are known
  std::string script_file;                    // the root's file, when annotated
};

// The values of a run as the language prints them: 5, 2.5, "text", true, [1, "a"]. A lone value
// that only repeats the run's own result word (a call that returned no values) shows as nothing.
std::string ValuesText(const std::vector<ValueEntry>& values, Result result, bool cut = false);

// Builds a RunDigest from the events of one document.
class DigestBuilder : public ResultsVisitor {
 public:
  explicit DigestBuilder(const RunAnnotations* notes);

  void OnHeading(const ResultsHeading& heading) override;
  void OnNodeStart(const NodeHead& head) override;
  void OnRun(const RunEntry& run) override;
  void OnNodeResult(Result overall) override;
  void OnNodeEnd() override;

  // The digest, once the whole document has been read.
  RunDigest Finish();

 private:
  struct Frame {
    std::size_t index = 0;
    bool block = false;
    bool ignored = false;
    long row = -1;             // the innermost named result around this node, as an index into rows
    bool annotated = false;
    bool condition = false;    // the condition of an if or while
    Result overall = TestNotRun;
    FailureDigest failure;     // filled by the first failing run
    FailureDigest warning;     // filled by the first run that gave Warning
    std::size_t warning_runs = 0;
    std::size_t runs = 0;
    std::size_t failing_runs = 0;
    std::array<std::uint32_t, 7> counts{};
    double time_taken = 0.0;
    std::string text;
    std::string file;
    std::uint32_t line = 0;
  };
  // The label of the innermost named result around [frame]; null when it stands in none.
  const std::string* RowLabel(const Frame& frame) const;
  void EndFailure(Frame& frame);
  void EndWarning(Frame& frame);
  // Calls [visit] once for each named result around the current statement; false when it stands
  // in none.
  template <typename Visit>
  bool ForEachOpenRow(Visit visit);
  // The statement [frame] as a failure or warning line: its text, place and log lines.
  void Place(Frame& frame, FailureDigest& statement);
  // Line [line] of [file] as written, without its indent; files are read once.
  std::string SourceLine(const std::string& file, std::uint32_t line);
  void EndRow(const Frame& frame);

  const RunAnnotations* notes_;
  RunDigest digest_;
  std::vector<Frame> frames_;
  std::vector<long> open_rows_;  // rows around the current node, outermost first
  std::unordered_set<std::size_t> targets_;   // statements the annotations name for a row
  std::vector<FailureDigest> target_failures_;
  std::unordered_map<std::string, std::vector<std::string>> sources_;
};

// Reads the document at [path] into a digest; false with [error] set when it cannot.
bool DigestResults(const std::string& path, const RunAnnotations* notes, RunDigest* digest,
                   std::string* error);

}  // namespace ordalis::report
