#include "history/store_location.h"

#include <cstdlib>
#include <filesystem>

#include "history/sqlite_backend.h"

namespace ordalis::history {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The URL with any password between "user:" and "@" replaced by "***".
std::string WithoutPassword(const std::string& url) {
  std::size_t scheme = url.find("://");
  std::size_t at = url.find('@');
  if (scheme == std::string::npos || at == std::string::npos) return url;
  std::size_t colon = url.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

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
  return location.kind == StoreKind::kSqlite ? location.target : WithoutPassword(location.target);
}

std::unique_ptr<IStoreConnection> Connect(const StoreLocation& location) {
  if (location.kind == StoreKind::kPostgresql) {
    throw StoreError(DescribeLocation(location) + ": this ordalis was not built with PostgreSQL support");
  }
  // A station may wait longer (or, in tests, shorter) for a busy store than the default.
  const char* timeout = std::getenv(kBusyTimeoutVariable);
  int milliseconds = timeout ? std::atoi(timeout) : 0;
  return OpenSqliteStore(location.target, milliseconds > 0 ? milliseconds : kBusyTimeoutMs);
}

}  // namespace ordalis::history
