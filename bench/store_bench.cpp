// Cost of the store's part of a request decision with 10, 1,000 and 10,000 users and 100 free
// sites, on a real database file in a scratch machine root, debug log off. The *Postgres cases run
// the same on a PostgreSQL database named by MINUTRIX_BENCH_POSTGRES (a connection string; the
// database is made a store if it is not one, and its rows are replaced), and are skipped without.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>

#include "filter/diagnostic_log.h"
#include "filter/request_state.h"
#include "filter/schedule.h"
#include "filter/sections.h"
#include "filter/shared_store.h"
#include "filter/store.h"
#include "filter/tempogate.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/shlwapi.h"
#include "store/usage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFreeSites = 100;
constexpr const char* kUrl = "http://www.example.com/some/page.html";  // matches no free site

// The PostgreSQL database of the *Postgres cases; empty when none is given.
std::string BenchServer() {
  const char* given = std::getenv("MINUTRIX_BENCH_POSTGRES");
  return given != nullptr ? given : "";
}

// One scratch machine with a store open on a database of `users` users: the file beside the
// filter, or the PostgreSQL database `server`.
class Store {
 public:
  explicit Store(int users, const std::string& server = {}) {
    char pattern[] = "/tmp/minutrix-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    platform::SetMachineRoot(root_);
    fs::create_directories(root_ / "c/Minutrix/UserTimesDB");
    platform::SetValueText(HKEY_LOCAL_MACHINE, "software\\Minutrix", "MinutrixPath",
                           "c:\\Minutrix\\");
    platform::HostCommand create;
    create.argv = {
        std::string(MINUTRIX_BUILD_DIR) + "/minutrix-db", "create",
        server.empty() ? (root_ / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string() : server};
    create.capture_output = true;
    const auto created = platform::RunHostCommand(create);
    if (!created || created->exit_code != 0) std::abort();

    const std::string file = "Data Source=c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb;";
    admin_ = ado::CreateConnection();
    admin_->Open(server.empty() ? file : server, "", "", 0);
    ado::Execute(admin_, "BEGIN");
    if (!server.empty()) {
      for (const char* table :
           {"Users", "tblPages", "History", "HistoryHosts", "ExtraMinutes", "ResetMarker",
            "GroupMembers", "ScheduleGroups", "WeekdayAllowances", "ScheduleWindows",
            "CountingPeriods", "ChargedMinutes"}) {
        ado::Execute(admin_, std::string("DELETE FROM ") + table);
      }
    }
    for (int i = 0; i < users; ++i) {
      ado::Execute(admin_, "INSERT INTO Users VALUES (?1, 100000, 0)", {UserName(i)});
    }
    for (int i = 0; i < kFreeSites; ++i) {
      ado::Execute(admin_, "INSERT INTO tblPages (PageName) VALUES (?1)",
                   {"free-site-" + std::to_string(i) + ".org"});
    }
    ado::Execute(admin_, "COMMIT");

    platform::SetFixedTime(platform::Now());
    ResetLogForTests();
    CreateSections();
    std::snprintf(gblServerName, sizeof gblServerName, "proxy.school.local");
    std::snprintf(gblRequestUrl, sizeof gblRequestUrl, "%s", kUrl);
    lastReset = platform::Now();
    // A server's store is always a shared one: periods in the store, each charge under a row lock.
    SetSharedStore(server);
    if (!OpenDBConnection(server.empty() ? BuildConnectionString("c:\\Minutrix\\") : server) ||
        !filter_.InitializeFilter())
      std::abort();
  }

  ~Store() {
    TerminateDataSets();
    TerminateUserDB();
    TimesMap.clear();
    SetSharedStore("");
    DeleteSections();
    admin_.Release();
    ResetLogForTests();
    platform::SetFixedTime(std::nullopt);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static std::string UserName(int i) { return "USER" + std::to_string(i); }
  ado::ConnectionPtr& admin() { return admin_; }

 private:
  fs::path root_;
  ado::ConnectionPtr admin_;
  ClsTempogate filter_;
};

// The user look-up and the free-site check of one request, for the last user of the table.
void BM_LookUpUserAndSite(benchmark::State& state) {
  Store store(static_cast<int>(state.range(0)));
  const std::string user = Store::UserName(static_cast<int>(state.range(0)) - 1);
  for (auto _ : state) {
    bool has_time = false, found = false;
    LookUpUserInSet(user, &has_time, &found);
    RefreshFreeSites();
    benchmark::DoNotOptimize(LookUpSiteInSet(gblRequestUrl, gblServerName));
    if (!found) state.SkipWithError("user not found");
  }
}
BENCHMARK(BM_LookUpUserAndSite)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The store's whole part of a request decision within one minute (nothing to write), on the file
// or on the PostgreSQL database `server`.
void RequestDecisionOn(benchmark::State& state, const std::string& server) {
  Store store(static_cast<int>(state.range(0)), server);
  const std::string user = Store::UserName(static_cast<int>(state.range(0)) / 2);
  for (auto _ : state) {
    bool has_time = false, found = false;
    CountMonitoredUsers();
    CheckResetSchedule();
    RefreshFreeSites();
    LookUpUserInSet(user, &has_time, &found);
    gblFreeSite = LookUpSiteInSet(gblRequestUrl, gblServerName) != 0;
    int first = 0;
    benchmark::DoNotOptimize(RegisterTime(user, nullptr, &first, has_time));
  }
}
void BM_RequestDecision(benchmark::State& state) { RequestDecisionOn(state, ""); }
BENCHMARK(BM_RequestDecision)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The same decision with classes and schedules (argument 1) or without (0), 10,000 users in 100
// groups, each group with allowances for its weekdays, two allowed windows and one free window,
// in one run so that the two can be compared.
void BM_RequestDecisionSchedules(benchmark::State& state) {
  constexpr int kUsers = 10000;
  Store store(kUsers);
  if (state.range(0) != 0) {
    ado::Execute(store.admin(), "BEGIN");
    for (int g = 0; g < 100; ++g) {
      const std::string group = "G" + std::to_string(g);
      ado::Execute(store.admin(), "INSERT INTO ScheduleGroups VALUES (?1)", {group});
      for (int day = 0; day < 7; ++day) {
        ado::Execute(store.admin(), "INSERT INTO WeekdayAllowances VALUES (?1, ?2, ?3)",
                     {"@" + group, static_cast<long long>(day), 100000LL});
        for (const auto& [kind, start, end] :
             {std::tuple{"allowed", 0, 720}, std::tuple{"allowed", 720, 1440},
              std::tuple{"free", 1430, 1440}}) {
          ado::Execute(store.admin(), "INSERT INTO ScheduleWindows VALUES (?1, ?2, ?3, ?4, ?5)",
                       {"@" + group, std::string(kind), static_cast<long long>(day),
                        static_cast<long long>(start), static_cast<long long>(end)});
        }
      }
    }
    for (int i = 0; i < kUsers; ++i) {
      ado::Execute(store.admin(), "INSERT INTO GroupMembers VALUES (?1, ?2)",
                   {Store::UserName(i), "G" + std::to_string(i % 100)});
    }
    ado::Execute(store.admin(), "UPDATE FilterSettings SET UsersChanged = 1");
    ado::Execute(store.admin(), "COMMIT");
    CountMonitoredUsers();
  }
  const std::string user = Store::UserName(kUsers / 2);
  for (auto _ : state) {
    bool has_time = false, found = false;
    CountMonitoredUsers();
    CheckResetSchedule();
    RefreshFreeSites();
    LookUpUserInSet(user, &has_time, &found);
    gblFreeSite = LookUpSiteInSet(gblRequestUrl, gblServerName) != 0;
    const HoursNow hours = HoursOf(user, platform::Now());
    benchmark::DoNotOptimize(hours);
    int first = 0;
    benchmark::DoNotOptimize(RegisterTime(user, nullptr, &first, has_time));
  }
}
BENCHMARK(BM_RequestDecisionSchedules)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The user's period opened by a first request; returns RegisterTime's start-page flag.
int OpenPeriod(const std::string& user) {
  bool has_time = false, found = false;
  LookUpUserInSet(user, &has_time, &found);
  int first = 0;
  RegisterTime(user, nullptr, &first, 1);
  return first;
}

// RegisterTime when a new minute is due: one durable write per call.
void RegisterTimeWithWriteOn(benchmark::State& state, const std::string& server) {
  Store store(static_cast<int>(state.range(0)), server);
  const std::string user = Store::UserName(static_cast<int>(state.range(0)) / 2);
  int first = OpenPeriod(user);
  bool has_time = false, found = false;
  for (auto _ : state) {
    platform::AdvanceFixedTime(60);
    LookUpUserInSet(user, &has_time, &found);
    if (RegisterTime(user, nullptr, &first, 1) != 1) state.SkipWithError("not charged");
  }
}
void BM_RegisterTimeWithWrite(benchmark::State& state) { RegisterTimeWithWriteOn(state, ""); }
BENCHMARK(BM_RegisterTimeWithWrite)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The look-ups right after another program changed a user: the change must be seen at once.
void BM_LookUpAfterOutsideChange(benchmark::State& state) {
  Store store(static_cast<int>(state.range(0)));
  const std::string user = Store::UserName(static_cast<int>(state.range(0)) - 1);
  long long value = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++value;
    ado::Execute(store.admin(), "UPDATE Users SET CurrentInternetTime = ?1 WHERE UserName = ?2",
                 {value, user});
    state.ResumeTiming();
    bool has_time = false, found = false;
    LookUpUserInSet(user, &has_time, &found);
    RefreshFreeSites();
    benchmark::DoNotOptimize(LookUpSiteInSet(gblRequestUrl, gblServerName));
    if (UserSet.CurrentInternetTime != value) state.SkipWithError("outside change not seen");
  }
}
BENCHMARK(BM_LookUpAfterOutsideChange)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

// One detail line with debugging off, of which a look-up writes (drops) one per free site and more.
void BM_DroppedDetailLine(benchmark::State& state) {
  Store store(10);
  for (auto _ : state)
    DoMessageHandling("[LookUpSiteInSet]Check if the freewebpagename is the standard message", 0);
}
BENCHMARK(BM_DroppedDetailLine);

// The daily reset: every user's minutes to 0 and the marker moved, in one transaction. Wall time:
// the commit waits for the disk.
void BM_DailyReset(benchmark::State& state) {
  Store store(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    ado::Execute(store.admin(), "UPDATE Users SET CurrentInternetTime = 1");
    platform::AdvanceFixedTime(24 * 60 * 60);
    m_pRstUsers->MoveFirst();  // the outside change is read outside the timing
    state.ResumeTiming();
    CheckResetSchedule();
  }
  if (ado::QueryInteger(store.admin(), "SELECT max(CurrentInternetTime) FROM Users", {}, -1) != 0)
    state.SkipWithError("not reset");
}
BENCHMARK(BM_DailyReset)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The daily reset of 10,000 users with a year of history (three sessions a day each) kept to
// 365 days: the reset and the first slice of pruning the day that falls out.
void BM_DailyResetWithYearOfHistory(benchmark::State& state) {
  constexpr int kUsers = 10000;
  Store store(kUsers);
  const long long today = store::LocalDayNumber(platform::Now());
  ado::Execute(store.admin(), "INSERT INTO MinutrixSettings VALUES ('HistoryDays', '365')");
  ado::Execute(
      store.admin(),
      "WITH RECURSIVE d(day) AS (SELECT ?1 UNION ALL SELECT day + 1 FROM d WHERE day < ?2),"
      " u(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM u WHERE i < ?3),"
      " s(start) AS (VALUES (480), (600), (780))"
      " INSERT INTO History (Day, UserName, Start, Minutes, Host)"
      " SELECT day, 'USER' || i, start, 15, 1 + (i + start) % 20 FROM d, u, s",
      {today - 366, today - 1, static_cast<long long>(kUsers - 1)});
  ado::Execute(store.admin(), "UPDATE FilterSettings SET UsersChanged = 1");
  CountMonitoredUsers();  // the setting is read outside the timing
  for (auto _ : state) {
    state.PauseTiming();
    ado::Execute(store.admin(), "UPDATE Users SET CurrentInternetTime = 1");
    platform::AdvanceFixedTime(24 * 60 * 60);
    m_pRstUsers->MoveFirst();
    state.ResumeTiming();
    CheckResetSchedule();
  }
  if (ado::QueryInteger(store.admin(), "SELECT max(CurrentInternetTime) FROM Users", {}, -1) != 0)
    state.SkipWithError("not reset");
  const long long first_kept = store::LocalDayNumber(platform::Now()) - 365 + 1;
  state.counters["runs_left_to_prune"] = static_cast<double>(ado::QueryInteger(
      store.admin(), "SELECT count(*) FROM History WHERE Day < ?1", {first_kept}, -1));
}
BENCHMARK(BM_DailyResetWithYearOfHistory)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

// The database the *Postgres cases run on; false, the case skipped, when none is named.
bool PostgresNamed(benchmark::State& state, std::string& server) {
  server = BenchServer();
  if (server.empty()) state.SkipWithError("MINUTRIX_BENCH_POSTGRES names no database");
  return !server.empty();
}

// BM_RequestDecision and BM_RegisterTimeWithWrite on PostgreSQL, and a host switch there.
void BM_RequestDecisionPostgres(benchmark::State& state) {
  std::string server;
  if (PostgresNamed(state, server)) RequestDecisionOn(state, server);
}
BENCHMARK(BM_RequestDecisionPostgres)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_RegisterTimeWithWritePostgres(benchmark::State& state) {
  std::string server;
  if (PostgresNamed(state, server)) RegisterTimeWithWriteOn(state, server);
}
BENCHMARK(BM_RegisterTimeWithWritePostgres)->Arg(10)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Requests of a user within one minute, each to another host than the one before: every one
// writes the period's host in a transaction that charges nothing (as a page that loads from
// many hosts does).
void BM_HostSwitchPostgres(benchmark::State& state) {
  std::string server;
  if (!PostgresNamed(state, server)) return;
  Store store(10, server);
  const std::string user = Store::UserName(5);
  int first = OpenPeriod(user);
  bool has_time = false, found = false;
  const char* const hosts[] = {"http://a.example/", "http://b.example/"};
  int next = 0;
  for (auto _ : state) {
    std::snprintf(gblRequestUrl, sizeof gblRequestUrl, "%s", hosts[next++ % 2]);
    LookUpUserInSet(user, &has_time, &found);
    if (RegisterTime(user, nullptr, &first, 1) != 1) state.SkipWithError("not decided");
  }
  std::snprintf(gblRequestUrl, sizeof gblRequestUrl, "%s", kUrl);
}
BENCHMARK(BM_HostSwitchPostgres)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
