#include "station/station_history.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "history/results_store.h"
#include "report/run_history.h"

namespace ordalis::station {
namespace {

using Json = nlohmann::json;

constexpr int kTrendScripts = 10;
constexpr std::int64_t kFlakyWindow = 20;
constexpr std::int64_t kScriptsScanned = 500;

// The store of [results_folder]; throws StoreError when it cannot be opened.
history::ResultsStore OpenStore(const std::string& results_folder, const std::string& store) {
  history::StoreLocation location;
  std::string problem;
  if (!history::ParseStoreLocation(report::StoreText(store), results_folder, &location, &problem)) {
    throw history::StoreError(problem);
  }
  return history::ResultsStore(location);
}

// [path] under [folder] as the page asks for it; empty when it lies elsewhere.
std::string UnderFolder(const std::string& path, const std::string& folder) {
  if (path.compare(0, folder.size() + 1, folder + "/") != 0) return std::string();
  return path.substr(folder.size() + 1);
}

Json RunJson(const history::RunRecord& run, const std::string& folder) {
  return Json{{"id", run.id},           {"script", run.script},   {"started", run.started},
              {"duration", run.duration}, {"verdict", history::ResultName(run.verdict)},
              {"host", run.host},       {"report", UnderFolder(run.report_path, folder)}};
}

Json TrendJson(history::ResultsStore& store, const std::string& script) {
  Json points = Json::array();
  for (const history::TrendPoint& point : store.Trend(script, "", history::Period::kDay)) {
    points.push_back({point.period, point.passed, point.failed, point.total});
  }
  return Json{{"script", script}, {"days", points}};
}

Json FlakyJson(history::ResultsStore& store) {
  Json list = Json::array();
  for (const history::FlakyEntry& entry : store.Flaky(kFlakyWindow)) {
    list.push_back({{"script", entry.script}, {"named", entry.named_result},
                    {"version", entry.version_under_test}, {"passed", entry.passed},
                    {"failed", entry.failed}, {"runs", entry.runs}});
  }
  return list;
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string HistoryJson(const std::string& results_folder, const std::string& store, int limit) {
  try {
    history::ResultsStore results = OpenStore(results_folder, store);
    history::RunFilter filter;
    filter.folder = results_folder;
    filter.limit = limit;
    Json runs = Json::array();
    std::vector<std::string> scripts;
    for (const history::RunRecord& run : results.List(filter)) {
      runs.push_back(RunJson(run, results_folder));
      if (scripts.size() < kTrendScripts && std::find(scripts.begin(), scripts.end(), run.script) == scripts.end()) {
        scripts.push_back(run.script);
      }
    }
    Json trends = Json::array();
    for (const std::string& script : scripts) trends.push_back(TrendJson(results, script));
    return Dump(Json{{"runs", runs}, {"trends", trends}, {"flaky", FlakyJson(results)}});
  } catch (const std::exception& error) {
    return Dump(Json{{"problem", std::string("cannot read the results store: ") + error.what()}});
  }
}

std::string FleetJson(const std::string& results_folder, const std::string& store, int runs_scanned) {
  try {
    history::ResultsStore results = OpenStore(results_folder, store);
    history::RunFilter filter;
    filter.limit = runs_scanned;
    Json stations = Json::array();
    std::map<std::string, std::size_t> row_of;
    for (const history::RunRecord& run : results.List(filter)) {
      auto [found, added] = row_of.emplace(run.host, stations.size());
      if (added) {
        stations.push_back({{"host", run.host}, {"script", run.script}, {"started", run.started},
                            {"verdict", history::ResultName(run.verdict)}, {"runs", 0}, {"passed", 0}});
      }
      Json& station = stations[found->second];
      station["runs"] = station["runs"].get<int>() + 1;
      if (run.verdict == TestPassed) station["passed"] = station["passed"].get<int>() + 1;
    }
    return Dump(Json{{"this", history::ThisHost()}, {"stations", stations}});
  } catch (const std::exception& error) {
    return Dump(Json{{"problem", std::string("cannot read the results store: ") + error.what()}});
  }
}

std::string ScriptsJson(const std::string& results_folder, const std::string& store,
                        const std::vector<std::string>& started) {
  Json list = Json::array();
  std::set<std::string> seen(started.begin(), started.end());
  for (const std::string& path : started) list.push_back(path);
  try {
    history::ResultsStore results = OpenStore(results_folder, store);
    history::RunFilter filter;
    filter.folder = results_folder;
    filter.limit = kScriptsScanned;
    for (const history::RunRecord& run : results.List(filter)) {
      struct stat info {};
      if (run.script_path.empty() || !seen.insert(run.script_path).second) continue;
      if (::stat(run.script_path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) list.push_back(run.script_path);
    }
  } catch (const std::exception&) {
    // No store yet: no scripts to offer; a path can still be typed.
  }
  return Dump(list);
}

}  // namespace ordalis::station
