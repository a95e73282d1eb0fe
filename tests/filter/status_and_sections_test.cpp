// The status file and the four sections with their log lines.
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "filter/sections.h"
#include "filter/status_file.h"
#include "tests/filter/filter_fixture.h"

namespace {

using filter_test::FilterTest;
using Lines = std::vector<std::string>;

// The state letter of a thread of this process as /proc tells it (S: asleep, waiting); 0 when
// there is no such thread.
char ThreadState(pid_t thread) {
  std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t name_end = text.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= text.size() ? 0 : text[name_end + 2];
}

TEST_F(FilterTest, StatusFileHoldsTheNumberAndTheTime) {
  SetDebug("1");
  EXPECT_TRUE(WriteStatus(1));
  EXPECT_EQ(test_support::ReadFile(machine_.root() / "c/Minutrix/Minutrix.sts"),
            "1\r\n06-12-2026; 08:05");
  EXPECT_TRUE(WriteStatus(-3));  // each write replaces the file
  EXPECT_EQ(test_support::ReadFile(machine_.root() / "c/Minutrix/Minutrix.sts"),
            "-3\r\n06-12-2026; 08:05");
  EXPECT_EQ(Entries(), (Lines{">[WriteStatus] Trying to get MinutrixPath",
                              ">[WriteStatus] Path=c:\\Minutrix\\Minutrix.sts",
                              ">[WriteStatus] Converted int to 1", ">[WriteStatus] Wrote=1",
                              ">[WriteStatus] Trying to get MinutrixPath",
                              ">[WriteStatus] Path=c:\\Minutrix\\Minutrix.sts",
                              ">[WriteStatus] Converted int to -3", ">[WriteStatus] Wrote=-3"}));
}

TEST_F(FilterTest, StatusFileInAMissingFolderFails) {
  SetDebug("1");
  DoMessageHandling("start", 2);  // the log stays where it was fixed
  machine_.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Gone\\", "/f"});
  EXPECT_FALSE(WriteStatus(0));
  EXPECT_FALSE(std::filesystem::exists(machine_.root() / "c/Gone"));
  EXPECT_EQ(Entries(), (Lines{"-start", ">[WriteStatus] Trying to get MinutrixPath",
                              ">[WriteStatus] Path=c:\\Gone\\Minutrix.sts",
                              ">The status file was not opened", ""}));
}

class Sections : public FilterTest {
 protected:
  void SetUp() override {
    FilterTest::SetUp();
    CreateSections();
  }
  void TearDown() override {
    DeleteSections();
    FilterTest::TearDown();
  }
};

TEST_F(Sections, EachPairWritesFourLinesAndTheCountReturns) {
  SetDebug("1");
  LockSection(2);
  LockSection(2);
  UnlockSection(2);
  UnlockSection(2);
  EXPECT_EQ(Entries(), (Lines{">[LockSection] type 2", ">[LockSection] number 1",
                              ">[LockSection] type 2", ">[LockSection] number 2",
                              ">[UnlockSection] type 2", ">[UnlockSection] number 1",
                              ">[UnlockSection] type 2", ">[UnlockSection] number 0"}));
  EXPECT_EQ(sectionUseCount[2].load(), 0);
}

TEST_F(Sections, HolderReentersWithoutWaitingOthersAreExcluded) {
  LockSection(1);
  LockSection(1);  // would deadlock if the section were not re-entrant
  UnlockSection(1);
  std::atomic<bool> other_inside{false};
  std::atomic<pid_t> other_thread{0};
  std::thread other([&] {
    other_thread = ::gettid();
    LockSection(1);
    other_inside = true;
    UnlockSection(1);
  });
  // Until the other thread is inside, or asleep after it asked for the section: waiting for it.
  ASSERT_TRUE(test_support::WaitUntil([&] {
    return other_inside || (sectionUseCount[1].load() == 2 && ThreadState(other_thread) == 'S');
  }));
  EXPECT_FALSE(other_inside.load()) << "still held once by this thread";
  UnlockSection(1);
  other.join();
  EXPECT_TRUE(other_inside.load());
  EXPECT_EQ(sectionUseCount[1].load(), 0);
}

}  // namespace
