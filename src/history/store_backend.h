#pragma once
// The results store's view of a database: a connection that runs statements, a transaction, a
// prepared statement with bound parameters and the rows it returns. The store (results_store.h)
// speaks only through these interfaces and only in SQL that SQLite and PostgreSQL both accept,
// so a database of another kind is one new class beside sqlite_backend.h. Parameters are
// numbered from 1 and written `?` in the store's SQL; a backend whose server wants `$1`, `$2`…
// rewrites them in Prepare.
//
// A connection and its statements belong to one thread at a time; two processes or threads
// that share a store each open their own connection.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ordalis::history {

// A fault of the database (locked past the busy timeout, a corrupt file, a full disk, a server
// that went away), with the backend's own words.
class StoreError : public std::exception {
 public:
  explicit StoreError(std::string what) : what_(std::move(what)) {}
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string what_;
};

class IStoreStatement {
 public:
  virtual ~IStoreStatement() = default;
  // Binds parameter [index] (from 1) for the next Step; bindings stay until Reset.
  virtual void Bind(int index, std::int64_t value) = 0;
  virtual void Bind(int index, double value) = 0;
  virtual void Bind(int index, const std::string& value) = 0;
  virtual void BindNull(int index) = 0;
  // Runs the statement or moves to its next row: true while a row is there to read.
  virtual bool Step() = 0;
  // The current row's column [index] (from 0); a NULL reads as 0 or "".
  virtual std::int64_t Integer(int index) const = 0;
  virtual double Real(int index) const = 0;
  virtual std::string Text(int index) const = 0;
  virtual bool IsNull(int index) const = 0;
  // Makes the statement ready to run again with new bindings.
  virtual void Reset() = 0;
};

// The pieces of SQL that differ between databases; everything else the store writes is shared.
struct Dialect {
  // The column type of a row id the database numbers itself.
  std::string id_column;
  // A 64-bit integer and a floating-point column.
  std::string big_integer = "BIGINT";
  std::string real = "DOUBLE PRECISION";
};

class IStoreConnection {
 public:
  virtual ~IStoreConnection() = default;
  // Runs [sql], which returns no rows and takes no parameters (several statements may be
  // separated by ';').
  virtual void Execute(const std::string& sql) = 0;
  virtual std::unique_ptr<IStoreStatement> Prepare(const std::string& sql) = 0;
  // A write transaction: Begin waits for other writers as long as the backend's timeout allows.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  // Never throws: called while unwinding from a fault.
  virtual void Rollback() noexcept = 0;
  virtual const Dialect& dialect() const = 0;
  // Whether a table of this name exists.
  virtual bool HasTable(const std::string& name) = 0;
  // What the store is called in messages: the file, or the server without its password.
  virtual std::string Describe() const = 0;
};

// Rolls back a transaction that was begun and not committed, whichever way the scope is left.
class Transaction {
 public:
  explicit Transaction(IStoreConnection& connection) : connection_(connection) { connection_.Begin(); }
  ~Transaction() {
    if (!done_) connection_.Rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit() {
    connection_.Commit();
    done_ = true;
  }

 private:
  IStoreConnection& connection_;
  bool done_ = false;
};

}  // namespace ordalis::history
