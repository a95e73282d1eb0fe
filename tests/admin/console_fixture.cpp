// The console's test machine and browser.
#include "tests/admin/console_fixture.h"

#include <signal.h>

namespace admin_test {

ConsoleServer::ConsoleServer(const std::vector<std::string>& extra_args) {
  fs::create_directories(machine_.root() / "c/Minutrix/UserTimesDB");
  Db({"create", Database().string()});
  Admin({"passwd", "admin"}, kAdminPassword + "\n");
  Admin({"passwd", "teach", "--role", "teacher", "--groups", "3B"}, kTeacherPassword + "\n");
  connection_ = ado::CreateConnection();
  connection_->Open("Data Source=c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb;", "", "", 0);
  clock_file_ = machine_.root() / "clock";
  ShiftClock(0);
  std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-admin").string(), "serve",
                                   "--listen", "127.0.0.1:0"};
  argv.insert(argv.end(), extra_args.begin(), extra_args.end());
  server_ = std::make_unique<test_support::LiveProcess>(
      argv,
      std::map<std::string, std::string>{{"MINUTRIX_ROOT", machine_.root().string()},
                                         {"MINUTRIX_CLOCK_FILE", clock_file_.string()}},
      machine_.root() / "serve.stderr");
  // The server does not read its input; the line only makes Ask wait for the first output.
  const std::string line = server_->Ask("");
  const std::string prefix = "Listening on http";
  const size_t colon = line.rfind(':');
  if (line.rfind(prefix, 0) != 0 || colon == std::string::npos) {
    failures_ += "the console did not start: " + line +
                 test_support::ReadFile(machine_.root() / "serve.stderr");
    return;
  }
  port_ = std::stoi(line.substr(colon + 1));
}

ConsoleServer::~ConsoleServer() {
  if (server_ && server_->pid() > 0) ::kill(server_->pid(), SIGTERM);
  server_.reset();
  connection_.Release();
}

std::string ConsoleServer::ConsoleLog() const {
  const fs::path log = machine_.root() / "c/Minutrix/minutrix-admin.log";
  return fs::exists(log) ? test_support::ReadFile(log) : "";
}

void ConsoleServer::ShiftClock(long seconds) {
  test_support::WriteFile(clock_file_, (seconds < 0 ? "" : "+") + std::to_string(seconds) + "\n");
}

std::string ConsoleServer::Db(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {DbTool()};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto result = test_support::Run(argv, {{"MINUTRIX_ROOT", machine_.root().string()}});
  if (result.exit_code != 0) ADD_FAILURE() << "minutrix-db " << args[0] << ": " << result.output;
  return result.output;
}

test_support::CommandResult ConsoleServer::Admin(const std::vector<std::string>& args,
                                                 const std::string& input) {
  std::vector<std::string> argv = {(test_support::kBuildDir / "minutrix-admin").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  auto result = test_support::Run(argv, {{"MINUTRIX_ROOT", machine_.root().string()}}, input);
  if (result.exit_code != 0 && args[0] == "passwd") {
    failures_ += "minutrix-admin passwd: " + result.output;
  }
  return result;
}

long ConsoleServer::Sql(const std::string& sql, const std::vector<ado::Parameter>& parameters) {
  return ado::Execute(connection_, sql, parameters);
}

long long ConsoleServer::Integer(const std::string& sql,
                                 const std::vector<ado::Parameter>& parameters) {
  return ado::QueryInteger(connection_, sql, parameters, -999);
}

httplib::Headers Browser::Headers() const {
  httplib::Headers headers;
  if (!cookie_.empty()) headers.emplace("Cookie", "minutrix_session=" + cookie_);
  return headers;
}

int Browser::Login(const std::string& user, const std::string& password,
                   const httplib::Headers& headers) {
  const std::string form = "user=" + httplib::detail::encode_query_param(user) +
                           "&password=" + httplib::detail::encode_query_param(password);
  auto result = client_.Post("/login", headers, form, "application/x-www-form-urlencoded");
  if (!result) return -1;
  last_set_cookie = result->get_header_value("Set-Cookie");
  const std::string prefix = "minutrix_session=";
  if (result->status == 303 && last_set_cookie.rfind(prefix, 0) == 0) {
    cookie_ = last_set_cookie.substr(prefix.size(), last_set_cookie.find(';') - prefix.size());
    auto session = Get("/api/session");
    if (session && session->status == 200) {
      csrf_ = Json::parse(session->body).value("csrf", "");
    }
  }
  return result->status;
}

httplib::Result Browser::Get(const std::string& path) { return client_.Get(path, Headers()); }

httplib::Result Browser::Post(const std::string& path, const Json& body) {
  return PostWithToken(path, body, csrf_);
}

httplib::Result Browser::PostWithToken(const std::string& path, const Json& body,
                                       const std::string& token) {
  httplib::Headers headers = Headers();
  if (!token.empty()) headers.emplace("X-CSRF-Token", token);
  return client_.Post(path, headers, body.dump(), "application/json");
}

httplib::Result Browser::PostForm(const std::string& path, const std::string& form) {
  return client_.Post(path, Headers(), form, "application/x-www-form-urlencoded");
}

}  // namespace admin_test
