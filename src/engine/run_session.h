#pragma once
// RunSession: what one run owns beyond the tree it executes — where its files go, its record
// file, the log files the script registered, and at its end the closing of its testers and the
// moving of its files to their time-stamped names. The run thread makes one at the start of
// every run and winds it up at the end; nothing else touches it.

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "engine/run_files.h"
#include "testers/action_record.h"

namespace ordalis {

class Logger;
class VariableTable;

// Where one run's files go. While the run goes on, its record and log are written in the
// results directory under working names of their own (the script's file name, the process id
// and the run's number in the process), so any number of runs of one script, in one directory,
// at once, never share a file; at the end they move, with the logs the script registered, to
// time-stamped names of the same directory.
struct RunPlace {
  std::string script_directory;  // "." when the script has none
  std::string script_file_name;
  std::string results_override;  // replaces <script directory>/Results
  std::string working_stem;      // <script file name>.running_<pid>_<run number>

  std::string ResultsDirectory() const {
    return results_override.empty() ? script_directory + "/Results" : results_override;
  }
  // The working file of [extension] (".odlrec", ".log").
  std::string WorkingPath(const char* extension) const {
    return ResultsDirectory() + "/" + working_stem + extension;
  }
};

// [directory] and [file_name] of a loaded script, and the results directory override; every
// call names a new run.
RunPlace MakeRunPlace(const std::string& directory, const std::string& file_name,
                      const std::string& results_override);

// The run number the next MakeRunPlace of this process gives (for tests that must know a
// working name in advance).
std::uint64_t NextRunNumber();

// What a finished run leaves for its results: the names its files went to and the log files
// its results document lists.
struct FinishedRun {
  RunNames names;
  std::vector<std::string> results_logs;
  // What could not be written, each with its path and the system's reason; the run's results
  // are incomplete when it is not empty.
  std::vector<std::string> problems;
  // Whether the run's names were claimed in the results directory.
  enum class Claim { kClaimed, kNone } claim = Claim::kNone;

  // What SaveResults is given for this run: the base path and a final '.'.
  std::string stem() const { return names.base_path + "."; }
};

class RunSession {
 public:
  using Variables = std::vector<std::pair<std::string, std::string>>;

  // [log] outlives the session.
  RunSession(RunPlace place, Logger& log);

  const RunPlace& place() const { return place_; }
  // Creates the working directory and starts the record file listing [variables]. A record
  // that cannot be written is logged once and the run goes on without it.
  void Begin(const Variables& variables);
  ActionRecord& record() { return record_; }
  void AddMovedLog(std::string pattern) { moved_logs_.push_back(std::move(pattern)); }
  void AddCopiedLog(std::string pattern) { copied_logs_.push_back(std::move(pattern)); }

  // The run has ended at [now]: its time-stamped names are claimed (the next free one when
  // another run took them), the registered logs are moved and copied into the results
  // directory and every tester [variables] hold is closed and removed.
  FinishedRun CloseRun(VariableTable& variables, std::time_t now);
  // After the last log line: the record file is closed and the working record and log move to
  // the run's names; what cannot be moved is added to the run's problems.
  void FileRun(FinishedRun& run);

 private:
  void CloseTesters(VariableTable& variables);
  void Problem(std::string text);

  RunPlace place_;
  Logger& log_;
  ActionRecord record_;
  std::vector<std::string> moved_logs_;
  std::vector<std::string> copied_logs_;
  std::vector<std::string> problems_;
};

}  // namespace ordalis
