// minutrix-db report and history on a small known history: the exact figures in every format,
// runs across an hour split, free minutes and other days left out, hostile host names escaped,
// an empty period, and bad input refused with the database unchanged.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "store/usage.h"
#include "tests/store/db_tool_fixture.h"

namespace {

using db_tool_test::DbToolFixture;
namespace fs = std::filesystem;

std::string Day(const char* date) { return std::to_string(*store::ParseDay(date)); }

class ReportTest : public DbToolFixture {
 protected:
  void SetUp() override {
    DbToolFixture::SetUp();
    Ok({"add-user", "DB", "jsmith", "60"});
    Ok({"add-user", "DB", "anna", "45"});
    Ok({"add-user", "DB", "pjansen", "-1"});
    const std::string d1 = Day("2026-12-01"), d7 = Day("2026-12-07"), d8 = Day("2026-12-08");
    const auto added = Sqlite(
        "INSERT INTO HistoryHosts (ID, Name) VALUES (1, 'www.example.org'),"
        " (2, 'lessons.school.example'), (3, '<b>&x=\"1\",y'), (4, '=1+1.example');"
        "INSERT INTO History (Day, UserName, Start, Minutes, Host, Free) VALUES"
        " (" +
        d7 +
        ", 'JSMITH', 540, 10, 1, 0),"  // 09:00-09:10
        " (" +
        d7 +
        ", 'JSMITH', 550, 15, 2, 0),"  // 09:10-09:25
        " (" +
        d7 +
        ", 'ANNA', 595, 10, 3, 0),"  // 09:55-10:05: across an hour
        " (" +
        d8 +
        ", 'JSMITH', 600, 5, 0, 0),"  // host not recorded
        " (" +
        d8 +
        ", 'JSMITH', 700, 7, 1, 1),"  // free minutes: never counted
        " (" +
        d8 +
        ", 'GONE', 61, 3, 4, 0),"  // a user removed since
        " (" +
        d8 +
        ", 'PJANSEN', 1430, 10, 1, 0),"  // 23:50 to midnight
        " (" +
        d1 + ", 'JSMITH', 480, 20, 1, 0);");  // before the last 7 days
    ASSERT_EQ(added.exit_code, 0) << added.output;
  }
};

struct ReportCase {
  const char* name;
  std::vector<std::string> args;  // after "report DB"
  std::string expected;           // the whole output
};

void PrintTo(const ReportCase& c, std::ostream* out) { *out << c.name; }

class ReportFiguresTest : public ReportTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportFiguresTest, AreExact) {
  std::vector<std::string> args = {"report", "DB"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  const auto result = Tool(args);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, GetParam().expected);
}

const std::string kHours = [] {
  std::string json = "[\n";
  const int minutes[24] = {0, 3, 0, 0, 0, 0, 0, 0, 0, 30, 10, 0,
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  10};
  for (int hour = 0; hour < 24; ++hour) {
    json += "  {\"hour\": " + std::to_string(hour) +
            ", \"minutes\": " + std::to_string(minutes[hour]) + (hour < 23 ? "},\n" : "}\n");
  }
  return json + "]\n";
}();

INSTANTIATE_TEST_SUITE_P(
    Formats, ReportFiguresTest,
    ::testing::Values(
        ReportCase{"DayTextIsTheDefault",
                   {},
                   "Usage by day: charged minutes from 2026-12-02 to 2026-12-08, all users\n"
                   "\n"
                   "DATE        USER     MINUTES\n"
                   "2026-12-07  ANNA          10\n"
                   "2026-12-07  JSMITH        25\n"
                   "2026-12-08  GONE           3\n"
                   "2026-12-08  JSMITH         5\n"
                   "2026-12-08  PJANSEN       10\n"
                   "total                     53\n"},
        ReportCase{"DayCsv",
                   {"--by", "day", "--format", "csv"},
                   "date,user,minutes\n"
                   "2026-12-07,ANNA,10\n"
                   "2026-12-07,JSMITH,25\n"
                   "2026-12-08,GONE,3\n"
                   "2026-12-08,JSMITH,5\n"
                   "2026-12-08,PJANSEN,10\n"},
        ReportCase{
            "DayJsonOfOneUserOverARange",
            {"--format", "json", "--user", "jsmith", "--from", "2026-12-01", "--to", "2026-12-07"},
            "[\n"
            "  {\"date\": \"2026-12-01\", \"user\": \"JSMITH\", \"minutes\": 20},\n"
            "  {\"date\": \"2026-12-07\", \"user\": \"JSMITH\", \"minutes\": 25}\n"
            "]\n"},
        ReportCase{"UserText",
                   {"--by", "user"},
                   "Usage by user: charged minutes from 2026-12-02 to 2026-12-08, all users\n"
                   "\n"
                   "USER     MINUTES  DAYS  ALLOWANCE\n"
                   "ANNA          10     1         45\n"
                   "GONE           3     1  (removed)\n"
                   "JSMITH        30     2         60\n"
                   "PJANSEN       10     1  unlimited\n"
                   "total         53\n"},
        ReportCase{"UserCsv",
                   {"--by", "user", "--format", "csv"},
                   "user,minutes,days,allowance\n"
                   "ANNA,10,1,45\n"
                   "GONE,3,1,\n"
                   "JSMITH,30,2,60\n"
                   "PJANSEN,10,1,-1\n"},
        ReportCase{"UserJson",
                   {"--by", "user", "--format", "json"},
                   "[\n"
                   "  {\"user\": \"ANNA\", \"minutes\": 10, \"days\": 1, \"allowance\": 45},\n"
                   "  {\"user\": \"GONE\", \"minutes\": 3, \"days\": 1, \"allowance\": null},\n"
                   "  {\"user\": \"JSMITH\", \"minutes\": 30, \"days\": 2, \"allowance\": 60},\n"
                   "  {\"user\": \"PJANSEN\", \"minutes\": 10, \"days\": 1, \"allowance\": -1}\n"
                   "]\n"},
        ReportCase{"SiteText",
                   {"--by", "site"},
                   "Usage by site: charged minutes from 2026-12-02 to 2026-12-08, all users\n"
                   "\n"
                   "SITE                    MINUTES  USERS\n"
                   "www.example.org              20      2\n"
                   "lessons.school.example       15      1\n"
                   "<b>&x=\"1\",y                  10      1\n"
                   "(not recorded)                5      1\n"
                   "=1+1.example                  3      1\n"
                   "total                        53\n"},
        ReportCase{"SiteCsvQuotesAndDisarmsFormulas",
                   {"--by", "site", "--format", "csv"},
                   "site,minutes,users\n"
                   "www.example.org,20,2\n"
                   "lessons.school.example,15,1\n"
                   "\"<b>&x=\"\"1\"\",y\",10,1\n"
                   ",5,1\n"
                   "'=1+1.example,3,1\n"},
        ReportCase{"SiteJson",
                   {"--by", "site", "--format", "json"},
                   "[\n"
                   "  {\"site\": \"www.example.org\", \"minutes\": 20, \"users\": 2},\n"
                   "  {\"site\": \"lessons.school.example\", \"minutes\": 15, \"users\": 1},\n"
                   "  {\"site\": \"<b>&x=\\\"1\\\",y\", \"minutes\": 10, \"users\": 1},\n"
                   "  {\"site\": \"\", \"minutes\": 5, \"users\": 1},\n"
                   "  {\"site\": \"=1+1.example\", \"minutes\": 3, \"users\": 1}\n"
                   "]\n"},
        ReportCase{"HourTextSplitsARunAcrossAnHour",
                   {"--by", "hour", "--from", "2026-12-07", "--to", "2026-12-07"},
                   "Usage by hour: charged minutes from 2026-12-07 to 2026-12-07, all users\n"
                   "\n"
                   "HOUR         MINUTES\n"
                   "00:00-01:00        0\n"
                   "01:00-02:00        0\n"
                   "02:00-03:00        0\n"
                   "03:00-04:00        0\n"
                   "04:00-05:00        0\n"
                   "05:00-06:00        0\n"
                   "06:00-07:00        0\n"
                   "07:00-08:00        0\n"
                   "08:00-09:00        0\n"
                   "09:00-10:00       30\n"
                   "10:00-11:00        5\n"
                   "11:00-12:00        0\n"
                   "12:00-13:00        0\n"
                   "13:00-14:00        0\n"
                   "14:00-15:00        0\n"
                   "15:00-16:00        0\n"
                   "16:00-17:00        0\n"
                   "17:00-18:00        0\n"
                   "18:00-19:00        0\n"
                   "19:00-20:00        0\n"
                   "20:00-21:00        0\n"
                   "21:00-22:00        0\n"
                   "22:00-23:00        0\n"
                   "23:00-00:00        0\n"
                   "total             35\n"},
        ReportCase{"HourCsvOfOneUser",
                   {"--by", "hour", "--format", "csv", "--user", "ANNA"},
                   "hour,minutes\n0,0\n1,0\n2,0\n3,0\n4,0\n5,0\n6,0\n7,0\n8,0\n9,5\n10,5\n11,0\n"
                   "12,0\n13,0\n14,0\n15,0\n16,0\n17,0\n18,0\n19,0\n20,0\n21,0\n22,0\n23,0\n"},
        ReportCase{"HourJson", {"--by", "hour", "--format", "json"}, kHours},
        ReportCase{"DutchText",
                   {"--by", "user", "--lang", "nl", "--user", "pjansen"},
                   "Gebruik per gebruiker: getelde minuten van 2026-12-02 tot en met "
                   "2026-12-08, gebruiker PJANSEN\n"
                   "\n"
                   "GEBRUIKER  MINUTEN  DAGEN     TEGOED\n"
                   "PJANSEN         10      1  onbeperkt\n"
                   "totaal          10\n"}),
    test_support::ByName());

TEST_F(ReportTest, HtmlIsOnePrintablePageWithAChartAndEveryValueEscaped) {
  for (const char* by : {"day", "user", "site", "hour"}) {
    SCOPED_TRACE(by);
    const auto result = Tool({"report", "DB", "--by", by, "--format", "html"});
    ASSERT_EQ(result.exit_code, 0) << result.output;
    const std::string& page = result.output;
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"en\">", 0), 0u);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("default-src 'none'"), std::string::npos);  // nothing loaded, no script
    EXPECT_NE(page.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(page.find("<rect "), std::string::npos);
    EXPECT_LT(page.find("</svg>"), page.find("<table>"));
    EXPECT_NE(page.find("<tfoot><tr><th>Total</th>"), std::string::npos);
    for (const char* never : {"<script", "src=", "href=", "url(", "@import", "<b>"})
      EXPECT_EQ(page.find(never), std::string::npos) << never;
    EXPECT_NE(page.find("</html>\n"), std::string::npos);
  }
  const std::string sites = Tool({"report", "DB", "--by", "site", "--format", "html"}).output;
  EXPECT_NE(sites.find("<tr><td>&lt;b&gt;&amp;x=&quot;1&quot;,y</td><td class=\"n\">10</td>"
                       "<td class=\"n\">1</td></tr>"),
            std::string::npos)
      << sites;
  EXPECT_NE(sites.find("<tr><td>www.example.org</td><td class=\"n\">20</td>"), std::string::npos);
  EXPECT_NE(sites.find("<title>www.example.org: 20</title>"), std::string::npos);  // its bar
  EXPECT_NE(sites.find("<th class=\"n\">53</th>"), std::string::npos);
  const std::string days = Tool({"report", "DB", "--format", "html"}).output;
  EXPECT_NE(days.find("<title>2026-12-07 JSMITH: 25</title>"), std::string::npos) << days;
  EXPECT_NE(days.find("<tr><td>2026-12-08</td><td>PJANSEN</td><td class=\"n\">10</td></tr>"),
            std::string::npos);
}

TEST_F(ReportTest, HtmlInDutch) {
  const auto result = Tool({"report", "DB", "--by", "user", "--format", "html", "--lang", "nl"});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  for (const char* said :
       {"<html lang=\"nl\">", "<h1>Gebruik per gebruiker</h1>",
        "Getelde minuten van 2026-12-02 tot en met 2026-12-08, alle gebruikers",
        "<th>Gebruiker</th><th class=\"n\">Minuten</th><th class=\"n\">Dagen</th>",
        "<td class=\"n\">onbeperkt</td>", "<td class=\"n\">(verwijderd)</td>", "<th>Totaal</th>"}) {
    EXPECT_NE(result.output.find(said), std::string::npos) << said;
  }
}

TEST_F(ReportTest, HtmlChartHasAPlaceForEveryDayOfThePeriod) {
  const auto result = Tool({"report", "DB", "--by", "day", "--format", "html", "--from",
                            "2026-11-20", "--to", "2026-12-08"});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  // Days without browsing are on the chart's axis too, so that one day is not as wide as the page.
  for (const char* day : {">2026-11-20<", ">2026-11-28<", ">2026-12-08<"}) {
    EXPECT_NE(result.output.find(day), std::string::npos) << day;
  }
}

TEST_F(ReportTest, EmptyPeriodSaysNoUsage) {
  for (const char* format : {"text", "csv", "json", "html"}) {
    SCOPED_TRACE(format);
    const auto result =
        Tool({"report", "DB", "--format", format, "--from", "2025-01-01", "--to", "2025-12-31"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.output.find("no usage\n"), std::string::npos) << result.output;
  }
  EXPECT_EQ(Tool({"report", "DB", "--user", "anna", "--from", "2026-12-08"}).output, "no usage\n");
  // The data stays on standard output for programs; the note goes to standard error.
  const auto json = Tool({"report", "DB", "--format", "json", "--to", "2025-01-01"});
  EXPECT_NE(json.output.find("[]\n"), std::string::npos) << json.output;
  EXPECT_EQ(json.output.size(), std::string("[]\nno usage\n").size()) << json.output;
}

TEST_F(ReportTest, OutputFileHoldsTheReport) {
  const fs::path file = dir_.path() / "week.csv";
  const auto result =
      Tool({"report", "DB", "--by", "user", "--format", "csv", "--output", file.string()});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.output, "Wrote the report to " + file.string() + ".\n");
  EXPECT_EQ(test_support::ReadFile(file),
            "user,minutes,days,allowance\nANNA,10,1,45\nGONE,3,1,\nJSMITH,30,2,60\n"
            "PJANSEN,10,1,-1\n");
}

TEST_F(ReportTest, HistoryShowsOneUsersDayRunByRun) {
  EXPECT_EQ(Ok({"history", "DB", "jsmith", "--date", "2026-12-07"}),
            "JSMITH on 2026-12-07: 25 charged minutes\n"
            "\n"
            "FROM   TO     MINUTES  SITE\n"
            "09:00  09:10       10  www.example.org\n"
            "09:10  09:25       15  lessons.school.example\n"
            "total              25\n");
  EXPECT_EQ(Ok({"history", "DB", "jsmith"}),  // today; the free run is left out
            "JSMITH on 2026-12-08: 5 charged minutes\n"
            "\n"
            "FROM   TO     MINUTES  SITE\n"
            "10:00  10:05        5  (not recorded)\n"
            "total               5\n");
  EXPECT_EQ(Ok({"history", "DB", "pjansen"}),
            "PJANSEN on 2026-12-08: 10 charged minutes\n"
            "\n"
            "FROM   TO     MINUTES  SITE\n"
            "23:50  00:00       10  www.example.org\n"
            "total              10\n");
  EXPECT_EQ(Ok({"history", "DB", "gone"}).rfind("GONE on 2026-12-08: 3 charged minutes\n", 0), 0u);
  EXPECT_EQ(Ok({"history", "DB", "anna"}), "no usage\n");
}

struct BadReport {
  const char* name;
  std::vector<std::string> args;  // "DB" is the database, "FILE" a regular file
  int exit_code;
  const char* message;
};

void PrintTo(const BadReport& c, std::ostream* out) { *out << c.name; }

class ReportBadInputTest : public ReportTest, public ::testing::WithParamInterface<BadReport> {};

TEST_P(ReportBadInputTest, IsRefusedAndChangesNothing) {
  const fs::path file = dir_.path() / "plain.txt";
  test_support::WriteFile(file, "kept\n");
  const std::string before = Rows();
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) {
    if (arg.rfind("FILE", 0) == 0) arg = file.string() + arg.substr(4);
    if (arg.rfind("DB-", 0) == 0) arg = db_.string() + arg.substr(2);
  }
  const auto result = Tool(args);
  EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.output;
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(test_support::ReadFile(file), "kept\n");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ReportBadInputTest,
    ::testing::Values(
        BadReport{"DayThatDoesNotExist",
                  {"report", "DB", "--from", "2026-02-29"},
                  1,
                  "--from '2026-02-29' is not a date that exists"},
        BadReport{"MonthThirteen",
                  {"report", "DB", "--to", "2026-13-01"},
                  1,
                  "--to '2026-13-01' is not a date"},
        BadReport{"NotADate", {"report", "DB", "--from", "yesterday"}, 1, "YYYY-MM-DD"},
        BadReport{"FromAfterTo",
                  {"report", "DB", "--from", "2026-12-08", "--to", "2026-12-01"},
                  1,
                  "--from 2026-12-08 is after --to 2026-12-01"},
        BadReport{"FromAfterToday",
                  {"report", "DB", "--from", "2027-01-01"},
                  1,
                  "--from 2027-01-01 is after --to 2026-12-08"},
        BadReport{
            "UnknownUser", {"report", "DB", "--user", "nobody"}, 1, "there is no user NOBODY"},
        BadReport{"BlankUser", {"report", "DB", "--user", " "}, 1, "--user needs a user name"},
        BadReport{"UnknownBy", {"report", "DB", "--by", "week"}, 1, "day, user, site, hour"},
        BadReport{"UnknownFormat", {"report", "DB", "--format", "pdf"}, 1, "text, csv, json"},
        BadReport{"UnknownLanguage", {"report", "DB", "--lang", "de"}, 1, "en, nl"},
        BadReport{"OutputInAFolderThatIsAFile",
                  {"report", "DB", "--output", "FILE/report.csv"},
                  1,
                  "cannot write the report to"},
        BadReport{"OutputOnAFullDisk",
                  {"report", "DB", "--output", "/dev/full"},
                  1,
                  "cannot write the report to /dev/full: No space left on device"},
        BadReport{"OutputIsTheDatabase",
                  {"report", "DB", "--output", "DB"},
                  1,
                  "is the database or one of its files"},
        BadReport{"OutputIsTheWriteAheadLog",
                  {"report", "DB", "--output", "DB-wal"},
                  1,
                  "is the database or one of its files"},
        BadReport{"OutputIsAFolder", {"report", "DB", "--output", "/tmp"}, 1, "is a folder"},
        BadReport{"UnknownOption", {"report", "DB", "--form", "csv"}, 2, "no option --form"},
        BadReport{"OptionWithoutValue", {"report", "DB", "--by"}, 2, "--by needs a value"},
        BadReport{"OptionTwice",
                  {"report", "DB", "--by", "day", "--by", "user"},
                  2,
                  "--by is given twice"},
        BadReport{
            "HistoryOfUnknownUser", {"history", "DB", "nobody"}, 1, "there is no user NOBODY"},
        BadReport{"HistoryOfNoUser", {"history", "DB", ""}, 1, "history needs a user name"},
        BadReport{"HistoryOnADayThatDoesNotExist",
                  {"history", "DB", "jsmith", "--date", "2026-11-31"},
                  1,
                  "--date '2026-11-31' is not a date that exists"},
        BadReport{"AuditFromADayThatDoesNotExist",
                  {"audit", "DB", "--from", "2026-00-10"},
                  1,
                  "--from '2026-00-10' is not a date"}),
    test_support::ByName());

}  // namespace
