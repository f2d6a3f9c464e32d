#pragma once
// The files a run leaves behind: its time-stamped names, and the log files the script asked to
// have moved or copied into the results directory.

#include <ctime>
#include <string>
#include <vector>

namespace ordalis {

class Logger;

// Names of one run's files.
struct RunNames {
  std::string results_directory;  // override, or script directory + "/Results"
  std::string stamp;              // script file name + "_YYYY_MM_DD_hh_mm_ss"
  std::string base_path;          // results directory + "/" + stamp
};

// The names for a run of [script_file_name] in [script_directory] ending at local time [now];
// a non-empty [override_directory] replaces script directory + "/Results".
RunNames MakeRunNames(const std::string& script_directory, const std::string& script_file_name,
                      const std::string& override_directory, std::time_t now);

// Claims [names] for one run: when another run's files already hold the stamp, the next free
// of stamp + "_2", "_3", … is taken. The claim is the exclusive creation of the results
// document's name (base path + ".xml"), so two processes never take the same stamp; the writer
// later replaces that empty file. False, with the path and the system's reason in [error], when
// nothing can be created in the results directory.
bool ClaimRunNames(RunNames* names, std::string* error);

enum class LogFileAction { kMove, kCopy };

// Moves or copies every file matched by each registered pattern to base path + "_" + name,
// appending stamp + "_" + name to [results_logs] and logging each outcome through [log]. A
// pattern may hold the wildcards '*' and '?' in its last component; every other character is
// itself, and both a slash and a backslash separate directories.
void TransferLogFiles(const std::vector<std::string>& patterns, LogFileAction action,
                      const RunNames& names, std::vector<std::string>* results_logs, Logger& log);

// Removes from [directory] the working files (<script>.running_<pid>_<run>.log and .odlrec) of
// runs whose process is gone: a run killed before its end leaves them, and nothing else ever
// would. A file is kept while its process lives, while its record is locked by a run (another
// machine or container sharing the folder), and always when it is this process's own. Each
// removal is logged through [log].
void RemoveDeadRunFiles(const std::string& directory, Logger& log);

// Moves [from] to [to], across file systems too; false when it cannot.
bool MoveFile(const std::string& from, const std::string& to);

}  // namespace ordalis
