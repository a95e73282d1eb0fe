// The console's Today board with 10,000 users in 100 classes, each with three runs of history
// today and every tenth with extra minutes: the store's read alone, the API answered in-process,
// and the API over HTTP on 127.0.0.1 as a browser asks for it (admin: all users; teacher: one
// class of 100).
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "admin/accounts.h"
#include "admin/console.h"
#include "platform/ado_admin.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/web/http_server.h"
#include "platform/web/secrets.h"
#include "store/schema.h"
#include "store/today.h"
#include "store/usage.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsers = 10000;
constexpr int kClasses = 100;

class Board {
 public:
  Board() {
    char pattern[] = "/tmp/minutrix-admin-bench-XXXXXX";
    root_ = ::mkdtemp(pattern);
    platform::SetMachineRoot(root_);
    fs::create_directories(root_ / "c/Minutrix/UserTimesDB");
    platform::HostCommand create;
    create.argv = {std::string(MINUTRIX_BUILD_DIR) + "/minutrix-db", "create",
                   (root_ / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string()};
    create.capture_output = true;
    const auto created = platform::RunHostCommand(create);
    if (!created || created->exit_code != 0) std::abort();
    connection_ = ado::CreateConnection();
    connection_->Open(kConnection, "", "", 0);
    store::CreateOwnTables(connection_);
    const long long today = store::LocalDayNumber(platform::Now());
    ado::Execute(connection_, "BEGIN");
    for (int c = 0; c < kClasses; ++c) {
      ado::Execute(connection_, "INSERT INTO ScheduleGroups VALUES (?1)", {ClassName(c)});
    }
    for (int i = 0; i < kUsers; ++i) {
      const std::string user = "PUPIL" + std::to_string(i);
      ado::Execute(connection_, "INSERT INTO Users VALUES (?1, 60, ?2)",
                   {user, static_cast<long long>(i % 70)});
      ado::Execute(connection_, "INSERT INTO GroupMembers VALUES (?1, ?2)",
                   {user, ClassName(i % kClasses)});
      for (int run = 0; run < 3; ++run) {
        ado::Execute(connection_,
                     "INSERT INTO History (Day, UserName, Start, Minutes) VALUES (?1, ?2, ?3, 10)",
                     {today, user, static_cast<long long>(480 + run * 120 + i % 60)});
      }
      if (i % 10 == 0) {
        ado::Execute(connection_, "INSERT INTO ExtraMinutes VALUES (?1, 15)", {user});
      }
    }
    ado::Execute(connection_, "COMMIT");

    admin::Accounts accounts(root_ / "c/Minutrix/minutrix-admin.accounts");
    accounts.Set({"admin", admin::Role::kAdmin, {}, platform::HashPassword("bench-password")});
    accounts.Set(
        {"teach", admin::Role::kTeacher, {ClassName(7)}, platform::HashPassword("bench-password")});
    admin::ConsoleOptions options;
    options.connection_string = kConnection;
    options.accounts_file = root_ / "c/Minutrix/minutrix-admin.accounts";
    options.log_file = root_ / "c/Minutrix/minutrix-admin.log";
    console_ = std::make_unique<admin::Console>(options);
  }
  ~Board() {
    if (server_) {
      server_->Stop();
      thread_.join();
    }
    console_.reset();
    connection_.Release();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static std::string ClassName(int c) { return "Class " + std::to_string(c); }

  // The session cookie of a login in-process.
  std::string Login(const std::string& user) {
    platform::HttpRequest request;
    request.method = "POST";
    request.target = "/login";
    request.peer_address = "127.0.0.1";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    request.body = "user=" + user + "&password=bench-password";
    platform::HttpResponse response;
    console_->Handle(request, response);
    for (const auto& [name, value] : response.headers) {
      if (name == "Set-Cookie") return value.substr(0, value.find(';'));
    }
    std::abort();
  }

  platform::HttpResponse Today(const std::string& cookie) {
    platform::HttpRequest request;
    request.method = "GET";
    request.target = "/api/today";
    request.peer_address = "127.0.0.1";
    request.headers = {{"Cookie", cookie}};
    platform::HttpResponse response;
    console_->Handle(request, response);
    return response;
  }

  int Serve() {
    if (server_) return port_;
    std::string error;
    server_ = platform::HttpServer::Create("", "", error);
    port_ = server_->Bind("127.0.0.1", 0, error);
    thread_ = std::thread([this] {
      server_->Run([this](const platform::HttpRequest& request, platform::HttpResponse& response) {
        console_->Handle(request, response);
      });
    });
    return port_;
  }

  ado::ConnectionPtr& connection() { return connection_; }

 private:
  static constexpr const char* kConnection =
      "Data Source=c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb;";
  fs::path root_;
  ado::ConnectionPtr connection_;
  std::unique_ptr<admin::Console> console_;
  std::unique_ptr<platform::HttpServer> server_;
  std::thread thread_;
  int port_ = -1;
};

Board& TheBoard() {
  static Board board;
  return board;
}

void BM_ReadToday(benchmark::State& state) {
  Board& board = TheBoard();
  for (auto _ : state) {
    auto rows = store::ReadToday(board.connection(), platform::Now());
    if (rows.size() != kUsers) std::abort();
    benchmark::DoNotOptimize(rows);
  }
}
BENCHMARK(BM_ReadToday)->Unit(benchmark::kMillisecond);

void BM_TodayApiInProcess(benchmark::State& state) {
  Board& board = TheBoard();
  const std::string cookie = board.Login(state.range(0) == 0 ? "admin" : "teach");
  for (auto _ : state) {
    const auto response = board.Today(cookie);
    if (response.status != 200) std::abort();
    state.counters["bytes"] = static_cast<double>(response.body.size());
  }
  state.SetLabel(state.range(0) == 0 ? "admin, 10000 rows" : "teacher, 100 rows");
}
BENCHMARK(BM_TodayApiInProcess)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_TodayApiOverHttp(benchmark::State& state) {
  Board& board = TheBoard();
  const std::string cookie = board.Login(state.range(0) == 0 ? "admin" : "teach");
  httplib::Client client("127.0.0.1", board.Serve());
  for (auto _ : state) {
    auto result = client.Get("/api/today", {{"Cookie", cookie}});
    if (!result || result->status != 200) std::abort();
  }
  state.SetLabel(state.range(0) == 0 ? "admin, 10000 rows" : "teacher, 100 rows");
}
BENCHMARK(BM_TodayApiOverHttp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
