#pragma once
// The PostgreSQL backend of the results store: one database a whole fleet of stations writes
// to, reached through libpq with a `postgresql://` URL. The password comes from the URL, or as
// libpq finds it (PGPASSWORD, ~/.pgpass); it never appears in a message. A connection gives up
// after a connect timeout, and a writer waits for another one no longer than the store's busy
// timeout, so a server that is down or stuck costs a run seconds, never its results.

#include <memory>
#include <string>

#include "history/store_backend.h"

namespace ordalis::history {

// How long, in seconds, a run tries to reach the server before the store is reported down
// (unless the URL or PGCONNECT_TIMEOUT says otherwise).
inline constexpr int kConnectTimeoutSeconds = 10;

// Connects to the database of [url]. Writers take turns: a transaction waits up to
// [lock_timeout_ms] for the one before it. Throws StoreError naming the server (without its
// password) and libpq's reason when it cannot connect. Any thread may open a store; the
// connection then belongs to one thread at a time.
std::unique_ptr<IStoreConnection> OpenPostgresStore(const std::string& url, int lock_timeout_ms);

// [url] as people should read it: any password, in the user part or as a `password=` query
// parameter, replaced by "***". Safe to call from any thread.
std::string DescribePostgresUrl(const std::string& url);

}  // namespace ordalis::history
