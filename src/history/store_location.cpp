#include "history/store_location.h"

#include <cstdlib>
#include <filesystem>

#include "history/postgres_backend.h"
#include "history/sqlite_backend.h"

namespace ordalis::history {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool ParseStoreLocation(const std::string& text, const std::string& results_folder,
                        StoreLocation* location, std::string* error) {
  if (text.empty()) {
    std::filesystem::path folder = std::filesystem::path(results_folder.empty() ? std::string(".") : results_folder);
    *location = {StoreKind::kSqlite, (folder / kStoreFile).string()};
    return true;
  }
  if (StartsWith(text, "postgresql://") || StartsWith(text, "postgres://")) {
    *location = {StoreKind::kPostgresql, text};
    return true;
  }
  std::string path = StartsWith(text, "sqlite:") ? text.substr(7) : text;
  if (path.empty() || path.find("://") != std::string::npos) {
    if (error) *error = "'" + text + "' is no results store: give a file path, sqlite:PATH or postgresql://…";
    return false;
  }
  *location = {StoreKind::kSqlite, path};
  return true;
}

std::string DescribeLocation(const StoreLocation& location) {
  return location.kind == StoreKind::kSqlite ? location.target : DescribePostgresUrl(location.target);
}

std::unique_ptr<IStoreConnection> Connect(const StoreLocation& location) {
  // A station may wait longer (or, in tests, shorter) for a busy store than the default.
  const char* timeout = std::getenv(kBusyTimeoutVariable);
  int milliseconds = timeout ? std::atoi(timeout) : 0;
  if (milliseconds <= 0) milliseconds = kBusyTimeoutMs;
  if (location.kind == StoreKind::kPostgresql) return OpenPostgresStore(location.target, milliseconds);
  return OpenSqliteStore(location.target, milliseconds);
}

}  // namespace ordalis::history
