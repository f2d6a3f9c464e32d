// A station's index in a store other stations share: stations set up alike write to results
// folders of the same path, yet each station's index.html lists, counts and draws the trends of
// its own runs only, whose reports are on that station. Asked of an SQLite file and of a
// PostgreSQL server, as a fleet uses it.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "history_test_support.h"
#include "postgres_server.h"
#include "report/store_index.h"

namespace ordalis::history {
namespace {

constexpr const char* kElsewhere = "station-elsewhere";

// What a station's index shows.
struct IndexPage {
  std::string html;
  std::vector<std::string> hosts;  // the host of each listed run
};

IndexPage ReadIndex(const fs::path& folder) {
  IndexPage page{ReadText(folder / "index.html"), {}};
  const std::string kData = "id=\"runs-data\">";
  std::size_t from = page.html.find(kData);
  if (from == std::string::npos) return page;
  from += kData.size();
  nlohmann::json rows = nlohmann::json::parse(page.html.substr(from, page.html.find("</script>", from) - from));
  for (const auto& row : rows) page.hosts.push_back(row[7].get<std::string>());
  return page;
}

// The trend table's row of [script]: its runs and pass rate.
std::string TrendRow(const std::string& script, int runs, const std::string& rate) {
  return "<td>" + script + "</td><td class=\"n\">" + std::to_string(runs) + "</td><td class=\"n\">" + rate + "</td>";
}

// A failing run of another station, of the same script, on the same day, into a folder of the
// same path as [own]'s.
RunRecord Elsewhere(const RunRecord& own, int number) {
  RunRecord run = own;
  run.host = kElsewhere;
  run.stamp = own.stamp + "_elsewhere" + std::to_string(number);
  run.results_path = own.folder + "/" + run.stamp + ".xml";
  run.report_path = own.folder + "/" + run.stamp + ".html";
  run.verdict = TestFailed;
  run.counts = {0, 1, 0, 0, 0, 0, 0};
  return run;
}

struct Backend {
  const char* name;
  StoreKind kind;
};

void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

class StationIndex : public HistoryScratch, public testing::WithParamInterface<Backend> {
 protected:
  void SetUp() override {
    HistoryScratch::SetUp();
    if (GetParam().kind != StoreKind::kPostgresql) return;
    server_.emplace();
    ORDALIS_NEED_POSTGRES(*server_);
  }

  // The store's text for --results-db.
  std::string StoreText() {
    if (GetParam().kind == StoreKind::kSqlite) return StorePath();
    if (url_.empty()) url_ = server_->Database("station_index");
    return url_;
  }

  std::optional<PostgresServer> server_;
  std::string url_;
};

TEST_P(StationIndex, ListsCountsAndDrawsOnlyItsOwnRunsOfTheFolder) {
  fs::path folder = dir_ / "Results";
  std::string run = "--results-db '" + StoreText() + "' " + Script("rail.odl");
  ASSERT_EQ(Run(run).status, 0);
  ResultsStore shared(StoreLocation{GetParam().kind, StoreText()});
  RunRecord own = shared.List({}).at(0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(shared.Append(Elsewhere(own, i)), AppendOutcome::kAdded);
  ASSERT_EQ(Run(run).status, 0);  // this station's second run writes its index again

  IndexPage here = ReadIndex(folder);
  EXPECT_EQ(here.hosts, std::vector<std::string>(2, own.host));
  EXPECT_NE(here.html.find(">2 runs in the results store"), std::string::npos);
  EXPECT_NE(here.html.find(TrendRow(own.script, 2, "100%")), std::string::npos) << here.html;

  // The other station's index, made from the same store, is its own too.
  std::string error;
  ASSERT_TRUE(report::WriteStoreIndex(folder.string(), shared, kElsewhere, &error)) << error;
  IndexPage there = ReadIndex(folder);
  EXPECT_EQ(there.hosts, std::vector<std::string>(3, kElsewhere));
  EXPECT_NE(there.html.find(">3 runs in the results store"), std::string::npos);
  EXPECT_NE(there.html.find(TrendRow(own.script, 3, "0%")), std::string::npos) << there.html;

  // The store's own answers still cover every station.
  EXPECT_EQ(shared.List({}).size(), 5u);
}

const Backend kBackends[] = {{"SqliteFile", StoreKind::kSqlite}, {"PostgresqlServer", StoreKind::kPostgresql}};

INSTANTIATE_TEST_SUITE_P(Stores, StationIndex, testing::ValuesIn(kBackends),
                         [](const testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ordalis::history
