// ordalis history: asks the results store which runs there were, how a script or named result
// fared over time, what a measurement's values look like over the runs, what is flaky, and keeps it filled (import) and trimmed (prune).

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "history/measurement_statistics.h"
#include "history/results_store.h"
#include "report/history_import.h"
#include "report/run_history.h"

namespace ordalis::cli {
namespace {

using history::RunRecord;
using nlohmann::json;

const char kDescription[] =
    "Asks the results store, where every run that leaves a results document is added (by\n"
    "'ordalis run', batch runs, the Python module and scripts run for other programs).\n"
    "\n"
    "Commands:\n"
    "  list                       runs, newest first\n"
    "  show RUN                   one run: its facts, labels, named results and failures\n"
    "  trend SCRIPT[:RESULT]      the pass rate of a script, or of one of its named results,\n"
    "                             per day (--week: per week), with the counts\n"
    "  trend SCRIPT:MEASUREMENT   a measurement's values over every run: count, min, mean, max,\n"
    "                             standard deviation (sample, divided by n-1) and, with both\n"
    "                             limits and at least 30 values, Cp = (high-low)/6s and\n"
    "                             Cpk = min(high-mean, mean-low)/3s, s that standard deviation;\n"
    "                             the limits are the newest value's. A name that is both a\n"
    "                             measurement and a named result means the measurement unless\n"
    "                             --pass-rate or --week is given\n"
    "  measurements SCRIPT        the measurements a script's runs have taken, with their unit,\n"
    "                             newest limits and number of values\n"
    "  flaky                      scripts and named results that both passed and failed on the\n"
    "                             same version under test within their last runs\n"
    "  export --format csv|json   the runs list gives, for a spreadsheet or a tool\n"
    "  prune --keep-days N | --keep-runs N\n"
    "                             removes this station's older runs: each run's rows and its\n"
    "                             files (results document, report, log, record) together, never\n"
    "                             one without the other; other stations' runs in a shared store\n"
    "                             are left to them\n"
    "  import DIR|FILE...         adds existing results documents and batch results files (a\n"
    "                             folder: every one in it); a document stored already is skipped\n";

const CommandSyntax kSyntax{
    "history",
    "COMMAND [OPTIONS]",
    kDescription,
    {
        {"--results-db", 0, "STORE",
         "the store: a file, sqlite:FILE or postgresql://USER@HOST/DB (default: the settings key "
         "ResultsDatabase, else results.db in the results folder)"},
        {"--results-dir", 0, "DIR", "the results folder whose results.db to use (default: ./Results)"},
        {"--json", 0, nullptr, "print JSON for tools instead of tables"},
        {"--script", 0, "NAME", "list and export: the runs of this script"},
        {"--verdict", 0, "WORD", "list and export: the runs with this result (passed, failed, error...)"},
        {"--since", 0, "DATE", "list and export: runs from DATE on (YYYY-MM-DD or 'YYYY-MM-DD hh:mm:ss')"},
        {"--until", 0, "DATE", "list and export: runs up to DATE"},
        {"--host", 0, "NAME", "list and export: the runs of this station"},
        {"--label", 0, "KEY=VALUE", "list and export: the runs with this label", true},
        {"--limit", 0, "N", "list and export: at most N runs (list: default 50; 0 for all)"},
        {"--format", 0, "csv|json", "export: the format written"},
        {"--week", 0, nullptr, "trend: the pass rate per week instead of per day"},
        {"--pass-rate", 0, nullptr,
         "trend: the pass rate of a named result that shares its name with a measurement"},
        {"--last", 0, "N",
         "flaky: the runs of each script looked at (default 20); a named result counts its runs within "
         "those"},
        {"--keep-days", 0, "N", "prune: remove this station's runs that ended more than N days ago"},
        {"--keep-runs", 0, "N", "prune: remove all but this station's newest N runs"},
    },
    "Exit status: 0 success, 1 when the run, script or measurement asked for is not in the\n"
    "store, 2 for a usage error or a store that cannot be opened or read.\n"};

struct Options {
  std::string command;
  std::vector<std::string> operands;
  std::string store;
  std::string results_dir = "Results";
  bool json = false;
  bool week = false;
  bool pass_rate = false;
  std::string format;
  history::RunFilter filter;
  bool limit_given = false;
  std::int64_t last = 20;
  std::optional<std::int64_t> keep_days;
  std::optional<std::int64_t> keep_runs;
};

bool Fail(const std::string& message) {
  std::fprintf(stderr, "ordalis history: %s\n", message.c_str());
  return false;
}

bool ParseCount(const std::string& text, std::int64_t* count) {
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0) return false;
  *count = value;
  return true;
}

// The options that take a value, each read into its place.
bool TakeValue(const std::string& arg, const std::string& text, Options* options) {
  history::RunFilter& filter = options->filter;
  if (arg == "--results-db") return options->store = text, true;
  if (arg == "--results-dir") return options->results_dir = text, true;
  if (arg == "--format") return options->format = text, true;
  if (arg == "--script") return filter.script = std::filesystem::path(text).filename().string(), true;
  if (arg == "--since") return filter.since = text, true;
  if (arg == "--until") return filter.until = text, true;
  if (arg == "--host") return filter.host = text, true;
  if (arg == "--verdict") {
    Result verdict;
    if (!history::ResultFromName(text, &verdict)) return Fail("--verdict: no result is called '" + text + "'");
    return filter.verdict = verdict, true;
  }
  if (arg == "--label") {
    std::pair<std::string, std::string> label;
    if (!report::ParseLabel(text, &label)) return Fail("--label needs KEY=VALUE, got '" + text + "'");
    return filter.labels.push_back(label), true;
  }
  std::int64_t count = 0;
  if (!ParseCount(text, &count)) return Fail(arg + " takes a count, not '" + text + "'");
  if (arg == "--limit") return filter.limit = count, options->limit_given = true;
  if (arg == "--last") return options->last = count, true;
  if (arg == "--keep-days") return options->keep_days = count, true;
  return options->keep_runs = count, true;  // --keep-runs
}

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  for (const Option& option : kSyntax.options) {
    if (option.value == nullptr) continue;
    for (const std::string& text : arguments.Values(option.name)) {
      if (!TakeValue(option.name, text, options)) return 2;
    }
  }
  options->json = arguments.Has("--json");
  options->week = arguments.Has("--week");
  options->pass_rate = arguments.Has("--pass-rate");
  options->operands = arguments.operands();
  if (options->operands.empty()) return UsageError(kSyntax, "no command given");
  options->command = options->operands.front();
  options->operands.erase(options->operands.begin());
  if (options->command == "list" && !options->limit_given) options->filter.limit = 50;
  return -1;
}

// The store the options name. A file store is only created by import: asking a folder that
// has none is an error, not a new empty store.
std::optional<history::ResultsStore> OpenStore(const Options& options) {
  history::StoreLocation location;
  std::string problem;
  if (!history::ParseStoreLocation(report::StoreText(options.store), options.results_dir, &location, &problem)) {
    Fail(problem);
    return std::nullopt;
  }
  std::error_code error;
  if (location.kind == history::StoreKind::kSqlite && options.command != "import" &&
      !std::filesystem::exists(location.target, error)) {
    Fail("no results store at " + location.target + " (give --results-dir or --results-db)");
    return std::nullopt;
  }
  try {
    return std::optional<history::ResultsStore>(std::in_place, location);
  } catch (const std::exception& fault) {
    Fail(std::string("cannot open the results store: ") + fault.what());
    return std::nullopt;
  }
}

std::string LabelsText(const RunRecord& run) {
  std::string text;
  for (const auto& [name, value] : run.labels) text += (text.empty() ? "" : " ") + name + "=" + value;
  return text;
}

json RunJson(const RunRecord& run) {
  json counts = json::object();
  for (int r = 0; r < 7; ++r) counts[history::ResultName(static_cast<Result>(r))] = run.counts[static_cast<std::size_t>(r)];
  json labels = json::object();
  for (const auto& [name, value] : run.labels) labels[name] = value;
  return {{"id", run.id}, {"script", run.script}, {"script_path", run.script_path}, {"stamp", run.stamp},
          {"started", run.started}, {"ended", run.ended}, {"duration", run.duration},
          {"verdict", history::ResultName(run.verdict)}, {"counts", counts}, {"host", run.host},
          {"user", run.user}, {"version_under_test", run.version_under_test},
          {"ordalis_version", run.ordalis_version}, {"results", run.results_path}, {"log", run.log_path},
          {"record", run.record_path}, {"report", run.report_path}, {"batch", run.batch},
          {"attempt", run.attempt}, {"labels", labels}};
}

void PrintJson(const json& value) { std::printf("%s\n", value.dump(2, ' ', false, json::error_handler_t::replace).c_str()); }

// Prints [rows] under [head] with each column as wide as its widest cell.
void PrintTable(const std::vector<std::string>& head, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(head.size());
  for (std::size_t c = 0; c < head.size(); ++c) widths[c] = head[c].size();
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  };
  print(head);
  for (const auto& row : rows) print(row);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

// Runs the filter gives, with their labels.
std::vector<RunRecord> ListedRuns(history::ResultsStore& store, const history::RunFilter& filter) {
  std::vector<RunRecord> runs = store.List(filter);
  store.AddLabels(runs);
  return runs;
}

int List(history::ResultsStore& store, const Options& options) {
  std::vector<RunRecord> runs = ListedRuns(store, options.filter);
  if (options.json) {
    json out = json::array();
    for (const RunRecord& run : runs) out.push_back(RunJson(run));
    PrintJson(out);
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  for (const RunRecord& run : runs) {
    rows.push_back({std::to_string(run.id), run.ended, run.script, history::ResultName(run.verdict),
                    Seconds(run.duration), run.host, run.version_under_test,
                    run.batch.empty() || run.attempt == 0 ? run.batch : run.batch + "#" + std::to_string(run.attempt),
                    LabelsText(run)});
  }
  PrintTable({"RUN", "ENDED", "SCRIPT", "VERDICT", "DURATION", "HOST", "VERSION", "BATCH", "LABELS"}, rows);
  return 0;
}

void PrintRunFacts(const RunRecord& run) {
  std::vector<std::vector<std::string>> rows = {
      {"Script", run.script_path.empty() ? run.script : run.script_path}, {"Verdict", history::ResultName(run.verdict)},
      {"Started", run.started}, {"Ended", run.ended}, {"Duration", Seconds(run.duration)}, {"Host", run.host},
      {"User", run.user}, {"Version under test", run.version_under_test}, {"Ordalis", run.ordalis_version},
      {"Results", run.results_path}, {"Report", run.report_path}, {"Log", run.log_path}, {"Record", run.record_path}};
  // A batch's attempts are numbered from 1; attempt 0 is the batch itself.
  if (!run.batch.empty()) {
    rows.push_back({"Batch", run.attempt == 0 ? run.batch + " (the batch itself)"
                                              : run.batch + ", attempt " + std::to_string(run.attempt)});
  }
  if (!run.labels.empty()) rows.push_back({"Labels", LabelsText(run)});
  for (const auto& row : rows) std::printf("%-19s %s\n", (row[0] + ":").c_str(), row[1].c_str());
}

// A number as a person reads it: up to six significant digits.
std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string OptionalNumber(const std::optional<double>& value) { return value ? Number(*value) : "-"; }

json OptionalJson(const std::optional<double>& value) { return value ? json(*value) : json(nullptr); }

int Show(history::ResultsStore& store, const Options& options) {
  std::int64_t id = 0;
  if (options.operands.size() != 1 || !ParseCount(options.operands[0], &id)) {
    Fail("show takes one run number (see 'ordalis history list')");
    return 2;
  }
  std::optional<RunRecord> run = store.Show(id);
  if (!run) return Fail("no run " + std::to_string(id) + " in the store"), 1;
  if (options.json) {
    json out = RunJson(*run);
    out["named_results"] = json::array();
    for (const auto& row : run->named_results) {
      out["named_results"].push_back({{"name", row.label}, {"result", history::ResultName(row.result)},
                                      {"file", row.file}, {"line", row.line}, {"time_taken", row.time_taken}});
    }
    out["failures"] = json::array();
    for (const auto& failure : run->failures) {
      out["failures"].push_back({{"file", failure.file}, {"line", failure.line},
                                 {"result", history::ResultName(failure.result)}, {"text", failure.text},
                                 {"values", failure.values}});
    }
    out["measurements"] = json::array();
    for (const auto& row : run->measurements) {
      const Measurement& m = row.measurement;
      out["measurements"].push_back({{"name", m.name}, {"value", m.text}, {"unit", m.unit}, {"low", OptionalJson(m.low)},
                                     {"high", OptionalJson(m.high)}, {"comparison", ComparisonWord(m.comparison)},
                                     {"result", history::ResultName(m.result)}, {"file", row.file}, {"line", row.line}});
    }
    PrintJson(out);
    return 0;
  }
  PrintRunFacts(*run);
  if (!run->named_results.empty()) std::printf("\nNamed results:\n");
  for (const auto& row : run->named_results) std::printf("  %-16s %s\n", history::ResultName(row.result), row.label.c_str());
  if (!run->failures.empty()) std::printf("\nFailures:\n");
  for (const auto& failure : run->failures) {
    std::string where = failure.file.empty() ? "" : failure.file + "(" + std::to_string(failure.line) + "): ";
    std::printf("  %s%s: %s%s\n", where.c_str(), history::ResultName(failure.result), failure.text.c_str(),
                failure.values.empty() ? "" : (" \xE2\x80\x94 " + failure.values).c_str());
  }
  if (!run->measurements.empty()) std::printf("\nMeasurements:\n");
  for (const auto& row : run->measurements) {
    const Measurement& m = row.measurement;
    std::string limits = m.low || m.high ? ", limits " + OptionalNumber(m.low) + " to " + OptionalNumber(m.high) : "";
    std::printf("  %-16s %s = %s%s%s\n", history::ResultName(m.result), m.name.c_str(), m.text.c_str(),
                m.unit.empty() ? "" : (" " + m.unit).c_str(), limits.c_str());
  }
  return 0;
}

std::string Rate(std::int64_t passed, std::int64_t total) {
  if (total == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(passed) / static_cast<double>(total));
  return text;
}

std::string MeasurementNames(const std::vector<history::MeasurementSummary>& measurements) {
  if (measurements.empty()) return "it has no measurements";
  std::string names = "its measurements: ";
  for (std::size_t i = 0; i < measurements.size(); ++i) names += (i ? ", '" : "'") + measurements[i].name + "'";
  return names;
}

// The statistics of one measurement's numeric values over every stored run of its script.
int MeasurementTrend(history::ResultsStore& store, const Options& options, const std::string& script,
                     const std::string& name) {
  std::vector<history::MeasuredValue> values = store.MeasurementValues(script, name);
  if (values.empty()) return Fail("the measurement '" + name + "' of " + script + " has no numeric values"), 1;
  std::vector<double> numbers;
  numbers.reserve(values.size());
  for (const auto& value : values) numbers.push_back(value.number);
  const history::MeasuredValue& newest = values.back();
  history::MeasurementStatistics stats = history::Summarise(numbers, newest.low, newest.high);
  if (options.json) {
    PrintJson({{"script", script}, {"measurement", name}, {"unit", newest.unit}, {"count", stats.count},
               {"min", stats.min}, {"mean", stats.mean}, {"max", stats.max},
               {"standard_deviation", stats.standard_deviation}, {"low", OptionalJson(newest.low)},
               {"high", OptionalJson(newest.high)}, {"cp", OptionalJson(stats.cp)}, {"cpk", OptionalJson(stats.cpk)}});
    return 0;
  }
  std::string unit = newest.unit.empty() ? "" : " " + newest.unit;
  std::vector<std::vector<std::string>> rows = {
      {"Script", script}, {"Measurement", name + (newest.unit.empty() ? "" : " (" + newest.unit + ")")},
      {"Count", std::to_string(stats.count)}, {"Min", Number(stats.min) + unit}, {"Mean", Number(stats.mean) + unit},
      {"Max", Number(stats.max) + unit},
      {"Std deviation", Number(stats.standard_deviation) + unit + " (sample, n-1)"},
      {"Limits", OptionalNumber(newest.low) + " to " + OptionalNumber(newest.high) + unit + " (newest run's)"}};
  if (stats.cp) {
    rows.push_back({"Cp", Number(*stats.cp)});
    rows.push_back({"Cpk", Number(*stats.cpk)});
  } else {
    rows.push_back({"Cp, Cpk", "need both limits, at least " + std::to_string(history::kCapabilityMinimumValues) +
                                   " values and a spread above zero"});
  }
  for (const auto& row : rows) std::printf("%-15s %s\n", (row[0] + ":").c_str(), row[1].c_str());
  return 0;
}

int Trend(history::ResultsStore& store, const Options& options) {
  if (options.operands.size() != 1) return Fail("trend takes one SCRIPT, SCRIPT:RESULT or SCRIPT:MEASUREMENT"), 2;
  std::string script = options.operands[0];
  std::string named;
  if (std::size_t colon = script.find(':'); colon != std::string::npos) {
    named = script.substr(colon + 1);
    script = script.substr(0, colon);
    if (named.empty()) return Fail("nothing after the colon in '" + options.operands[0] + "': give SCRIPT:RESULT or SCRIPT:MEASUREMENT"), 2;
  }
  script = std::filesystem::path(script).filename().string();
  bool asks_pass_rate = options.pass_rate || options.week;
  std::vector<history::MeasurementSummary> measurements;
  if (!named.empty()) {
    if (!store.HasScript(script)) return Fail("no runs of " + script + " in the store"), 1;
    measurements = store.ScriptMeasurements(script);
    bool measured = std::any_of(measurements.begin(), measurements.end(), [&](const auto& m) { return m.name == named; });
    if (measured && !asks_pass_rate) return MeasurementTrend(store, options, script, named);
  }
  auto points = store.Trend(script, named, options.week ? history::Period::kWeek : history::Period::kDay);
  if (!named.empty() && points.empty()) {
    return Fail(script + " has no named result or measurement '" + named + "'; " + MeasurementNames(measurements)), 1;
  }
  if (options.json) {
    json out = json::array();
    for (const auto& p : points) {
      out.push_back({{"period", p.period}, {"passed", p.passed}, {"failed", p.failed}, {"runs", p.total}});
    }
    PrintJson(out);
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& p : points) {
    rows.push_back({p.period, std::to_string(p.passed), std::to_string(p.failed), std::to_string(p.total),
                    Rate(p.passed, p.total)});
  }
  PrintTable({options.week ? "WEEK OF" : "DAY", "PASSED", "FAILED", "RUNS", "PASS RATE"}, rows);
  return 0;
}

int Measurements(history::ResultsStore& store, const Options& options) {
  if (options.operands.size() != 1) return Fail("measurements takes one SCRIPT"), 2;
  std::string script = std::filesystem::path(options.operands[0]).filename().string();
  if (!store.HasScript(script)) return Fail("no runs of " + script + " in the store"), 1;
  std::vector<history::MeasurementSummary> measurements = store.ScriptMeasurements(script);
  if (options.json) {
    json out = json::array();
    for (const auto& m : measurements) {
      out.push_back({{"name", m.name}, {"unit", m.unit}, {"low", OptionalJson(m.low)}, {"high", OptionalJson(m.high)},
                     {"comparison", m.comparison}, {"values", m.values}, {"numbers", m.numbers}});
    }
    PrintJson(out);
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : measurements) {
    rows.push_back({m.name, m.unit, OptionalNumber(m.low), OptionalNumber(m.high), m.comparison,
                    std::to_string(m.values)});
  }
  PrintTable({"MEASUREMENT", "UNIT", "LOW", "HIGH", "COMPARISON", "VALUES"}, rows);
  return 0;
}

int Flaky(history::ResultsStore& store, const Options& options) {
  auto entries = store.Flaky(options.last);
  if (options.json) {
    json out = json::array();
    for (const auto& e : entries) {
      out.push_back({{"script", e.script}, {"named_result", e.named_result}, {"version_under_test", e.version_under_test},
                     {"passed", e.passed}, {"failed", e.failed}, {"runs", e.runs}});
    }
    PrintJson(out);
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& e : entries) {
    rows.push_back({e.script, e.named_result, e.version_under_test, std::to_string(e.passed), std::to_string(e.failed),
                    std::to_string(e.runs)});
  }
  PrintTable({"SCRIPT", "NAMED RESULT", "VERSION", "PASSED", "FAILED", "RUNS"}, rows);
  return 0;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string Csv(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

int Export(history::ResultsStore& store, const Options& options) {
  if (options.format != "csv" && options.format != "json") return Fail("export needs --format csv or --format json"), 2;
  std::vector<RunRecord> runs = ListedRuns(store, options.filter);
  if (options.format == "json") {
    json out = json::array();
    for (const RunRecord& run : runs) out.push_back(RunJson(run));
    PrintJson(out);
    return 0;
  }
  std::printf("id,script,started,ended,duration,verdict,passed,failed,error,warning,host,user,"
              "version_under_test,batch,attempt,labels,results\n");
  for (const RunRecord& run : runs) {
    std::vector<std::string> fields = {
        std::to_string(run.id), run.script, run.started, run.ended, std::to_string(run.duration),
        history::ResultName(run.verdict), std::to_string(run.counts[TestPassed]), std::to_string(run.counts[TestFailed]),
        std::to_string(run.counts[TestError]), std::to_string(run.counts[TestWarning]), run.host, run.user,
        run.version_under_test, run.batch, std::to_string(run.attempt), LabelsText(run), run.results_path};
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : ",") + Csv(field);
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int Prune(history::ResultsStore& store, const Options& options) {
  if (options.keep_days.has_value() == options.keep_runs.has_value()) {
    return Fail("prune needs one of --keep-days N and --keep-runs N"), 2;
  }
  history::PruneOutcome outcome = options.keep_days ? store.PruneDays(*options.keep_days) : store.PruneRuns(*options.keep_runs);
  for (const std::string& problem : outcome.problems) Fail(problem);
  if (options.json) {
    PrintJson({{"runs_removed", outcome.runs_removed}, {"files_removed", outcome.files_removed},
               {"problems", outcome.problems}});
  } else {
    std::printf("Removed %lld run%s and %lld file%s\n", static_cast<long long>(outcome.runs_removed),
                outcome.runs_removed == 1 ? "" : "s", static_cast<long long>(outcome.files_removed),
                outcome.files_removed == 1 ? "" : "s");
  }
  return outcome.problems.empty() ? 0 : 1;
}

int Import(history::ResultsStore& store, const Options& options) {
  if (options.operands.empty()) return Fail("import takes folders or files of results"), 2;
  report::ImportOutcome outcome = report::ImportResults(options.operands, store);
  for (const std::string& problem : outcome.problems) Fail(problem);
  if (options.json) {
    PrintJson({{"added", outcome.added}, {"skipped", outcome.skipped}, {"problems", outcome.problems}});
  } else {
    std::printf("Added %lld run%s, skipped %lld already stored, %zu unreadable\n",
                static_cast<long long>(outcome.added), outcome.added == 1 ? "" : "s",
                static_cast<long long>(outcome.skipped), outcome.problems.size());
  }
  return outcome.problems.empty() ? 0 : 2;
}

int Dispatch(history::ResultsStore& store, const Options& options) {
  static const std::map<std::string, int (*)(history::ResultsStore&, const Options&)> kCommands = {
      {"list", List}, {"show", Show}, {"trend", Trend}, {"measurements", Measurements}, {"flaky", Flaky},
      {"export", Export}, {"prune", Prune}, {"import", Import}};
  return kCommands.at(options.command)(store, options);
}

int HistoryCommand(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  static const char* const kKnown[] = {"list", "show", "trend", "measurements", "flaky", "export", "prune", "import"};
  if (std::find(std::begin(kKnown), std::end(kKnown), options.command) == std::end(kKnown)) {
    return UsageError(kSyntax, "unknown command '" + options.command + "'");
  }
  std::optional<history::ResultsStore> store = OpenStore(options);
  if (!store) return 2;
  try {
    return Dispatch(*store, options);
  } catch (const std::exception& fault) {
    Fail(std::string("the results store failed: ") + fault.what());
    return 2;
  }
}

const CommandRegistration kRegistration({"history", "ask the results store: runs, trends, flaky scripts", HistoryCommand});

}  // namespace
}  // namespace ordalis::cli
