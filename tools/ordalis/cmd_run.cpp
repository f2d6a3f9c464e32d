// ordalis run: loads a script and runs it once, streaming its log lines.

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "check/script_checker.h"
#include "command.h"
#include "history_options.h"
#include "option_table.h"
#include "settings_warnings.h"
#include "interrupts.h"
#include "engine/script.h"
#include "language/script_loader.h"
#include "language/statement_place.h"
#include "script_check.h"
#include "value_literal.h"
#include "interp/run_judge.h"
#include "interp/variable_table.h"
#include "language/script_loader.h"
#include "mail/results_mail.h"
#include "testers/script_playback.h"
#include "platform/file_descriptor.h"
#include "platform/text.h"
#include "report/junit_writer.h"
#include "report/run_annotations.h"
#include "report/run_history.h"
#include "report/run_reports.h"
#include "settings/application_manager.h"
#include "trace/logger.h"
#include "trace/script_log.h"

namespace ordalis::cli {
namespace {

const char kDescription[] =
    "Loads SCRIPT and runs it once against its testers. Log lines are printed as they happen;\n"
    "at the end the paths of the results document and its report, the failing statements and\n"
    "a summary are printed.\n";

const char kDetails[] =
    "Every run leaves <stamp>.html beside its results document: a report to open in a\n"
    "browser, with the verdict, the named results, the failures with their lines and the\n"
    "whole item tree. The run is added to the results store ('ordalis history'), and the\n"
    "results directory's index.html shows its newest runs from there. A store that cannot be\n"
    "written is named in a warning and a severe line of the run's log; the run's verdict, files\n"
    "and exit status are unchanged.\n"
    "\n"
    "At the end, before the summary, each failing statement is printed once as\n"
    "'file(line): result: text' followed by its values, the text as written in the file (the\n"
    "results document keeps it normalised) and '(N times)' when it failed in a loop; then the\n"
    "statements with a warning, and the conditions that could not be evaluated, which the\n"
    "verdict does not count (--strict fails the run on them; they are also in the report and\n"
    "in the JUnit document's system-err). After the summary, one line counts the named\n"
    "results, the statements and the time:\n"
    "  4 named results: 3 passed, 1 failed \xC2\xB7 14 statements \xC2\xB7 0.09 s\n"
    "\n"
    "A script with syntax errors is reported and not run. A severe log line about a\n"
    "statement is followed by the place of the statement: FILE(LINE): statement text.\n"
    "\n"
    "Ctrl-C stops the script cleanly (the results are still written, and the exit status is\n"
    "1); a second Ctrl-C ends the process at once.\n"
    "\n"
    "Exit status: 0 when the script passed, 1 when it did not, 2 for a usage error, a script\n"
    "that cannot be read, results that cannot be written (the results directory, the results\n"
    "document, the log or the record: each is named on standard error with the reason), a\n"
    "report, results index or JUnit document that cannot be written (also a severe line in\n"
    "the run's log), or with --strict a settings file that cannot be read. --junit writes\n"
    "through a device or FIFO and follows a symbolic link; a closed standard output costs only\n"
    "the lines printed.\n"
    "\n"
    "A settings file that cannot be read (a syntax error, no permission) is named in a\n"
    "warning on standard error and in the run's log; the run goes on without its variables,\n"
    "mail settings and creators.\n";

const CommandSyntax kSyntax{
    "run",
    "[OPTIONS] SCRIPT",
    kDescription,
    {
        {"--log-level", 0, "LEVEL",
         "finest, finer, fine, configuration, information (default), warning or severe: the lowest level "
         "printed"},
        {"--quiet", 0, nullptr, "print only the failing statements and the verdict line"},
        {"--results-dir", 0, "DIR", "write the results into DIR instead of <script dir>/Results"},
        {"--playback", 0, "FILE.odlrec", "replay a recorded run instead of driving the testers"},
        {"--var", 0, "NAME=VALUE",
         "a user variable for this run only. VALUE is a script literal: 12, -7, 0x1f, 2.5, \"text\" (quote it "
         "for the shell: --var 'name=\"a b\"'), true, false, [1, 2], or a list 1,2",
         true},
        {"--string", 0, nullptr, "take every --var VALUE as text, without quotes"},
        {"--strict", 0, nullptr,
         "refuse a script 'ordalis check' finds errors in, and fail the run on condition errors, names not "
         "found and every severe log line the engine writes about a statement (the statement is recorded "
         "Error); a settings file that cannot be read stops a strict run before it starts"},
        {"--version-under-test", 0, "TEXT", "the version label written into the results"},
        {"--email", 0, "ADDRESSES", "extra recipients of the results mail"},
        {"--junit", 0, "FILE",
         "also write the results as a JUnit XML document for CI; its failures and errors are zero exactly "
         "when the exit status is 0 (a script not run is a test case in error)"},
        LabelOption("a label kept with the run in the results store (station=3, unit=SN123); 'ordalis "
                    "history list --label KEY=VALUE' finds the run by it"),
        ResultsDbOption("the results store to add the run to: a file, sqlite:FILE or "
                        "postgresql://USER@HOST/DB (default: the settings key ResultsDatabase, else "
                        "results.db in the results directory)"),
        {"--keep-runs", 0, "all|failed",
         "which runs the results document lists: all of them (default), or every run that is not Passed "
         "with each statement's Passed runs folded into one <run count=\"N\">, for long soak runs"},
        {"--pace", 0, nullptr,
         "keep the pauses that pace graphical clients (20 ms after every statement, 5 s at the end of the "
         "run)"},
    },
    kDetails};

struct Options {
  LoggingLevel level = information;
  bool quiet = false;
  bool pace = false;
  bool strict = false;
  bool string_values = false;
  std::string results_dir;
  std::string playback;
  std::string version_under_test;
  std::string email;
  std::string junit;
  report::HistoryContext history;
  KeepRuns keep_runs = KeepRuns::kAll;
  std::map<std::string, std::string> variables;  // lower-case name -> literal text
  std::string script;
};

bool ParseLevel(const std::string& text, LoggingLevel* level) {
  static const std::pair<const char*, LoggingLevel> kLevels[] = {
      {"finest", finest},   {"finer", finer},     {"fine", fine},     {"configuration", configuration},
      {"config", configuration}, {"information", information}, {"info", information},
      {"warning", warning}, {"warn", warning},    {"severe", severe}};
  for (const auto& [name, value] : kLevels) {
    if (text == name) {
      *level = value;
      return true;
    }
  }
  return false;
}

// Every --var value as a script literal: checked as scripts will read it, or, with --string,
// the text made a string literal. False after printing what is wrong.
bool LiteralVariables(Options* options) {
  for (auto& [name, value] : options->variables) {
    std::string problem;
    std::optional<std::string> literal = options->string_values ? StringLiteral(value, &problem)
                                                                 : CheckedLiteral(value, &problem);
    if (!literal) {
      std::fprintf(stderr, "ordalis run: --var %s=%s: %s\n\n%s", name.c_str(), value.c_str(),
                   problem.c_str(), kLiteralForms);
      return false;
    }
    value = *literal;
  }
  return true;
}

// Reads the values of the options into [options]. Returns what is wrong; empty when all are sound.
std::string ReadOptions(const ParsedArguments& arguments, Options* options) {
  options->quiet = arguments.Has("--quiet");
  options->strict = arguments.Has("--strict");
  options->string_values = arguments.Has("--string");
  options->pace = arguments.Has("--pace");
  if (std::string level = arguments.Value("--log-level", "information"); !ParseLevel(level, &options->level)) {
    return "unknown log level '" + level + "'";
  }
  options->results_dir = arguments.Value("--results-dir");
  options->playback = arguments.Value("--playback");
  options->version_under_test = arguments.Value("--version-under-test");
  options->email = arguments.Value("--email");
  options->junit = arguments.Value("--junit");
  if (std::string problem = ReadHistoryOptions(arguments, &options->history); !problem.empty()) return problem;
  std::string keep = arguments.Value("--keep-runs", "all");
  if (keep != "all" && keep != "failed") return "--keep-runs is 'all' or 'failed', got '" + keep + "'";
  options->keep_runs = keep == "all" ? KeepRuns::kAll : KeepRuns::kFailed;
  for (const std::string& text : arguments.Values("--var")) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return "--var needs NAME=VALUE, got '" + text + "'";
    options->variables[LowerName(text.substr(0, equals))] = text.substr(equals + 1);
  }
  return {};
}

// Reads the command line into [options]: the exit status to end with after help or a usage
// error, else -1.
int ParseOptions(const std::vector<std::string>& args, Options* options) {
  ParsedArguments arguments;
  if (int status = ParseOrExit(kSyntax, args, &arguments); status >= 0) return status;
  if (std::string problem = ReadOptions(arguments, options); !problem.empty()) return UsageError(kSyntax, problem);
  const std::vector<std::string>& scripts = arguments.operands();
  if (scripts.empty()) return UsageError(kSyntax, "no script given");
  if (scripts.size() > 1) {
    // Several scripts are a batch: say so, with the command that runs them.
    return UsageError(kSyntax, "only one script at a time ('" + scripts[1] +
                                   "'); to run several one after another with one summary, use: ordalis batch run " +
                                   scripts[0] + " " + scripts[1] + " ...");
  }
  options->script = scripts[0];
  return LiteralVariables(options) ? -1 : 2;
}

// The stored settings with this run's --var values laid over the user variables.
class RunManager : public CApplicationManager {
 public:
  explicit RunManager(std::map<std::string, std::string> variables) : variables_(std::move(variables)) {}
  Status get_UserVariableValue(const std::string& name, std::string* value) override {
    auto it = variables_.find(LowerName(name));
    if (it == variables_.end()) return CApplicationManager::get_UserVariableValue(name, value);
    if (value == nullptr) return E_POINTER;
    *value = it->second;
    return S_OK;
  }

 private:
  std::map<std::string, std::string> variables_;
};

// Prints log lines as they arrive, coloured by level and with control characters shown
// escaped on a terminal, and hands the lines the log
// file keeps to the run's recorder for the report. A severe line about a statement is followed
// by the statement's place, so the console says where the fault is (the log file keeps its
// fixed line format).
class LinePrinter : public ITraceEventsClient {
 public:
  LinePrinter(LoggingLevel level, bool colour, report::RunRecorder& recorder)
      : level_(level), colour_(colour), recorder_(recorder) {}
  void set_script(std::weak_ptr<CScript> script) { script_ = std::move(script); }
  void Log(std::int64_t time, double seconds, LoggingLevel level, const std::string& variable_name,
           const std::string& message) override {
    if (level < level_ && level < configuration) return;
    std::string line = ScriptLog::FileLine(LogTime{time, seconds}, level, variable_name, message);
    if (level >= configuration) recorder_.OnLogLine(line);
    if (level < level_) return;
    std::string place = level >= severe ? Place() : std::string();
    const char* start = "";
    const char* end = "";
    if (colour_) {
      // What a script or tester logs must not drive the terminal it is watched on.
      line = TerminalText(line);
      place = TerminalText(place);
      end = "\033[0m";
      start = level >= severe ? "\033[31m" : level >= warning ? "\033[33m" : level >= information ? "" : "\033[2m";
      if (!*start) end = "";
    }
    std::lock_guard lock(mutex_);
    std::fprintf(stdout, "%s%s%s\n", start, line.c_str(), end);
    if (!place.empty()) std::fprintf(stdout, "%s%s%s\n", start, place.c_str(), end);
    std::fflush(stdout);
  }
  void LogClear() override {}

 private:
  // The place of the statement running now; empty between statements.
  std::string Place() const {
    std::shared_ptr<CScript> script = script_.lock();
    std::shared_ptr<IScriptItem> current;
    if (!script || Failed(script->get_CurrentItem(&current)) || !current) return {};
    auto item = std::dynamic_pointer_cast<ScriptItem>(current);
    if (!item || item->type() == rootItem) return {};
    return PlaceLine(*item);
  }

  LoggingLevel level_;
  bool colour_;
  report::RunRecorder& recorder_;
  std::weak_ptr<CScript> script_;
  std::mutex mutex_;
};

// Signals the end of the run (the state returning to not running) and tells the recorder of
// every statement run.
class RunWatcher : public IScriptEventsClient {
 public:
  explicit RunWatcher(report::RunRecorder& recorder) : recorder_(recorder) {}
  void Executed(ScriptItem* item) override { recorder_.OnExecuted(item); }
  void ResultsReset() override {}
  void Started() override { started_.store(true); }
  void Reset() override {}
  void StateChanged(ScriptState state) override {
    if (state == ScriptNotRunning && started_.load()) ended_.Set();
  }
  Event& ended() { return ended_; }

 private:
  report::RunRecorder& recorder_;
  std::atomic<bool> started_{false};
  Event ended_;
};

// Reports what keeps the loaded script [root] from running: its syntax errors, with their
// explanations, and in a strict run whatever `ordalis check` finds (warnings are shown and do
// not stop it). False when the script must not run, with [problems] saying why, one line each.
bool Checked(const Options& options, const ScriptItem& root, std::vector<std::string>* problems) {
  std::vector<Finding> findings;
  if (HasErrorItems(root)) {
    // The explanations come from the parser: the script is read once more to collect them.
    ScriptItemPtr again = ScriptItem::Make(rootItem, options.script, options.script, 0);
    ScriptLoader loader;
    loader.Load(options.script, again);
    findings = CheckSyntax(*again, loader.SyntaxNotes());
  } else if (options.strict) {
    InstalledTesters testers;
    CheckOptions check;
    check.testers = &testers;
    std::set<std::string> outside = StoredVariableNames();
    for (const auto& [name, value] : options.variables) outside.insert(name);
    check.defined_outside = [outside](const std::string& name) { return outside.count(name) > 0; };
    findings = ScriptChecker(std::move(check)).Check(root, {});
  }
  PrintFindings(findings, stderr);
  if (!HasErrors(findings)) return true;
  std::size_t errors = std::count_if(findings.begin(), findings.end(),
                                     [](const Finding& f) { return f.severity == Severity::kError; });
  std::string verdict = options.script + " has " + std::to_string(errors) + " error" +
                        (errors == 1 ? "" : "s") + "; not run" + (HasErrorItems(root) ? "" : " (--strict)");
  std::fprintf(stderr, "ordalis run: %s\n", verdict.c_str());
  for (const Finding& finding : findings) {
    if (finding.severity == Severity::kError) problems->push_back(FindingLine(finding));
  }
  problems->push_back(verdict);
  return false;
}

// A script that is not run still leaves its JUnit document, in error, so a CI server does not
// read an older passing one. Returns the exit status: 1, or 2 when the document cannot be written.
int NotRun(const Options& options, const std::vector<std::string>& problems, int status) {
  if (options.junit.empty()) return status;
  std::string error;
  if (report::WriteNotRunJunit(options.script, problems, options.junit, &error)) return status;
  std::fprintf(stderr, "ordalis run: cannot write the JUnit document %s: %s\n", options.junit.c_str(),
               error.c_str());
  return 2;
}

// A file written after the run that could not be written goes into the run's log, beside its
// results document [results_xml], as a severe line, as the run's own files do.
void LogSevere(const std::string& results_xml, const std::string& problem) {
  std::string log = results_xml.substr(0, results_xml.rfind('.')) + ".log";
  ScriptLog::AppendLine(log, ScriptLog::FileLine(ScriptLog::Now(), severe, "Script", problem));
}

enum class Counted { kYes, kNo, kWarnings };

// Prints the failing statements that count in the verdict (or the uncounted conditions, or the
// statements with a warning) as 'file(line): result: text — values', each once, with how many
// times it did not pass in a loop; at most [limit], then how many more there are in [where].
template <typename Shown>
void PrintStatements(const report::RunDigest& digest, Counted which, std::size_t limit, const std::string& where,
                     const Shown& shown) {
  const std::vector<report::FailureDigest>& list = which == Counted::kWarnings ? digest.warnings : digest.failures;
  std::size_t total = which == Counted::kWarnings ? digest.warnings_total
                      : which == Counted::kNo     ? digest.uncounted_total
                                                  : digest.failures_total - digest.uncounted_total;
  std::size_t printed = 0;
  for (const report::FailureDigest& statement : list) {
    if (which != Counted::kWarnings && statement.uncounted != (which == Counted::kNo)) continue;
    if (printed++ == limit) break;
    std::string line = statement.ConsoleLine();
    if (statement.failing_runs > 1) line += " (" + std::to_string(statement.failing_runs) + " times)";
    std::printf("%s\n", shown(line).c_str());
  }
  if (total > limit) std::printf("... and %zu more (all in %s)\n", total - limit, where.c_str());
}

// The run in tests: "4 named results: 3 passed, 1 failed · 14 statements · 0.09 s".
std::string TestsLine(const report::RunDigest& digest) {
  static constexpr std::pair<Result, const char*> kWords[] = {
      {TestPassed, "passed"}, {TestFailed, "failed"}, {TestWarning, "with a warning"}, {TestError, "in error"},
      {TestAborted, "aborted"}, {TestNotImplemented, "not implemented"}, {TestNotRun, "not run"}};
  std::array<std::size_t, 7> rows{};
  for (const report::RowDigest& row : digest.rows) {
    if (row.overall >= 0 && row.overall <= TestAborted) ++rows[static_cast<std::size_t>(row.overall)];
  }
  std::string line;
  if (digest.rows_total == 0) {
    line = "no named results";
  } else {
    line = std::to_string(digest.rows_total) + " named result" + (digest.rows_total == 1 ? "" : "s") + ":";
    const char* separator = " ";
    for (const auto& [result, word] : kWords) {
      std::size_t count = rows[static_cast<std::size_t>(result)];
      if (count == 0 && result != TestPassed && result != TestFailed) continue;
      line += separator + std::to_string(count) + " " + word;
      separator = ", ";
    }
  }
  std::size_t statements = 0;
  for (std::size_t count : digest.statements) statements += count;
  char tail[96];
  std::snprintf(tail, sizeof tail, " \xC2\xB7 %zu statement%s \xC2\xB7 %.2f s", statements,
                statements == 1 ? "" : "s", digest.duration);
  return line + tail;
}

// The end of the run on the console: where its files are, each failing statement, and the
// summary (only its verdict line with --quiet). The report, the JUnit document and the results
// index are written first, so the failures printed are those the report shows.
// Returns false when one of them, or the results document, was not written.
bool PrintOutcome(const Options& options, CScript& script, const report::RunAnnotations& notes) {
  constexpr std::size_t kFailuresPrinted = 10;
  std::string results = script.results_xml_path();
  // A results document that could not be written (a full disk, a failing device) is said, and
  // the run does not end as if it had been kept.
  struct stat info {};
  bool results_written = !results.empty() && ::stat(results.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  if (!results.empty() && !results_written) {
    std::fprintf(stderr, "ordalis run: the results document %s could not be written\n", results.c_str());
    results.clear();
  }
  report::RunReports reports;
  if (!results.empty()) reports = report::PublishRunReports(results, &notes, options.junit);
  bool junit_written = options.junit.empty() || (!results.empty() && reports.junit_written);
  if (!options.junit.empty() && results.empty()) {
    reports.problems.push_back("no results document was written, so no JUnit document either");
  }
  for (const std::string& problem : reports.problems) {
    std::fprintf(stderr, "ordalis run: %s\n", problem.c_str());
    if (!results.empty()) LogSevere(results, problem);
  }
  // The store's own fault is already a severe line of the run's log.
  for (const std::string& warning : reports.warnings) std::fprintf(stderr, "ordalis run: %s\n", warning.c_str());
  if (!options.quiet && !results.empty()) std::printf("Results: %s\n", results.c_str());
  if (!options.quiet && !reports.html_path.empty()) std::printf("Report: %s\n", reports.html_path.c_str());
  const report::RunDigest& digest = reports.outcome.digest;
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  auto shown = [terminal](const std::string& text) { return terminal ? TerminalText(text) : text; };
  const std::string& where = reports.html_path.empty() ? results : reports.html_path;
  PrintStatements(digest, Counted::kYes, kFailuresPrinted, where, shown);
  PrintStatements(digest, Counted::kWarnings, kFailuresPrinted, where, shown);
  if (digest.uncounted_total > 0) {
    std::printf("%s\n", report::kUncountedHeading);
    PrintStatements(digest, Counted::kNo, kFailuresPrinted, where, shown);
  }
  std::string summary = SummaryMailBody(SummaryOf(*script.root()));
  if (options.quiet) summary = summary.substr(0, summary.find('\n') + 1);
  std::printf("%s", shown(summary).c_str());
  if (!options.quiet && !results.empty()) std::printf("%s\n", TestsLine(digest).c_str());
  std::fflush(stdout);
  return reports.problems.empty() && junit_written && (results_written || script.results_xml_path().empty());
}

// Why [path] cannot be read as a script or record file: it cannot be opened, is not a regular
// file (a directory, a device, a FIFO) or is larger than [limit]; empty when it can.
std::string UnreadableFile(const std::string& path, std::uintmax_t limit) {
  FileDescriptor fd = OpenFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    return "larger than " + std::to_string(limit >> 20) + " MiB";
  }
  return std::string();
}

int RunCommand(const std::vector<std::string>& args) {
  Options options;
  if (int status = ParseOptions(args, &options); status >= 0) return status;
  if (std::string problem = UnreadableFile(options.script, ScriptLoader::kMaxScriptBytes);
      !problem.empty()) {
    std::fprintf(stderr, "ordalis run: cannot open '%s': %s\n", options.script.c_str(), problem.c_str());
    return NotRun(options, {"cannot open '" + options.script + "': " + problem}, 2);
  }
  if (std::string problem = UnreadableFile(options.playback, kMaxRecordFileBytes);
      !options.playback.empty() && !problem.empty()) {
    std::fprintf(stderr, "ordalis run: cannot open the record file '%s': %s\n",
                 options.playback.c_str(), problem.c_str());
    return 2;
  }
  // Settings that cannot be read leave the run without their variables, mail settings and
  // creators: said here and in the run's log; a strict run does not start without them.
  if (WarnOfUnreadableSettings("run") > 0 && options.strict) {
    std::fprintf(stderr, "ordalis run: %s not run (--strict): the settings were not read\n", options.script.c_str());
    return 2;
  }
  report::SetDefaultHistoryContext(options.history);
  Pacing pacing;
  if (!options.pace) pacing = Pacing{0, 0, 0};
  sigset_t interrupt_signals = BlockInterrupts();
  auto manager = std::make_shared<RunManager>(options.variables);
  std::shared_ptr<CScript> script = CScript::Create(manager, pacing);
  InterruptWatcher interrupts(interrupt_signals, "ordalis run: stopping the script (Ctrl-C again to quit at once)",
                              [&script] { script->Stop(); });
  report::RunRecorder recorder;
  LoggingLevel printed = options.quiet ? static_cast<LoggingLevel>(severe + 1) : options.level;
  auto printer = std::make_shared<LinePrinter>(printed, isatty(STDOUT_FILENO) != 0, recorder);
  // The printer shows lines from the level asked for and keeps those the log file keeps.
  script->SetTraceEventsClient(printer, std::min(printed, configuration));
  auto watcher = std::make_shared<RunWatcher>(recorder);
  script->SetScriptEventsClient(watcher);

  VariantBool loaded = kVariantFalse;
  script->Load(options.script, &loaded);
  printer->set_script(script);
  ScriptItemPtr root = script->root();
  if (std::vector<std::string> problems; !Checked(options, *root, &problems)) {
    return NotRun(options, problems, 1);
  }
  if (options.strict) script->judge()->set_strictness(RunStrictness::kStrict);
  if (!options.results_dir.empty()) script->put_ResultsDirectory(options.results_dir);
  script->set_keep_runs(options.keep_runs);
  if (!options.version_under_test.empty()) script->put_VersionUnderTest(options.version_under_test);
  if (!options.email.empty()) script->put_EmailAddress(options.email);
  if (!options.playback.empty()) script->PlaybackFile(options.playback);

  script->Run();
  watcher->ended().Wait();
  script->SetTraceEventsClient(nullptr);
  script->SetScriptEventsClient(nullptr);
  report::RunAnnotations notes = recorder.Finish(*root);
  notes.strict = options.strict;
  bool reports_written = PrintOutcome(options, *script, notes);
  // Results that could not be written are a failure of the run, whatever its verdict.
  std::vector<std::string> problems = script->results_problems();
  for (const std::string& problem : problems) std::fprintf(stderr, "ordalis run: %s\n", problem.c_str());
  if (!problems.empty()) return 2;
  if (interrupts.interrupted()) {
    std::fprintf(stderr, "ordalis run: the run was stopped before its end\n");
    return reports_written ? 1 : 2;
  }
  if (!reports_written) return 2;
  bool passed = root->current_result() == TestPassed;
  std::uint64_t faults = script->judge()->faults();
  if (passed && faults > 0) {
    std::fprintf(stderr,
                 "ordalis run: the script passed, but the run met %llu fault%s (severe log lines "
                 "or names not found) that the language lets pass; 'ordalis check %s' finds most "
                 "of them before a run, and 'ordalis run --strict' fails such a run\n",
                 static_cast<unsigned long long>(faults), faults == 1 ? "" : "s",
                 options.script.c_str());
  }
  return passed ? 0 : 1;
}

const CommandRegistration kRegistration({"run", "load a script and run it once", RunCommand});

}  // namespace
}  // namespace ordalis::cli
