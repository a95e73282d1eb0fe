// The console behind a real nginx with the configuration of docs/admin.md: nginx replaces what a
// browser says of its address and scheme, and the console counts what nginx says. nginx listens
// on 127.0.0.1:24091; the browsers (curl) come from 127.0.0.2 and 127.0.0.3.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>
#include <thread>

#include "tests/admin/console_fixture.h"

namespace admin_test {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kNginxPort = 24091;

class Nginx {
 public:
  explicit Nginx(int console_port) {
    const fs::path dir = dir_.path();
    test_support::WriteFile(
        dir / "nginx.conf",
        "daemon off;\nworker_processes 1;\npid " + (dir / "nginx.pid").string() + ";\nerror_log " +
            (dir / "error.log").string() +
            ";\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n" +
            "  client_body_temp_path " + (dir / "body").string() + ";\n  proxy_temp_path " +
            (dir / "proxy").string() + ";\n  fastcgi_temp_path " + (dir / "fcgi").string() +
            ";\n  uwsgi_temp_path " + (dir / "uwsgi").string() + ";\n  scgi_temp_path " +
            (dir / "scgi").string() + ";\n  server {\n    listen 127.0.0.1:" +
            std::to_string(kNginxPort) + ";\n    client_max_body_size 64k;\n" +
            "    location / {\n      proxy_pass http://127.0.0.1:" + std::to_string(console_port) +
            ";\n      proxy_set_header X-Real-IP $remote_addr;\n" +
            "      proxy_set_header X-Forwarded-Proto $scheme;\n" +
            "      proxy_set_header Host $host;\n    }\n  }\n}\n");
    process_ = std::make_unique<test_support::LiveProcess>(
        std::vector<std::string>{kNginx, "-p", dir.string(), "-c", (dir / "nginx.conf").string()},
        std::map<std::string, std::string>{}, dir / "nginx.stderr");
    // Ready once it answers (a 404 of the console's, or its login page).
    for (int i = 0; i < 200; ++i) {
      if (Curl("127.0.0.1", {"-o", "/dev/null", "-w", "%{http_code}", "/login"}) == "200") return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    failures_ = "nginx did not start: " + test_support::ReadFile(dir / "nginx.stderr");
  }
  ~Nginx() {
    if (process_ && process_->pid() > 0) ::kill(process_->pid(), SIGQUIT);
    process_.reset();
  }
  const std::string& failures() const { return failures_; }

  // curl from source address `from` to nginx; its output.
  static std::string Curl(const std::string& from, std::vector<std::string> args) {
    std::vector<std::string> argv = {"/usr/bin/curl", "-s", "--max-time", "10",
                                     "--interface",   from};
    const std::string path = args.back();
    args.pop_back();
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("http://127.0.0.1:" + std::to_string(kNginxPort) + path);
    return test_support::Run(argv).output;
  }
  // A login through nginx from `from`, with the headers a browser forged; "STATUS SET-COOKIE".
  static std::string Login(const std::string& from, const std::string& user,
                           const std::string& password) {
    return Curl(from, {"-o", "/dev/null", "-w", "%{http_code} %header{set-cookie}", "-H",
                       "X-Real-IP: 10.6.6.6", "-H", "X-Forwarded-Proto: https", "-d",
                       "user=" + user + "&password=" + password, "/login"});
  }

 private:
  test_support::ScratchDir dir_;
  std::unique_ptr<test_support::LiveProcess> process_;
  std::string failures_;
};

TEST(BehindNginxTest, TheThrottleCountsTheAddressNginxSawAndForgedHeadersCountForNothing) {
  if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed";
  ConsoleServer console({"--trusted-proxy", "127.0.0.1"});
  ASSERT_EQ(console.failures(), "");
  Nginx nginx(console.port());
  ASSERT_EQ(nginx.failures(), "");
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Nginx::Login("127.0.0.2", "guess" + std::to_string(i), "x").substr(0, 3), "401");
  }
  EXPECT_EQ(Nginx::Login("127.0.0.2", "admin", kAdminPassword).substr(0, 3), "429");
  const std::string other = Nginx::Login("127.0.0.3", "admin", kAdminPassword);
  EXPECT_EQ(other.substr(0, 3), "303") << "another browser behind the same nginx";
  EXPECT_NE(other.find("minutrix_session="), std::string::npos) << other;
  EXPECT_EQ(other.find("Secure"), std::string::npos)
      << "nginx spoke plain HTTP, whatever the browser claimed: " << other;
  const std::string log = console.ConsoleLog();
  EXPECT_NE(log.find("the address 127.0.0.2 are refused"), std::string::npos) << log;
  EXPECT_NE(log.find("logged in from 127.0.0.3"), std::string::npos) << log;
  EXPECT_EQ(log.find("10.6.6.6"), std::string::npos) << log;
}

}  // namespace
}  // namespace admin_test
