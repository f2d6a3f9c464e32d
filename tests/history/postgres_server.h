#pragma once
// A PostgreSQL 15 server of a test's own: made by initdb in a scratch folder, listening only on
// a Unix socket in that folder (no TCP at all), with password logins, stopped and its folder
// removed when the object goes. A server must not run as root, so when the tests do, it runs
// as the `postgres` user (else `nobody`).
//
// Where no server can be started (PostgreSQL not installed, no user to run it as) the tests
// skip and say why; with CI=true in the environment they fail instead, so a CI machine never
// passes without having asked the server anything.

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/command_line.h"

namespace ordalis::history {

class PostgresServer {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
  static constexpr const char* kUser = "fleet";
  static constexpr const char* kPassword = "fleet-pw-7";

  PostgresServer() { problem_ = Start(); }
  ~PostgresServer() { Stop(); }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Why the server is not running; empty when it is.
  const std::string& problem() const { return problem_; }

  // The URL of [database] as user kUser with [password].
  std::string Url(const std::string& database, const std::string& password = kPassword) const {
    return "postgresql://" + std::string(kUser) + ":" + password + "@/" + database + "?host=" + dir_.string();
  }

  // Runs [sql] in [database]; empty when it went well, else the server's words.
  std::string Execute(const std::string& database, const std::string& sql) const {
    PGconn* connection = PQconnectdb(Url(database).c_str());
    std::string error;
    if (PQstatus(connection) != CONNECTION_OK) {
      error = PQerrorMessage(connection);
    } else {
      PGresult* result = PQexec(connection, sql.c_str());
      ExecStatusType status = PQresultStatus(result);
      if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = PQresultErrorMessage(result);
      PQclear(result);
    }
    PQfinish(connection);
    return error;
  }

  // Makes an empty database [name] and returns its URL.
  std::string Database(const std::string& name) const {
    std::string error = Execute("postgres", "CREATE DATABASE " + name);
    EXPECT_EQ(error, "") << "cannot create the database " << name;
    return Url(name);
  }

 private:
  std::string Start() {
    namespace fs = std::filesystem;
    if (!fs::exists(fs::path(kBin) / "initdb")) {
      return std::string("PostgreSQL 15 is not installed (no ") + kBin + "/initdb; scripts/bootstrap installs it)";
    }
    // A short folder name: the socket's path must fit in a sockaddr_un.
    std::string pattern = (fs::temp_directory_path() / "ordalis_pg_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return "cannot make a folder for the server";
    dir_ = pattern;
    if (::geteuid() == 0) {
      const struct passwd* user = ::getpwnam("postgres");
      if (user == nullptr) user = ::getpwnam("nobody");
      if (user == nullptr) return "running as root and there is no postgres or nobody user to run the server as";
      if (::chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) return "cannot give the server its folder";
      as_user_ = std::string("runuser -u ") + user->pw_name + " -- ";
    }
    std::ofstream(dir_ / "password") << kPassword << "\n";
    if (!as_user_.empty()) ::chmod((dir_ / "password").c_str(), 0644);
    std::string data = (dir_ / "data").string();
    auto initdb = Command("initdb -D " + data + " -U " + kUser + " --pwfile=" + (dir_ / "password").string() +
                          " --auth=scram-sha-256 -E UTF8 --locale=C --no-sync");
    if (initdb.status != 0) return "initdb failed: " + initdb.output;
    // pg_ctl -w returns once the server accepts connections (or has failed to start).
    auto start = Command("pg_ctl -D " + data + " -l " + (dir_ / "server.log").string() + " -w -t 60 -o \"-k " +
                         dir_.string() + " -c listen_addresses='' -c fsync=off\" start");
    started_ = true;
    if (start.status != 0) return "the server did not start: " + start.output;
    return std::string();
  }

  void Stop() {
    if (dir_.empty()) return;
    if (started_) {
      // The server's own id, for the rare stop that does not end it.
      pid_t pid = 0;
      std::ifstream(dir_ / "data" / "postmaster.pid") >> pid;
      if (Command("pg_ctl -D " + (dir_ / "data").string() + " -m immediate -w stop").status != 0 && pid > 0) {
        ::kill(pid, SIGKILL);
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  testing_support::CommandOutcome Command(const std::string& line) const {
    return testing_support::RunCommandLine(as_user_ + kBin + "/" + line + " 2>&1");
  }

  std::filesystem::path dir_;
  std::string as_user_;
  bool started_ = false;
  std::string problem_;
};

// Skips the test (fails it under CI=true) when [server] is not running.
#define ORDALIS_NEED_POSTGRES(server)                                                         \
  do {                                                                                        \
    if (!(server).problem().empty()) {                                                        \
      const char* ci = std::getenv("CI");                                                     \
      if (ci != nullptr && std::string(ci) == "true") FAIL() << (server).problem();           \
      GTEST_SKIP() << "no PostgreSQL server for this test: " << (server).problem();           \
    }                                                                                         \
  } while (false)

}  // namespace ordalis::history
