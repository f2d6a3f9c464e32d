// The store's tables carry a version: a new store is made at the current one, an open store is
// left as it is, and a store made by a newer version is refused rather than written wrongly.

#include <string>

#include "history/sqlite_backend.h"
#include "history/store_schema.h"
#include "history_test_support.h"

namespace ordalis::history {
namespace {

int Version(IStoreConnection& connection) {
  auto statement = connection.Prepare("SELECT version FROM store_schema");
  return statement->Step() ? static_cast<int>(statement->Integer(0)) : -1;
}

TEST_F(HistoryScratch, NewStoreIsMadeAtTheCurrentVersionOnce) {
  { ResultsStore store = OpenStore(); }
  auto connection = OpenSqliteStore(StorePath());
  EXPECT_EQ(Version(*connection), kSchemaVersion);
  connection->Execute("INSERT INTO folder_runs (host, folder, runs) VALUES ('station-1', 'kept', 7)");
  { ResultsStore again = OpenStore(); }
  auto kept = connection->Prepare("SELECT runs FROM folder_runs WHERE folder = 'kept'");
  ASSERT_TRUE(kept->Step()) << "opening a current store again must not make it anew";
  EXPECT_EQ(kept->Integer(0), 7);
}

TEST_F(HistoryScratch, StoreOfANewerVersionIsRefused) {
  {
    auto connection = OpenSqliteStore(StorePath());
    connection->Execute("CREATE TABLE store_schema (version INTEGER NOT NULL); INSERT INTO store_schema VALUES (99)");
  }
  try {
    ResultsStore store = OpenStore();
    ADD_FAILURE() << "a store of version 99 was opened";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("newer than this ordalis knows"), std::string::npos) << error.what();
  }
  auto outcome = Run(Script("rail.odl"));
  EXPECT_EQ(outcome.status, 0) << outcome.output;
  EXPECT_NE(outcome.output.find("has version 99"), std::string::npos) << outcome.output;
}

}  // namespace
}  // namespace ordalis::history
