// A PostgreSQL 15 server of the test's own: a cluster in a scratch folder, run as the `postgres`
// user, reachable only on a Unix socket in that folder; stopped and removed when destroyed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/test_support.h"

namespace test_support {

class PostgresServer {
 public:
  // Where Debian's postgresql-15 keeps its server programs.
  static constexpr const char* kBinDir = "/usr/lib/postgresql/15/bin";
  // Whether the server programs are installed; tests skip (GTEST_SKIP) without them.
  static bool Installed();

  // Makes the cluster (initdb) and starts the server; a failure fails the test and leaves
  // Running() false.
  PostgresServer();
  // Stops the server (immediately, whatever its clients do) and removes the folder.
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Stops the server mid-test: its clients' connections break, new ones are refused. `fast`
  // ends the clients' sessions cleanly (they are told); otherwise the server dies at once.
  void Stop(bool fast = true);
  // Starts it again on the same socket; true when it accepts connections.
  bool Start();
  bool Running() const { return running_; }
  // Freezes the server's processes (SIGSTOP) or lets them go on (SIGCONT): a server that keeps
  // its connections but answers nothing, as one on a hung machine or behind a lost network.
  void Freeze(bool frozen);
  bool Frozen() const { return frozen_; }

  // A new, empty database owned by the superuser; its libpq `key=value` connection string.
  std::string NewDatabase();
  // The connection string of database `name` for `user` (the superuser when empty), in libpq's
  // key=value form or as a postgresql:// URI.
  std::string KeyValue(const std::string& database, const std::string& user = {}) const;
  std::string Uri(const std::string& database, const std::string& user = {}) const;
  // Runs SQL as the superuser in `database`; fails the test on an error. Returns the first
  // column of the first row ("" when none).
  std::string Sql(const std::string& database, const std::string& sql) const;

  const std::filesystem::path& folder() const { return dir_.path(); }
  int port() const { return kPort; }

 private:
  // The socket sits in a folder of its own, so the usual port can never clash with another.
  static constexpr int kPort = 5432;
  CommandResult PgCtl(const std::vector<std::string>& args) const;

  ScratchDir dir_;
  bool running_ = false;
  bool frozen_ = false;
  int databases_ = 0;
};

// A store on a server of the test's own, as the filters that share a store use it: a fresh
// database, named for minutrix-db and MinutrixStore by Target(), read and changed with psql as
// another program would.
class PostgresStore {
 public:
  // The server hands a change notice to the listening connections a moment after the COMMIT
  // returns: a test's "next request" after a change comes after this.
  static constexpr std::chrono::milliseconds kNoticeDelay{100};

  PostgresStore() : database_(server_.NewDatabase()) {}
  std::string Target() const { return server_.KeyValue(database_); }
  // The rows of `statement`, a line each, columns joined by '|' as the sqlite3 shell prints
  // them; fails the test on an error.
  std::string Sql(const std::string& statement) const;
  PostgresServer& server() { return server_; }

 private:
  PostgresServer server_;
  std::string database_;
};

// A fixture whose tests share one server (started before the suite's first test, stopped after
// its last, also when tests failed) and get a fresh database each: `connection_string_`.
class PostgresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  static PostgresServer& server() { return *server_; }
  std::string database_;           // this test's database
  std::string connection_string_;  // its key=value connection string

 private:
  static std::unique_ptr<PostgresServer> server_;
};

}  // namespace test_support
