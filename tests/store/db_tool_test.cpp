// minutrix-db as the administrator runs it: every command, and bad input that changes nothing.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class DbToolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Tool({"create", db_.string()}).exit_code, 0); }
  test_support::CommandResult Tool(std::vector<std::string> args) {
    args.insert(args.begin(), (test_support::kBuildDir / "minutrix-db").string());
    return test_support::Run(args);
  }
  std::string Users() { return Tool({"users", db_.string()}).output; }

  test_support::ScratchDir dir_;
  fs::path db_ = dir_.path() / "UserTimesDB" / "UserTimesDB.mdb";
};

TEST_F(DbToolTest, HelpExplainsEveryCommand) {
  const auto help = Tool({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* command : {"create", "users", "add-user", "rename-user", "remove-user",
                              "set-allowance", "set-used", "add-minutes", "sites", "add-site",
                              "remove-site", "settings", "set", "report", "history", "audit"}) {
    EXPECT_NE(help.output.find(std::string("  ") + command + " DATABASE"), std::string::npos)
        << command;
  }
}

TEST_F(DbToolTest, UsersAreStoredUpperCaseAndMarkedChanged) {
  ASSERT_EQ(Tool({"add-user", db_.string(), "jsmith", "60"}).exit_code, 0);
  ASSERT_EQ(Tool({"set-used", db_.string(), "JSmith", "25"}).exit_code, 0);
  ASSERT_EQ(Tool({"add-user", db_.string(), "o'brien\"; DROP TABLE Users;--", "-1"}).exit_code, 0);
  const std::string users = Users();
  EXPECT_NE(users.find("JSMITH"), std::string::npos);
  EXPECT_NE(users.find("        60      25        35      0"), std::string::npos) << users;
  EXPECT_NE(users.find("O'BRIEN\"; DROP TABLE USERS;--"), std::string::npos) << users;
  EXPECT_NE(users.find("unlimited"), std::string::npos);
  EXPECT_NE(Tool({"settings", db_.string()}).output.find("UsersChanged = yes"), std::string::npos);
  ASSERT_EQ(Tool({"rename-user", db_.string(), "jsmith", "jsmith2"}).exit_code, 0);
  ASSERT_EQ(Tool({"remove-user", db_.string(), "JSMITH2"}).exit_code, 0);
  EXPECT_EQ(Users().find("JSMITH"), std::string::npos);
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // after the command name; "DB" is replaced by the database
  int exit_code;
  const char* message;
};

void PrintTo(const BadInput& input, std::ostream* out) {
  for (const std::string& arg : input.args)
    *out << (arg.size() > 20 ? arg.substr(0, 20) : arg) << " ";
}

class DbToolBadInputTest : public DbToolTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(DbToolBadInputTest, GivesAClearErrorAndChangesNothing) {
  ASSERT_EQ(Tool({"add-user", db_.string(), "jsmith", "60"}).exit_code, 0);
  ASSERT_EQ(Tool({"add-site", db_.string(), "news"}).exit_code, 0);
  ASSERT_EQ(Tool({"set", db_.string(), "UsersChanged", "no"}).exit_code, 0);
  const std::string before = test_support::ReadFile(db_);
  const std::string users_before = Users();
  const std::string settings_before = Tool({"settings", db_.string()}).output;
  const std::string sites_before = Tool({"sites", db_.string()}).output;
  ASSERT_EQ(sites_before.rfind("news\n", 0), 0u) << sites_before;
  std::vector<std::string> args = GetParam().args;
  for (auto& arg : args) {
    if (arg == "DB") arg = db_.string();
  }
  const auto result = Tool(args);
  EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.output;
  EXPECT_NE(result.output.find(GetParam().message), std::string::npos) << result.output;
  EXPECT_EQ(Users(), users_before);
  EXPECT_EQ(Tool({"settings", db_.string()}).output, settings_before);
  EXPECT_EQ(Tool({"sites", db_.string()}).output, sites_before);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DbToolBadInputTest,
    ::testing::Values(
        BadInput{"SetAllowanceOfUnknownUser",
                 {"set-allowance", "DB", "nobody", "30"},
                 1,
                 "there is no user NOBODY"},
        BadInput{
            "NegativeAllowance", {"set-allowance", "DB", "jsmith", "-2"}, 1, "-1 (unlimited) or 0"},
        BadInput{"NegativeAllowanceOfNewUser",
                 {"add-user", "DB", "bob", "-5"},
                 1,
                 "-1 (unlimited) or 0"},
        BadInput{
            "AllowanceNotANumber", {"add-user", "DB", "bob", "ten"}, 1, "must be a whole number"},
        BadInput{"UserExistsAlready", {"add-user", "DB", "JSmith", "10"}, 1, "exists already"},
        BadInput{"UserNameTooLong",
                 {"add-user", "DB", std::string(60, 'x'), "10"},
                 1,
                 "longer than 59 bytes"},
        BadInput{"UserNameWithBackslash", {"add-user", "DB", "DOMAIN\\bob", "10"}, 1, "backslash"},
        BadInput{
            "RemoveUnknownUser", {"remove-user", "DB", "nobody"}, 1, "there is no user NOBODY"},
        BadInput{"EmptySite", {"add-site", "DB", ""}, 1, "must not be empty"},
        BadInput{"RemoveUnlistedSite", {"remove-site", "DB", "olds"}, 1, "is not listed"},
        BadInput{"SwitchNeitherYesNorNo", {"set", "DB", "ResetDaily", "maybe"}, 1, "yes or no"},
        BadInput{"PortNotDigits", {"set", "DB", "ServerPort", "80; DROP"}, 1, "digits only"},
        BadInput{"UnknownSetting", {"set", "DB", "NoSuchKey", "1"}, 1, "there is no setting"},
        BadInput{"CommandTooLong",
                 {"set", "DB", "CurrentUserCommand", std::string(50, 'c')},
                 1,
                 "at most 49 bytes"},
        BadInput{"MissingArgument", {"add-user", "DB", "bob"}, 2, "wrong arguments"},
        BadInput{"UnknownCommand", {"frobnicate", "DB"}, 2, "unknown command"}),
    test_support::ByName());

TEST_F(DbToolTest, MissingOrDamagedDatabaseIsAnError) {
  const fs::path missing = dir_.path() / "none.mdb";
  auto result = Tool({"add-user", missing.string(), "bob", "10"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("Could not find file"), std::string::npos) << result.output;
  EXPECT_FALSE(fs::exists(missing));

  const fs::path damaged = dir_.path() / "damaged.mdb";
  test_support::WriteFile(damaged, std::string(5000, '#'));
  result = Tool({"users", damaged.string()});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.output.find("Unrecognized database format"), std::string::npos) << result.output;
  EXPECT_EQ(test_support::ReadFile(damaged), std::string(5000, '#'));

  EXPECT_EQ(Tool({"create", db_.string()}).exit_code, 1);  // never overwrites
}

TEST(SampleDatabase, BuildPutsItBesideTheFilterLibrary) {
  const fs::path db = test_support::kBuildDir / "UserTimesDB" / "UserTimesDB.mdb";
  ASSERT_TRUE(fs::exists(db));
  const auto users =
      test_support::Run({(test_support::kBuildDir / "minutrix-db").string(), "users", db.string()});
  EXPECT_NE(users.output.find("JSMITH"), std::string::npos) << users.output;
  EXPECT_NE(users.output.find("PJANSEN"), std::string::npos) << users.output;
}

TEST_F(DbToolTest, CreateMakesTheResetMarkerThatTheFilterFillsIn) {
  const auto tables = test_support::Run({"/usr/bin/sqlite3", db_.string(), ".tables"});
  EXPECT_NE(tables.output.find("ResetMarker"), std::string::npos) << tables.output;
  const auto rows =
      test_support::Run({"/usr/bin/sqlite3", db_.string(), "SELECT count(*) FROM ResetMarker"});
  EXPECT_EQ(rows.output, "0\n");
  // A database made before the marker existed is still one the tool works on.
  test_support::Run({"/usr/bin/sqlite3", db_.string(), "DROP TABLE ResetMarker"});
  EXPECT_EQ(Tool({"add-user", db_.string(), "jsmith", "60"}).exit_code, 0);
  EXPECT_NE(Users().find("JSMITH"), std::string::npos);
}

}  // namespace
