// HTTPS sites through a real Squid (Debian's squid-openssl) with the helper and the filter: with
// interception (SslBump, a proxy certificate authority made here with openssl) the filter's
// pages answer https:// requests and free sites stay encrypted; without it, the start page lets
// a CONNECT through and a denial refuses it. The sites are nginx over TLS on 127.0.0.2, with a
// certificate of an origin authority that Squid trusts and the proxy's authority does not sign.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;
using test_support::kSourceDir;

constexpr const char* kProxy = "http://127.0.0.1:23128";
constexpr const char* kShop = "https://shop.minutrix.test:23443/";
constexpr const char* kFree = "https://free.minutrix.test:23443/";
constexpr const char* kBank = "https://bank.minutrix.test:23443/";
const std::string kPage = "http://127.0.0.1:23080/Minutrix/Minutrix.asp?";
const std::string kDenied = "Your%20internet%20time%20for%20this%20period%20is%20used%20up.";

struct Reply {
  int curl = -1;         // curl's exit status: 0, or 60 when it trusted no certificate
  std::string connect;   // the proxy's answer to the CONNECT
  std::string code;      // the site's (or the proxy's) answer inside the tunnel
  std::string location;  // the redirect's target
  std::string issuer;    // of the certificate curl was shown
};

// Certificate authorities and accounts of one stack; alice has time, bob has none, carol is not
// monitored. The start page is on.
class HttpsStack {
 public:
  explicit HttpsStack(bool interception) {
    const fs::path machine = dir_.path() / "machine";
    const std::string tool = (kBuildDir / "minutrix-machine").string();
    const std::string db_tool = (kBuildDir / "minutrix-db").string();
    Must({tool, "init", machine.string()});
    fs::create_directories(machine / "c/Minutrix/UserTimesDB");
    fs::copy_file(kBuildDir / "Minutrix.dll", machine / "c/Minutrix/Minutrix.dll");
    const std::string db = Database().string();
    Must({db_tool, "create", db});
    Must({db_tool, "set", db, "ServerPort", "23080"});
    Must({db_tool, "set", db, "ShowStartMessage", "yes"});
    Must({db_tool, "add-site", db, "--host", "free.minutrix.test"});
    Must({db_tool, "add-user", db, "alice", "30"});
    Must({db_tool, "add-user", db, "bob", "2"});
    Must({db_tool, "set-used", db, "bob", "2"});
    Must({tool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d",
          "c:\\Minutrix\\", "/f"});
    const std::string filters = "HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";
    Must({tool, "reg", "add", filters, "/v", "FilterLoadOrder", "/d", "Minutrix", "/f"});
    Must({tool, "reg", "add", filters + "\\Minutrix", "/v", "FilterPath", "/d",
          "c:\\Minutrix\\Minutrix.dll", "/f"});
    const std::string htpasswd = (dir_.path() / "htpasswd").string();
    Must({"/usr/bin/htpasswd", "-bc", htpasswd, "alice", "pw"});
    for (const char* user : {"bob", "carol"})
      Must({"/usr/bin/htpasswd", "-b", htpasswd, user, "pw"});
    MakeCertificates();
    test_support::WriteFile(dir_.path() / "hosts",
                            "127.0.0.2 shop.minutrix.test free.minutrix.test bank.minutrix.test\n");
    SetClock("2026-12-07 09:00:00");
    std::vector<std::string> start = {(kSourceDir / "scripts/minutrix-stack").string(),
                                      "start",
                                      dir_.path().string(),
                                      "--build",
                                      kBuildDir.string(),
                                      "--proxy-port",
                                      "23128",
                                      "--web-port",
                                      "23080",
                                      "--clock-file",
                                      (dir_.path() / "clock").string(),
                                      "--tls-site",
                                      File("site.crt"),
                                      File("site.key"),
                                      "--tls-port",
                                      "23443",
                                      "--origin-ca",
                                      File("origin-ca.crt"),
                                      "--hosts-file",
                                      File("hosts")};
    if (interception) {
      start.insert(start.end(),
                   {"--ssl-bump", File("proxy-ca.pem"), "--splice-host", "bank.minutrix.test"});
    }
    Must(start);
  }
  ~HttpsStack() {
    test_support::Run(
        {(kSourceDir / "scripts/minutrix-stack").string(), "stop", dir_.path().string()});
  }

  const std::string& failures() const { return failures_; }
  std::string File(const std::string& name) const { return (dir_.path() / name).string(); }
  fs::path Database() const {
    return dir_.path() / "machine/c/Minutrix/UserTimesDB/UserTimesDB.mdb";
  }
  void SetClock(const std::string& local_time) const {
    test_support::WriteFile(dir_.path() / "clock", local_time + "\n");
  }
  int Used(const std::string& user) const {
    const auto result =
        test_support::Run({"/usr/bin/sqlite3", Database().string(),
                           "SELECT CurrentInternetTime FROM Users WHERE UserName='" + user + "'"});
    return std::atoi(result.output.c_str());
  }

  // `url` fetched through the proxy as `account`, trusting only the authority `ca`.
  Reply Get(const std::string& account, const std::string& url, const std::string& ca) const {
    const auto result =
        test_support::Run({"/usr/bin/curl", "-sv", "-o", "/dev/null", "--max-time", "20",
                           "--cacert", File(ca), "-x", kProxy, "-U", account + ":pw", "-w",
                           "RESULT %{http_connect} %{http_code} %{redirect_url}", url});
    Reply reply;
    reply.curl = result.exit_code;
    const size_t at = result.output.rfind("RESULT ");
    if (at != std::string::npos) {
      std::istringstream in(result.output.substr(at + 7));
      in >> reply.connect >> reply.code;
      std::getline(in >> std::ws, reply.location);
    }
    const size_t issuer = result.output.find("issuer: ");
    if (issuer != std::string::npos) {
      reply.issuer =
          result.output.substr(issuer + 8, result.output.find('\n', issuer) - issuer - 8);
    }
    return reply;
  }

 private:
  void Must(const std::vector<std::string>& argv) {
    const auto result =
        test_support::Run(argv, {{"MINUTRIX_ROOT", (dir_.path() / "machine").string()}});
    if (result.exit_code != 0) failures_ += argv[0] + " " + argv[1] + ": " + result.output + "\n";
  }
  void Authority(const std::string& name, const std::string& subject) {
    Must({"/usr/bin/openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-x509", "-days",
          "30", "-subj", "/CN=" + subject, "-keyout", File(name + ".key"), "-out",
          File(name + ".crt"), "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
          "keyUsage=critical,keyCertSign,cRLSign"});
  }
  void MakeCertificates() {
    Authority("proxy-ca", "Minutrix test proxy CA");
    test_support::WriteFile(dir_.path() / "proxy-ca.pem",
                            test_support::ReadFile(File("proxy-ca.crt")) +
                                test_support::ReadFile(File("proxy-ca.key")));
    Authority("origin-ca", "Minutrix test origin CA");
    Must({"/usr/bin/openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj",
          "/CN=shop.minutrix.test", "-keyout", File("site.key"), "-out", File("site.csr")});
    test_support::WriteFile(dir_.path() / "site.ext",
                            "subjectAltName=DNS:shop.minutrix.test,DNS:free.minutrix.test,"
                            "DNS:bank.minutrix.test\n");
    Must({"/usr/bin/openssl", "x509", "-req", "-in", File("site.csr"), "-CA", File("origin-ca.crt"),
          "-CAkey", File("origin-ca.key"), "-CAcreateserial", "-days", "30", "-out",
          File("site.crt"), "-extfile", File("site.ext")});
  }

  test_support::ScratchDir dir_;
  std::string failures_;
};

class InterceptionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { stack_ = std::make_unique<HttpsStack>(true); }
  static void TearDownTestSuite() { stack_.reset(); }
  void SetUp() override { ASSERT_EQ(stack_->failures(), ""); }
  static std::unique_ptr<HttpsStack> stack_;
};
std::unique_ptr<HttpsStack> InterceptionTest::stack_;

TEST_F(InterceptionTest, StartPageThenChargedPagesOnAnHttpsSite) {
  stack_->SetClock("2026-12-07 09:00:00");
  Reply reply = stack_->Get("alice", std::string(kShop) + "lesson?a=1", "proxy-ca.crt");
  EXPECT_EQ(reply.curl, 0);
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location, kPage +
                                "UserName=alice&TimeLeft=30&CurrentUserCommand=timeleft"
                                "&RequestedURL=" +
                                kShop + "lesson?a=1");
  EXPECT_EQ(reply.issuer, "CN=Minutrix test proxy CA") << "decrypted with the proxy's authority";
  reply = stack_->Get("alice", kShop, "proxy-ca.crt");
  EXPECT_EQ(reply.code, "200");
  stack_->SetClock("2026-12-07 09:03:10");
  EXPECT_EQ(stack_->Get("alice", kShop, "proxy-ca.crt").code, "200");
  EXPECT_EQ(stack_->Used("ALICE"), 3);
  // Only the proxy's authority vouches for a decrypted site.
  EXPECT_EQ(stack_->Get("alice", kShop, "origin-ca.crt").curl, 60);
}

TEST_F(InterceptionTest, UserOutOfTimeSeesTheDeniedPageOnAnHttpsSite) {
  for (const char* account : {"bob", "carol"}) {
    const Reply reply = stack_->Get(account, kShop, "proxy-ca.crt");
    EXPECT_EQ(reply.connect, "200") << account;
    EXPECT_EQ(reply.code, "302") << account;
    EXPECT_EQ(reply.location, kPage + "UserName=" + account +
                                  "&TimeLeft=0&CurrentUserCommand=timeleft"
                                  "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                  kDenied + (std::string(account) == "carol" ? "&Unknown=1" : ""));
  }
}

// The time-left command's host exists nowhere; its page is answered inside the tunnel.
TEST_F(InterceptionTest, TimeLeftCommandOverHttpsShowsTheTimeLeft) {
  const Reply reply = stack_->Get("bob", "https://timeleft/", "proxy-ca.crt");
  EXPECT_EQ(reply.curl, 0);
  EXPECT_EQ(reply.connect, "200");
  EXPECT_EQ(reply.code, "302");
  EXPECT_EQ(reply.location.rfind(kPage + "UserName=bob&TimeLeft=0&CurrentUserCommand=timeleft"
                                         "&RequestedURL=www.minutrix.com",
                                 0),
            0u)
      << reply.location;
}

// Squid's lists of names must not look an address up in reverse: with no answer coming (an
// address that the hosts file does not name), every tunnel to an address would wait for the
// resolver's timeout. Nothing listens there, so the answer is Squid's own error, but at once.
TEST_F(InterceptionTest, TunnelToAnAddressDoesNotWaitForAReverseLookup) {
  const Reply reply = stack_->Get("bob", "https://127.0.0.3:23443/", "proxy-ca.crt");
  EXPECT_NE(reply.curl, 28) << "timed out";
}

TEST_F(InterceptionTest, FreeSiteIsSplicedNotDecrypted) {
  // The certificate curl sees is the origin's: the proxy's authority cannot vouch for it.
  const Reply reply = stack_->Get("bob", kFree, "origin-ca.crt");
  EXPECT_EQ(reply.curl, 0);
  EXPECT_EQ(reply.code, "200") << "free for a user out of time too";
  EXPECT_EQ(reply.issuer, "CN=Minutrix test origin CA");
  EXPECT_EQ(stack_->Get("bob", kFree, "proxy-ca.crt").curl, 60);
}

TEST_F(InterceptionTest, SplicedHostIsDecidedOnItsConnect) {
  Reply reply = stack_->Get("alice", kBank, "origin-ca.crt");
  EXPECT_EQ(reply.curl, 0);
  EXPECT_EQ(reply.code, "200");
  EXPECT_EQ(reply.issuer, "CN=Minutrix test origin CA");
  // A denial refuses the tunnel itself, never decrypted to show a page: the client is shown no
  // certificate at all, so none forged by the proxy's authority, whichever authority it trusts.
  for (const char* account : {"bob", "carol"}) {
    for (const char* ca : {"origin-ca.crt", "proxy-ca.crt"}) {
      reply = stack_->Get(account, kBank, ca);
      EXPECT_EQ(reply.connect, "403") << account << " " << ca;
      EXPECT_EQ(reply.curl, 56) << account << " " << ca << ": the CONNECT failed";
      EXPECT_EQ(reply.issuer, "") << account << " " << ca;
    }
  }
  EXPECT_EQ(stack_->Get("alice", kBank, "origin-ca.crt").code, "200") << "alice still passes";
}

class NoInterceptionTest : public InterceptionTest {
 protected:
  static void SetUpTestSuite() { stack_ = std::make_unique<HttpsStack>(false); }
};

TEST_F(NoInterceptionTest, FirstConnectOfTheDayPassesAndIsCharged) {
  stack_->SetClock("2026-12-07 09:00:00");
  Reply reply = stack_->Get("alice", kShop, "origin-ca.crt");
  EXPECT_EQ(reply.connect, "200") << "the start page that was due let the tunnel through";
  EXPECT_EQ(reply.code, "200");
  EXPECT_EQ(reply.issuer, "CN=Minutrix test origin CA");
  stack_->SetClock("2026-12-07 09:02:10");
  EXPECT_EQ(stack_->Get("alice", kShop, "origin-ca.crt").code, "200");
  EXPECT_EQ(stack_->Used("ALICE"), 2);
}

TEST_F(NoInterceptionTest, DeniedUsersConnectIsRefused) {
  for (const char* account : {"bob", "carol"}) {
    const Reply reply = stack_->Get(account, kShop, "origin-ca.crt");
    EXPECT_NE(reply.curl, 0) << account;
    EXPECT_EQ(reply.connect, "403") << account;
  }
  EXPECT_EQ(stack_->Get("bob", kFree, "origin-ca.crt").code, "200") << "free sites stay open";
}

}  // namespace
