#include "engine/run_session.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "interp/variable_table.h"
#include "testers/tester_proxy.h"
#include "trace/logger.h"

namespace ordalis {

namespace fs = std::filesystem;

namespace {

constexpr const char* kScriptName = "script";

}  // namespace

namespace {

std::atomic<std::uint64_t> next_run_number{1};

std::string Reason(const std::error_code& error) { return error.message(); }

}  // namespace

std::uint64_t NextRunNumber() { return next_run_number.load(); }

RunPlace MakeRunPlace(const std::string& directory, const std::string& file_name,
                      const std::string& results_override) {
  std::string stem = file_name + ".running_" + std::to_string(::getpid()) + "_" +
                     std::to_string(next_run_number.fetch_add(1));
  return RunPlace{directory.empty() ? std::string(".") : directory, file_name, results_override,
                  std::move(stem)};
}

RunSession::RunSession(RunPlace place, Logger& log) : place_(std::move(place)), log_(log) {}

void RunSession::Problem(std::string text) {
  log_.Log(severe, kScriptName, "%s", text.c_str());
  problems_.push_back(std::move(text));
}

void RunSession::Begin(const Variables& variables) {
  std::error_code error;
  fs::create_directories(place_.ResultsDirectory(), error);
  if (error) {
    Problem("cannot create the results directory " + place_.ResultsDirectory() + ": " + Reason(error));
    return;
  }
  RemoveDeadRunFiles(place_.ResultsDirectory(), log_);
  Logger* log = &log_;
  std::vector<std::string>* problems = &problems_;
  const std::string record = place_.WorkingPath(".odlrec");
  bool started = record_.Start(record, variables, [log, problems](const std::string& reason) {
    log->Log(severe, kScriptName, "%s", reason.c_str());
    problems->push_back(reason);
  });
  if (!started) Problem("Failed to create the record file '" + record + "': " + std::strerror(errno));
}

FinishedRun RunSession::CloseRun(VariableTable& variables, std::time_t now) {
  FinishedRun run;
  run.names = MakeRunNames(place_.script_directory, place_.script_file_name, place_.results_override, now);
  std::error_code error;
  fs::create_directories(place_.ResultsDirectory(), error);
  std::string claim_error;
  if (!error && ClaimRunNames(&run.names, &claim_error)) {
    run.claim = FinishedRun::Claim::kClaimed;
    run.results_logs = {run.names.stamp + ".log"};
    TransferLogFiles(moved_logs_, LogFileAction::kMove, run.names, &run.results_logs, log_);
    TransferLogFiles(copied_logs_, LogFileAction::kCopy, run.names, &run.results_logs, log_);
  } else if (problems_.empty() || !error) {
    // A directory that could not be created at the start was reported then.
    Problem(error ? "cannot create the results directory " + place_.ResultsDirectory() + ": " + Reason(error)
                  : claim_error);
  }
  CloseTesters(variables);
  return run;
}

void RunSession::FileRun(FinishedRun& run) {
  record_.Close();
  std::vector<std::pair<std::string, std::string>> moves = {
      {place_.WorkingPath(".odlrec"), run.names.base_path + ".odlrec"},
      {place_.WorkingPath(".log"), run.names.base_path + ".log"}};
  for (const auto& [from, to] : moves) {
    std::error_code ignored;
    if (!fs::exists(from, ignored)) continue;
    if (run.claim == FinishedRun::Claim::kClaimed && MoveFile(from, to)) continue;
    if (run.claim == FinishedRun::Claim::kClaimed) problems_.push_back("cannot move " + from + " to " + to);
  }
  run.problems = problems_;
}

// Every variable whose first element is a tester is removed; each distinct tester is closed
// once, the other references are just released. Plain values stay until the next run.
void RunSession::CloseTesters(VariableTable& variables) {
  std::vector<std::shared_ptr<ITester>> testers;
  for (const auto& [name, value] : variables.Snapshot()) {
    if (value.ElementCount() == 0 || value.Element(0).kind() != ValueKind::Tester) continue;
    std::shared_ptr<ITester> tester = value.Element(0).tester();
    variables.Remove(name);
    bool seen = false;
    for (const auto& kept : testers) seen |= kept.get() == tester.get();
    if (!seen) testers.push_back(std::move(tester));
  }
  for (auto& tester : testers) {
    VariantBool closed = kVariantFalse;
    Status status = CloseTester(*tester, &closed);
    if (Failed(status)) {
      log_.Log(warning, kScriptName, "Close returned an error 0x%08X", static_cast<unsigned>(status));
    } else if (closed == kVariantTrue) {
      log_.Log(information, kScriptName, "%s", "Close called successfully");
    } else {
      log_.Log(warning, kScriptName, "%s", "Close indicated failure");
    }
    tester.reset();
  }
}

}  // namespace ordalis
