// The console as a browser and an attacker meet it: the real minutrix-admin on 127.0.0.1, over
// the real store. Login and its throttle, the session cookie, the CSRF token, the teacher's
// limits, escaping, concurrent changes, a busy database, and the report against minutrix-db's.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "platform/services.h"
#include "store/schema.h"
#include "store/usage.h"
#include "tests/admin/console_fixture.h"

namespace admin_test {
namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server_.failures(), "");
    ASSERT_GT(server_.port(), 0);
    // KIM is out of minutes; ANNA and PIM are in the teacher's class 3B, BERT in 4A.
    server_.Db({"add-user", server_.Database().string(), "kim", "30"});
    server_.Db({"set-used", server_.Database().string(), "kim", "30"});
    for (const char* user : {"anna", "pim", "bert"}) {
      server_.Db({"add-user", server_.Database().string(), user, "60"});
    }
    server_.Sql(
        "CREATE TABLE IF NOT EXISTS ScheduleGroups (Name TEXT NOT NULL PRIMARY KEY COLLATE "
        "NOCASE)");
    server_.Sql(
        "CREATE TABLE IF NOT EXISTS GroupMembers (UserName TEXT NOT NULL PRIMARY KEY,"
        " GroupName TEXT NOT NULL COLLATE NOCASE)");
    server_.Sql("INSERT INTO ScheduleGroups VALUES ('3B'), ('4A')");
    server_.Sql(
        "INSERT INTO GroupMembers VALUES ('ANNA', '3B'), ('PIM', '3b'), ('BERT', '4A'),"
        " ('KIM', '3B')");
  }

  long long Extra(const std::string& user) {
    return server_.Integer(
        "SELECT coalesce((SELECT Minutes FROM ExtraMinutes WHERE UserName = ?1), 0)", {user});
  }
  long long AuditRows() {
    return server_.Integer(
        "SELECT CASE WHEN EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'Audit')"
        " THEN (SELECT count(*) FROM Audit WHERE Command != 'create') ELSE 0 END");
  }
  Json TodayOf(Browser& browser, const std::string& user) {
    auto result = browser.Get("/api/today");
    EXPECT_TRUE(result && result->status == 200);
    for (const Json& row : Json::parse(result->body)) {
      if (row["user"] == user) return row;
    }
    return nullptr;
  }

  ConsoleServer server_;
};

TEST_F(ConsoleTest, LoginGivesAHardenedSessionCookieAndTheSessionsToken) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  EXPECT_TRUE(std::regex_match(browser.last_set_cookie,
                               std::regex("minutrix_session=[0-9a-f]{64}; Path=/; HttpOnly; "
                                          "SameSite=Strict")))
      << browser.last_set_cookie << " (no Secure over plain HTTP)";
  auto session = browser.Get("/api/session");
  ASSERT_TRUE(session);
  ASSERT_EQ(session->status, 200);
  const Json value = Json::parse(session->body);
  EXPECT_EQ(value["user"], "admin");
  EXPECT_EQ(value["role"], "admin");
  EXPECT_TRUE(std::regex_match(value["csrf"].get<std::string>(), std::regex("[0-9a-f]{64}")));
  EXPECT_NE(value["csrf"], browser.cookie());
  EXPECT_NE(server_.ConsoleLog().find("admin (admin) logged in from 127.0.0.1"), std::string::npos)
      << server_.ConsoleLog();
}

TEST_F(ConsoleTest, AWrongPasswordOrAnUnknownNameIs401AndGivesNoSession) {
  Browser browser(server_.port());
  EXPECT_EQ(browser.Login("admin", "wrong-password"), 401);
  EXPECT_EQ(browser.last_set_cookie, "");
  EXPECT_EQ(browser.Login("nobody", kAdminPassword), 401);
  auto page = browser.Get("/api/today");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 401);
  auto board = browser.Get("/today");
  ASSERT_TRUE(board);
  EXPECT_EQ(board->status, 303) << "a page sends the browser to the login";
  EXPECT_EQ(board->get_header_value("Location"), "/login");
}

TEST_F(ConsoleTest, FiveFailedLoginsOfANameBlockItFifteenMinutesWithALineInTheLog) {
  Browser browser(server_.port());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(browser.Login("admin", "guess" + std::to_string(i)), 401);
  EXPECT_EQ(browser.Login("admin", kAdminPassword), 429) << "even the right password";
  EXPECT_EQ(browser.Login("teach", kTeacherPassword), 303) << "another name still logs in";
  EXPECT_NE(server_.ConsoleLog().find("Too many failed logins: logins of the name 'admin' are "
                                      "refused for 15 minutes"),
            std::string::npos)
      << server_.ConsoleLog();
  server_.ShiftClock(14 * 60);
  EXPECT_EQ(browser.Login("admin", kAdminPassword), 429);
  server_.ShiftClock(15 * 60 + 5);
  EXPECT_EQ(browser.Login("admin", kAdminPassword), 303);
}

TEST_F(ConsoleTest, TwentyFailedLoginsFromAnAddressBlockItAndAForgedHeaderDoesNotHelp) {
  Browser browser(server_.port());
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(browser.Login("guess" + std::to_string(i), "x"), 401);
  }
  EXPECT_EQ(browser.Login("admin", kAdminPassword), 429);
  // Without --trusted-proxy the console is not behind nginx: X-Real-IP is the client's own word.
  EXPECT_EQ(browser.Login("admin", kAdminPassword, {{"X-Real-IP", "10.9.8.7"}}), 429);
  EXPECT_NE(server_.ConsoleLog().find("the address 127.0.0.1 are refused"), std::string::npos)
      << server_.ConsoleLog();
}

TEST_F(ConsoleTest, AChangeWithoutTheSessionsTokenIsRefusedAndChangesNothing) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const long long audit = AuditRows();
  for (const std::string& token : {std::string(), std::string(64, 'a'), browser.cookie()}) {
    auto result = browser.PostWithToken("/api/users/KIM/minutes", {{"add", 15}}, token);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 403) << "token '" << token << "'";
  }
  auto form = browser.PostForm("/api/users/KIM/minutes", "add=15&csrf=" + std::string(64, 'b'));
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 403);
  auto logout = browser.PostForm("/logout", "");
  ASSERT_TRUE(logout);
  EXPECT_EQ(logout->status, 403) << "a page of another site cannot log the user out either";
  EXPECT_EQ(Extra("KIM"), 0);
  EXPECT_EQ(AuditRows(), audit);

  auto good = browser.Post("/api/users/KIM/minutes", {{"add", 15}, {"reason", "test"}});
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 200) << good->body;
  EXPECT_EQ(Extra("KIM"), 15);
  auto form_ok =
      browser.PostForm("/api/users/KIM/minutes", "add=-5&back=%2Ftoday&csrf=" + browser.csrf());
  ASSERT_TRUE(form_ok);
  EXPECT_EQ(form_ok->status, 303) << "a form's change goes back to its page";
  EXPECT_EQ(form_ok->get_header_value("Location"), "/today");
  EXPECT_EQ(Extra("KIM"), 10);
}

TEST_F(ConsoleTest, PlusFifteenIsOneTransactionWithItsAuditRowNamingTheConsoleUser) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("teach", kTeacherPassword), 303);
  auto result = browser.Post("/api/users/KIM/minutes", {{"add", 15}, {"reason", "Project work"}});
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200) << result->body;
  const Json answer = Json::parse(result->body);
  EXPECT_EQ(answer["user"]["extra"], 15);
  EXPECT_EQ(answer["user"]["left"], 15);
  EXPECT_EQ(answer["user"]["state"], "idle");
  EXPECT_EQ(server_.Integer("SELECT UsersChanged FROM FilterSettings"), 1);
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM Audit WHERE Who = 'teach' AND Command = "
                            "'add-minutes' AND Target = 'KIM' AND Reason = 'Project work'"),
            1);
}

TEST_F(ConsoleTest, TwoPlusFifteenAtTheSameMomentGiveThirty) {
  Browser first(server_.port());
  Browser second(server_.port());
  ASSERT_EQ(first.Login("admin", kAdminPassword), 303);
  ASSERT_EQ(second.Login("teach", kTeacherPassword), 303);
  for (int round = 0; round < 5; ++round) {
    int statuses[2] = {0, 0};
    std::thread a([&] {
      auto r = first.Post("/api/users/ANNA/minutes", {{"add", 15}, {"reason", "a"}});
      statuses[0] = r ? r->status : -1;
    });
    std::thread b([&] {
      auto r = second.Post("/api/users/ANNA/minutes", {{"add", 15}, {"reason", "b"}});
      statuses[1] = r ? r->status : -1;
    });
    a.join();
    b.join();
    EXPECT_EQ(statuses[0], 200);
    EXPECT_EQ(statuses[1], 200);
    EXPECT_EQ(Extra("ANNA"), 30 * (round + 1));
  }
}

TEST_F(ConsoleTest, ATeacherSeesAndChangesOnlyTheUsersOfItsClasses) {
  Browser teacher(server_.port());
  ASSERT_EQ(teacher.Login("teach", kTeacherPassword), 303);
  auto today = teacher.Get("/api/today");
  ASSERT_TRUE(today);
  std::vector<std::string> users;
  for (const Json& row : Json::parse(today->body)) users.push_back(row["user"]);
  EXPECT_EQ(users, (std::vector<std::string>{"ANNA", "KIM", "PIM"}));
  for (const char* path : {"/api/today?group=4A", "/today?group=4A", "/api/users/BERT",
                           "/users/BERT", "/api/users/NOBODY"}) {
    auto result = teacher.Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 403) << path;
  }
  auto refused = teacher.Post("/api/users/BERT/minutes", {{"add", 15}, {"reason", "x"}});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
  EXPECT_EQ(Extra("BERT"), 0);
  auto no_reason = teacher.Post("/api/users/ANNA/minutes", {{"add", 15}});
  ASSERT_TRUE(no_reason);
  EXPECT_EQ(no_reason->status, 400);
  EXPECT_EQ(Json::parse(no_reason->body)["error"], "Give a reason for the change.");
  EXPECT_EQ(Extra("ANNA"), 0);
  auto page = teacher.Get("/users/ANNA");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
}

struct Endpoint {
  const char* name;
  const char* method;
  const char* path;
};

class TeacherRefusedTest : public ConsoleTest, public ::testing::WithParamInterface<Endpoint> {};

TEST_P(TeacherRefusedTest, EveryAdminOnlyEndpointIs403AndChangesNothing) {
  Browser teacher(server_.port());
  ASSERT_EQ(teacher.Login("teach", kTeacherPassword), 303);
  const long long audit = AuditRows();
  const Json body = {{"name", "eve"},
                     {"allowance", 60},
                     {"minutes", 999},
                     {"to", "EVE"},
                     {"site", "example.org"},
                     {"key", "IdleGapMinutes"},
                     {"value", "1"},
                     {"reason", "r"},
                     {"group", "4A"},
                     {"owner", "@3B"},
                     {"days", "mon-sun"},
                     {"kind", "allowed"},
                     {"windows", "mon 01:00-02:00"}};
  auto result = std::string(GetParam().method) == "GET" ? teacher.Get(GetParam().path)
                                                        : teacher.Post(GetParam().path, body);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 403) << result->body;
  EXPECT_EQ(AuditRows(), audit);
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM Users"), 4);
  EXPECT_EQ(server_.Integer("SELECT CurrentInternetTime FROM Users WHERE UserName = 'KIM'"), 30);
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM ScheduleGroups"), 2);
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM GroupMembers WHERE UserName = 'ANNA' AND "
                            "GroupName = '3B'"),
            1);
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM ScheduleWindows") +
                server_.Integer("SELECT count(*) FROM WeekdayAllowances"),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Endpoints, TeacherRefusedTest,
    ::testing::Values(
        Endpoint{"UsersPage", "GET", "/users"}, Endpoint{"SitesPage", "GET", "/sites"},
        Endpoint{"SettingsPage", "GET", "/settings"}, Endpoint{"ReportsPage", "GET", "/reports"},
        Endpoint{"AuditPage", "GET", "/audit"}, Endpoint{"HealthPage", "GET", "/health"},
        Endpoint{"Report", "GET", "/api/report?by=user&format=csv"},
        Endpoint{"AuditApi", "GET", "/api/audit"}, Endpoint{"SitesApi", "GET", "/api/sites"},
        Endpoint{"SettingsApi", "GET", "/api/settings"},
        Endpoint{"HealthApi", "GET", "/api/health"},
        Endpoint{"ResetOwnPupil", "POST", "/api/users/KIM/reset"},
        Endpoint{"AddUser", "POST", "/api/users"},
        Endpoint{"RenameOwnPupil", "POST", "/api/users/ANNA/rename"},
        Endpoint{"RemoveOwnPupil", "POST", "/api/users/ANNA/remove"},
        Endpoint{"AllowanceOfOwnPupil", "POST", "/api/users/ANNA/allowance"},
        Endpoint{"AddSite", "POST", "/api/sites/add"},
        Endpoint{"RemoveSite", "POST", "/api/sites/remove"},
        Endpoint{"SetSetting", "POST", "/api/settings"},
        Endpoint{"GroupsApi", "GET", "/api/groups"}, Endpoint{"AddGroup", "POST", "/api/groups"},
        Endpoint{"RemoveOwnGroup", "POST", "/api/groups/3B/remove"},
        Endpoint{"MoveOwnPupil", "POST", "/api/users/ANNA/group"},
        Endpoint{"WeekdayAllowance", "POST", "/api/schedule/allowance"},
        Endpoint{"Hours", "POST", "/api/schedule/hours"}),
    test_support::ByName());

TEST_F(ConsoleTest, NamesAndReasonsHoldingMarkupAreShownAsText) {
  const std::string name = "<b>o'h\"ara&co</b>";
  server_.Db({"add-user", server_.Database().string(), name, "0"});
  const std::string upper = "<B>O'H\"ARA&CO</B>";
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const std::string reason = "<script>alert(\"x\")</script>";
  const std::string path = "/users/%3CB%3EO'H%22ARA%26CO%3C%2FB%3E";
  auto change = browser.Post("/api" + path + "/minutes", {{"add", 15}, {"reason", reason}});
  ASSERT_TRUE(change);
  ASSERT_EQ(change->status, 200) << change->body;
  const std::string escaped = "&lt;B&gt;O&#39;H&quot;ARA&amp;CO&lt;/B&gt;";
  for (const char* path : {"/today", "/users", "/audit"}) {
    auto page = browser.Get(path);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200) << path;
    EXPECT_EQ(page->body.find(upper), std::string::npos) << path;
    EXPECT_NE(page->body.find(escaped), std::string::npos) << path;
    EXPECT_EQ(page->body.find("<script>alert"), std::string::npos) << path;
  }
  auto audit = browser.Get("/audit");
  EXPECT_NE(audit->body.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"),
            std::string::npos);
  auto user_page = browser.Get(path);
  ASSERT_TRUE(user_page);
  EXPECT_EQ(user_page->status, 200);
  EXPECT_NE(user_page->body.find("<h1>" + escaped + "</h1>"), std::string::npos);
  const Json row = TodayOf(browser, upper);
  EXPECT_EQ(row["extra"], 15) << "JSON carries the name as it is";
}

TEST_F(ConsoleTest, PagesCarryAPolicyWithoutInlineScriptAndServeNoFileOfTheDisk) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  for (const char* path :
       {"/today", "/today?lang=nl", "/users", "/users/KIM", "/sites", "/settings", "/reports",
        "/reports?by=site", "/audit", "/health", "/login"}) {
    // The login page as a browser without a session sees it.
    auto page =
        std::string(path) == "/login" ? Browser(server_.port()).Get(path) : browser.Get(path);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->status, 200) << path;
    const std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << path;
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << path;
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");
    const std::string& html = page->body;
    // The only script is our file; no element carries an event handler or a style of its own.
    EXPECT_EQ(std::regex_search(html, std::regex("<script(?![^>]*src=\"/static/console.js\")")),
              false)
        << path;
    EXPECT_FALSE(std::regex_search(html, std::regex("\\son[a-z]+\\s*=", std::regex::icase)))
        << path;
    EXPECT_EQ(html.find("style=\""), std::string::npos) << path;
    EXPECT_EQ(html.find("<style"), std::string::npos) << path;
  }
  for (const char* path : {"/static/../../etc/passwd", "/static/%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                           "/static/", "/static/console.js/x", "/static/CMakeLists.txt",
                           "/etc/passwd", "/static/..%2fconsole.cpp"}) {
    auto result = browser.Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404) << path;
    EXPECT_EQ(result->body.find("root:"), std::string::npos);
  }
  auto script = browser.Get("/static/console.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->status, 200);
  EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  auto dutch = browser.Get("/today?lang=nl");
  EXPECT_NE(dutch->body.find("<h1>Vandaag</h1>"), std::string::npos);
  EXPECT_NE(dutch->get_header_value("Set-Cookie").find("minutrix_lang=nl"), std::string::npos);
}

TEST_F(ConsoleTest, ABusyDatabaseSaysSoAndNothingIsHalfDone) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const long long audit = AuditRows();
  // The filter in the middle of a charge: it holds the write lock.
  server_.connection()->BeginTrans();
  server_.Sql("UPDATE Users SET CurrentInternetTime = 5 WHERE UserName = 'ANNA'");
  auto result = browser.Post("/api/users/ANNA/minutes", {{"add", 15}, {"reason", "busy"}});
  server_.connection()->RollbackTrans();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 503);
  EXPECT_EQ(Json::parse(result->body)["error"], "The database is busy, try again");
  EXPECT_EQ(Extra("ANNA"), 0);
  EXPECT_EQ(AuditRows(), audit);
  auto board = browser.Get("/api/today");  // reads never wait for the write lock
  ASSERT_TRUE(board);
  EXPECT_EQ(board->status, 200);
  auto again = browser.Post("/api/users/ANNA/minutes", {{"add", 15}, {"reason", "busy"}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);
  EXPECT_EQ(Extra("ANNA"), 15);
}

TEST_F(ConsoleTest, SessionsEndAfterThirtyIdleMinutesAtLogoutAndWithTheirAccount) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  server_.ShiftClock(29 * 60);
  EXPECT_EQ(browser.Get("/api/session")->status, 200);
  server_.ShiftClock(29 * 60 + 30 * 60 + 1);
  EXPECT_EQ(browser.Get("/api/session")->status, 401);

  Browser other(server_.port());
  ASSERT_EQ(other.Login("admin", kAdminPassword), 303);
  auto logout = other.PostForm("/logout", "csrf=" + other.csrf());
  ASSERT_TRUE(logout);
  EXPECT_EQ(logout->status, 303);
  EXPECT_NE(logout->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(other.Get("/api/session")->status, 401);

  Browser teacher(server_.port());
  ASSERT_EQ(teacher.Login("teach", kTeacherPassword), 303);
  EXPECT_EQ(server_.Admin({"remove", "teach"}).exit_code, 0);
  EXPECT_EQ(teacher.Get("/api/session")->status, 401);
}

TEST_F(ConsoleTest, TheBoardShowsEachUsersDay) {
  server_.Db({"set-used", server_.Database().string(), "anna", "20"});
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  auto result = browser.Get("/api/today?group=3b");
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200);
  const Json rows = Json::parse(result->body);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (Json{{"user", "ANNA"},
                           {"group", "3B"},
                           {"allowance", 60},
                           {"used", 20},
                           {"extra", 0},
                           {"left", 40},
                           {"state", "idle"},
                           {"last", nullptr}}));
  EXPECT_EQ(rows[1]["state"], "out-of-time");
  EXPECT_EQ(rows[2]["group"], "3B") << "the class as it was named, not as the member row has it";
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

struct ReportCase {
  const char* name;
  const char* by;
  const char* user;
};

class ReportTest : public ConsoleTest, public ::testing::WithParamInterface<ReportCase> {
 protected:
  // Three days of history of three users on four hosts, a free run and a run without its host.
  void SetUp() override {
    ConsoleTest::SetUp();
    store::CreateOwnTables(server_.connection());
    today_ = store::LocalDayNumber(std::time(nullptr));
    server_.Sql(
        "INSERT INTO HistoryHosts (ID, Name) VALUES (1, 'lesson.example'),"
        " (2, 'video.example'), (3, 'news.example'), (4, 'a,b\"c.example')");
    const auto run = [&](long long day, const char* user, int start, int minutes, int host,
                         int free) {
      server_.Sql(
          "INSERT INTO History (Day, UserName, Start, Minutes, Host, Free)"
          " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
          {today_ - day, std::string(user), static_cast<long long>(start),
           static_cast<long long>(minutes), static_cast<long long>(host),
           static_cast<long long>(free)});
    };
    run(2, "ANNA", 8 * 60 + 5, 25, 1, 0);
    run(2, "ANNA", 8 * 60 + 50, 20, 2, 0);
    run(1, "ANNA", 13 * 60 + 55, 10, 3, 0);
    run(1, "BERT", 9 * 60, 45, 1, 1);
    run(1, "BERT", 10 * 60, 15, 4, 0);
    run(0, "KIM", 11 * 60 + 30, 40, 0, 0);
    run(0, "GONE", 12 * 60, 5, 2, 0);  // a user removed since
  }
  long long today_ = 0;
};

TEST_P(ReportTest, TheCsvIsMinutrixDbsReportByteForByte) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const std::string from = store::DayText(today_ - 6);
  const std::string to = store::DayText(today_);
  std::string query = std::string("/api/report?by=") + GetParam().by + "&from=" + from +
                      "&to=" + to + "&format=csv";
  std::vector<std::string> args = {"report",   server_.Database().string(),
                                   "--by",     GetParam().by,
                                   "--from",   from,
                                   "--to",     to,
                                   "--format", "csv"};
  if (*GetParam().user != '\0') {
    query += std::string("&user=") + GetParam().user;
    args.insert(args.end(), {"--user", GetParam().user});
  }
  const auto result = browser.Get(query);
  ASSERT_TRUE(result);
  ASSERT_EQ(result->status, 200) << result->body;
  EXPECT_EQ(result->get_header_value("Content-Type"), "text/csv; charset=utf-8");
  const std::string expected = server_.Db(args);
  EXPECT_GT(expected.size(), 20u) << expected;
  EXPECT_EQ(result->body, expected);
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportTest,
                         ::testing::Values(ReportCase{"ByDay", "day", ""},
                                           ReportCase{"ByUser", "user", ""},
                                           ReportCase{"BySite", "site", ""},
                                           ReportCase{"ByHour", "hour", ""},
                                           ReportCase{"ByDayOfOneUser", "day", "anna"},
                                           ReportCase{"BySiteOfOneUser", "site", "BERT"}),
                         test_support::ByName());

TEST_F(ConsoleTest, AReportOfBadDatesOrAnUnknownUserIsRefused) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  for (const char* query :
       {"/api/report?from=2026-02-30", "/api/report?from=2026-12-09&to=2026-12-01",
        "/api/report?by=week", "/api/report?format=xml", "/api/report?user=NOBODY"}) {
    auto result = browser.Get(query);
    ASSERT_TRUE(result);
    EXPECT_GE(result->status, 400) << query;
    EXPECT_LT(result->status, 500) << query;
    EXPECT_TRUE(Json::parse(result->body).contains("error")) << query;
  }
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

TEST(TrustedProxyTest, OnlyFromNginxAreTheBrowsersAddressAndSchemeTakenFromHeaders) {
  ConsoleServer server({"--trusted-proxy", "127.0.0.1"});
  ASSERT_EQ(server.failures(), "");
  Browser browser(server.port());
  const httplib::Headers from_a = {{"X-Real-IP", "10.0.0.1"}};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(browser.Login("guess" + std::to_string(i), "x", from_a), 401);
  }
  EXPECT_EQ(browser.Login("admin", kAdminPassword, from_a), 429);
  EXPECT_NE(server.ConsoleLog().find("the address 10.0.0.1 are refused"), std::string::npos)
      << server.ConsoleLog();
  EXPECT_EQ(browser.Login("admin", kAdminPassword, {{"X-Real-IP", "10.0.0.2"}}), 303)
      << "another browser behind the same nginx";
  // Two of them: the configuration does not replace the browser's own; neither counts.
  EXPECT_EQ(browser.Login("admin", kAdminPassword,
                          {{"X-Real-IP", "10.0.0.3"}, {"X-Real-IP", "10.0.0.1"}}),
            303);
  EXPECT_NE(server.ConsoleLog().find("logged in from 127.0.0.1"), std::string::npos);
  EXPECT_EQ(browser.Login("admin", kAdminPassword, {{"X-Forwarded-Proto", "https"}}), 303);
  EXPECT_NE(browser.last_set_cookie.find("; Secure"), std::string::npos) << browser.last_set_cookie;
  EXPECT_EQ(browser.Login("admin", kAdminPassword, {{"X-Forwarded-Proto", "http"}}), 303);
  EXPECT_EQ(browser.last_set_cookie.find("Secure"), std::string::npos);
}

TEST(TrustedProxyTest, HeadersFromAnyOtherAddressAreTheBrowsersOwnWordAndCountForNothing) {
  ConsoleServer server({"--trusted-proxy", "127.0.0.2"});
  ASSERT_EQ(server.failures(), "");
  Browser browser(server.port());
  EXPECT_EQ(browser.Login("admin", kAdminPassword,
                          {{"X-Forwarded-Proto", "https"}, {"X-Real-IP", "10.0.0.9"}}),
            303);
  EXPECT_EQ(browser.last_set_cookie.find("Secure"), std::string::npos);
  EXPECT_NE(server.ConsoleLog().find("logged in from 127.0.0.1"), std::string::npos);
}

TEST(HttpsTest, WithACertificateItSpeaksHttpsAndTheCookieIsSecure) {
  test_support::ScratchDir keys;
  const std::string cert = (keys.path() / "cert.pem").string();
  const std::string key = (keys.path() / "key.pem").string();
  const auto made =
      test_support::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                         "-subj", "/CN=127.0.0.1", "-days", "2", "-keyout", key, "-out", cert});
  ASSERT_EQ(made.exit_code, 0) << made.output;
  ConsoleServer server({"--tls-cert", cert, "--tls-key", key});
  ASSERT_EQ(server.failures(), "");
  httplib::SSLClient client("127.0.0.1", server.port());
  client.enable_server_certificate_verification(false);
  auto login = client.Post("/login", "user=admin&password=" + kAdminPassword,
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 303);
  EXPECT_TRUE(std::regex_match(login->get_header_value("Set-Cookie"),
                               std::regex("minutrix_session=[0-9a-f]{64}; Path=/; HttpOnly; "
                                          "SameSite=Strict; Secure")))
      << login->get_header_value("Set-Cookie");
  EXPECT_EQ(login->get_header_value("Strict-Transport-Security"), "max-age=31536000");
  httplib::Client plain("127.0.0.1", server.port());
  EXPECT_FALSE(plain.Get("/login")) << "no plain HTTP on the HTTPS port";
}

TEST(HttpsTest, AKeyThatIsNotTheCertificatesIsRefusedAtTheStart) {
  test_support::ScratchDir keys;
  const auto dir = keys.path().string();
  for (const char* name : {"a", "b"}) {
    ASSERT_EQ(test_support::Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048",
                                 "-nodes", "-subj", "/CN=127.0.0.1", "-days", "2", "-keyout",
                                 dir + "/" + name + ".key", "-out", dir + "/" + name + ".crt"})
                  .exit_code,
              0);
  }
  test_support::ScratchMachine machine;
  fs::create_directories(machine.root() / "c/Minutrix/UserTimesDB");
  const std::string db = (machine.root() / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string();
  ASSERT_EQ(test_support::Run({(test_support::kBuildDir / "minutrix-db").string(), "create", db})
                .exit_code,
            0);
  const auto result =
      test_support::Run({(test_support::kBuildDir / "minutrix-admin").string(), "serve", "--listen",
                         "127.0.0.1:0", "--tls-cert", dir + "/a.crt", "--tls-key", dir + "/b.key"},
                        {{"MINUTRIX_ROOT", machine.root().string()}});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("cannot use the certificate"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

TEST_F(ConsoleTest, ASecondConsoleCannotTakeTheSamePort) {
  const auto result =
      test_support::Run({(test_support::kBuildDir / "minutrix-admin").string(), "serve", "--listen",
                         "127.0.0.1:" + std::to_string(server_.port())},
                        {{"MINUTRIX_ROOT", server_.root().string()}});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("cannot listen on 127.0.0.1:" + std::to_string(server_.port())),
            std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

TEST_F(ConsoleTest, WithoutASessionNoBodyIsReadAndLargeBodiesAreRefused) {
  httplib::Client client("127.0.0.1", server_.port());
  auto garbage = client.Post("/api/users/KIM/minutes", "{not json", "application/json");
  ASSERT_TRUE(garbage);
  EXPECT_EQ(garbage->status, 401);
  auto large =
      client.Post("/login", std::string(100 * 1024, 'a'), "application/x-www-form-urlencoded");
  ASSERT_TRUE(large);
  EXPECT_EQ(large->status, 413);
  EXPECT_EQ(Extra("KIM"), 0);
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

TEST_F(ConsoleTest, AnAdministratorMakesClassesAndTheirSchedulesWithTheStoresChanges) {
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const auto post = [&](const std::string& path, const Json& body) {
    auto result = browser.Post(path, body);
    EXPECT_TRUE(result);
    return result ? std::make_pair(result->status, result->body)
                  : std::make_pair(-1, std::string());
  };
  EXPECT_EQ(post("/api/groups", {{"name", "<i>5c</i>"}}).first, 200);
  EXPECT_EQ(post("/api/users/BERT/group", {{"group", "<i>5c</i>"}}).first, 200);
  EXPECT_EQ(post("/api/schedule/allowance",
                 {{"owner", "@<i>5c</i>"}, {"days", "mon-sun"}, {"minutes", "45"}})
                .first,
            200);
  EXPECT_EQ(post("/api/schedule/hours",
                 {{"owner", "@<i>5c</i>"}, {"kind", "allowed"}, {"windows", "mon-sun 00:00-24:00"}})
                .first,
            200);
  const auto refused = post("/api/groups/%3Ci%3E5c%3C%2Fi%3E/remove", Json::object());
  EXPECT_EQ(refused.first, 400) << "refused while it has members";
  EXPECT_NE(Json::parse(refused.second)["error"].get<std::string>().find("still has 1"),
            std::string::npos)
      << refused.second;
  const auto bad = post("/api/schedule/hours",
                        {{"owner", "@<i>5c</i>"}, {"kind", "free"}, {"windows", "mon 8-16"}});
  EXPECT_EQ(bad.first, 400) << bad.second;

  Json bert;
  for (const Json& row : Json::parse(browser.Get("/api/today")->body)) {
    if (row["user"] == "BERT") bert = row;
  }
  EXPECT_EQ(bert["group"], "<I>5C</I>");
  EXPECT_EQ(bert["allowance"], 45) << "the class's weekday allowance";
  EXPECT_EQ(server_.Integer("SELECT count(*) FROM Audit WHERE Who = 'admin' AND Command IN "
                            "('add-group', 'set-group', 'set-allowance', 'set-hours')"),
            4);
  const auto page = browser.Get("/users");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body.find("<I>5C</I>"), std::string::npos);
  EXPECT_NE(page->body.find("&lt;I&gt;5C&lt;/I&gt;"), std::string::npos);
  EXPECT_EQ(post("/api/users/BERT/group", {{"group", "-"}}).first, 200);
  EXPECT_EQ(post("/api/groups/%3Ci%3E5c%3C%2Fi%3E/remove", Json::object()).first, 200);
}

}  // namespace
}  // namespace admin_test

namespace admin_test {
namespace {

TEST_F(ConsoleTest, HealthTellsTheFiltersStatusAndOnlyTheErrorsOfItsLog) {
  const fs::path product = server_.root() / "c/Minutrix";
  test_support::WriteFile(product / "Minutrix.sts", "1\r\n08-12-2026; 09:00");
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char date[16];
  std::strftime(date, sizeof date, "%d%m%Y", &tm);
  test_support::WriteFile(product / (std::string("MinutrixOutput") + date + ".txt"),
                          "[INIT]\r\n08-12-2026; 09:00\r\n-Starting App\r\n]news\r\n"
                          "*[OpenDBConnection] <b>failed</b>\r\n-Number of monitored users: 3\r\n");
  Browser browser(server_.port());
  ASSERT_EQ(browser.Login("admin", kAdminPassword), 303);
  const auto api = browser.Get("/api/health");
  ASSERT_TRUE(api);
  const Json health = Json::parse(api->body);
  EXPECT_EQ(health["status"], "1");
  EXPECT_EQ(health["status_time"], "08-12-2026; 09:00");
  EXPECT_EQ(health["errors"], Json::array({"*[OpenDBConnection] <b>failed</b>"}));
  EXPECT_EQ(health["last_request"], nullptr) << "no helper decided anything on this machine";
  std::tm noon{};
  noon.tm_year = 2026 - 1900;
  noon.tm_mon = 11;
  noon.tm_mday = 8;
  noon.tm_hour = 9;
  noon.tm_min = 5;
  noon.tm_sec = 7;
  noon.tm_isdst = -1;
  ASSERT_TRUE(platform::NoteServiceWork("W3SVC", std::mktime(&noon)));
  EXPECT_EQ(Json::parse(browser.Get("/api/health")->body)["last_request"], "2026-12-08 09:05:07");
  const auto page = browser.Get("/health");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("*[OpenDBConnection] &lt;b&gt;failed&lt;/b&gt;"), std::string::npos);
  EXPECT_EQ(page->body.find("Starting App"), std::string::npos);
  EXPECT_NE(page->body.find("2026-12-08 09:05:07"), std::string::npos);

  // A filter whose shared store is down writes 2: the page tells the outage since that time.
  test_support::WriteFile(product / "Minutrix.sts", "2\r\n08-12-2026; 09:10");
  EXPECT_EQ(Json::parse(browser.Get("/api/health")->body)["status"], "2");
  const auto outage = browser.Get("/health");
  ASSERT_TRUE(outage);
  EXPECT_NE(outage->body.find("the shared store cannot be reached since the time shown"),
            std::string::npos);
  EXPECT_NE(outage->body.find("08-12-2026; 09:10"), std::string::npos);
  EXPECT_NE(outage->body.find("big bad\">2<"), std::string::npos) << "marked as a fault";
}

}  // namespace
}  // namespace admin_test
