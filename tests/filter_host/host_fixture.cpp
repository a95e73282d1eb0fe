// The host fixture.
#include "tests/filter_host/host_fixture.h"

#include <cstdlib>
#include <thread>

namespace host_test {

namespace fs = std::filesystem;

std::string Answer::location() const {
  if (responses.size() != 1) return {};
  const std::string& headers = responses.front().headers;
  const std::string prefix = "Location: ";
  if (headers.rfind(prefix, 0) != 0) return "<malformed: " + headers + ">";
  const size_t end = headers.find("\r\n");
  return headers.substr(prefix.size(), end - prefix.size());
}

void HostTest::SetUp() {
  fs::create_directories(Product() / "UserTimesDB");
  fs::create_directories(Database().parent_path());
  fs::copy_file(test_support::kBuildDir / "Minutrix.dll", Product() / "Minutrix.dll");
  Db("create");
  machine_.Reg(
      {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1", "/f"});
  ::setenv("MINUTRIX_CLOCK_FILE", (clock_dir_.path() / "clock").c_str(), 1);
  At("2026-12-07 09:00:00");  // a Monday
}

void HostTest::TearDown() {
  Unload();
  ::unsetenv("MINUTRIX_CLOCK_FILE");
}

void HostTest::Db(const std::string& command, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-db").string(), command,
                                   Store()};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto result = test_support::Run(argv);
  ASSERT_EQ(result.exit_code, 0) << result.output;
  Changed();
}

std::string HostTest::Sql(const std::string& statement) {
  const auto result = test_support::Run({"/usr/bin/sqlite3", Database().string(), statement});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  std::string out = result.output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

int HostTest::UsedMinutes(const std::string& user) {
  const std::string value =
      Sql("SELECT CurrentInternetTime FROM Users WHERE UserName = '" + user + "'");
  return value.empty() ? -999 : std::stoi(value);
}

void HostTest::At(const std::string& local_time) {
  test_support::WriteFile(clock_dir_.path() / "clock", local_time + "\n");
}

BOOL HostTest::Load() {
  std::string error;
  filter_ = isapi_host::LoadedFilter::Load((Product() / "Minutrix.dll").string(), error);
  EXPECT_NE(filter_, nullptr) << error;
  if (!filter_) return FALSE;
  const BOOL result = filter_->CallGetFilterVersion();
  version_ = filter_->version();
  return result;
}

void HostTest::Unload() { filter_.reset(); }

Answer HostTest::Send(const std::string& user, const std::string& url) {
  auto request = isapi_host::MakeRequest(user, url, kServerName);
  std::vector<isapi_host::LoadedFilter*> filters;
  if (filter_) filters.push_back(filter_.get());
  const auto outcome = isapi_host::DeliverRequest(filters, request);
  return Answer{outcome.status, request.responses};
}

std::string HostTest::Log() const {
  for (const auto& entry : fs::directory_iterator(Product())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("MinutrixOutput", 0) == 0) return test_support::ReadFile(entry.path());
  }
  return {};
}

std::vector<std::string> HostTest::LogLines() const { return test_support::CrLfLines(Log()); }

void StoreChoice::Choose(HostStore store) {
  store_ = store;
  if (store == HostStore::kPostgres) {
    if (!test_support::PostgresServer::Installed()) {
      GTEST_SKIP() << "PostgreSQL 15 is not installed";
    }
    postgres_ = std::make_unique<test_support::PostgresStore>();
    ASSERT_TRUE(postgres_->server().Running());
  }
  HostTest::SetUp();
  if (store == HostStore::kBeside) return;
  std::string value = store == HostStore::kPostgres ? postgres_->Target() : "";
  if (store == HostStore::kShared) {
    std::string windows = "Z:" + Database().string();
    for (char& c : windows) c = c == '/' ? '\\' : c;
    value = "Data Source=" + windows + ";";
  }
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixStore", "/d", value, "/f"});
}

std::string StoreChoice::Sql(const std::string& statement) {
  if (!postgres_) return HostTest::Sql(statement);
  const std::string rows = postgres_->Sql(statement);
  if (statement.rfind("SELECT", 0) != 0) Changed();
  return rows;
}

fs::path StoreChoice::Database() const {
  if (store_ == HostStore::kShared) return shared_.path() / "UserTimesDB.mdb";
  return HostTest::Database();
}

std::string StoreChoice::Store() const {
  if (postgres_) return postgres_->Target();
  return HostTest::Store();
}

void StoreChoice::Changed() {
  // Only a loaded filter listens for the change.
  if (postgres_ && filter_) std::this_thread::sleep_for(test_support::PostgresStore::kNoticeDelay);
}

}  // namespace host_test
