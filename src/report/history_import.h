#pragma once
// Filling a results store from results already on disk: results documents and batch results
// files, one by one or every one in a folder. A document stored already is skipped, so an
// import may be repeated (or run beside new runs) without doubling anything.

#include <cstdint>
#include <string>
#include <vector>

#include "history/results_store.h"

namespace ordalis::report {

struct ImportOutcome {
  std::int64_t added = 0;
  std::int64_t skipped = 0;            // stored already
  std::vector<std::string> problems;   // one line per file that could not be read or stored
};

// Imports [paths] (files, or folders whose results documents and batch results files are
// imported) into [store]. Batch results files mark the runs of their attempts with the batch
// and the attempt, importing those documents first when they are not stored yet, and add the
// attempts of their entries that ran no script and the batch itself, as a batch run adds them.
ImportOutcome ImportResults(const std::vector<std::string>& paths, history::ResultsStore& store);

}  // namespace ordalis::report
