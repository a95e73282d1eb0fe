// The console's accounts file: yescrypt hashes only, readable by its owner alone, damaged lines
// named, names compared without case.
#include "admin/accounts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/web/secrets.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

struct Damage {
  const char* name;
  const char* text;
  const char* message;
};

class DamagedAccountsTest : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedAccountsTest, NamesTheLineAndWhatIsWrong) {
  try {
    admin::ParseAccounts(GetParam().text);
    FAIL() << "accepted";
  } catch (const admin::AccountError& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedAccountsTest,
    ::testing::Values(
        Damage{"NoVersionLine", "anna\tadmin\t\t$y$x\n",
               "line 1: not an accounts file of minutrix-admin (expected \"minutrix-admin "
               "accounts 1\")"},
        Damage{"ThreeFields", "minutrix-admin accounts 1\nanna\tadmin\t$y$x\n",
               "line 2: expected 4 fields split by tabs"},
        Damage{"UnknownRole", "minutrix-admin accounts 1\n\nanna\troot\t\t$y$x\n",
               "line 3: unknown role 'root'"},
        Damage{"NoHash", "minutrix-admin accounts 1\nanna\tadmin\t\t\n",
               "line 2: no password hash"},
        Damage{"BadName", "minutrix-admin accounts 1\nan na\tadmin\t\t$y$x\n",
               "line 2: the name may hold only letters, digits and . _ - @"},
        Damage{"CommaInClassList", "minutrix-admin accounts 1\nt\tteacher\t3B,,4A\t$y$x\n",
               "line 2: a class name is empty"}),
    test_support::ByName());

TEST(AccountsTest, KeepsOnlyAYescryptHashInAFileOnlyItsOwnerReads) {
  test_support::ScratchDir dir;
  const fs::path file = dir.path() / "accounts";
  admin::Accounts accounts(file);
  EXPECT_TRUE(accounts.List().empty());
  admin::Account anna{"Anna", admin::Role::kAdmin, {}, platform::HashPassword("correct horse")};
  EXPECT_TRUE(accounts.Set(anna));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string text = test_support::ReadFile(file);
  EXPECT_EQ(text.find("correct horse"), std::string::npos);
  EXPECT_NE(text.find("\t$y$"), std::string::npos) << text;

  const auto found = accounts.Find("ANNA");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->name, "Anna");
  EXPECT_TRUE(platform::CheckPassword("correct horse", found->hash));
  EXPECT_FALSE(platform::CheckPassword("correct horsE", found->hash));
  EXPECT_FALSE(platform::CheckPassword("", ""));
}

TEST(AccountsTest, AFileMadeReadableByOthersIsMadePrivateAgainAtTheNextChange) {
  test_support::ScratchDir dir;
  const fs::path file = dir.path() / "accounts";
  admin::Accounts accounts(file);
  accounts.Set({"anna", admin::Role::kAdmin, {}, platform::HashPassword("password1")});
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  EXPECT_TRUE(platform::ReadableByOthers(file));
  EXPECT_FALSE(accounts.Set({"ANNA", admin::Role::kTeacher, {"3B"}, platform::HashPassword("x")}))
      << "the same name in another case is the same account";
  EXPECT_FALSE(platform::ReadableByOthers(file));
  const auto list = accounts.List();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].role, admin::Role::kTeacher);
  EXPECT_EQ(list[0].groups, std::vector<std::string>{"3B"});
  EXPECT_TRUE(accounts.Remove("Anna"));
  EXPECT_FALSE(accounts.Remove("anna"));
  EXPECT_FALSE(accounts.Find("anna").has_value());
}

TEST(AccountsTest, ClassListsAreTrimmedAndKeptOnceEach) {
  EXPECT_EQ(admin::ParseGroups(" 3B , 4a,3b"), (std::vector<std::string>{"3B", "4a"}));
  EXPECT_THROW(admin::ParseGroups("3B,\x01"), admin::AccountError);
}

}  // namespace

namespace {

TEST(AccountsTest, RootWritesTheFileForTheOwnerOfTheMachineRootsFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  test_support::ScratchDir dir;
  const fs::path folder = dir.path() / "Minutrix";
  fs::create_directories(folder);
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);  // the service's user (nobody here)
  admin::Accounts accounts(folder / "accounts");
  accounts.Set({"anna", admin::Role::kAdmin, {}, platform::HashPassword("password1")});
  struct stat info {};
  ASSERT_EQ(::stat((folder / "accounts").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::chown((folder / "accounts").c_str(), 65533, 65533), 0);
  accounts.Set({"bert", admin::Role::kAdmin, {}, platform::HashPassword("password2")});
  ASSERT_EQ(::stat((folder / "accounts").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65533u) << "a replaced file keeps its owner";
}

}  // namespace
