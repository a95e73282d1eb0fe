// The helper program fed request lines the way Squid feeds them: its answers, the filters it
// loads, and input that must never make it die.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "hosts/squid/filter_chain.h"
#include "platform/services.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class HelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Product() / "UserTimesDB");
    fs::copy_file(test_support::kBuildDir / "Minutrix.dll", Product() / "Minutrix.dll");
    Db({"create"});
    Db({"add-user", "alice", "5"});
    Db({"add-site", "free.example.org"});
    machine_.Reg(
        {"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    Register();
    test_support::WriteFile(clock_.path() / "clock", "2026-12-07 09:00:00\n");
  }
  void Register() {
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey, "/v", "FilterLoadOrder", "/d",
                  "Minutrix", "/f"});
    machine_.Reg({"add", std::string("HKLM\\") + squid::kFiltersKey + "\\Minutrix", "/v",
                  "FilterPath", "/d", "c:\\Minutrix\\Minutrix.dll", "/f"});
  }
  fs::path Product() const { return machine_.root() / "c/Minutrix"; }
  fs::path Database() const { return Product() / "UserTimesDB/UserTimesDB.mdb"; }
  void Db(std::vector<std::string> args) {
    args.insert(args.begin() + 1, Database().string());
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    const auto result = test_support::Run(args);
    ASSERT_EQ(result.exit_code, 0) << result.output;
  }
  // Runs the helper over `input`; returns its standard output and error, lines split.
  std::vector<std::string> Helper(const std::string& input, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {(test_support::kBuildDir / "minutrix-squid-helper").string(),
                               "--server-name", "proxy.test"});
    result_ = test_support::Run(args, {{"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
                                input);
    EXPECT_EQ(result_.exit_code, 0) << result_.output;
    std::vector<std::string> lines;
    std::istringstream in(result_.output);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("minutrix-squid-helper: ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }

  test_support::ScratchMachine machine_;
  test_support::ScratchDir clock_;
  test_support::CommandResult result_;
};

const std::string kPage = "http://proxy.test:80/Minutrix/Minutrix.asp?";

TEST_F(HelperTest, AnswersEachRequestInOrderWithItsChannel) {
  const auto answers = Helper(
      "1 http://a.example/ ip=127.0.0.1 method=GET user=CORP%5Calice\n"
      "2 http://timeleft/ ip=127.0.0.1 method=GET user=CORP%5Calice\n"
      "3 http://free.example.org/ ip=127.0.0.1 method=GET user=nobody\n"
      "4 http://a.example/ ip=127.0.0.1 method=GET user=-\n"
      "5 a.example:443 ip=127.0.0.1 method=CONNECT user=nobody\n"
      "6 a.example:443 ip=127.0.0.1 method=CONNECT user=alice\n");
  ASSERT_EQ(answers.size(), 6u) << result_.output;
  EXPECT_EQ(answers[0], "1 ERR");
  EXPECT_EQ(
      answers[1],
      "2 OK status=302 url=\"" + kPage +
          "UserName=alice&TimeLeft=5&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com\"");
  // A user who is not monitored is denied, also on a free site; the request then goes on, but
  // Squid redirects it: the denied page is all the user sees.
  EXPECT_EQ(answers[2].rfind("3 OK status=302 url=\"" + kPage + "UserName=nobody&TimeLeft=0&", 0),
            0u)
      << answers[2];
  EXPECT_NE(answers[2].find("&DeniedMessage=Your%20internet%20time"), std::string::npos);
  EXPECT_EQ(answers[3], "4 ERR");                // anonymous
  EXPECT_EQ(answers[4], "5 OK minutrix=block");  // a denial cannot be shown on CONNECT
  EXPECT_EQ(answers[5], "6 ERR");
}

TEST_F(HelperTest, StartPageDueOnAConnectOpensTheTunnelAndOnlyADenialRefusesIt) {
  Db({"set", "ShowStartMessage", "yes"});
  Db({"add-user", "bob", "2"});
  Db({"set-used", "bob", "2"});
  const auto answers = Helper(
      "1 a.example:443 ip=127.0.0.1 method=CONNECT user=alice\n"
      "2 http://a.example/ ip=127.0.0.1 method=GET user=alice\n"
      "3 a.example:443 ip=127.0.0.1 method=CONNECT user=bob\n"
      "4 http://b.example/ ip=127.0.0.1 method=GET user=carol\n"
      "5 b.example:443 ip=127.0.0.1 method=CONNECT user=carol\n");
  ASSERT_EQ(answers.size(), 5u) << result_.output;
  EXPECT_EQ(answers[0], "1 ERR");
  EXPECT_EQ(answers[1], "2 ERR") << "the CONNECT began the period: its start page is spent";
  EXPECT_EQ(answers[2], "3 OK minutrix=block");  // out of time
  EXPECT_NE(answers[3].find("&DeniedMessage="), std::string::npos) << answers[3];
  EXPECT_EQ(answers[4], "5 OK minutrix=block");  // not monitored
  // A plain request's start page is still shown.
  Db({"add-user", "dave", "9"});
  EXPECT_EQ(Helper("http://a.example/ ip=127.0.0.1 method=GET user=dave\n")[0],
            "OK status=302 url=\"" + kPage +
                "UserName=dave&TimeLeft=9&CurrentUserCommand=timeleft&RequestedURL=http://"
                "a.example/\"");
}

TEST_F(HelperTest, SquidsDefaultExtrasWork) {
  const auto answers =
      Helper("http://timeleft/ 127.0.0.1/localhost CORP\\alice GET myip=127.0.0.1 myport=3128\n",
             {"--extras", "default"});
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_NE(answers[0].find("UserName=alice&TimeLeft=5"), std::string::npos) << answers[0];
}

TEST_F(HelperTest, OverTheAllowanceEndsRequestsWithTheDeniedPage) {
  Db({"set-used", "alice", "5"});
  const auto answers = Helper(
      "http://a.example/ ip=127.0.0.1 method=GET user=alice\n"
      "http://free.example.org/x ip=127.0.0.1 method=GET user=alice\n");
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_NE(answers[0].find("&DeniedMessage="), std::string::npos) << answers[0];
  EXPECT_EQ(answers[1], "ERR");
}

TEST_F(HelperTest, NeverDiesOnBadInput) {
  std::string input;
  input += "\n";                             // empty line
  input += std::string(100000, 'u') + "\n";  // one URL of 100,000 characters
  input +=
      "http://a.example/ ip=1 method=GET user=" + std::string(9000, 'n') + "\n";  // name > 8192
  input += std::string("\x01\x02\xff\xfe binary \x7f\x80", 14) + "\n";
  input += "9\n";                                          // a channel and nothing else
  input += std::string(2 << 20, 'x') + "\n";               // a line over the helper's cap
  input += "http://timeleft/ ip=1 method=GET user=alice";  // last line without its end
  const auto answers = Helper(input);
  ASSERT_EQ(answers.size(), 7u) << result_.output.substr(0, 2000);
  // Lines that do not fit are refused: Squid would pass a request on after a BH.
  EXPECT_EQ(answers[0], "OK minutrix=block");
  EXPECT_EQ(answers[1], "OK minutrix=block");  // no extras
  EXPECT_EQ(answers[2], "ERR");                // a name the server cannot give is no user
  EXPECT_EQ(answers[3], "OK minutrix=block");
  EXPECT_EQ(answers[4], "9 OK minutrix=block");
  EXPECT_EQ(answers[5], "OK minutrix=block");
  EXPECT_NE(answers[6].find("UserName=alice"), std::string::npos);
}

TEST_F(HelperTest, DatabaseLockedLongerThanTheWaitEndsTheRequestWithoutHanging) {
  // Another program holds the database for longer than the filter waits for it.
  std::thread holder([this] {
    test_support::Run({"/usr/bin/sqlite3", Database().string()}, {},
                      // Waits out a probe below that may hold the lock for a moment, so the
                      // BEGIN is never lost to it.
                      ".timeout 5000\nBEGIN EXCLUSIVE;\nUPDATE Users SET MaxInternetTime = "
                      "MaxInternetTime;\n.shell sleep 8\nCOMMIT;\n");
  });
  for (int i = 0; i < 100; ++i) {  // until the lock is held
    const auto probe =
        test_support::Run({"/usr/bin/sqlite3", Database().string(), "BEGIN IMMEDIATE; ROLLBACK;"});
    if (probe.exit_code != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string clock = (clock_.path() / "clock").string();
  const auto answers = Helper(
      "1 http://a.example/ ip=1 method=GET user=alice\n"
      "2 http://a.example/ ip=1 method=GET user=alice\n",
      {});
  holder.join();
  ASSERT_EQ(answers.size(), 2u) << result_.output;
  EXPECT_EQ(answers[0], "1 OK minutrix=block")
      << "the filter failed: the request must not reach the web";
  std::string log;
  for (const auto& entry : fs::directory_iterator(Product())) {
    if (entry.path().filename().string().rfind("MinutrixOutput", 0) == 0)
      log = test_support::ReadFile(entry.path());
  }
  EXPECT_NE(log.find("*Error:\r\n*\tCode = "), std::string::npos) << log;
  const auto used =
      test_support::Run({"/usr/bin/sqlite3", Database().string(), "PRAGMA integrity_check;"});
  EXPECT_EQ(used.output, "ok\n");
}

TEST_F(HelperTest, FilterThatRefusesToStartLetsRequestsPass) {
  fs::remove(Database());
  const auto answers = Helper("http://a.example/ ip=1 method=GET user=alice\n");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0], "ERR");
  EXPECT_NE(result_.output.find("GetFilterVersion answered FALSE"), std::string::npos)
      << result_.output;
  EXPECT_NE(result_.output.find("0 filter(s) active"), std::string::npos);
}

TEST_F(HelperTest, FiltersComeFromTheRegistryOrTheCommandLine) {
  machine_.Reg({"delete", std::string("HKLM\\") + squid::kFiltersKey, "/f"});
  auto answers = Helper("http://timeleft/ ip=1 method=GET user=alice\n");
  EXPECT_EQ(answers.at(0), "ERR") << "no filter registered";
  answers = Helper("http://timeleft/ ip=1 method=GET user=alice\n",
                   {"--filter", "c:\\Minutrix\\Minutrix.dll"});
  EXPECT_NE(answers.at(0).find("UserName=alice"), std::string::npos);
  answers =
      Helper("http://timeleft/ ip=1 method=GET user=alice\n", {"--filter", "/nonexistent/x.dll"});
  EXPECT_EQ(answers.at(0), "ERR");
  EXPECT_NE(result_.output.find("filter /nonexistent/x.dll"), std::string::npos);
}

TEST_F(HelperTest, StoppedWebServicePassesEverythingAndLoadsNoFilter) {
  const std::string input =
      "http://timeleft/ ip=1 method=GET user=alice\n"
      "7 http://a.example/ ip=1 method=GET user=nobody\n"
      "a line that fits no extras\n";
  ASSERT_TRUE(platform::RecordServiceState(squid::kWebService, false));
  auto answers = Helper(input);
  EXPECT_EQ(answers, (std::vector<std::string>{"ERR", "7 ERR", "ERR"}));
  EXPECT_NE(result_.output.find("the web service W3SVC is stopped"), std::string::npos)
      << result_.output;
  EXPECT_FALSE(fs::exists(Product() / "Minutrix.sts")) << "the filter was loaded";
  ASSERT_TRUE(platform::RecordServiceState(squid::kWebService, true));
  answers = Helper(input);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_NE(answers[0].find("UserName=alice&TimeLeft=5"), std::string::npos) << answers[0];
  EXPECT_EQ(answers[1].rfind("7 OK status=302", 0), 0u) << answers[1];
  EXPECT_EQ(answers[2], "OK minutrix=block");
}

// IIS unloads its filters when it stops; here a running helper unloads them when net stop records
// the stop, and net stop returns only after that, so that an uninstall's deletion of the logs that
// follows finds them complete and nothing writes them again.
TEST_F(HelperTest, NetStopReturnsOnlyOnceTheRunningHelperHasUnloadedTheFilter) {
  test_support::LiveProcess helper(
      {(test_support::kBuildDir / "minutrix-squid-helper").string(), "--server-name", "proxy.test"},
      {{"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
      machine_.root() / "helper.err");
  ASSERT_NE(helper.Ask("1 http://timeleft/ ip=1 method=GET user=alice").find("TimeLeft=5"),
            std::string::npos);
  const auto net = [&](const std::string& command) {
    return test_support::Run({(test_support::kBuildDir / "minutrix-cmd").string(), "/c", command});
  };
  const auto log = [&] {
    std::string all;
    for (const auto& entry : fs::directory_iterator(Product())) {
      if (entry.path().filename().string().rfind("MinutrixOutput", 0) == 0)
        all += test_support::ReadFile(entry.path());
    }
    return all;
  };
  ASSERT_EQ(log().find("TimesMap Terminated"), std::string::npos);
  const auto stopped = net("net stop w3svc");
  ASSERT_EQ(stopped.exit_code, 0) << stopped.output;
  EXPECT_NE(log().find("TimesMap Terminated"), std::string::npos)
      << "net stop returned before the filter was unloaded:\n"
      << log();
  EXPECT_EQ(helper.Ask("2 http://a.example/ ip=1 method=GET user=nobody"), "2 ERR");
  std::tm nine{};
  nine.tm_year = 2026 - 1900;
  nine.tm_mon = 11;
  nine.tm_mday = 7;
  nine.tm_hour = 9;
  nine.tm_isdst = -1;
  EXPECT_EQ(platform::LastServiceWork(squid::kWebService), std::mktime(&nine))
      << "the decision of the first request is noted, by the machine's clock";

  // Started again, the helper loads the filters registered then, with the minutes on record.
  const auto started = net("net start w3svc");
  ASSERT_EQ(started.exit_code, 0) << started.output;
  EXPECT_NE(helper.Ask("3 http://timeleft/ ip=1 method=GET user=alice").find("TimeLeft=5"),
            std::string::npos);
  EXPECT_EQ(helper.Stop(), 0);
}

// A helper that does not answer for its filters cannot hold a stop up for ever, nor may a stop
// report success while the filters still work.
TEST_F(HelperTest, NetStopReportsAFailureWhileTheWorkGoesOnPastItsWait) {
  platform::ServiceWork held(squid::kWebService);
  ASSERT_TRUE(held.Held());
  EXPECT_FALSE(
      platform::WaitForServiceWorkToEnd(squid::kWebService, std::chrono::milliseconds(300)));
  {
    platform::ServiceWork another(squid::kWebService);
    EXPECT_TRUE(another.Held()) << "several processes do the work at once";
  }
}

TEST_F(HelperTest, NetStopWaitsForNoWorkWhenNoHelperRuns) {
  EXPECT_TRUE(platform::WaitForServiceWorkToEnd(squid::kWebService, std::chrono::milliseconds(0)));
}

TEST_F(HelperTest, RestartedHelperChargesNothingTwice) {
  Helper("http://a.example/ ip=1 method=GET user=alice\n");
  test_support::WriteFile(clock_.path() / "clock", "2026-12-07 09:04:00\n");
  // A new helper process (as after a restart by Squid) counts on from the database.
  Helper("http://a.example/ ip=1 method=GET user=alice\n");
  test_support::WriteFile(clock_.path() / "clock", "2026-12-07 09:07:00\n");
  Helper(
      "http://a.example/ ip=1 method=GET user=alice\nhttp://a.example/ ip=1 method=GET "
      "user=alice\n");
  const auto used =
      test_support::Run({"/usr/bin/sqlite3", Database().string(),
                         "SELECT CurrentInternetTime FROM Users WHERE UserName='ALICE'"});
  EXPECT_EQ(used.output, "0\n") << "each new process starts a new period; nothing is charged twice";
}

TEST_F(HelperTest, PrintsTheSquidConfigThatHooksItIn) {
  const auto config = test_support::Run(
      {(test_support::kBuildDir / "minutrix-squid-helper").string(), "--squid-config",
       "--server-name", "proxy.test", "--product-port", "8080", "--concurrency", "8"});
  for (const char* line :
       {"url_rewrite_children 1 startup=1 idle=1 concurrency=8\n",
        "url_rewrite_extras \"ip=%>a method=%>rm user=%#un\"\n", "url_rewrite_bypass off\n",
        "acl minutrix_page url_regex -i ^http://proxy\\.test(:8080)?/Minutrix/\n",
        "url_rewrite_access deny minutrix_page\n", "acl minutrix_block note minutrix block\n",
        "adapted_http_access deny minutrix_block\n"}) {
    EXPECT_NE(config.output.find(line), std::string::npos) << line << config.output;
  }
  EXPECT_NE(config.output.find("MINUTRIX_ROOT=" + machine_.root().string()), std::string::npos);
}

TEST_F(HelperTest, SslBumpLinesSpliceTheFreeSitesAndTheGivenHosts) {
  Db({"add-site", "--host", "lessons.example"});
  Db({"add-site", "127.0.0.2:8080/free"});
  test_support::WriteFile(clock_.path() / "ca.pem", "certificate and key\n");
  const std::string helper = (test_support::kBuildDir / "minutrix-squid-helper").string();
  const std::string ca = (clock_.path() / "ca.pem").string();
  const auto config =
      test_support::Run({helper, "--squid-config", "--server-name", "proxy.test", "--ssl-bump", ca,
                         "--http-port", "127.0.0.1:3128", "--ssl-db", "/run/x/ssl_db",
                         "--splice-host", "bank.example", "--splice-host", "www.bank.example"});
  ASSERT_EQ(config.exit_code, 0) << config.output;
  for (const std::string& line :
       {"http_port 127.0.0.1:3128 ssl-bump tls-cert=" + ca + " generate-host-certificates=on",
        std::string("sslcrtd_program /usr/lib/squid/security_file_certgen -s /run/x/ssl_db -M 4MB"),
        std::string("acl minutrix_splice dstdomain -n .bank.example .free.example.org "
                    ".lessons.example\n"),
        std::string("ssl_bump splice minutrix_splice\n"),
        // The time-left command's host has no server: decrypted before one is asked for.
        std::string(
            "acl minutrix_time_left dstdomain -n timeleft\nssl_bump bump minutrix_time_left\n"
            "acl minutrix_step1 at_step SslBump1\n"),
        std::string("ssl_bump peek minutrix_step1\nssl_bump splice minutrix_splice_name\n"
                    "ssl_bump bump all\n"),
        std::string("url_rewrite_access deny minutrix_connect !minutrix_splice\n"
                    "url_rewrite_access allow all\n"),
        // A refused CONNECT of a spliced host is refused before Squid could decrypt it.
        std::string("adapted_http_access deny minutrix_block !minutrix_connect\n"
                    "miss_access deny minutrix_block\nadapted_http_access allow all\n")}) {
    EXPECT_NE(config.output.find(line), std::string::npos) << line << "\n" << config.output;
  }

  // A command that is no host name stays out of squid.conf (the filter still answers it).
  const auto sqlite = test_support::Run(
      {"/usr/bin/sqlite3", Database().string(),
       "UPDATE FilterSettings SET CurrentUserCommand = 'x y' || char(10) || 'http_access allow';"});
  ASSERT_EQ(sqlite.exit_code, 0) << sqlite.output;
  const auto odd = test_support::Run(
      {helper, "--squid-config", "--server-name", "proxy.test", "--ssl-bump", ca});
  ASSERT_EQ(odd.exit_code, 0) << odd.output;
  EXPECT_EQ(odd.output.find("minutrix_time_left"), std::string::npos) << odd.output;
  EXPECT_EQ(odd.output.find("http_access allow\n"), std::string::npos) << odd.output;

  struct Refused {
    std::vector<std::string> args;
    const char* says;
  };
  for (const Refused& bad : std::vector<Refused>{
           {{"--splice-host", "bank.example"}, "go with --ssl-bump"},
           {{"--ssl-bump", "/no/such/ca.pem"}, "no certificate file"},
           {{"--ssl-bump", "ca.pem"}, "absolute paths"},
           {{"--ssl-bump", ca, "--http-port", "3128 intercept"}, "cannot stand in squid.conf"},
           {{"--ssl-bump", ca, "--http-port", "70000"}, "[ADDRESS:]PORT"},
           {{"--ssl-bump", ca, "--splice-host", "bank.example\nhttp_access allow all"},
            "not a host name"}}) {
    std::vector<std::string> argv = {helper, "--squid-config", "--server-name", "proxy.test"};
    argv.insert(argv.end(), bad.args.begin(), bad.args.end());
    const auto result = test_support::Run(argv);
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_NE(result.output.find(bad.says), std::string::npos) << result.output;
  }
}

// The ways around the limit that the helper once let through, and the configured line format.
class HelperLimitTest : public HelperTest {
 protected:
  std::vector<std::string> Run(const std::string& input, std::vector<std::string> args) {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-squid-helper").string());
    result_ = test_support::Run(args, {{"MINUTRIX_CLOCK_FILE", (clock_.path() / "clock").string()}},
                                input);
    std::vector<std::string> lines;
    std::istringstream in(result_.output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("minutrix-squid-helper: ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }
  static long Count(const std::string& text, const std::string& part) {
    long count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }
};

TEST_F(HelperLimitTest, ServerNameInAQueryFreesNothing) {
  Db({"set-used", "alice", "5"});
  const auto answers =
      Run("http://a.example/?x=proxy.school.test ip=1 method=GET user=alice\n"
          "http://a.example/proxy.school.test/ ip=1 method=GET user=alice\n"
          "http://proxy.school.test:80/x ip=1 method=GET user=alice\n",
          {"--server-name", "proxy.school.test"});
  ASSERT_EQ(answers.size(), 3u) << result_.output;
  EXPECT_NE(answers[0].find("&DeniedMessage="), std::string::npos) << answers[0];
  EXPECT_NE(answers[1].find("&DeniedMessage="), std::string::npos) << answers[1];
  EXPECT_EQ(answers[2], "ERR") << "the proxy's own host is free";
}

TEST_F(HelperLimitTest, RefusesToStartWithoutAServerName) {
  for (const char* name : {"", "  "}) {
    for (bool config : {false, true}) {
      std::vector<std::string> args = {"--server-name", name};
      if (config) args.push_back("--squid-config");
      const auto answers = Run("http://a.example/ ip=1 method=GET user=alice\n", args);
      EXPECT_EQ(result_.exit_code, 2) << result_.output;
      EXPECT_TRUE(answers.empty()) << result_.output;
      EXPECT_NE(result_.output.find("--server-name must not be empty"), std::string::npos)
          << result_.output;
    }
  }
}

TEST_F(HelperLimitTest, DefaultExtrasTakeTheWholeNameAsTheUser) {
  Db({"add-user", "bob", "-1"});
  Db({"set-used", "alice", "5"});
  const auto answers =
      Run("http://a.example/ 127.0.0.1/- mallory user=bob GET myip=127.0.0.1 myport=3128\n"
          "http://a.example/ 127.0.0.1/- mallory method=GET GET myip=127.0.0.1 myport=3128\n"
          "http://a.example/ 127.0.0.1/- bob GET myip=127.0.0.1 myport=3128\n"
          "http://a.example/ 127.0.0.1/- CORP\\alice GET myip=127.0.0.1 myport=3128\n",
          {"--server-name", "proxy.test", "--extras", "default"});
  ASSERT_EQ(answers.size(), 4u) << result_.output;
  EXPECT_NE(answers[0].find("UserName=mallory%20user=bob&TimeLeft=0&"), std::string::npos)
      << answers[0];
  EXPECT_NE(answers[1].find("UserName=mallory%20method=GET&TimeLeft=0&"), std::string::npos)
      << answers[1];
  EXPECT_EQ(answers[2], "ERR") << "bob is unlimited";
  EXPECT_NE(answers[3].find("UserName=alice&TimeLeft=0&"), std::string::npos) << answers[3];
  EXPECT_EQ(Count(result_.output, "did not fit"), 0) << result_.output;
}

TEST_F(HelperLimitTest, LinesOfTheOtherFormAreRefusedAndReportedOnce) {
  const std::string default_lines =
      "1 http://a.example/ 127.0.0.1/- alice GET myip=127.0.0.1 myport=3128\n"
      "2 http://a.example/ 127.0.0.1/- bob GET myip=127.0.0.1 myport=3128\n";
  auto answers = Run(default_lines, {"--server-name", "proxy.test"});
  ASSERT_EQ(answers.size(), 2u) << result_.output;
  EXPECT_EQ(answers[0], "1 OK minutrix=block");
  EXPECT_EQ(answers[1], "2 OK minutrix=block");
  EXPECT_EQ(Count(result_.output, "did not fit the keyed extras"), 1) << result_.output;
  EXPECT_NE(result_.output.find("--extras default"), std::string::npos) << result_.output;

  answers = Run("1 http://a.example/ ip=1 method=GET user=alice\n2 http://x/ ip=1 method=GET\n",
                {"--server-name", "proxy.test", "--extras", "default"});
  ASSERT_EQ(answers.size(), 2u) << result_.output;
  EXPECT_EQ(answers[0], "1 OK minutrix=block");
  EXPECT_EQ(answers[1], "2 OK minutrix=block");
  EXPECT_EQ(Count(result_.output, "did not fit Squid's default extras"), 1) << result_.output;
  EXPECT_NE(result_.output.find("url_rewrite_extras \"ip=%>a method=%>rm user=%#un\""),
            std::string::npos)
      << result_.output;
}

TEST_F(HelperLimitTest, SquidConfigForDefaultExtrasSetsNoExtrasLine) {
  Run("", {"--squid-config", "--server-name", "proxy.test", "--extras", "default"});
  EXPECT_EQ(result_.exit_code, 0);
  EXPECT_EQ(result_.output.find("url_rewrite_extras \""), std::string::npos) << result_.output;
  EXPECT_NE(result_.output.find(" --server-name proxy.test --extras default"), std::string::npos)
      << result_.output;
  Run("", {"--extras", "guess"});
  EXPECT_EQ(result_.exit_code, 2);
  EXPECT_NE(result_.output.find("--extras is \"keyed\" or \"default\""), std::string::npos);
}

}  // namespace
