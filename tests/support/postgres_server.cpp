// The test's own PostgreSQL server: initdb and pg_ctl as `postgres` through runuser, since the
// server refuses to run as root; SQL as the superuser through libpq on the folder's socket.
#include "tests/support/postgres_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace test_support {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSuperuser = "postgres";

// initdb is most of a server's start: every server of a build starts from a copy of one cluster,
// made once by whichever test comes first while the others wait for it.
fs::path TemplateCluster() { return kBuildDir / "postgres-template"; }

bool EnsureTemplateCluster(std::string& error) {
  if (fs::exists(TemplateCluster() / "PG_VERSION")) return true;
  const std::string lock_path = TemplateCluster().string() + ".lock";
  const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
    error = "cannot lock " + lock_path;
    if (lock >= 0) ::close(lock);
    return false;
  }
  bool made = fs::exists(TemplateCluster() / "PG_VERSION");
  if (!made) {
    // Made beside and renamed into place, so that a half-made cluster is never copied.
    const fs::path fresh = TemplateCluster().string() + ".new";
    std::error_code ignored;
    fs::remove_all(fresh, ignored);
    fs::create_directories(fresh);
    const auto chown = Run({"/bin/chown", std::string(kSuperuser) + ":", fresh.string()});
    // Small WAL segments: less to copy for each server.
    const auto init = chown.exit_code != 0
                          ? chown
                          : Run({"/usr/sbin/runuser", "-u", kSuperuser, "--",
                                 (fs::path(PostgresServer::kBinDir) / "initdb").string(), "-D",
                                 fresh.string(), "-A", "trust", "-U", kSuperuser, "--encoding=UTF8",
                                 "--locale=C.UTF-8", "--no-sync", "--wal-segsize=1"});
    if (init.exit_code != 0) {
      error = "initdb failed: " + init.output;
    } else {
      fs::rename(fresh, TemplateCluster());
      made = true;
    }
  }
  ::close(lock);
  return made;
}

}  // namespace

bool PostgresServer::Installed() { return fs::exists(fs::path(kBinDir) / "pg_ctl"); }

CommandResult PostgresServer::PgCtl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"/usr/sbin/runuser",
                                   "-u",
                                   kSuperuser,
                                   "--",
                                   (fs::path(kBinDir) / "pg_ctl").string(),
                                   "-D",
                                   (folder() / "data").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

PostgresServer::PostgresServer() {
  if (!Installed()) {
    ADD_FAILURE() << "PostgreSQL 15 is not installed in " << kBinDir;
    return;
  }
  // The folder is root's and private: the server's user must own it to keep its files there.
  const auto chown = Run({"/bin/chown", std::string(kSuperuser) + ":", folder().string()});
  if (chown.exit_code != 0) {
    ADD_FAILURE() << chown.output;
    return;
  }
  std::string error;
  if (!EnsureTemplateCluster(error)) {
    ADD_FAILURE() << error;
    return;
  }
  // cp keeps the server's user as owner and the folder's mode 0700, which the server demands.
  const auto copied =
      Run({"/bin/cp", "-a", TemplateCluster().string(), (folder() / "data").string()});
  if (copied.exit_code != 0) {
    ADD_FAILURE() << "cannot copy the cluster: " << copied.output;
    return;
  }
  Start();
}

void PostgresServer::Freeze(bool frozen) {
  // The postmaster's pid is the first line of its pid file; its children name it as parent.
  const std::string text = ReadFile(folder() / "data" / "postmaster.pid");
  const pid_t postmaster = static_cast<pid_t>(std::atol(text.c_str()));
  if (postmaster <= 0) {
    ADD_FAILURE() << "no postmaster.pid";
    return;
  }
  std::vector<pid_t> processes = {postmaster};
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...: the fields after the last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    long parent = 0;
    rest >> state >> parent;
    if (parent == postmaster) processes.push_back(static_cast<pid_t>(std::stol(name)));
  }
  for (pid_t process : processes) ::kill(process, frozen ? SIGSTOP : SIGCONT);
  frozen_ = frozen;
}

PostgresServer::~PostgresServer() {
  if (frozen_) Freeze(false);
  if (running_) Stop(false);
  // Whatever a failed start left running goes too; pg_ctl answers quickly when nothing runs.
  PgCtl({"-m", "immediate", "-w", "stop"});
}

bool PostgresServer::Start() {
  // No TCP at all; fsync off: a test's cluster never outlives a power cut.
  const std::string options = "-k " + folder().string() + " -p " + std::to_string(kPort) +
                              " -c listen_addresses='' -c fsync=off -c max_connections=60";
  const auto started =
      PgCtl({"-l", (folder() / "server.log").string(), "-o", options, "-w", "-t", "30", "start"});
  running_ = started.exit_code == 0;
  if (!running_) {
    ADD_FAILURE() << "the PostgreSQL server did not start: " << started.output
                  << ReadFile(folder() / "server.log");
  }
  return running_;
}

void PostgresServer::Stop(bool fast) {
  if (frozen_) Freeze(false);
  const auto stopped = PgCtl({"-m", fast ? "fast" : "immediate", "-w", "-t", "30", "stop"});
  EXPECT_EQ(stopped.exit_code, 0) << stopped.output;
  running_ = false;
}

std::string PostgresServer::KeyValue(const std::string& database, const std::string& user) const {
  return "host=" + folder().string() + " port=" + std::to_string(kPort) + " dbname=" + database +
         " user=" + (user.empty() ? kSuperuser : user);
}

std::string PostgresServer::Uri(const std::string& database, const std::string& user) const {
  // A socket folder goes in the query: the host part of a URI cannot hold a path.
  return "postgresql://" + (user.empty() ? std::string(kSuperuser) : user) + "@/" + database +
         "?host=" + folder().string() + "&port=" + std::to_string(kPort);
}

std::string PostgresServer::Sql(const std::string& database, const std::string& sql) const {
  PGconn* connection = PQconnectdb(KeyValue(database).c_str());
  std::string answer;
  if (PQstatus(connection) != CONNECTION_OK) {
    ADD_FAILURE() << "cannot connect to " << database << ": " << PQerrorMessage(connection);
  } else {
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      ADD_FAILURE() << sql << ": " << PQresultErrorMessage(result);
    } else if (status == PGRES_TUPLES_OK && PQntuples(result) > 0 && PQnfields(result) > 0) {
      answer = PQgetvalue(result, 0, 0);
    }
    PQclear(result);
  }
  PQfinish(connection);
  return answer;
}

std::string PostgresServer::NewDatabase() {
  const std::string name = "test" + std::to_string(++databases_);
  Sql("postgres", "CREATE DATABASE " + name);
  return name;
}

std::string PostgresStore::Sql(const std::string& statement) const {
  const auto result = Run({"/usr/bin/psql", "-X", "-A", "-t", "-q", "-F", "|", "-v",
                           "ON_ERROR_STOP=1", Target(), "-c", statement},
                          {{"PGOPTIONS", "-c client_min_messages=warning"}});
  EXPECT_EQ(result.exit_code, 0) << statement << ": " << result.output;
  std::string out = result.output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::unique_ptr<PostgresServer> PostgresTest::server_;

void PostgresTest::SetUpTestSuite() {
  if (PostgresServer::Installed()) server_ = std::make_unique<PostgresServer>();
}

void PostgresTest::TearDownTestSuite() { server_.reset(); }

void PostgresTest::SetUp() {
  if (!PostgresServer::Installed()) {
    GTEST_SKIP() << "PostgreSQL 15 is not installed (" << PostgresServer::kBinDir << " is missing)";
  }
  ASSERT_TRUE(server_ != nullptr);
  // A test that stopped or froze the server and failed before undoing it leaves it so.
  if (server_->Frozen()) server_->Freeze(false);
  if (!server_->Running()) {
    ASSERT_TRUE(server_->Start());
  }
  database_ = server_->NewDatabase();
  connection_string_ = server_->KeyValue(database_);
}

}  // namespace test_support
