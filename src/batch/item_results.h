#pragma once
// The small results file a built-in batch item writes for itself when it finishes (root element
// results), with the stylesheet "BatchQueueItem.xsl" beside it, and the item's log file moved to
// a name of its own. Safe to call from any thread.

#include <ctime>
#include <string>

namespace ordalis::batch {

inline constexpr const char* kItemStylesheetFile = "BatchQueueItem.xsl";

struct ItemOutcome {
  std::string results_directory;
  std::string file_name;       // the executed file's name without directory
  std::string full_file_name;  // the name the item was executed with
  const char* result = "Failed";  // "Passed", "Failed" or "Aborted"
  std::time_t finished = 0;
};

struct ItemResultsFiles {
  std::string results_file;  // empty when it could not be written
  bool log_moved = false;
};

// Moves [outcome].results_directory/<file name>.log to <stamp>.log and writes <stamp>.xml and the
// stylesheet, where the stamp is the file name and the local time it finished
// ("b.sh_2024_05_01_10_00_00", with "_2", "_3" … when an earlier attempt took that name).
ItemResultsFiles WriteItemResults(const ItemOutcome& outcome);

// The log file an item appends to while it runs.
std::string ItemLogPath(const std::string& results_directory, const std::string& file_name);

}  // namespace ordalis::batch
