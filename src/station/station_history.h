#pragma once
// The station's history as the page shows it: its newest runs from the results store with
// their verdicts and reports, each script's pass rate per day, and the flaky list — the same
// questions `ordalis history` answers.

#include <string>
#include <vector>

namespace ordalis::station {

// The runs of [results_folder] in the store [store] (empty for results.db in the folder) as
// one JSON document; a store that cannot be read gives {"problem": …}. [limit] caps the runs.
std::string HistoryJson(const std::string& results_folder, const std::string& store, int limit);
// The stations that write to the store (a fleet's shared PostgreSQL store, or this station's
// own): each one's last run, its verdict, and how many of its last runs passed, as one JSON
// document; [runs_scanned] newest runs of the store are counted.
std::string FleetJson(const std::string& results_folder, const std::string& store, int runs_scanned);

// The scripts [started] here, then those the store knows the station ran, newest first, as a
// JSON array of the paths that are still there.
std::string ScriptsJson(const std::string& results_folder, const std::string& store,
                        const std::vector<std::string>& started);

}  // namespace ordalis::station
