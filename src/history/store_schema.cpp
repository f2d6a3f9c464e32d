#include "history/store_schema.h"

#include <string>
#include <vector>

namespace ordalis::history {

namespace {

std::string CountColumns(const Dialect& dialect) {
  std::string columns;
  for (const char* name : kCountColumns) columns += std::string(", ") + name + " " + dialect.big_integer + " NOT NULL DEFAULT 0";
  return columns;
}

// Version 1: the runs, their labels, named results and failing statements.
std::vector<std::string> VersionOne(const Dialect& d) {
  return {
      "CREATE TABLE runs (id " + d.id_column +
          ", script TEXT NOT NULL, script_path TEXT NOT NULL DEFAULT '', stamp TEXT NOT NULL,"
          " started TEXT NOT NULL, ended TEXT NOT NULL, day TEXT NOT NULL, duration " + d.real +
          " NOT NULL DEFAULT 0, verdict INTEGER NOT NULL" + CountColumns(d) +
          ", host TEXT NOT NULL DEFAULT '', user_name TEXT NOT NULL DEFAULT '',"
          " version_under_test TEXT NOT NULL DEFAULT '', ordalis_version TEXT NOT NULL DEFAULT '',"
          " folder TEXT NOT NULL DEFAULT '', results_path TEXT NOT NULL,"
          " log_path TEXT NOT NULL DEFAULT '', record_path TEXT NOT NULL DEFAULT '',"
          " report_path TEXT NOT NULL DEFAULT '', batch TEXT NOT NULL DEFAULT '',"
          " attempt INTEGER NOT NULL DEFAULT 0)",
      // A run is its station's results document: stations of a fleet that share a store
      // may well write documents of the same path.
      "CREATE UNIQUE INDEX runs_by_document ON runs (results_path, host)",
      "CREATE INDEX runs_by_script ON runs (script, id)",
      "CREATE INDEX runs_by_folder ON runs (host, folder, id)",
      "CREATE INDEX runs_by_ended ON runs (ended)",
      "CREATE TABLE run_labels (run_id " + d.big_integer +
          " NOT NULL REFERENCES runs (id) ON DELETE CASCADE, name TEXT NOT NULL, value TEXT NOT NULL)",
      "CREATE INDEX run_labels_by_run ON run_labels (run_id)",
      "CREATE INDEX run_labels_by_name ON run_labels (name, value)",
      "CREATE TABLE named_results (run_id " + d.big_integer +
          " NOT NULL REFERENCES runs (id) ON DELETE CASCADE, label TEXT NOT NULL, result INTEGER NOT NULL" +
          CountColumns(d) + ", file TEXT NOT NULL DEFAULT '', line INTEGER NOT NULL DEFAULT 0, time_taken " +
          d.real + " NOT NULL DEFAULT 0)",
      "CREATE INDEX named_results_by_run ON named_results (run_id)",
      "CREATE INDEX named_results_by_label ON named_results (label, run_id)",
      "CREATE TABLE failures (run_id " + d.big_integer +
          " NOT NULL REFERENCES runs (id) ON DELETE CASCADE, file TEXT NOT NULL DEFAULT '',"
          " line INTEGER NOT NULL DEFAULT 0, result INTEGER NOT NULL, text TEXT NOT NULL DEFAULT '',"
          " run_values TEXT NOT NULL DEFAULT '')",
      "CREATE INDEX failures_by_run ON failures (run_id)",
      // Kept up to date with every run added or pruned, so the index of a folder reads a few
      // rows however many runs the folder holds. Stations of a fleet set up alike share folder
      // paths, so a folder is counted per station.
      "CREATE TABLE folder_runs (host TEXT NOT NULL, folder TEXT NOT NULL, runs " + d.big_integer +
          " NOT NULL, PRIMARY KEY (host, folder))",
      "CREATE TABLE script_days (host TEXT NOT NULL, folder TEXT NOT NULL, script TEXT NOT NULL, day TEXT NOT NULL,"
          " passed " + d.big_integer + " NOT NULL, failed " + d.big_integer + " NOT NULL, runs " + d.big_integer +
          " NOT NULL, PRIMARY KEY (host, folder, script, day))",
  };
}

// Version 2: the measurements of each run.
std::vector<std::string> VersionTwo(const Dialect& d) {
  return {
      "CREATE TABLE measurements (run_id " + d.big_integer +
          " NOT NULL REFERENCES runs (id) ON DELETE CASCADE, script TEXT NOT NULL, name TEXT NOT NULL,"
          " kind TEXT NOT NULL, number " + d.real + " NOT NULL DEFAULT 0, value_text TEXT NOT NULL DEFAULT '',"
          " unit TEXT NOT NULL DEFAULT '', low " + d.real + ", high " + d.real + ", comparison TEXT NOT NULL,"
          " result INTEGER NOT NULL, file TEXT NOT NULL DEFAULT '', line INTEGER NOT NULL DEFAULT 0)",
      "CREATE INDEX measurements_by_run ON measurements (run_id)",
      // A measurement's values over the runs of its script, oldest or newest first.
      "CREATE INDEX measurements_by_name ON measurements (script, name, run_id)",
  };
}

// Each entry brings a store from version i + 1 to i + 2; a later version adds its step here.
using Migration = std::vector<std::string> (*)(const Dialect&);
constexpr Migration kMigrations[] = {VersionOne, VersionTwo};
static_assert(std::size(kMigrations) == kSchemaVersion);

int StoredVersion(IStoreConnection& connection) {
  if (!connection.HasTable("store_schema")) return 0;
  auto statement = connection.Prepare("SELECT version FROM store_schema");
  return statement->Step() ? static_cast<int>(statement->Integer(0)) : 0;
}

}  // namespace

void PrepareSchema(IStoreConnection& connection) {
  // Most opens find the store current and need no write lock at all.
  if (StoredVersion(connection) == kSchemaVersion) return;
  Transaction transaction(connection);
  int version = StoredVersion(connection);  // again, now that no other writer can change it
  if (version > kSchemaVersion) {
    throw StoreError(connection.Describe() + ": the store has version " + std::to_string(version) +
                     ", newer than this ordalis knows (" + std::to_string(kSchemaVersion) + ")");
  }
  if (version == kSchemaVersion) return;
  if (version == 0) connection.Execute("CREATE TABLE store_schema (version INTEGER NOT NULL)");
  for (int step = version; step < kSchemaVersion; ++step) {
    for (const std::string& sql : kMigrations[step](connection.dialect())) connection.Execute(sql);
  }
  connection.Execute("DELETE FROM store_schema");
  connection.Execute("INSERT INTO store_schema (version) VALUES (" + std::to_string(kSchemaVersion) + ")");
  transaction.Commit();
}

}  // namespace ordalis::history
