#pragma once
// Where a results store lives. By default it is `results.db` in the results folder, one SQLite
// file per station; `--results-db` or the settings key `ResultsDatabase` name another one: a
// file path (or `sqlite:PATH`) for SQLite, or a `postgresql://user@host/db` URL for a fleet's
// shared server.

#include <memory>
#include <string>

#include "history/store_backend.h"

namespace ordalis::history {

// The file name of the default store inside a results folder.
inline constexpr const char* kStoreFile = "results.db";
// The settings key that names the store when no --results-db is given.
inline constexpr const char* kStoreSettingsKey = "ResultsDatabase";

// The environment variable that sets how long, in milliseconds, a run waits for a store
// another writer holds before giving up on it.
inline constexpr const char* kBusyTimeoutVariable = "ORDALIS_RESULTS_DB_TIMEOUT_MS";

enum class StoreKind { kSqlite, kPostgresql };

struct StoreLocation {
  StoreKind kind = StoreKind::kSqlite;
  std::string target;  // the file for SQLite, the whole URL for PostgreSQL
};

// Reads [text]: empty means [results_folder]/results.db. False, with [error] set, for a URL of
// an unknown kind or an empty path.
bool ParseStoreLocation(const std::string& text, const std::string& results_folder,
                        StoreLocation* location, std::string* error);

// The location as people should read it: the file, or the URL without its password.
std::string DescribeLocation(const StoreLocation& location);

// Opens a connection to the store at [location] (creating an SQLite file when there is none).
// Throws StoreError when it cannot.
std::unique_ptr<IStoreConnection> Connect(const StoreLocation& location);

}  // namespace ordalis::history
