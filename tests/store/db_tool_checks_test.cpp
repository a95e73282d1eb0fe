// minutrix-db on settings that do harm and on what it tells the administrator: refused ports,
// warnings for changes that were made but are likely not meant, one line per change, paths as
// typed, and free hosts.
#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class DbToolCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Tool({"create", db_.string()}).exit_code, 0);
    ASSERT_EQ(Tool({"add-user", db_.string(), "jsmith", "60"}).exit_code, 0);
  }
  test_support::CommandResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  std::string Settings() { return Tool({"settings", db_.string()}).output; }
  // The lines of an output that are not warnings.
  static std::vector<std::string> Said(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("minutrix-db: warning: ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }

  test_support::ScratchDir dir_;
  fs::path db_ = dir_.path() / "UserTimesDB.mdb";
};

struct PortCase {
  const char* name;
  const char* value;
  const char* stored;  // nullptr: refused
};

void PrintTo(const PortCase& c, std::ostream* out) { *out << c.name; }

class ServerPortTest : public DbToolCheckTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(ServerPortTest, IsAPortFrom1To65535) {
  const PortCase& c = GetParam();
  const std::string before = Settings();
  const auto result = Tool({"set", db_.string(), "ServerPort", c.value});
  if (c.stored == nullptr) {
    EXPECT_EQ(result.exit_code, 1) << result.output;
    EXPECT_NE(result.output.find("from 1 to 65535"), std::string::npos) << result.output;
    EXPECT_EQ(Settings(), before);
  } else {
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_NE(Settings().find(std::string("ServerPort = ") + c.stored + "\n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ServerPortTest,
    ::testing::Values(PortCase{"Zero", "0", nullptr}, PortCase{"AboveTheRange", "65536", nullptr},
                      PortCase{"FarAbove", "999999999", nullptr}, PortCase{"Empty", "", nullptr},
                      PortCase{"Negative", "-80", nullptr}, PortCase{"Spaced", " 80", nullptr},
                      PortCase{"Lowest", "1", "1"}, PortCase{"Highest", "65535", "65535"},
                      PortCase{"LeadingZero", "08080", "8080"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DbToolCheckTest, IdleGapZeroIsSetWithAWarning) {
  const auto result = Tool({"set", db_.string(), "IdleGapMinutes", "0"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(result.output.find("minutrix-db: warning: IdleGapMinutes 0"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("nothing will be charged"), std::string::npos) << result.output;
  EXPECT_NE(Settings().find("IdleGapMinutes = 0\n"), std::string::npos);
  EXPECT_EQ(Tool({"set", db_.string(), "IdleGapMinutes", "5"}).output.find("warning"),
            std::string::npos);
}

TEST_F(DbToolCheckTest, UsedMinutesAboveTheAllowanceAreSetWithAWarning) {
  auto result = Tool({"set-used", db_.string(), "jsmith", "90"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(
      result.output.find("warning: JSMITH has used 90 minutes, more than the allowance of 60"),
      std::string::npos)
      << result.output;
  EXPECT_NE(Tool({"users", db_.string()}).output.find("        60      90         0"),
            std::string::npos);
  result = Tool({"set-used", db_.string(), "jsmith", "60"});  // used up, not above
  EXPECT_EQ(result.output.find("warning"), std::string::npos) << result.output;
  result = Tool({"set-allowance", db_.string(), "jsmith", "30"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_NE(
      result.output.find("warning: JSMITH has used 60 minutes, more than the allowance of 30"),
      std::string::npos)
      << result.output;
  result = Tool({"set-allowance", db_.string(), "jsmith", "-1"});
  EXPECT_EQ(result.output.find("warning"), std::string::npos) << result.output;
}

struct ChangeCase {
  const char* name;
  std::vector<std::string> args;  // "DB" stands for the database
  const char* line;               // the one line the change prints
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangeLineTest : public DbToolCheckTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeLineTest, EachChangePrintsOneLineSayingWhatItChanged) {
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) {
    if (arg == "DB") arg = db_.string();
  }
  const auto result = Tool(args);
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Said(result.output), std::vector<std::string>{GetParam().line}) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeLineTest,
    ::testing::Values(
        ChangeCase{"AddUser",
                   {"add-user", "DB", "pjansen", "-1"},
                   "Added user PJANSEN with unlimited access."},
        ChangeCase{"RenameUser",
                   {"rename-user", "DB", "jsmith", "jsmith2"},
                   "Renamed user JSMITH to JSMITH2."},
        ChangeCase{"RemoveUser", {"remove-user", "DB", "jsmith"}, "Removed user JSMITH."},
        ChangeCase{"SetAllowance",
                   {"set-allowance", "DB", "jsmith", "45"},
                   "Set the allowance of JSMITH to 45 minutes (was 60 minutes)."},
        ChangeCase{"SetUsed",
                   {"set-used", "DB", "jsmith", "12"},
                   "Set the minutes used by JSMITH to 12 (was 0)."},
        ChangeCase{"AddSite",
                   {"add-site", "DB", "news"},
                   "Added free site 'news': every URL that contains it, in any case and anywhere "
                   "(query string included), costs no time."},
        ChangeCase{"AddHost",
                   {"add-site", "DB", "--host", "Example.ORG"},
                   "Added free site 'host:example.org': URLs whose host is example.org or ends in "
                   ".example.org cost no time."},
        ChangeCase{
            "SetYesNo", {"set", "DB", "WarningMode", "1"}, "Set WarningMode to 'yes' (was 'no')."},
        ChangeCase{
            "SetPort", {"set", "DB", "ServerPort", "8080"}, "Set ServerPort to '8080' (was '80')."},
        ChangeCase{"SetGap",
                   {"set", "DB", "IdleGapMinutes", "15"},
                   "Set IdleGapMinutes to '15' (was '10')."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DbToolCheckTest, RemovingASitePrintsOneLine) {
  ASSERT_EQ(Tool({"add-site", db_.string(), "--host", "example.org"}).exit_code, 0);
  const auto result = Tool({"remove-site", db_.string(), "--host", "example.org"});
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(Said(result.output), std::vector<std::string>{"Removed free site 'host:example.org'."});
}

TEST_F(DbToolCheckTest, ErrorsNameThePathAsTyped) {
  fs::create_directories(dir_.path() / "sub");
  test_support::WriteFile(dir_.path() / "damaged.mdb", std::string(5000, '#'));
  const std::vector<std::string> paths = {"none.mdb", "sub/../none.mdb", "./damaged.mdb",
                                          (dir_.path() / "none.mdb").string()};
  for (const std::string& typed : paths) {
    const auto result = test_support::Run({"/bin/sh", "-c",
                                           "cd '" + dir_.path().string() + "' && '" +
                                               (test_support::kBuildDir / "minutrix-db").string() +
                                               "' users '" + typed + "'"});
    EXPECT_EQ(result.exit_code, 1) << result.output;
    EXPECT_NE(result.output.find("'" + typed + "'"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Z:\\"), std::string::npos) << result.output;
  }
}

TEST_F(DbToolCheckTest, FreeHostsAreStoredAsHostRowsAndListedWithoutWarning) {
  ASSERT_EQ(Tool({"add-site", db_.string(), "--host", ".School.Example"}).exit_code, 0);
  ASSERT_EQ(Tool({"add-site", db_.string(), "host:wiki.example"}).exit_code, 0);
  auto sites = Tool({"sites", db_.string()});
  EXPECT_EQ(sites.output, "host:school.example\nhost:wiki.example\n");
  EXPECT_EQ(Tool({"add-site", db_.string(), "--host", "school.example"}).exit_code, 1);
  for (const char* bad : {"http://example.org/", "example.org/free", "example.org:8080",
                          "a b.example", "user@example.org", "", "host:"}) {
    const auto result = Tool({"add-site", db_.string(), "--host", bad});
    EXPECT_EQ(result.exit_code, 1) << bad << ": " << result.output;
  }
  EXPECT_EQ(Tool({"add-site", db_.string(), "   "}).exit_code, 1) << "a blank row matches nothing";
  EXPECT_EQ(Tool({"sites", db_.string()}).output, sites.output) << "refusals changed nothing";

  ASSERT_EQ(Tool({"add-site", db_.string(), "127.0.0.2:8080/free"}).exit_code, 0);
  sites = Tool({"sites", db_.string()});
  EXPECT_NE(sites.output.find("127.0.0.2:8080/free\n"), std::string::npos);
  EXPECT_NE(sites.output.find("warning: a plain row matches wherever its text appears in a URL, "
                              "the query string included"),
            std::string::npos)
      << sites.output;
  EXPECT_NE(sites.output.find("add-site --host"), std::string::npos);
}

}  // namespace
