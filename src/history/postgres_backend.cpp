#include "history/postgres_backend.h"

#include <libpq-fe.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

namespace ordalis::history {

namespace {

// The advisory lock every writer of a store holds for its transaction: appends and migrations
// of one database follow each other as they do in an SQLite file, so two stations opening a new
// database do not both create its tables, and a run is never stored twice.
constexpr long long kWriterLock = 0x4f52444c48535452LL;  // "ORDLHSTR"

// The parts of a URL that hold a password: [start, end) of the value after "user:" and of each
// `password=` query parameter.
std::vector<std::pair<std::size_t, std::size_t>> PasswordSpans(const std::string& url) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return spans;
  std::size_t start = scheme + 3;
  // libpq reads user information up to the first '@' before the first '/'.
  std::size_t stop = url.find_first_of("@/", start);
  if (stop != std::string::npos && url[stop] == '@') {
    std::size_t colon = url.find(':', start);
    if (colon < stop) spans.emplace_back(colon + 1, stop);
  }
  std::size_t query = url.find('?', start);
  while (query != std::string::npos) {
    std::size_t end = url.find('&', query + 1);
    std::size_t value_end = end == std::string::npos ? url.size() : end;
    constexpr std::string_view kKey = "password=";
    if (url.compare(query + 1, kKey.size(), kKey) == 0) spans.emplace_back(query + 1 + kKey.size(), value_end);
    query = end;
  }
  return spans;
}

std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned value = 0;
    if (text[i] == '%' && i + 2 < text.size() && std::sscanf(text.c_str() + i + 1, "%2x", &value) == 1) {
      decoded += static_cast<char>(value);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// Every password [url] carries, as written and as libpq decodes it.
std::vector<std::string> PasswordsOf(const std::string& url) {
  std::vector<std::string> passwords;
  for (const auto& [from, to] : PasswordSpans(url)) {
    std::string written = url.substr(from, to - from);
    if (written.empty()) continue;
    passwords.push_back(written);
    std::string decoded = PercentDecoded(written);
    if (decoded != written) passwords.push_back(decoded);
  }
  return passwords;
}

// libpq's words on one line, without any of [passwords] (a message about a malformed URL may
// quote a piece of it).
std::string Reason(const char* message, const std::vector<std::string>& passwords) {
  std::string text;
  for (const char* c = message ? message : ""; *c; ++c) {
    bool space = *c == ' ' || *c == '\n' || *c == '\t';
    if (!space) text += *c;
    else if (!text.empty() && text.back() != ' ') text += ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  for (const std::string& password : passwords) {
    for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 3)) {
      text.replace(at, password.size(), "***");
    }
  }
  return text.empty() ? "no reason given" : text;
}

// '?' parameters (the store's shared SQL) as PostgreSQL's $1, $2…; quoted text is left alone.
std::string Numbered(const std::string& sql, int* count) {
  std::string out;
  char quote = 0;
  *count = 0;
  for (char c : sql) {
    if (quote) {
      quote = c == quote ? 0 : quote;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      out += '$' + std::to_string(++*count);
      continue;
    }
    out += c;
  }
  return out;
}

// Owns a PGresult.
struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using ResultHandle = std::unique_ptr<PGresult, ResultDeleter>;

class PostgresConnection;

class PostgresStatement : public IStoreStatement {
 public:
  PostgresStatement(PostgresConnection& connection, std::string name, int parameters)
      : connection_(connection), name_(std::move(name)), values_(static_cast<std::size_t>(parameters)) {}

  void Bind(int index, std::int64_t value) override { Set(index, std::to_string(value)); }
  void Bind(int index, double value) override {
    if (std::isnan(value)) return Set(index, "NaN");
    if (std::isinf(value)) return Set(index, value > 0 ? "Infinity" : "-Infinity");
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    Set(index, text);
  }
  void Bind(int index, const std::string& value) override { Set(index, value); }
  void BindNull(int index) override { Slot(index).reset(); }
  bool Step() override;
  std::int64_t Integer(int index) const override { return std::strtoll(Value(index), nullptr, 10); }
  double Real(int index) const override { return std::strtod(Value(index), nullptr); }
  std::string Text(int index) const override { return Value(index); }
  bool IsNull(int index) const override { return !OnRow(index) || PQgetisnull(result_.get(), row_, index); }
  void Reset() override {
    result_.reset();
    row_ = -1;
    for (auto& value : values_) value.reset();
  }

 private:
  std::optional<std::string>& Slot(int index);
  void Set(int index, std::string value) { Slot(index) = std::move(value); }
  bool OnRow(int index) const {
    return result_ && row_ >= 0 && row_ < PQntuples(result_.get()) && index >= 0 && index < PQnfields(result_.get());
  }
  const char* Value(int index) const { return OnRow(index) ? PQgetvalue(result_.get(), row_, index) : ""; }

  PostgresConnection& connection_;
  std::string name_;
  std::vector<std::optional<std::string>> values_;
  ResultHandle result_;
  int row_ = -1;
};

class PostgresConnection : public IStoreConnection {
 public:
  PostgresConnection(const std::string& url, int lock_timeout_ms)
      : name_(DescribePostgresUrl(url)), passwords_(PasswordsOf(url)) {
    dialect_.id_column = "BIGSERIAL PRIMARY KEY";
    Connect(url, lock_timeout_ms);
    // A writer waits for another one, and a statement for a stuck server, no longer than the
    // store's timeout; the texts the store keeps are UTF-8.
    std::string timeout = std::to_string(lock_timeout_ms);
    Execute("SET lock_timeout = " + timeout + "; SET statement_timeout = " + timeout +
            "; SET client_min_messages = warning");
  }
  ~PostgresConnection() override { PQfinish(connection_); }
  PostgresConnection(const PostgresConnection&) = delete;
  PostgresConnection& operator=(const PostgresConnection&) = delete;

  void Execute(const std::string& sql) override { Check(ResultHandle(PQexec(connection_, sql.c_str())), "cannot run a statement"); }
  // The server keeps each statement prepared for as long as the connection lasts, so the store
  // asking for the same statement again (every run of an import) costs no round trip.
  std::unique_ptr<IStoreStatement> Prepare(const std::string& sql) override {
    auto known = prepared_.find(sql);
    if (known == prepared_.end()) {
      int parameters = 0;
      std::string numbered = Numbered(sql, &parameters);
      std::string name = "ordalis_" + std::to_string(prepared_.size() + 1);
      Check(ResultHandle(PQprepare(connection_, name.c_str(), numbered.c_str(), parameters, nullptr)),
            "cannot prepare a statement");
      known = prepared_.emplace(sql, Prepared{name, parameters}).first;
    }
    return std::make_unique<PostgresStatement>(*this, known->second.name, known->second.parameters);
  }
  void Begin() override {
    Execute("BEGIN");
    try {
      Execute("SELECT pg_advisory_xact_lock(" + std::to_string(kWriterLock) + ")");
    } catch (...) {
      Rollback();
      throw;
    }
  }
  void Commit() override { Execute("COMMIT"); }
  void Rollback() noexcept override {
    if (PQtransactionStatus(connection_) == PQTRANS_IDLE) return;
    PQclear(PQexec(connection_, "ROLLBACK"));
  }
  const Dialect& dialect() const override { return dialect_; }
  bool HasTable(const std::string& name) override {
    auto statement = Prepare(
        "SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename = ?");
    statement->Bind(1, name);
    return statement->Step();
  }
  std::string Describe() const override { return name_; }

  // Runs the prepared statement [name] with [values]; throws StoreError when it fails.
  ResultHandle Run(const std::string& name, const std::vector<std::optional<std::string>>& values) {
    std::vector<const char*> pointers;
    for (const auto& value : values) pointers.push_back(value ? value->c_str() : nullptr);
    ResultHandle result(PQexecPrepared(connection_, name.c_str(), static_cast<int>(pointers.size()),
                                       pointers.data(), nullptr, nullptr, 0));
    Check(result, "cannot run a statement");
    return result;
  }
  [[noreturn]] void Fail(const std::string& doing, const char* reason) const {
    throw StoreError(name_ + ": " + doing + ": " + Reason(reason, passwords_));
  }

 private:
  void Connect(const std::string& url, int lock_timeout_ms) {
    // Our defaults come first, so that the URL's own settings (and PGCONNECT_TIMEOUT) win. Over
    // TCP, a server that vanishes mid-run (no reset ever comes) is given up on after the
    // store's timeout instead of the system's hours.
    std::string timeout = std::to_string(kConnectTimeoutSeconds);
    std::string unacknowledged = std::to_string(lock_timeout_ms);
    const bool timeout_from_environment = std::getenv("PGCONNECT_TIMEOUT") != nullptr;
    std::vector<const char*> keys = {"fallback_application_name", "client_encoding", "keepalives_idle",
                                     "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
    std::vector<const char*> values = {"ordalis", "UTF8", "10", "5", "3", unacknowledged.c_str()};
    if (!timeout_from_environment) {
      keys.push_back("connect_timeout");
      values.push_back(timeout.c_str());
    }
    keys.push_back("dbname");
    values.push_back(url.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    connection_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (connection_ == nullptr) throw StoreError(name_ + ": cannot connect: out of memory");
    if (PQstatus(connection_) != CONNECTION_OK) {
      std::string reason = Reason(PQerrorMessage(connection_), passwords_);
      PQfinish(connection_);
      connection_ = nullptr;
      throw StoreError(name_ + ": cannot connect: " + reason);
    }
  }
  void Check(const ResultHandle& result, const char* doing) const {
    ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    Fail(doing, result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection_));
  }

  struct Prepared {
    std::string name;
    int parameters = 0;
  };

  std::string name_;
  std::vector<std::string> passwords_;
  PGconn* connection_ = nullptr;
  Dialect dialect_;
  std::map<std::string, Prepared> prepared_;  // by the store's SQL
};

std::optional<std::string>& PostgresStatement::Slot(int index) {
  if (index < 1 || index > static_cast<int>(values_.size())) {
    connection_.Fail("cannot bind a parameter", ("no parameter " + std::to_string(index)).c_str());
  }
  return values_[static_cast<std::size_t>(index - 1)];
}

bool PostgresStatement::Step() {
  if (!result_) {
    result_ = connection_.Run(name_, values_);
    row_ = -1;
  }
  if (row_ < PQntuples(result_.get())) ++row_;
  return row_ < PQntuples(result_.get());
}

}  // namespace

std::unique_ptr<IStoreConnection> OpenPostgresStore(const std::string& url, int lock_timeout_ms) {
  return std::make_unique<PostgresConnection>(url, lock_timeout_ms);
}

std::string DescribePostgresUrl(const std::string& url) {
  std::string described = url;
  auto spans = PasswordSpans(url);
  // From the last to the first, so the earlier positions stay true.
  for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
    described.replace(span->first, span->second - span->first, "***");
  }
  return described;
}

}  // namespace ordalis::history
