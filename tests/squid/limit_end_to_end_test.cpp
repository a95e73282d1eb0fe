// Through a real Squid: the ways around the limit that once worked. Each suite starts its own
// stack on the ports of the end-to-end test (one suite at a time), with the keyed extras that
// --squid-config prints or with Squid's default extras and the helper's --extras default.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;

constexpr const char* kProxy = "http://127.0.0.1:13128";
constexpr const char* kSite = "http://127.0.0.2:18080/";

struct Reply {
  std::string code;
  std::string location;
};

// Machine root, database and accounts of one stack: alice has time, bob has none, dave is
// unlimited; mallory and eve are not monitored and carry keys of the keyed extras in their names.
class Stack {
 public:
  explicit Stack(const std::string& extras) {
    const fs::path machine = dir_.path() / "machine";
    const std::map<std::string, std::string> env = {{"MINUTRIX_ROOT", machine.string()}};
    const auto must = [&](const std::vector<std::string>& argv) {
      const auto result = test_support::Run(argv, env);
      if (result.exit_code != 0) failures_ += argv[0] + ": " + result.output + "\n";
    };
    const std::string tool = (kBuildDir / "minutrix-machine").string();
    const std::string db_tool = (kBuildDir / "minutrix-db").string();
    must({tool, "init", machine.string()});
    fs::create_directories(machine / "c/Minutrix/UserTimesDB");
    fs::copy_file(kBuildDir / "Minutrix.dll", machine / "c/Minutrix/Minutrix.dll");
    const std::string db = (machine / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string();
    must({db_tool, "create", db});
    must({db_tool, "set", db, "ServerPort", "18080"});
    must({db_tool, "add-user", db, "alice", "30"});
    must({db_tool, "add-user", db, "bob", "2"});
    must({db_tool, "set-used", db, "bob", "2"});
    must({db_tool, "add-user", db, "dave", "-1"});
    must({tool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d",
          "c:\\Minutrix\\", "/f"});
    const std::string filters = "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";
    must({tool, "reg", "add", filters, "/v", "FilterLoadOrder", "/d", "Minutrix", "/f"});
    must({tool, "reg", "add", filters + "\\Minutrix", "/v", "FilterPath", "/d",
          "c:\\Minutrix\\Minutrix.dll", "/f"});
    const std::string htpasswd = (dir_.path() / "htpasswd").string();
    must({"/usr/bin/htpasswd", "-bc", htpasswd, "CORP\\alice", "pw"});
    for (const char* user : {"bob", "dave", "mallory user=dave", "eve method=GET"})
      must({"/usr/bin/htpasswd", "-b", htpasswd, user, "pw"});
    test_support::WriteFile(dir_.path() / "clock", "2026-12-07 09:00:00\n");
    must({(test_support::kSourceDir / "scripts/minutrix-stack").string(), "start",
          dir_.path().string(), "--build", kBuildDir.string(), "--proxy-port", "13128",
          "--web-port", "18080", "--clock-file", (dir_.path() / "clock").string(), "--extras",
          extras});
  }
  ~Stack() {
    test_support::Run({(test_support::kSourceDir / "scripts/minutrix-stack").string(), "stop",
                       dir_.path().string()});
  }
  const std::string& failures() const { return failures_; }
  std::string CacheLog() const {
    return test_support::ReadFile(dir_.path() / "run/logs/cache.log");
  }

  static Reply Get(const std::string& account, const std::string& url) {
    const auto result = test_support::Run({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time",
                                           "20", "-x", kProxy, "-U", account + ":pw", "-w",
                                           "%{http_code} %{redirect_url}", url});
    std::istringstream in(result.output);
    Reply reply;
    in >> reply.code;
    std::getline(in >> std::ws, reply.location);
    return reply;
  }

 private:
  test_support::ScratchDir dir_;
  std::string failures_;
};

const std::string kPageFor = "http://127.0.0.1:18080/Minutrix/Minutrix.asp?UserName=";

class KeyedExtrasLimitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { stack_ = std::make_unique<Stack>("keyed"); }
  static void TearDownTestSuite() { stack_.reset(); }
  void SetUp() override { ASSERT_EQ(stack_->failures(), ""); }
  static std::unique_ptr<Stack> stack_;
};
std::unique_ptr<Stack> KeyedExtrasLimitTest::stack_;

TEST_F(KeyedExtrasLimitTest, ProxyNameInAQueryDoesNotFreeAUserOutOfTime) {
  const Reply reply = Stack::Get("bob", std::string(kSite) + "?x=127.0.0.1");
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location.rfind(kPageFor + "bob&TimeLeft=0&", 0), 0u) << reply.location;
  EXPECT_EQ(Stack::Get("bob", "http://127.0.0.1:18080/other?x=1").code, "404")
      << "the proxy's own host is still free (nginx answers)";
}

TEST_F(KeyedExtrasLimitTest, NamesHoldingKeysStayOneName) {
  Reply reply = Stack::Get("mallory user=dave", kSite);
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location.rfind(kPageFor + "mallory%20user=dave&TimeLeft=0&", 0), 0u)
      << reply.location;
  EXPECT_EQ(Stack::Get("dave", kSite).code, "200");
}

class DefaultExtrasLimitTest : public KeyedExtrasLimitTest {
 protected:
  static void SetUpTestSuite() { stack_ = std::make_unique<Stack>("default"); }
};

TEST_F(DefaultExtrasLimitTest, LoginNameCannotSwitchTheLineFormat) {
  Reply reply = Stack::Get("mallory user=dave", kSite);
  EXPECT_EQ(reply.code, "302") << "served as dave (unlimited) when the name switched the format";
  EXPECT_EQ(reply.location.rfind(kPageFor + "mallory%20user=dave&TimeLeft=0&", 0), 0u)
      << reply.location;
  reply = Stack::Get("eve method=GET", kSite);
  EXPECT_EQ(reply.code, "302") << "passed unfiltered when the name switched the format";
  EXPECT_EQ(reply.location.rfind(kPageFor + "eve%20method=GET&TimeLeft=0&", 0), 0u)
      << reply.location;
}

TEST_F(DefaultExtrasLimitTest, MonitoredUsersAreDecidedAsWithKeyedExtras) {
  EXPECT_EQ(Stack::Get("CORP\\alice", kSite).code, "200");
  EXPECT_EQ(Stack::Get("dave", kSite).code, "200");
  const Reply reply = Stack::Get("bob", kSite);
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location.rfind(kPageFor + "bob&TimeLeft=0&", 0), 0u) << reply.location;
  EXPECT_EQ(Stack::Get("CORP\\alice", "http://timeleft/").location.rfind(kPageFor + "alice&", 0),
            0u);
  EXPECT_EQ(stack_->CacheLog().find("did not fit"), std::string::npos) << stack_->CacheLog();
}

}  // namespace
