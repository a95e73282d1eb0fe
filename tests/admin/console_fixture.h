// A machine root with Minutrix's database and the console's accounts, and minutrix-admin serving
// it on a free port of 127.0.0.1, with its clock in a file the test moves; a browser of the API
// that keeps its session's cookie and token.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/ado_admin.h"
#include "tests/support/test_support.h"

namespace admin_test {

namespace fs = std::filesystem;
using Json = nlohmann::json;

inline const std::string kAdminPassword = "admin-secret-1";
inline const std::string kTeacherPassword = "teacher-secret-1";

class ConsoleServer {
 public:
  // Starts the console with `extra_args` after `serve --listen 127.0.0.1:0`.
  explicit ConsoleServer(const std::vector<std::string>& extra_args = {});
  ~ConsoleServer();

  int port() const { return port_; }
  const fs::path& root() const { return machine_.root(); }
  fs::path Database() const { return machine_.Host("c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb"); }
  std::string DbTool() const { return (test_support::kBuildDir / "minutrix-db").string(); }
  std::string ConsoleLog() const;
  // Moves the console's clock this many seconds from the real time.
  void ShiftClock(long seconds);
  // Runs minutrix-db (or minutrix-admin) with this machine root; fails the test when it fails.
  std::string Db(const std::vector<std::string>& args);
  test_support::CommandResult Admin(const std::vector<std::string>& args,
                                    const std::string& input = {});
  long Sql(const std::string& sql, const std::vector<ado::Parameter>& parameters = {});
  long long Integer(const std::string& sql, const std::vector<ado::Parameter>& parameters = {});
  ado::ConnectionPtr& connection() { return connection_; }
  const std::string& failures() const { return failures_; }

 private:
  test_support::ScratchMachine machine_;
  fs::path clock_file_;
  std::unique_ptr<test_support::LiveProcess> server_;
  ado::ConnectionPtr connection_;
  int port_ = -1;
  std::string failures_;
};

// One browser: its cookie jar is the session cookie; its token the session's CSRF token.
class Browser {
 public:
  explicit Browser(int port) : client_("127.0.0.1", port) { client_.set_read_timeout(20); }
  // POST /login; the status (303 when logged in).
  int Login(const std::string& user, const std::string& password,
            const httplib::Headers& headers = {});
  httplib::Result Get(const std::string& path);
  // POST of JSON, with X-CSRF-Token unless `token` is given as "" (then none).
  httplib::Result Post(const std::string& path, const Json& body);
  httplib::Result PostWithToken(const std::string& path, const Json& body,
                                const std::string& token);
  httplib::Result PostForm(const std::string& path, const std::string& form);
  const std::string& cookie() const { return cookie_; }
  const std::string& csrf() const { return csrf_; }
  std::string last_set_cookie;

 private:
  httplib::Headers Headers() const;
  httplib::Client client_;
  std::string cookie_;
  std::string csrf_;
};

}  // namespace admin_test
