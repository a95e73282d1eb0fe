// Two helpers on two machines with one store named by MinutrixStore, their clocks moved together:
// one user's requests alternating between them are charged as one helper charges them, an
// administrator's change is seen by both, the daily reset is made once, and while the store
// cannot be reached each answer comes at once, as StoreDownPolicy says, with one log line at
// each end of the outage. The shared store is a parameter: a SQLite file outside both machines
// here; a store on a database server plugs in as another SharedBackend.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "hosts/squid/filter_chain.h"
#include "tests/support/postgres_server.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// A Windows path of the host file `path` (drive Z: is the host's root).
std::string ZPath(const fs::path& path) {
  std::string windows = "Z:" + path.string();
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// One proxy: a machine with Minutrix.dll installed and registered, its helper started on demand.
class Proxy {
 public:
  Proxy(const std::string& store, const fs::path& clock_file) : clock_file_(clock_file) {
    fs::create_directories(Product() / "UserTimesDB");
    fs::copy_file(test_support::kBuildDir / "Minutrix.dll", Product() / "Minutrix.dll");
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    if (!store.empty()) {
      machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixStore", "/d", store, "/f"});
    }
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
  }
  fs::path Product() const { return machine_.root() / "c/Minutrix"; }
  fs::path Database() const { return Product() / "UserTimesDB/UserTimesDB.mdb"; }
  void Start(const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{(test_support::kBuildDir / "minutrix-squid-helper").string(),
                                  "--server-name", "proxy.test"};
    argv.insert(argv.end(), options.begin(), options.end());
    helper_ = std::make_unique<test_support::LiveProcess>(
        argv,
        std::map<std::string, std::string>{{"MINUTRIX_ROOT", machine_.root().string()},
                                           {"MINUTRIX_CLOCK_FILE", clock_file_.string()}},
        machine_.root() / "helper.err");
  }
  void Stop() { helper_.reset(); }
  std::string Ask(const std::string& user, const std::string& url, int timeout_ms = 10000) {
    return helper_->Ask(url + " ip=127.0.0.1 method=GET user=" + user, timeout_ms);
  }
  // Every log of the filter on this machine, in one text.
  std::string Log() const {
    std::string all;
    for (const auto& entry : fs::directory_iterator(Product())) {
      if (entry.path().filename().string().rfind("MinutrixOutput", 0) == 0) {
        all += test_support::ReadFile(entry.path());
      }
    }
    return all;
  }
  std::string Status() const {
    const std::string text = test_support::ReadFile(Product() / "Minutrix.sts");
    return text.substr(0, text.find_first_of("\r\n"));
  }

 private:
  test_support::ScratchMachine machine_;
  fs::path clock_file_;
  std::unique_ptr<test_support::LiveProcess> helper_;
};

std::string SqliteRows(const fs::path& database, const std::string& statement) {
  auto out = test_support::Run({"/usr/bin/sqlite3", database.string(), statement}).output;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The store that the helpers share: how minutrix-db and MinutrixStore name it, how the test reads
// it, and how it goes away and comes back.
class SharedBackend {
 public:
  virtual ~SharedBackend() = default;
  // What minutrix-db is given.
  virtual std::string Target() const = 0;
  // What MinutrixStore holds; with a password written into it when one is given.
  virtual std::string Connection(const std::string& password = "") const = 0;
  // The rows of a query, a line each, columns joined by '|'.
  virtual std::string Sql(const std::string& statement) const = 0;
  // The store cannot be reached from Down until Up.
  virtual void Down() = 0;
  virtual void Up() = 0;
  // How long the outage test keeps it down.
  virtual std::chrono::seconds OutageLength() const { return std::chrono::seconds(4); }
  // How long after a commit its change notice may take to reach the other connections.
  virtual std::chrono::milliseconds NoticeDelay() const { return std::chrono::milliseconds(0); }
};

// A SQLite file outside both machines (drive Z: of each), taken away by a rename.
class SqliteFileBackend : public SharedBackend {
 public:
  explicit SqliteFileBackend(const fs::path& folder) : file_(folder / "UserTimesDB.mdb") {
    fs::create_directories(folder);
  }
  std::string Target() const override { return file_.string(); }
  std::string Connection(const std::string& password) const override {
    return "Data Source=" + ZPath(file_) + ";" +
           (password.empty() ? "" : "PASSWORD=" + password + ";");
  }
  std::string Sql(const std::string& statement) const override {
    return SqliteRows(file_, statement);
  }
  void Down() override { fs::rename(file_, Away()); }
  void Up() override { fs::rename(Away(), file_); }

 private:
  fs::path Away() const { return file_.string() + ".away"; }
  fs::path file_;
};

// A PostgreSQL 15 server of the test's own (a Unix socket in its folder), stopped and started
// again to take the store away. Each case gets its own server and database.
class PostgresBackend : public SharedBackend {
 public:
  std::string Target() const override { return store_.Target(); }
  std::string Connection(const std::string& password) const override {
    return store_.Target() + (password.empty() ? "" : " password=" + password);
  }
  std::string Sql(const std::string& statement) const override { return store_.Sql(statement); }
  void Down() override { store_.server().Stop(); }
  void Up() override { EXPECT_TRUE(store_.server().Start()); }
  // The server's processes end at once: what it had not written is gone, as in a crash.
  void Crash() { store_.server().Stop(/*fast=*/false); }
  // A server stopped for 20 s in the middle of charges, as an administrator's restart might.
  std::chrono::seconds OutageLength() const override { return std::chrono::seconds(20); }
  std::chrono::milliseconds NoticeDelay() const override {
    return test_support::PostgresStore::kNoticeDelay;
  }

 private:
  test_support::PostgresStore store_;
};

struct BackendCase {
  const char* name;
  std::unique_ptr<SharedBackend> (*make)(const fs::path& folder);
};

std::unique_ptr<SharedBackend> MakeSqliteFile(const fs::path& folder) {
  return std::make_unique<SqliteFileBackend>(folder);
}
std::unique_ptr<SharedBackend> MakePostgres(const fs::path&) {
  return std::make_unique<PostgresBackend>();
}

auto Backends() {
  return ::testing::Values(BackendCase{"SqliteFile", MakeSqliteFile},
                           BackendCase{"PostgreSQL", MakePostgres});
}

class SharedStoreFixture : public ::testing::Test {
 protected:
  void Begin(const BackendCase& backend) {
    store_ = backend.make(scratch_.path() / "shared");
    Db({"create", store_->Target()});
    Db({"add-user", store_->Target(), "alice", "600"});
    Db({"add-user", store_->Target(), "kim", "3"});
    Db({"set", store_->Target(), "ShowStartMessage", "yes"});
    a_ = std::make_unique<Proxy>(store_->Connection(), Clock());
    b_ = std::make_unique<Proxy>(store_->Connection(), Clock());
    At("2026-12-07 09:00:00");
  }
  // After a failure, the filters' error lines tell why.
  void TearDown() override {
    if (!HasFailure()) return;
    for (const Proxy* proxy : {a_.get(), b_.get()}) {
      if (proxy == nullptr) continue;
      std::istringstream log(proxy->Log());
      std::string line;
      while (std::getline(log, line)) {
        if (!line.empty() && line[0] == '*')
          std::cerr << (proxy == a_.get() ? "a: " : "b: ") << line << "\n";
      }
    }
  }
  fs::path Clock() const { return scratch_.path() / "clock"; }
  void At(const std::string& local_time) { test_support::WriteFile(Clock(), local_time + "\n"); }
  void AtMinute(int minute, const std::string& day = "2026-12-07") {
    char time[64];
    std::snprintf(time, sizeof time, "%s %02d:%02d:30", day.c_str(), 10 + minute / 60, minute % 60);
    At(time);
  }
  void Db(std::vector<std::string> args) const {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    const auto result = test_support::Run(args);
    ASSERT_EQ(result.exit_code, 0) << result.output;
    if (store_) std::this_thread::sleep_for(store_->NoticeDelay());
  }
  std::string Sql(const std::string& statement) const { return store_->Sql(statement); }
  static std::string UsedQuery(const std::string& user) {
    return "SELECT CurrentInternetTime FROM Users WHERE UserName = '" + user + "'";
  }
  static constexpr const char* kHistoryQuery =
      "SELECT Day, UserName, Start, Minutes, Free FROM History ORDER BY Day, Start";
  int Used(const std::string& user) const { return std::stoi(Sql(UsedQuery(user))); }

  test_support::ScratchDir scratch_;
  std::unique_ptr<SharedBackend> store_;
  std::unique_ptr<Proxy> a_;
  std::unique_ptr<Proxy> b_;
};

class SharedStoreTest : public SharedStoreFixture,
                        public ::testing::WithParamInterface<BackendCase> {
 protected:
  void SetUp() override { Begin(GetParam()); }
};

// The sequence of a user's day: minute by minute, an idle gap, a free site and back.
struct Visit {
  int minute;
  const char* url;
};
constexpr Visit kDay[] = {
    {0, "http://a.example/"},   {1, "http://a.example/1"}, {2, "http://b.example/"},
    {3, "http://b.example/2"},  {4, "http://a.example/"},  {5, "http://a.example/"},
    {21, "http://c.example/"},  {22, "http://c.example/"}, {23, "http://proxy.test/free"},
    {26, "http://c.example/"},  {27, "http://c.example/"}, {28, "http://d.example/"},
    {30, "http://d.example/x"},
};

TEST_P(SharedStoreTest, OneUserAlternatingBetweenTwoHelpersIsChargedAsByOne) {
  a_->Start();
  b_->Start();
  std::vector<std::string> shared_answers;
  for (size_t i = 0; i < std::size(kDay); ++i) {
    AtMinute(kDay[i].minute);
    Proxy& proxy = i % 2 == 0 ? *a_ : *b_;
    shared_answers.push_back(proxy.Ask("alice", kDay[i].url));
  }

  // The same day through one helper with the file beside its filter.
  Proxy alone("", Clock());
  Db({"create", alone.Database().string()});
  Db({"add-user", alone.Database().string(), "alice", "600"});
  Db({"add-user", alone.Database().string(), "kim", "3"});
  Db({"set", alone.Database().string(), "ShowStartMessage", "yes"});
  alone.Start();
  std::vector<std::string> alone_answers;
  for (const Visit& visit : kDay) {
    AtMinute(visit.minute);
    alone_answers.push_back(alone.Ask("alice", visit.url));
  }

  EXPECT_EQ(shared_answers, alone_answers);
  // One start page for the first request and one after the idle gap, whichever helper saw them.
  EXPECT_EQ(std::count_if(shared_answers.begin(), shared_answers.end(),
                          [](const std::string& a) { return a.rfind("OK status=302", 0) == 0; }),
            2);
  EXPECT_EQ(Used("ALICE"), std::stoi(SqliteRows(alone.Database(), UsedQuery("ALICE"))));
  EXPECT_GT(Used("ALICE"), 5);
  EXPECT_EQ(Sql(kHistoryQuery), SqliteRows(alone.Database(), kHistoryQuery));
  EXPECT_EQ(Sql("SELECT count(*) FROM CountingPeriods"), "1") << "one period, in the store";
}

TEST_P(SharedStoreTest, RacingHelpersChargeEachMinuteOnce) {
  a_->Start();
  b_->Start();
  // Both helpers asked at the same moment, again and again in every minute: each minute is
  // charged by one of them.
  for (int minute = 0; minute <= 8; ++minute) {
    AtMinute(minute);
    std::vector<std::string> answers(2);
    std::vector<std::thread> racers;
    for (int i = 0; i < 2; ++i) {
      racers.emplace_back([&, i] {
        for (int n = 0; n < 5; ++n) {
          const std::string answer = (i == 0 ? *a_ : *b_).Ask("alice", "http://a.example/");
          if (answer != "ERR" && answer.rfind("OK status=302", 0) != 0) answers[i] = answer;
        }
      });
    }
    for (auto& racer : racers) racer.join();
    EXPECT_EQ(answers, std::vector<std::string>(2)) << "minute " << minute;
  }
  EXPECT_EQ(Used("ALICE"), 8);
  EXPECT_EQ(Sql("SELECT sum(Minutes) FROM History WHERE UserName = 'ALICE'"), "8");
  EXPECT_EQ(Sql("SELECT count(*) FROM ChargedMinutes WHERE UserName = 'ALICE'"), "8");
}

TEST_P(SharedStoreTest, AMinuteClaimedAlreadyIsNeverChargedAgain) {
  a_->Start();
  AtMinute(0);
  a_->Ask("alice", "http://a.example/");
  // The period's first minute, claimed as if another filter had charged it.
  Sql("INSERT INTO ChargedMinutes SELECT UserName, FirstRequest FROM CountingPeriods");
  AtMinute(1);
  EXPECT_EQ(a_->Ask("alice", "http://a.example/"), "OK minutrix=block");
  EXPECT_EQ(Used("ALICE"), 0);
  EXPECT_EQ(Sql("SELECT count(*) FROM History"), "0");
  EXPECT_EQ(Sql("SELECT PassedMinutes FROM CountingPeriods"), "0");
  EXPECT_EQ(CountOf(a_->Log(), "[StoreOutage]"), 0) << "a refused charge is no outage";
}

TEST_P(SharedStoreTest, AnAdministratorsChangeIsSeenByBothAtTheirNextRequest) {
  a_->Start();
  b_->Start();
  // kim spends the 3 minutes of the allowance across both helpers and is denied by both.
  for (int minute = 0; minute <= 3; ++minute) {
    AtMinute(minute);
    (minute % 2 == 0 ? *a_ : *b_).Ask("kim", "http://a.example/");
  }
  AtMinute(4);
  ASSERT_EQ(Used("KIM"), 3);
  ASSERT_EQ(a_->Ask("kim", "http://a.example/").rfind("OK status=302", 0), 0u);
  ASSERT_EQ(b_->Ask("kim", "http://a.example/").rfind("OK status=302", 0), 0u);

  // Five extra minutes: the first helper to ask reads them, and the other one still does.
  Db({"add-minutes", store_->Target(), "kim", "5"});
  EXPECT_EQ(a_->Ask("kim", "http://a.example/"), "ERR");
  EXPECT_EQ(b_->Ask("kim", "http://a.example/"), "ERR");
  // And a new allowance of 0 minutes (no extra left after it) is seen by both as well.
  Db({"set-allowance", store_->Target(), "kim", "0"});
  Db({"add-minutes", store_->Target(), "kim", "-5"});
  AtMinute(5);
  EXPECT_EQ(b_->Ask("kim", "http://a.example/").rfind("OK status=302", 0), 0u);
  EXPECT_EQ(a_->Ask("kim", "http://a.example/").rfind("OK status=302", 0), 0u);
}

TEST_P(SharedStoreTest, WarningModeWarnsOnceOnAHelperThatNeverChargedTheUser) {
  Db({"set", store_->Target(), "WarningMode", "yes"});
  a_->Start();
  b_->Start();
  for (int minute = 0; minute <= 3; ++minute) {
    AtMinute(minute);
    a_->Ask("kim", "http://a.example/");
  }
  ASSERT_EQ(Used("KIM"), 3);
  AtMinute(4);
  EXPECT_NE(b_->Ask("kim", "http://a.example/").find("DeniedMessage="), std::string::npos)
      << "the warning";
  EXPECT_EQ(b_->Ask("kim", "http://a.example/"), "ERR") << "then free passage, as warned";
  EXPECT_EQ(CountOf(b_->Log(), "Error finding user"), 0);
}

TEST_P(SharedStoreTest, TheDailyResetIsMadeOnceForBothHelpers) {
  a_->Start();
  b_->Start();
  for (int minute = 0; minute <= 4; ++minute) {
    AtMinute(minute);
    (minute % 2 == 0 ? *a_ : *b_).Ask("alice", "http://a.example/");
  }
  ASSERT_EQ(Used("ALICE"), 4);
  // The next morning: a resets, b continues the period a began instead of resetting again.
  At("2026-12-08 08:00:30");
  a_->Ask("alice", "http://a.example/");
  EXPECT_EQ(Used("ALICE"), 0);
  At("2026-12-08 08:01:30");
  EXPECT_EQ(b_->Ask("alice", "http://a.example/"), "ERR");
  At("2026-12-08 08:02:30");
  EXPECT_EQ(a_->Ask("alice", "http://a.example/"), "ERR");
  At("2026-12-08 08:03:30");
  EXPECT_EQ(b_->Ask("alice", "http://a.example/"), "ERR");
  EXPECT_EQ(Used("ALICE"), 3) << "b's reset would have zeroed a's minutes";
  // (Two helpers that start at once on a store without the marker may each add its row.)
  EXPECT_EQ(Sql("SELECT DISTINCT LastReset FROM ResetMarker"), "2026-12-08 08:00:30");
  EXPECT_EQ(CountOf(a_->Log(), "User reset!"), 2) << "alice and kim, once";
  EXPECT_EQ(CountOf(b_->Log(), "User reset!"), 0);
}

TEST_P(SharedStoreTest, DownAtTheStartTheFilterStillAnswersAndLoadsOnceTheStoreIsThere) {
  // Named with a password that no log line may show, and not there when the helper starts.
  store_->Down();
  Proxy proxy(store_->Connection("Geheim42"), Clock());
  proxy.Start();
  AtMinute(0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(proxy.Ask("alice", "http://a.example/"), "OK minutrix=block");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(proxy.Status(), "2");

  store_->Up();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(proxy.Ask("alice", "http://a.example/").rfind("OK status=302", 0), 0u)
      << "the start page of the period that begins now";
  AtMinute(2);
  EXPECT_EQ(proxy.Ask("alice", "http://a.example/"), "ERR");
  EXPECT_EQ(Used("ALICE"), 2);
  EXPECT_EQ(proxy.Status(), "1");

  const std::string log = proxy.Log();
  EXPECT_EQ(log.find("Geheim42"), std::string::npos) << log;
  EXPECT_NE(log.find("********"), std::string::npos) << log;
  EXPECT_EQ(CountOf(log, "[StoreOutage] The store cannot be reached"), 1) << log;
  EXPECT_EQ(CountOf(log, "[StoreOutage] The store answers again"), 1) << log;
}

INSTANTIATE_TEST_SUITE_P(Stores, SharedStoreTest, Backends(), test_support::ByName{});

TEST_P(SharedStoreTest, AStoreThatOpensButFailsEveryChargeIsOneOutageNotOnePerSecond) {
  a_->Start();
  AtMinute(0);
  a_->Ask("alice", "http://a.example/");
  // Periods that can be read but never written again.
  Sql("DROP TABLE CountingPeriods; CREATE VIEW CountingPeriods AS SELECT 'ALICE' AS UserName, "
      "0 AS FirstRequest, 0 AS LastRequest, 0 AS OldMinutes, 0 AS PassedMinutes, "
      "0 AS FreeMinutes, 0 AS FreeSite, '' AS LastHost");
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
  for (int minute = 1; std::chrono::steady_clock::now() < until; ++minute) {
    AtMinute(minute % 50);
    EXPECT_EQ(a_->Ask("alice", "http://a.example/"), "OK minutrix=block");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string log = a_->Log();
  EXPECT_EQ(CountOf(log, "[StoreOutage] The store cannot be reached"), 1) << log;
  EXPECT_EQ(CountOf(log, "[StoreOutage] The store answers again"), 0) << log;
  EXPECT_EQ(Used("ALICE"), 0);
}

class ServerCrashTest : public SharedStoreFixture {
 protected:
  void SetUp() override {
    if (!test_support::PostgresServer::Installed()) GTEST_SKIP() << "PostgreSQL 15 is missing";
    Begin(BackendCase{"PostgreSQL", MakePostgres});
  }
  PostgresBackend& server() { return static_cast<PostgresBackend&>(*store_); }
};

// The server crashes right after each answer: a charge that was answered is kept; a note that
// charges nothing (the host of a later request in the same minute) may be lost, and costs nothing.
TEST_F(ServerCrashTest, AnAnsweredChargeOutlivesACrashOfTheServer) {
  a_->Start();
  AtMinute(0);
  a_->Ask("alice", "http://a.example/");
  for (int minute = 1; minute <= 3; ++minute) {
    AtMinute(minute);
    ASSERT_EQ(a_->Ask("alice", "http://a.example/"), "ERR");
    ASSERT_EQ(a_->Ask("alice", "http://b.example/"), "ERR");
    server().Crash();
    server().Up();
    EXPECT_EQ(Used("ALICE"), minute) << "after the crash in minute " << minute;
    EXPECT_EQ(Sql("SELECT sum(Minutes) FROM History WHERE UserName = 'ALICE'"),
              std::to_string(minute));
    // The helper finds its connection broken at its next request and reconnects within a second.
    EXPECT_TRUE(test_support::WaitUntil([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return a_->Ask("alice", "http://a.example/") == "ERR";
    }));
  }
  AtMinute(4);
  EXPECT_EQ(a_->Ask("alice", "http://a.example/"), "ERR");
  EXPECT_EQ(Used("ALICE"), 4);
}

TEST(StoreDownPolicyOptionTest, PrintedIntoSquidsHelperLineAndCheckedWhenGiven) {
  const std::string helper = (test_support::kBuildDir / "minutrix-squid-helper").string();
  const auto printed = test_support::Run(
      {helper, "--squid-config", "--server-name", "proxy.test", "--store-down-policy", "allow"});
  ASSERT_EQ(printed.exit_code, 0) << printed.output;
  const size_t line = printed.output.find("url_rewrite_program ");
  ASSERT_NE(line, std::string::npos);
  const std::string program = printed.output.substr(line, printed.output.find('\n', line) - line);
  EXPECT_NE(program.find(" --store-down-policy allow"), std::string::npos) << program;
  const auto wrong = test_support::Run({helper, "--store-down-policy=yes"});
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_NE(wrong.output.find("\"refuse\" or \"allow\""), std::string::npos) << wrong.output;
  const auto help = test_support::Run({helper, "--help"});
  EXPECT_NE(help.output.find("--store-down-policy refuse|allow"), std::string::npos);
}

struct OutageCase {
  std::string name;
  std::string policy;  // the helper's option; empty: the registry's default
  std::string answer;  // to a monitored user while the store is down
};

class SharedStoreOutageTest
    : public SharedStoreFixture,
      public ::testing::WithParamInterface<std::tuple<BackendCase, OutageCase>> {
 protected:
  void SetUp() override { Begin(std::get<0>(GetParam())); }
};

TEST_P(SharedStoreOutageTest, AnswersAtOnceAsThePolicySaysAndLosesNoConfirmedMinute) {
  const OutageCase& c = std::get<1>(GetParam());
  const std::vector<std::string> options =
      c.policy.empty() ? std::vector<std::string>{}
                       : std::vector<std::string>{"--store-down-policy", c.policy};
  a_->Start(options);
  b_->Start(options);
  for (int minute = 0; minute <= 4; ++minute) {
    AtMinute(minute);
    (minute % 2 == 0 ? *a_ : *b_).Ask("alice", "http://a.example/");
  }
  ASSERT_EQ(Used("ALICE"), 4);

  // The store goes away for a while; both helpers keep answering, each at once.
  store_->Down();
  const auto until = std::chrono::steady_clock::now() + store_->OutageLength();
  int asked = 0;
  AtMinute(5);
  while (std::chrono::steady_clock::now() < until) {
    for (Proxy* proxy : {a_.get(), b_.get()}) {
      const auto start = std::chrono::steady_clock::now();
      const std::string answer = proxy->Ask("alice", "http://a.example/", 5000);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_LT(took, std::chrono::seconds(2));
      EXPECT_EQ(answer, c.answer) << "request " << asked;
      ++asked;
    }
  }
  EXPECT_EQ(a_->Status(), "2") << "Health shows the outage";
  store_->Up();
  // Back: charged again from the period as the store kept it.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  AtMinute(7);
  EXPECT_EQ(a_->Ask("alice", "http://a.example/"), "ERR");
  EXPECT_EQ(b_->Ask("alice", "http://a.example/"), "ERR");
  EXPECT_EQ(a_->Status(), "1");
  // The period kept in the store goes on: no confirmed minute lost, none charged twice.
  EXPECT_EQ(Used("ALICE"), 7);
  EXPECT_EQ(Sql("SELECT sum(Minutes) FROM History WHERE UserName = 'ALICE'"), "7");
  for (Proxy* proxy : {a_.get(), b_.get()}) {
    const std::string log = proxy->Log();
    EXPECT_EQ(CountOf(log, "[StoreOutage] The store cannot be reached"), 1) << log;
    EXPECT_EQ(CountOf(log, "[StoreOutage] The store answers again"), 1) << log;
  }
  EXPECT_GT(asked, 6);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, SharedStoreOutageTest,
    ::testing::Combine(Backends(),
                       ::testing::Values(OutageCase{"RefusedByDefault", "", "OK minutrix=block"},
                                         OutageCase{"AllowedByTheHelpersOption", "allow", "ERR"})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

}  // namespace
