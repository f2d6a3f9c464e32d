#include "history/sqlite_backend.h"

#include <sqlite3.h>

namespace ordalis::history {

namespace {

// "PATH: reason"
[[noreturn]] void Fail(const std::string& path, sqlite3* db, const char* doing) {
  std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
  throw StoreError(path + ": " + doing + ": " + reason);
}

class SqliteStatement : public IStoreStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* statement, const std::string& path)
      : db_(db), statement_(statement), path_(path) {}
  ~SqliteStatement() override { sqlite3_finalize(statement_); }

  void Bind(int index, std::int64_t value) override {
    Check(sqlite3_bind_int64(statement_, index, value));
  }
  void Bind(int index, double value) override { Check(sqlite3_bind_double(statement_, index, value)); }
  void Bind(int index, const std::string& value) override {
    Check(sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                            SQLITE_TRANSIENT));
  }
  void BindNull(int index) override { Check(sqlite3_bind_null(statement_, index)); }
  bool Step() override {
    int status = sqlite3_step(statement_);
    if (status == SQLITE_ROW) return true;
    if (status == SQLITE_DONE) return false;
    sqlite3_reset(statement_);
    Fail(path_, db_, "cannot run a statement");
  }
  std::int64_t Integer(int index) const override { return sqlite3_column_int64(statement_, index); }
  double Real(int index) const override { return sqlite3_column_double(statement_, index); }
  std::string Text(int index) const override {
    const unsigned char* text = sqlite3_column_text(statement_, index);
    if (text == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, index)));
  }
  bool IsNull(int index) const override { return sqlite3_column_type(statement_, index) == SQLITE_NULL; }
  void Reset() override {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  void Check(int status) {
    if (status != SQLITE_OK) Fail(path_, db_, "cannot bind a parameter");
  }

  sqlite3* db_;
  sqlite3_stmt* statement_;
  std::string path_;
};

class SqliteConnection : public IStoreConnection {
 public:
  SqliteConnection(std::string path, int busy_timeout_ms) : path_(std::move(path)) {
    dialect_.id_column = "INTEGER PRIMARY KEY";
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StoreError(path_ + ": cannot open: " + reason);
    }
    sqlite3_busy_timeout(db_, busy_timeout_ms);
    try {
      // WAL lets readers (the index, `ordalis history`) go on while a run is written; NORMAL
      // sync is safe in WAL mode and spares a disk flush per run.
      Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteConnection() override { sqlite3_close(db_); }

  void Execute(const std::string& sql) override {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
    std::string reason = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw StoreError(path_ + ": " + reason);
  }
  std::unique_ptr<IStoreStatement> Prepare(const std::string& sql) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
      Fail(path_, db_, "cannot prepare a statement");
    }
    return std::make_unique<SqliteStatement>(db_, statement, path_);
  }
  // IMMEDIATE takes the write lock at once, so the busy timeout covers the whole wait and a
  // transaction never fails half-way for want of the lock.
  void Begin() override { Execute("BEGIN IMMEDIATE"); }
  void Commit() override { Execute("COMMIT"); }
  void Rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  const Dialect& dialect() const override { return dialect_; }
  bool HasTable(const std::string& name) override {
    auto statement = Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    statement->Bind(1, name);
    return statement->Step();
  }
  std::string Describe() const override { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  Dialect dialect_;
};

}  // namespace

std::unique_ptr<IStoreConnection> OpenSqliteStore(const std::string& path, int busy_timeout_ms) {
  return std::make_unique<SqliteConnection>(path, busy_timeout_ms);
}

}  // namespace ordalis::history
