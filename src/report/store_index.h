#pragma once
// The results index made from the results store: DIR/index.html shows the newest runs of the
// folder (with a filter box and pages), a pass-rate trend per script drawn inline, a chart and
// histogram per measurement, the flaky scripts and named results, and the batches, all read
// from the store's newest rows, so one more run costs the same however many the folder holds. The page opens from disk without a
// server or a network. Each run's report gets a strip of the last verdicts of its script and
// of its named results from the same store.

#include <cstdint>
#include <string>

#include "history/results_store.h"
#include "report/run_digest.h"

namespace ordalis::report {

// The runs the index lists, and the flaky list is drawn from; the trends come from the
// store's running counts per script and day.
inline constexpr std::int64_t kIndexRunsListed = 500;
// The verdicts a history strip shows, and the named results it shows them for.
inline constexpr std::int64_t kStripLength = 20;
inline constexpr std::size_t kStripNamedResults = 20;

// Writes [directory]/index.html from [store]'s runs of that folder on the station [host]: a
// store a fleet shares holds other stations' runs in folders of the same path, whose files are
// not on this station. Concurrent runs are serialised by a lock on the directory; the last page
// written holds every committed run. False, with [error] saying why, when the store cannot be
// read or the page written.
bool WriteStoreIndex(const std::string& directory, history::ResultsStore& store, const std::string& host,
                     std::string* error);

// The HTML of a run's history strip: the last verdicts of [digest]'s script and of each of its
// named results, up to and including the run [run_id]. Throws StoreError when the store fails.
std::string HistoryStripHtml(history::ResultsStore& store, std::int64_t run_id, const std::string& script,
                             const RunDigest& digest);

}  // namespace ordalis::report
