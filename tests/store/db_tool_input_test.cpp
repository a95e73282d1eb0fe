// minutrix-db on hostile input: blank or non-UTF-8 names, control characters in any text, hosts
// that would free a whole top-level domain, numbers out of range, texts longer than the filter's
// fields; and the users listing, whose columns hold for any width.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class DbToolInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", db_.string()},
          {"add-user", db_.string(), "jsmith", "60"},
          {"add-site", db_.string(), "news"},
          {"add-site", db_.string(), "--host", "school.example"}}) {
      const auto result = Tool(args);
      ASSERT_EQ(result.exit_code, 0) << result.output;
    }
  }
  test_support::CommandResult Tool(std::vector<std::string> args) {
    for (auto& arg : args) {
      if (arg == "DB") arg = db_.string();
    }
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  test_support::CommandResult Sqlite(const std::string& sql) {
    return test_support::Run({"/usr/bin/sqlite3", db_.string(), sql});
  }
  // Every row of every table, as the database file holds them.
  std::string Rows() {
    const auto dump = Sqlite(".dump");
    EXPECT_EQ(dump.exit_code, 0) << dump.output;
    return dump.output;
  }

  test_support::ScratchDir dir_;
  fs::path db_ = dir_.path() / "UserTimesDB.mdb";
};

struct Refusal {
  const char* name;
  std::vector<std::string> args;  // "DB" stands for the database
  std::vector<std::string> said;  // parts of the error message
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class RefusedInputTest : public DbToolInputTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedInputTest, FailsNamingTheBadPartAndChangesNoRow) {
  const std::string before = Rows();
  ASSERT_NE(before.find("JSMITH"), std::string::npos) << before;
  const auto result = Tool(GetParam().args);
  EXPECT_EQ(result.exit_code, 1) << result.output;
  EXPECT_EQ(result.output.rfind("minutrix-db: error: ", 0), 0u) << result.output;
  for (const std::string& part : GetParam().said)
    EXPECT_NE(result.output.find(part), std::string::npos) << part << "\n" << result.output;
  for (const char c : result.output) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n')
        << "a raw control character reached the terminal: " << result.output;
  }
  EXPECT_EQ(Rows(), before);
}

const std::string kLongHost = std::string(250, 'a') + ".org";

INSTANTIATE_TEST_SUITE_P(
    Names, RefusedInputTest,
    ::testing::Values(
        Refusal{"BlankUserName", {"add-user", "DB", "   ", "10"}, {"must not be empty or blank"}},
        Refusal{"TabsAsUserName", {"add-user", "DB", "\t\t", "10"}, {"must not be empty or blank"}},
        Refusal{"RenameToBlank", {"rename-user", "DB", "jsmith", " "}, {"empty or blank"}},
        Refusal{"Latin1UserName",
                {"add-user", "DB", "j\xE9r\xF4me", "10"},
                {"user name 'j\\xE9r\\xF4me' is not UTF-8: byte 0xE9 at byte 2"}},
        Refusal{"CutUtf8UserName",
                {"add-user", "DB", "jo\xC3", "10"},
                {"is not UTF-8: byte 0xC3 at byte 3"}},
        Refusal{"OverlongUtf8UserName",
                {"add-user", "DB", "a\xC0\xAF", "10"},
                {"is not UTF-8: byte 0xC0 at byte 2"}},
        Refusal{"RenameToNotUtf8",
                {"rename-user", "DB", "jsmith", "js\xFF"},
                {"user name 'js\\xFF' is not UTF-8"}},
        Refusal{"UserNameWithLineBreak",
                {"add-user", "DB", "bob\nADMIN", "10"},
                {"user name 'bob\\x0AADMIN' holds a control character", "U+000A at byte 4"}},
        Refusal{"UserNameWithEscapeSequence",
                {"add-user", "DB", "\x1B[31mbob", "10"},
                {"'\\x1B[31mbob' holds a control character", "U+001B at byte 1"}},
        Refusal{"UserNameWithC1Control",
                {"add-user", "DB", "bob\xC2\x85", "10"},
                {"U+0085 at byte 4"}}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Sites, RefusedInputTest,
    ::testing::Values(
        Refusal{"SiteWithLineBreak",
                {"add-site", "DB", "free\n.example"},
                {"free-site text 'free\\x0A.example' holds a control character"}},
        Refusal{"SiteWithTab", {"add-site", "DB", "news\tpaper"}, {"U+0009 at byte 5"}},
        Refusal{"SiteTooLong",
                {"add-site", "DB", std::string(255, 's')},
                {"at most 254 bytes", "this one has 255"}},
        Refusal{"HostWithoutDot", {"add-site", "DB", "--host", "com"}, {"host 'com' has no dot"}},
        Refusal{"HostRowWithoutDot", {"add-site", "DB", "host:ORG"}, {"host 'org' has no dot"}},
        Refusal{"HostWithDotOnlyInFront", {"add-site", "DB", "--host", ".com"}, {"has no dot"}},
        Refusal{"HostEndingInDot",
                {"add-site", "DB", "--host", "example.org."},
                {"host 'example.org.'", "dot"}},
        Refusal{"HostWithEmptyName",
                {"add-site", "DB", "--host", "a..example"},
                {"host 'a..example'", "dot"}},
        Refusal{"HostTooLong",
                {"add-site", "DB", "--host", kLongHost},
                {"at most 254 bytes", "this one has 259"}}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Settings, RefusedInputTest,
    ::testing::Values(
        Refusal{"DeniedMessageWithHeaderLine",
                {"set", "DB", "DeniedMessage", "Time is up\r\nSet-Cookie: x=1"},
                {"DeniedMessage 'Time is up\\x0D\\x0ASet-Cookie: x=1' holds a control character"}},
        Refusal{"DeniedMessageTooLong",
                {"set", "DB", "DeniedMessage", std::string(255, 'm')},
                {"DeniedMessage holds at most 254 bytes", "this one has 255"}},
        Refusal{"CommandWithTab",
                {"set", "DB", "CurrentUserCommand", "time\tleft"},
                {"CurrentUserCommand 'time\\x09left' holds a control character"}},
        Refusal{"CommandWithDelete",
                {"set", "DB", "CurrentUserCommand", "time\x7Fleft"},
                {"U+007F at byte 5"}},
        Refusal{"CommandTooLong",
                {"set", "DB", "CurrentUserCommand", std::string(50, 'c')},
                {"at most 49 bytes", "this one has 50"}}),
    test_support::ByName());

INSTANTIATE_TEST_SUITE_P(
    Numbers, RefusedInputTest,
    ::testing::Values(Refusal{"UsedMinutesTooLarge",
                              {"set-used", "DB", "jsmith", "99999999999"},
                              {"used minutes of 99999999999 are too large",
                               "CurrentInternetTime holds at most 2147483647"}},
                      Refusal{"UsedMinutesOneTooLarge",
                              {"set-used", "DB", "jsmith", "2147483648"},
                              {"too large", "at most 2147483647"}},
                      Refusal{"UsedMinutesNegative",
                              {"set-used", "DB", "jsmith", "-1"},
                              {"used minutes are 0 or more, not -1"}},
                      Refusal{"AllowanceTooLarge",
                              {"add-user", "DB", "bob", "2147483648"},
                              {"an allowance of 2147483648 minutes is too large",
                               "MaxInternetTime holds at most 2147483647"}},
                      Refusal{"ChangedAllowanceTooLarge",
                              {"set-allowance", "DB", "jsmith", "99999999999"},
                              {"too large", "at most 2147483647"}},
                      Refusal{"NumberBeyond64Bits",
                              {"add-user", "DB", "bob", "99999999999999999999"},
                              {"MINUTES '99999999999999999999' is too large", "2147483647"}},
                      Refusal{"NegativeBeyond64Bits",
                              {"set-used", "DB", "jsmith", "-99999999999999999999"},
                              {"MINUTES '-99999999999999999999' is too small"}},
                      Refusal{"IdleGapTooLarge",
                              {"set", "DB", "IdleGapMinutes", "4294967296"},
                              {"IdleGapMinutes of 4294967296 is too large", "at most 2147483647"}}),
    test_support::ByName());

// A line of the listing as cells with the terminal columns where each starts and ends.
struct Cell {
  std::string text;
  size_t start;
  size_t end;
};
std::vector<Cell> Cells(const std::string& line) {
  std::vector<Cell> cells;
  size_t column = 0;
  for (size_t at = 0; at < line.size(); ++at) {
    const bool continuation = (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80;
    if (line[at] == ' ') {
      ++column;
      continue;
    }
    if (at == 0 || line[at - 1] == ' ') cells.push_back({"", column, column});
    cells.back().text += line[at];
    if (!continuation) cells.back().end = ++column;
  }
  return cells;
}

struct UserCase {
  const char* name;
  std::string user;
  std::string allowance;
  std::string used;
  std::vector<std::string> shown;  // the row's cells
  std::string extra = "";          // minutes given with add-minutes, if any
};

void PrintTo(const UserCase& c, std::ostream* out) { *out << c.name; }

class UsersListingTest : public DbToolInputTest, public ::testing::WithParamInterface<UserCase> {};

TEST_P(UsersListingTest, KeepsItsColumnsForAnyWidth) {
  const UserCase& c = GetParam();
  ASSERT_EQ(Tool({"add-user", "DB", c.user, c.allowance}).exit_code, 0);
  ASSERT_EQ(Tool({"set-used", "DB", c.user, c.used}).exit_code, 0);
  if (!c.extra.empty()) {
    ASSERT_EQ(Tool({"add-minutes", "DB", c.user, c.extra}).exit_code, 0);
  }
  const auto listing = Tool({"users", "DB"});
  ASSERT_EQ(listing.exit_code, 0) << listing.output;
  std::vector<std::vector<Cell>> lines;
  std::istringstream in(listing.output);
  for (std::string line; std::getline(in, line);) lines.push_back(Cells(line));
  ASSERT_EQ(lines.size(), 3u) << listing.output;
  const std::vector<std::string> expected[] = {
      {"USER", "ALLOWANCE", "USED", "LEFT", "EXTRA"}, {"JSMITH", "60", "0", "60", "0"}, c.shown};
  for (size_t row = 0; row < lines.size(); ++row) {
    ASSERT_EQ(lines[row].size(), 5u) << "columns run together:\n" << listing.output;
    EXPECT_EQ(lines[row][0].start, 0u) << listing.output;
    for (size_t column = 0; column < 5; ++column) {
      EXPECT_EQ(lines[row][column].text, expected[row][column]) << listing.output;
      if (column > 0) {
        EXPECT_EQ(lines[row][column].end, lines[0][column].end)
            << "column " << column << " of row " << row << " is out of line:\n"
            << listing.output;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, UsersListingTest,
    ::testing::Values(
        UserCase{"TenDigitAllowance",
                 "big",
                 "2147483647",
                 "0",
                 {"BIG", "2147483647", "0", "2147483647", "0"}},
        UserCase{
            "TenDigitUsed", "heavy", "5", "2147483647", {"HEAVY", "5", "2147483647", "0", "0"}},
        UserCase{"UnlimitedAndTenDigitsUsed",
                 "free",
                 "-1",
                 "2147483647",
                 {"FREE", "unlimited", "2147483647", "unlimited", "0"}},
        UserCase{"ThirtyByteNameAndTenDigits",
                 std::string(30, 'n'),
                 "2147483647",
                 "1",
                 {std::string(30, 'N'), "2147483647", "1", "2147483646", "0"}},
        UserCase{"LongestName",
                 std::string(59, 'x'),
                 "60",
                 "0",
                 {std::string(59, 'X'), "60", "0", "60", "0"}},
        UserCase{"Utf8Name",
                 "j\xC3\xB6rg.m\xC3\xBCller",
                 "45",
                 "5",
                 {"J\xC3\xB6RG.M\xC3\xBCLLER", "45", "5", "40", "0"}},
        UserCase{"TenDigitExtra",
                 "given",
                 "1",
                 "0",
                 {"GIVEN", "1", "0", "2147483647", "2147483646"},
                 "2147483646"},
        UserCase{"ElevenCharacterExtra",
                 "taken",
                 "2147483647",
                 "0",
                 {"TAKEN", "2147483647", "0", "0", "-2147483647"},
                 "-2147483647"}),
    test_support::ByName());

// Rows written by other tools before these checks: shown escaped, and still removable by name.
TEST_F(DbToolInputTest, RowsStoredBeforeTheChecksAreShownEscapedAndCanBeRemoved) {
  const auto added = Sqlite(
      "INSERT INTO Users VALUES ('EVE' || char(10) || 'ROOT', 30, 0);"
      "INSERT INTO tblPages (PageName) VALUES ('host:com');"
      "INSERT INTO tblPages (PageName) VALUES ('free' || char(27) || '[2J');"
      "UPDATE FilterSettings SET DeniedMessage = 'Stop' || char(13) || char(10) || 'now'");
  ASSERT_EQ(added.exit_code, 0) << added.output;

  const std::string users = Tool({"users", "DB"}).output;
  EXPECT_NE(users.find("\nEVE\\x0AROOT "), std::string::npos) << users;
  EXPECT_EQ(std::count(users.begin(), users.end(), '\n'), 3) << users;
  const std::string sites = Tool({"sites", "DB"}).output;
  EXPECT_NE(sites.find("\nfree\\x1B[2J\n"), std::string::npos) << sites;
  EXPECT_EQ(sites.find('\x1B'), std::string::npos) << sites;
  EXPECT_NE(Tool({"settings", "DB"}).output.find("DeniedMessage = Stop\\x0D\\x0Anow\n"),
            std::string::npos);

  auto result = Tool({"remove-user", "DB", "eve\nroot"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(result.output, "Removed user EVE\\x0AROOT.\n");
  result = Tool({"remove-site", "DB", "--host", "com"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  result = Tool({"remove-site", "DB", "free\x1B[2J"});
  EXPECT_EQ(result.output, "Removed free site 'free\\x1B[2J'.\n");
  const std::string left = Tool({"sites", "DB"}).output;
  EXPECT_EQ(left.rfind("news\nhost:school.example\nminutrix-db: warning: ", 0), 0u) << left;
}

}  // namespace
