#pragma once
// The SQLite backend of the results store: one file, written in WAL mode so readers never wait
// for a writer, with a busy timeout so that runs finishing together queue for the write lock
// instead of failing.

#include <memory>
#include <string>

#include "history/store_backend.h"

namespace ordalis::history {

// How long a writer waits for another one before the store reports it locked.
inline constexpr int kBusyTimeoutMs = 30000;

// Opens (creating when missing) the SQLite store at [path]. Throws StoreError naming the file
// and the reason when it cannot be opened or is not a database.
std::unique_ptr<IStoreConnection> OpenSqliteStore(const std::string& path,
                                                  int busy_timeout_ms = kBusyTimeoutMs);

}  // namespace ordalis::history
