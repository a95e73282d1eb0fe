// minutrix-admin's commands for the accounts, and the refusals of its command line: each with a
// clear message, none changing the accounts file.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  int exit_code;
  const char* output;
};

class AccountCommandTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(AccountCommandTest, RefusesWithAClearMessageAndChangesNothing) {
  test_support::ScratchMachine machine;
  fs::create_directories(machine.root() / "c/Minutrix");
  const std::string program = (test_support::kBuildDir / "minutrix-admin").string();
  const std::map<std::string, std::string> env = {{"MINUTRIX_ROOT", machine.root().string()}};
  ASSERT_EQ(test_support::Run({program, "passwd", "anna"}, env, "first-password\n").exit_code, 0);
  const fs::path file = machine.root() / "c/Minutrix/minutrix-admin.accounts";
  const std::string before = test_support::ReadFile(file);
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  const auto result = test_support::Run(argv, env, GetParam().input);
  EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.output;
  EXPECT_NE(result.output.find(GetParam().output), std::string::npos) << result.output;
  EXPECT_EQ(test_support::ReadFile(file), before);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AccountCommandTest,
    ::testing::Values(
        CliCase{"ShortPassword", {"passwd", "bert"}, "short\n", 1, "shorter than 8 characters"},
        CliCase{"NoPassword", {"passwd", "bert"}, "", 1, "no password given"},
        CliCase{"TeacherWithoutClasses",
                {"passwd", "bert", "--role", "teacher"},
                "long-enough-1\n",
                1,
                "a teacher needs its classes"},
        CliCase{"UnknownRole", {"passwd", "bert", "--role", "root"}, "x\n", 2, "--role is admin"},
        CliCase{"NameWithABlank", {"passwd", "b ert"}, "long-enough-1\n", 1, "may hold only"},
        CliCase{"ClassWithAControlCharacter",
                {"passwd", "bert", "--role", "teacher", "--groups", "3B,\x01"},
                "long-enough-1\n",
                1,
                "control character"},
        CliCase{"RemoveNobody", {"remove", "nobody"}, "", 1, "there is no account nobody"},
        CliCase{"UnknownOption", {"serve", "--port", "8090"}, "", 2, "unknown option '--port'"},
        CliCase{"BadListen", {"serve", "--listen", "8090"}, "", 2, "--listen takes ADDRESS:PORT"},
        CliCase{"CertificateWithoutKey", {"serve", "--tls-cert", "x.pem"}, "", 2, "go together"},
        CliCase{"NoDatabase", {"serve", "--listen", "127.0.0.1:0"}, "", 1, "there is no database"}),
    test_support::ByName());

TEST(AccountCommandsTest, PasswdKeepsTheRoleAndUsersListsTheAccounts) {
  test_support::ScratchMachine machine;
  fs::create_directories(machine.root() / "c/Minutrix");
  const std::string program = (test_support::kBuildDir / "minutrix-admin").string();
  const std::map<std::string, std::string> env = {{"MINUTRIX_ROOT", machine.root().string()}};
  auto made =
      test_support::Run({program, "passwd", "mrsmith", "--role", "teacher", "--groups", "3B, 4A"},
                        env, "first-password\n");
  EXPECT_EQ(made.exit_code, 0) << made.output;
  EXPECT_NE(made.output.find("Added mrsmith (teacher, classes 3B,4A)."), std::string::npos)
      << made.output;
  auto changed = test_support::Run({program, "passwd", "MRSMITH"}, env, "second-password\n");
  EXPECT_NE(changed.output.find("Changed the password of mrsmith (teacher, classes 3B,4A)."),
            std::string::npos)
      << changed.output;
  const auto listed = test_support::Run({program, "users"}, env);
  EXPECT_NE(listed.output.find("mrsmith"), std::string::npos);
  EXPECT_NE(listed.output.find("teacher  3B,4A"), std::string::npos) << listed.output;
  const std::string text =
      test_support::ReadFile(machine.root() / "c/Minutrix/minutrix-admin.accounts");
  EXPECT_EQ(text.find("second-password"), std::string::npos);
}

}  // namespace
