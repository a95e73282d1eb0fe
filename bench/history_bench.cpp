// The reports over a synthetic school year, and the size of its history on disk. The year: 1,000
// users, 250 school days, 45 minutes a day each in 3 sessions of 15, the host changing every 5
// minutes among 20 hosts (11.25 million charged minutes in 2.25 million runs), written with SQL
// in the order the filter would write it (day by day, minute by minute, users interleaved).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "platform/ado_admin.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "store/report_format.h"
#include "store/reports.h"
#include "store/usage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsers = 1000;
constexpr int kSchoolDays = 250;
constexpr const char* kFirstDay = "2025-09-01";  // a Monday

class SyntheticYear {
 public:
  SyntheticYear() {
    char pattern[] = "/tmp/minutrix-history-bench-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    db_ = dir_ / "UserTimesDB.mdb";
    platform::HostCommand create;
    create.argv = {std::string(MINUTRIX_BUILD_DIR) + "/minutrix-db", "create", db_.string()};
    create.capture_output = true;
    const auto created = platform::RunHostCommand(create);
    if (!created || created->exit_code != 0) std::abort();
    connection_ = ado::CreateConnection();
    connection_->Open("Data Source=" + platform::WindowsPath(db_) + ";", "", "", 0);
    Checkpoint();
    const auto empty = fs::file_size(db_);
    Generate();
    Checkpoint();
    minutes_ = ado::QueryInteger(connection_, "SELECT sum(Minutes) FROM History", {}, 0);
    runs_ = ado::QueryInteger(connection_, "SELECT count(*) FROM History", {}, 0);
    file_bytes_ = static_cast<std::int64_t>(fs::file_size(db_));
    history_bytes_ = file_bytes_ - static_cast<std::int64_t>(empty);
    first_day_ = *store::ParseDay(kFirstDay);
    last_day_ = ado::QueryInteger(connection_, "SELECT max(Day) FROM History", {}, 0);
    std::fprintf(stderr,
                 "synthetic year: %lld charged minutes in %lld runs, %s to %s; file %lld bytes, "
                 "%lld bytes more than the empty database: %.2f bytes per charged minute\n",
                 static_cast<long long>(minutes_), static_cast<long long>(runs_),
                 store::DayText(first_day_).c_str(), store::DayText(last_day_).c_str(),
                 static_cast<long long>(file_bytes_), static_cast<long long>(history_bytes_),
                 static_cast<double>(history_bytes_) / static_cast<double>(minutes_));
  }
  ~SyntheticYear() {
    connection_.Release();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static SyntheticYear& Get() {
    static SyntheticYear year;
    return year;
  }

  const ado::ConnectionPtr& connection() const { return connection_; }
  const fs::path& db() const { return db_; }
  store::Period WholeYear() const { return {first_day_, last_day_, ""}; }
  double BytesPerMinute() const {
    return static_cast<double>(history_bytes_) / static_cast<double>(minutes_);
  }

 private:
  void Checkpoint() { ado::QueryInteger(connection_, "PRAGMA wal_checkpoint(TRUNCATE)", {}, 0); }

  void Generate() {
    const std::string first = std::to_string(*store::ParseDay(kFirstDay));
    ado::Execute(connection_, "BEGIN");
    ado::Execute(connection_,
                 "INSERT INTO HistoryHosts (ID, Name) WITH RECURSIVE h(i) AS (SELECT 1 UNION ALL"
                 " SELECT i + 1 FROM h WHERE i < 20) SELECT i, 'site' || i || '.example.org'"
                 " FROM h");
    ado::Execute(connection_,
                 "INSERT INTO Users (UserName, MaxInternetTime, CurrentInternetTime)"
                 " WITH RECURSIVE u(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM u WHERE i < ?1)"
                 " SELECT printf('USER%04d', i), 45, 0 FROM u",
                 {std::int64_t{kUsers - 1}});
    // School days are the weekdays (day 0, 1970-01-01, was a Thursday).
    ado::Execute(connection_,
                 "CREATE TEMP TABLE school_days AS WITH RECURSIVE c(day) AS (SELECT " + first +
                     " UNION ALL SELECT day + 1 FROM c WHERE day < " + first +
                     " + 400) SELECT day FROM c WHERE (day + 4) % 7 BETWEEN 1 AND 5 LIMIT ?1",
                 {std::int64_t{kSchoolDays}});
    ado::Execute(connection_,
                 "CREATE TEMP TABLE user_numbers AS WITH RECURSIVE u(i) AS (SELECT 0 UNION ALL"
                 " SELECT i + 1 FROM u WHERE i < ?1) SELECT i FROM u",
                 {std::int64_t{kUsers - 1}});
    // Session s (0 to 2) of 15 minutes in pieces p (0 to 2) of 5 minutes on one host each.
    ado::Execute(connection_,
                 "CREATE TEMP TABLE session_pieces AS WITH RECURSIVE p(k) AS (SELECT 0 UNION ALL"
                 " SELECT k + 1 FROM p WHERE k < 8) SELECT k / 3 AS s, k % 3 AS p FROM p");
    ado::Execute(connection_,
                 "INSERT INTO History (Day, UserName, Start, Minutes, Host, Free)"
                 " SELECT day, printf('USER%04d', i),"
                 " (CASE s WHEN 0 THEN 540 + i % 40 WHEN 1 THEN 690 + i % 45 ELSE 840 + i % 50"
                 " END) + 5 * p, 5, 1 + (i * 7 + day + s * 3 + p) % 20, 0"
                 " FROM school_days, user_numbers, session_pieces ORDER BY day, s, p, i");
    ado::Execute(connection_, "COMMIT");
  }

  fs::path dir_;
  fs::path db_;
  ado::ConnectionPtr connection_;
  std::int64_t minutes_ = 0;
  std::int64_t runs_ = 0;
  std::int64_t file_bytes_ = 0;
  std::int64_t history_bytes_ = 0;
  long long first_day_ = 0;
  long long last_day_ = 0;
};

constexpr store::ReportBy kBy[] = {store::ReportBy::kDay, store::ReportBy::kUser,
                                   store::ReportBy::kSite, store::ReportBy::kHour};
constexpr const char* kByName[] = {"day", "user", "site", "hour"};

// The report's query and its text, in this process, on an open connection.
void BM_Report(benchmark::State& state) {
  SyntheticYear& year = SyntheticYear::Get();
  std::size_t bytes = 0;
  for (auto _ : state) {
    store::Report report;
    report.by = kBy[state.range(0)];
    report.period = year.WholeYear();
    store::FillReport(year.connection(), report);
    std::ostringstream text;
    store::WriteReport(report, store::ReportFormat::kText, store::Language::kEnglish, text);
    bytes = text.str().size();
  }
  state.SetLabel(std::string("--by ") + kByName[state.range(0)]);
  state.counters["output_bytes"] = static_cast<double>(bytes);
  state.counters["bytes_per_minute"] = year.BytesPerMinute();
}
BENCHMARK(BM_Report)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// What the administrator waits for: `minutrix-db report DB --by X` over the whole year, process
// start and the database's opening included, the text written to a file.
void BM_ReportCommand(benchmark::State& state) {
  SyntheticYear& year = SyntheticYear::Get();
  const store::Period period = year.WholeYear();
  platform::HostCommand command;
  command.argv = {std::string(MINUTRIX_BUILD_DIR) + "/minutrix-db",
                  "report",
                  year.db().string(),
                  "--by",
                  kByName[state.range(0)],
                  "--from",
                  store::DayText(period.first_day),
                  "--to",
                  store::DayText(period.last_day),
                  "--output",
                  "/dev/null"};
  command.capture_output = true;
  for (auto _ : state) {
    const auto done = platform::RunHostCommand(command);
    if (!done || done->exit_code != 0) state.SkipWithError("minutrix-db report failed");
  }
  state.SetLabel(std::string("--by ") + kByName[state.range(0)]);
}
BENCHMARK(BM_ReportCommand)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
