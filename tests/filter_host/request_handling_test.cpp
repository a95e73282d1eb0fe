// Whole requests through the filter: charging, the start page, the time-left page, free sites,
// unlimited and unknown users, denial and warning mode.
#include <algorithm>

#include "tests/filter_host/host_fixture.h"

namespace {

using host_test::HostTest;

// Every scenario on the file beside the filter and on the stores that MinutrixStore names.
class RequestTest : public host_test::StoreHostTest {};

constexpr DWORD kNext = SF_STATUS_REQ_NEXT_NOTIFICATION;
constexpr DWORD kFinished = SF_STATUS_REQ_FINISHED;
const std::string kPage = "http://proxy.school.test:80/Minutrix/Minutrix.asp?";
const std::string kDenied = "Your internet time for this period is used up.";

bool Logged(const std::string& log, const std::string& line) {
  return log.find("\r\n" + line + "\r\n") != std::string::npos;
}

TEST_P(RequestTest, ChargesMinuteByMinuteThenDeniesAndLetsFreeSitesThrough) {
  Db("add-user", {"alice", "5"});
  Db("add-site", {"free.example.org"});
  Db("set", {"ShowStartMessage", "yes"});
  ASSERT_EQ(Load(), TRUE);

  // A period begins: the start page, with the requested URL to go on to.
  auto answer = Send("CORP\\alice", "http://news.example.com/today");
  EXPECT_EQ(answer.status, kFinished);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=5&CurrentUserCommand=timeleft"
                                   "&RequestedURL=http://news.example.com/today");
  EXPECT_EQ(answer.responses.at(0).status, "302 Redirect");

  for (int minute = 1; minute <= 5; ++minute) {
    At("2026-12-07 09:0" + std::to_string(minute) + ":30");
    answer = Send("CORP\\alice", "http://news.example.com/more");
    EXPECT_EQ(answer.status, kNext) << minute;
    EXPECT_TRUE(answer.responses.empty()) << minute;
    EXPECT_EQ(UsedMinutes("ALICE"), minute);  // written through at once
  }

  At("2026-12-07 09:06:00");
  answer = Send("CORP\\alice", "http://news.example.com/more");
  EXPECT_EQ(answer.status, kFinished);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=0&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                   kDenied);
  EXPECT_EQ(answer.responses.at(0).headers,
            "Location: http://" + answer.location().substr(7) + "\r\n\r\n");

  answer = Send("CORP\\alice", "http://FREE.example.org/lesson");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_TRUE(answer.responses.empty());
  EXPECT_TRUE(Logged(Log(), ">[HandleRequest] Only free browse mode is allowed now!"));

  Unload();
  EXPECT_EQ(UsedMinutes("ALICE"), 5);
}

TEST_P(RequestTest, TimeLeftPageForEveryUserAndUncharged) {
  Db("add-user", {"alice", "30"});
  ASSERT_EQ(Load(), TRUE);
  auto answer = Send("CORP\\alice", "http://TimeLeft/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=30&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com");
  // Not the page: an ordinary, charged request.
  answer = Send("CORP\\alice", "http://timeleft/index.htm");
  EXPECT_TRUE(answer.responses.empty());
  At("2026-12-07 09:03:00");
  Send("CORP\\alice", "http://timeleft/index.htm");
  EXPECT_EQ(UsedMinutes("ALICE"), 3);
  answer = Send("CORP\\alice", "http://timeleft/");
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=27&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com");
  EXPECT_EQ(UsedMinutes("ALICE"), 3);

  // A user who is not monitored may ask too; with no minutes of that user, none are left, and
  // the page is told that the user has no account rather than used-up time.
  answer = Send("CORP\\bob", "http://timeleft/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=bob&TimeLeft=0&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                   kDenied + "&Unknown=1");
}

// Through a proxy that decrypts HTTPS the page is asked for as https://COMMAND/ as well.
TEST_P(RequestTest, TimeLeftPageOverHttpsIsTheSamePage) {
  Db("add-user", {"alice", "30"});
  ASSERT_EQ(Load(), TRUE);
  Send("CORP\\alice", "http://a.example/");
  At("2026-12-07 09:04:00");
  Send("CORP\\alice", "https://a.example/");
  auto answer = Send("CORP\\alice", "HTTPS://TimeLeft/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=26&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com");
  answer = Send("CORP\\alice", "https://timeleft/index.htm");
  EXPECT_TRUE(answer.responses.empty()) << "not the page: an ordinary request";
  answer = Send("CORP\\alice", "ftp://timeleft/");
  EXPECT_TRUE(answer.responses.empty()) << "only the web's two schemes";
}

TEST_P(RequestTest, TimeLeftPageWithNoMonitoredUsers) {
  Db("add-user", {"alice", "30"});
  ASSERT_EQ(Load(), TRUE);
  Sql("DELETE FROM Users; UPDATE FilterSettings SET UsersChanged = 1;");
  Send("alice", "http://a.example/");  // the filter learns that nobody is monitored now
  const auto answer = Send("bob", "http://timeleft/");
  EXPECT_NE(answer.location().find("UserName=bob&TimeLeft="), std::string::npos)
      << answer.location();
}

TEST_P(RequestTest, DomainPrefixesNameTheSameUser) {
  Db("add-user", {"alice", "60"});
  ASSERT_EQ(Load(), TRUE);
  Send("DOMAIN\\alice", "http://a.example/");
  At("2026-12-07 09:02:00");
  Send("A\\B\\alice", "http://a.example/");
  At("2026-12-07 09:04:00");
  const auto answer = Send("DOMAIN\\alice", "http://a.example/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_EQ(UsedMinutes("ALICE"), 4);
}

TEST_P(RequestTest, EmptyUsersTableLetsEveryRequestPass) {
  Db("add-user", {"alice", "1"});
  ASSERT_EQ(Load(), TRUE);
  // The administration tools remove every user while the filter runs.
  Sql("DELETE FROM Users; UPDATE FilterSettings SET UsersChanged = 1;");
  for (const char* time : {"2026-12-07 09:00:00", "2026-12-07 09:09:00"}) {
    At(time);
    const auto answer = Send("CORP\alice", "http://a.example/");
    EXPECT_EQ(answer.status, kNext);
    EXPECT_TRUE(answer.responses.empty());
  }
  EXPECT_EQ(Log().find("Failed to find user"), std::string::npos);
}

TEST_P(RequestTest, AnonymousRequestsPass) {
  Db("add-user", {"alice", "60"});
  ASSERT_EQ(Load(), TRUE);
  const auto answer = Send("", "http://a.example/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_TRUE(answer.responses.empty());
  EXPECT_TRUE(Logged(Log(), ">No recognized user, make sure that anonymous access is not allowed"));
}

// The denial says, after the product's own keys, that the user has no account at all.
TEST_P(RequestTest, UnknownUserIsDeniedButTheRequestGoesOn) {
  Db("add-user", {"alice", "60"});
  ASSERT_EQ(Load(), TRUE);
  auto answer = Send("CORP\\mallory", "http://a.example/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=mallory&TimeLeft=0&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                   kDenied + "&Unknown=1");
  // Once the administrator adds the user with nothing left, the denial is the used-up one.
  Db("add-user", {"mallory", "0"});
  answer = Send("CORP\\mallory", "http://a.example/");
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=mallory&TimeLeft=0&CurrentUserCommand=timeleft"
                                   "&RequestedURL=www.minutrix.com&DeniedMessage=" +
                                   kDenied);
}

TEST_P(RequestTest, UnlimitedUserPassesUncharged) {
  Db("add-user", {"alice", "60"});
  Db("add-user", {"boss", "-1"});
  ASSERT_EQ(Load(), TRUE);
  for (const char* time : {"2026-12-07 09:00:00", "2026-12-07 09:05:00", "2026-12-07 09:40:00"}) {
    At(time);
    const auto answer = Send("CORP\\boss", "http://a.example/");
    EXPECT_EQ(answer.status, kNext);
    EXPECT_TRUE(answer.responses.empty());
  }
  EXPECT_EQ(UsedMinutes("BOSS"), 0);
  const std::string log = Log();
  EXPECT_TRUE(Logged(log, ">Not First Call and User has already been added"));
  EXPECT_TRUE(Logged(
      log, ">UnlimitedAccess: CORP\\boss is being given free accesss to all internet sites"));
}

TEST_P(RequestTest, StartPageAfterAnIdleGap) {
  Db("add-user", {"alice", "60"});
  Db("set", {"ShowStartMessage", "yes"});
  ASSERT_EQ(Load(), TRUE);
  EXPECT_EQ(Send("alice", "http://a.example/").status, kFinished);  // first request: start page
  At("2026-12-07 09:05:00");
  EXPECT_EQ(Send("alice", "http://a.example/").status, kNext);
  EXPECT_EQ(UsedMinutes("ALICE"), 5);
  At("2026-12-07 09:15:00");  // exactly the idle gap
  const auto answer = Send("alice", "http://b.example/x?y=1");
  EXPECT_EQ(answer.status, kFinished);
  EXPECT_EQ(answer.location(), kPage +
                                   "UserName=alice&TimeLeft=55&CurrentUserCommand=timeleft"
                                   "&RequestedURL=http://b.example/x?y=1");
  EXPECT_EQ(UsedMinutes("ALICE"), 5) << "the gap is not charged";
}

class WarningMode : public HostTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WarningMode, UserOverTheAllowance) {
  const bool warning = GetParam();
  Db("add-user", {"alice", "2"});
  Db("add-site", {"free.example.org"});
  Db("set", {"WarningMode", warning ? "yes" : "no"});
  ASSERT_EQ(Load(), TRUE);
  Send("alice", "http://a.example/");
  At("2026-12-07 09:02:00");
  Send("alice", "http://a.example/");
  ASSERT_EQ(UsedMinutes("ALICE"), 2);

  auto answer = Send("alice", "http://free.example.org/");
  EXPECT_EQ(answer.status, kNext);
  EXPECT_TRUE(answer.responses.empty());

  answer = Send("alice", "http://other.example/");
  EXPECT_EQ(answer.status, warning ? kNext : kFinished);
  EXPECT_NE(answer.location().find("&DeniedMessage="), std::string::npos);
  answer = Send("alice", "http://other.example/2");
  EXPECT_EQ(answer.status, warning ? kNext : kFinished);
  // Warning mode warns once per period; otherwise every request is denied.
  EXPECT_EQ(answer.responses.empty(), warning);
  const std::string log = Log();
  EXPECT_EQ(Logged(log,
                   ">[WriteDeniedMessage] user alice is allowed to keep on surfing, give a warning "
                   "message!"),
            warning);
  EXPECT_EQ(Logged(log, ">[WriteDeniedMessage] user alice is allowed to keep on surfing"), warning);
  EXPECT_EQ(UsedMinutes("ALICE"), 2);
}

INSTANTIATE_TEST_SUITE_P(OnAndOff, WarningMode, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "On" : "Off"); });

TEST_P(RequestTest, ValuesNeverAddHeaderLinesButKeepSpacesAndAmpersands) {
  Db("add-user", {"alice", "1"});
  // The line break inside the quoted text: the same statement for every store's shell.
  Sql("UPDATE FilterSettings SET DeniedMessage = 'Time is up & see you? tomorrow\r\n"
      "Set-Cookie: evil=1'");
  ASSERT_EQ(Load(), TRUE);
  Send("alice", "http://a.example/");
  At("2026-12-07 09:01:00");
  Send("alice", "http://a.example/");
  const auto answer = Send("alice", "http://a.example/\r\nX-Injected: 1");
  const std::string& headers = answer.responses.at(0).headers;
  EXPECT_EQ(headers.find("\r\n"), headers.size() - 4) << headers;
  EXPECT_NE(headers.find("DeniedMessage=Time is up & see you? tomorrowSet-Cookie: evil=1\r\n\r\n"),
            std::string::npos)
      << headers;
}

TEST_P(RequestTest, LongUrlsAreCutToTheHeaderBuffer) {
  Db("add-user", {"alice", "60"});
  Db("set", {"ShowStartMessage", "yes"});
  ASSERT_EQ(Load(), TRUE);
  const std::string url = "http://a.example/" + std::string(8100, 'x');
  const auto answer = Send("alice", url);
  ASSERT_EQ(answer.responses.size(), 1u);
  const std::string& headers = answer.responses[0].headers;
  EXPECT_EQ(headers.size(), 8191u);
  EXPECT_EQ(headers.substr(headers.size() - 4), "\r\n\r\n");
  const std::string expected_start = "Location: " + kPage +
                                     "UserName=alice&TimeLeft=60&CurrentUserCommand=timeleft"
                                     "&RequestedURL=http://a.example/xxx";
  EXPECT_EQ(headers.rfind(expected_start, 0), 0u);
  EXPECT_EQ(headers.find_first_not_of('x', expected_start.size()), headers.size() - 4);

  // A URL longer than the server's buffer is not read at all; the filter still answers.
  const auto longer = Send("alice", "http://b.example/" + std::string(10000, 'y'));
  EXPECT_EQ(longer.status, kNext);
}

INSTANTIATE_TEST_SUITE_P(Stores, RequestTest, host_test::HostStores(), test_support::ByName{});

}  // namespace
