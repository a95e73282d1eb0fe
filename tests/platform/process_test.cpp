// Host commands and the exit-code wait: exit status, signals, captured output, fed input,
// missing programs and folders, time-outs; and the redirection of the standard streams.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/last_error.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;

platform::HostCommand Command(std::vector<std::string> argv, bool capture_output = false) {
  platform::HostCommand command;
  command.argv = std::move(argv);
  command.capture_output = capture_output;
  return command;
}

struct RunCase {
  const char* name;
  std::string script;  // for /bin/sh -c
  std::string input;
  int exit_code;
  std::string output;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class HostCommandRun : public testing::TestWithParam<RunCase> {};

TEST_P(HostCommandRun, AnswersTheExitCodeAndTheOutput) {
  platform::HostCommand command;
  command.argv = {"/bin/sh", "-c", GetParam().script};
  command.input = GetParam().input;
  command.capture_output = true;
  command.extra_env = {{"MINUTRIX_TEST_WORD", "word"}};
  const auto result = platform::RunHostCommand(command);
  ASSERT_TRUE(result.has_value()) << GetLastError();
  EXPECT_EQ(result->exit_code, GetParam().exit_code);
  EXPECT_EQ(result->output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostCommandRun,
    testing::Values(RunCase{"Success", "true", "", 0, ""},
                    RunCase{"ExitStatus", "exit 42", "", 42, ""},
                    RunCase{"KilledBySignal", "kill -9 $$", "", 128 + 9, ""},
                    RunCase{"OutputAndErrorTogether", "echo out; echo err >&2", "", 0,
                            "out\nerr\n"},
                    RunCase{"InputFedThenEnded", "cat; echo done", "a\nb", 0, "a\nbdone\n"},
                    RunCase{"UnreadInputDoesNotHurt", "exit 3", std::string(1 << 20, 'x'), 3, ""},
                    RunCase{"EnvironmentAdded", "echo $MINUTRIX_TEST_WORD", "", 0, "word\n"},
                    RunCase{"LargeOutput", "head -c 200000 /dev/zero | tr '\\0' y", "", 0,
                            std::string(200000, 'y')}),
    [](const testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

TEST(HostCommand, RunsInTheWorkingFolderAndFindsNamesInPath) {
  test_support::ScratchDir dir;
  platform::HostCommand command;
  command.argv = {"pwd"};
  command.working_dir = dir.path();
  command.capture_output = true;
  const auto result = platform::RunHostCommand(command);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->output, dir.path().string() + "\n");
}

TEST(HostCommand, AMissingProgramOrFolderIsNotStarted) {
  platform::HostCommand command;
  command.argv = {"/nonexistent/minutrix-no-such-program"};
  SetLastError(0);
  EXPECT_FALSE(platform::RunHostCommand(command).has_value());
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  command.argv = {"minutrix-no-such-program-in-path"};
  EXPECT_FALSE(platform::RunHostCommand(command).has_value());
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  command.argv = {};
  EXPECT_FALSE(platform::RunHostCommand(command).has_value());
  command.argv = {"/bin/true"};
  command.working_dir = "/nonexistent/minutrix-folder";
  SetLastError(0);
  EXPECT_FALSE(platform::RunHostCommand(command).has_value());
  EXPECT_NE(GetLastError(), 0u);
}

TEST(WaitForProcess, AnswersTheExitCodeTimesOutAndRefusesStrangers) {
  test_support::ScratchMachine machine;
  const DWORD quick =
      platform::StartProcess("Z:\\bin\\sh -c \"exit 5\"", platform::WindowStyle::kHide);
  ASSERT_NE(quick, 0u) << GetLastError();
  EXPECT_EQ(platform::WaitForProcess(quick), 5);

  const DWORD slow = platform::StartProcess("Z:\\bin\\sleep 30", platform::WindowStyle::kHide);
  ASSERT_NE(slow, 0u) << GetLastError();
  SetLastError(0);
  EXPECT_FALSE(platform::WaitForProcess(slow, 50ms).has_value());
  EXPECT_EQ(GetLastError(), platform::kWaitTimeout);
  EXPECT_TRUE(platform::ProcessRunning(slow));
  ASSERT_TRUE(platform::RunHostCommand(Command({"kill", "-KILL", std::to_string(slow)})));
  EXPECT_EQ(platform::WaitForProcess(slow, 10s), 128 + 9);

  // A child that ProcessRunning reaped keeps its exit code for the wait.
  const DWORD reaped =
      platform::StartProcess("Z:\\bin\\sh -c \"exit 7\"", platform::WindowStyle::kHide);
  ASSERT_NE(reaped, 0u);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (platform::ProcessRunning(reaped) && std::chrono::steady_clock::now() < deadline) {
  }
  EXPECT_EQ(platform::WaitForProcess(reaped), 7);
  EXPECT_FALSE(platform::WaitForProcess(reaped).has_value());  // answered once, as waitpid

  SetLastError(0);
  EXPECT_FALSE(platform::WaitForProcess(1, 0ms).has_value());  // init is no child of ours
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(platform::WaitForProcess(0).has_value());
}

TEST(StandardStreamRedirection, PointsAStreamAtAFileAndPutsItBack) {
  test_support::ScratchDir dir;
  const auto file = dir.path() / "out.txt";
  const auto count_fds = [] {
    const auto ls =
        platform::RunHostCommand(Command({"/bin/sh", "-c", "ls /proc/self/fd | wc -l"}, true));
    return ls ? std::stoi(ls->output) : -1;
  };
  const int fds_before = count_fds();
  int fds_inside = 0;
  {
    platform::StandardStreamRedirection streams;
    ASSERT_TRUE(streams.ToFile(1, file, platform::StandardStreamRedirection::Mode::kTruncate));
    std::printf("first\n");
    // A started program writes to the redirected stream too.
    ASSERT_TRUE(platform::RunHostCommand(Command({"/bin/echo", "child"})));
    EXPECT_FALSE(streams.ToStream(2, 1000));  // no such descriptor: refused, nothing changed
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  {
    platform::StandardStreamRedirection streams;
    ASSERT_TRUE(streams.ToFile(1, file, platform::StandardStreamRedirection::Mode::kAppend));
    std::printf("second\n");
    // The saved copy of the stream does not leak into started programs.
    fds_inside = count_fds();
    EXPECT_FALSE(streams.ToFile(0, dir.path() / "missing.txt",
                                platform::StandardStreamRedirection::Mode::kRead));
  }
  std::fflush(stdout);
  EXPECT_EQ(fds_inside, fds_before);
  EXPECT_EQ(test_support::ReadFile(file), "first\nchild\nsecond\n");
}

}  // namespace
