// The durable replace: the new content or the old one, never a mixture or a leftover file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/faults.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::ScratchMachine;
using test_support::WriteFile;

bool LeftoverTemporaryFile(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".tmp.") != std::string::npos) return true;
  }
  return false;
}

TEST(DurableReplace, ReplacesTheContentAndKeepsThePermissions) {
  ScratchMachine machine;
  const fs::path file = machine.root() / "c" / "data.txt";
  WriteFile(file, "old content that is longer than the new");
  ::chmod(file.c_str(), 0640);
  ASSERT_EQ(platform::ReplaceFileDurably(file, "new"), ERROR_SUCCESS);
  EXPECT_EQ(ReadFile(file), "new");
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_FALSE(LeftoverTemporaryFile(file.parent_path()));

  const fs::path fresh = machine.root() / "c" / "fresh.txt";
  ASSERT_EQ(platform::ReplaceFileDurably(fresh, ""), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_regular_file(fresh));
  EXPECT_EQ(ReadFile(fresh), "");
}

TEST(DurableReplace, FollowsASymbolicLink) {
  ScratchMachine machine;
  const fs::path target = machine.root() / "c" / "real.ini";
  const fs::path link = machine.root() / "c" / "link.ini";
  WriteFile(target, "old");
  fs::create_symlink(target, link);
  ASSERT_EQ(platform::ReplaceFileDurably(link, "new"), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "new");
}

TEST(DurableReplace, AMissingFolderIsPathNotFound) {
  ScratchMachine machine;
  SetLastError(0);
  EXPECT_EQ(platform::ReplaceFileDurably(machine.root() / "c" / "nowhere" / "f.txt", "x"),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

struct StepCase {
  const char* step;  // the [Faults] operation name
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.step; }

class DurableReplaceStep : public testing::TestWithParam<StepCase> {};

TEST_P(DurableReplaceStep, AFailureLeavesTheOldFileAndNoTemporaryFile) {
  ScratchMachine machine;
  const fs::path file = machine.root() / "c" / "data.txt";
  WriteFile(file, "old");
  WriteFile(machine.root() / "machine.ini", ReadFile(machine.root() / "machine.ini") +
                                                "\r\n[Faults]\r\n" + GetParam().step +
                                                "=1,112\r\n");
  platform::ReloadFaults();
  SetLastError(0);
  EXPECT_EQ(platform::ReplaceFileDurably(file, "new"), ERROR_DISK_FULL);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_FALSE(LeftoverTemporaryFile(file.parent_path()));
  EXPECT_EQ(platform::ReplaceFileDurably(file, "new"), ERROR_SUCCESS) << "only the 1st call";
  EXPECT_EQ(ReadFile(file), "new");
}

INSTANTIATE_TEST_SUITE_P(Steps, DurableReplaceStep,
                         testing::Values(StepCase{"FileCreate"}, StepCase{"FileWrite"},
                                         StepCase{"FileRename"}),
                         [](const testing::TestParamInfo<StepCase>& info) {
                           return std::string(info.param.step);
                         });

}  // namespace
