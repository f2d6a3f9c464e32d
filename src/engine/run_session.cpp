#include "engine/run_session.h"

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

RunPlace MakeRunPlace(const std::string& directory, const std::string& file_name,
                      const std::string& results_override) {
  return RunPlace{directory.empty() ? std::string(".") : directory, file_name, results_override};
}

RunSession::RunSession(RunPlace place, Logger& log) : place_(std::move(place)), log_(log) {}

void RunSession::Begin(const Variables& variables) {
  std::error_code ignored;
  fs::create_directories(place_.WorkingDirectory(), ignored);
  Logger* log = &log_;
  record_.Start(place_.WorkingPath(".odlrec"), variables, [log](const std::string& reason) {
    log->Log(severe, kScriptName, "%s", reason.c_str());
  });
}

FinishedRun RunSession::CloseRun(VariableTable& variables, std::time_t now) {
  std::error_code ignored;
  fs::create_directories(place_.WorkingDirectory(), ignored);
  FinishedRun run;
  run.names = MakeRunNames(place_.script_directory, place_.script_file_name, place_.results_override, now);
  if (!place_.results_override.empty()) fs::create_directories(place_.results_override, ignored);
  run.results_logs = {run.names.stamp + ".log"};
  TransferLogFiles(moved_logs_, LogFileAction::kMove, run.names, &run.results_logs, log_);
  TransferLogFiles(copied_logs_, LogFileAction::kCopy, run.names, &run.results_logs, log_);
  CloseTesters(variables);
  return run;
}

void RunSession::FileRun(const FinishedRun& run) {
  record_.Close();
  MoveFile(place_.WorkingPath(".odlrec"), run.names.base_path + ".odlrec");
  MoveFile(place_.WorkingPath(".log"), run.names.base_path + ".log");
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
