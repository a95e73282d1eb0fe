// The machine's web service is the stack's Squid: "net start w3svc" through the machine's cmd.exe
// (and the installer's RestartServices) makes a new helper load the filters registered then, and
// "net stop w3svc" alone lets requests pass unfiltered. Also a machine without a running proxy.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "installer/functions.h"
#include "installer/settings.h"
#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/services.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;
using test_support::kSourceDir;

constexpr const char* kProxy = "http://127.0.0.1:13128";
constexpr const char* kSite = "http://127.0.0.2:18080/";

std::string Stack() { return (kSourceDir / "scripts/minutrix-stack").string(); }

// Runs `command` through the cmd.exe of the machine at `machine`.
test_support::CommandResult Cmd(const fs::path& machine, const std::string& command) {
  return test_support::Run({(machine / "c/WINNT/system32/cmd.exe").string(), "/c", command},
                           {{"MINUTRIX_ROOT", machine.string()}});
}

// The product installed by hand (filter, database with one monitored user, MinutrixPath) but not
// registered; carol is not monitored, so with the filter loaded her requests are redirected.
class WebServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<test_support::ScratchDir>();
    const fs::path machine = Machine();
    const std::map<std::string, std::string> env = {{"MINUTRIX_ROOT", machine.string()}};
    auto must = [&](const std::vector<std::string>& argv) {
      const auto result = test_support::Run(argv, env);
      if (result.exit_code != 0) failures_ += argv[0] + ": " + result.output + "\n";
    };
    must({(kBuildDir / "minutrix-machine").string(), "init", machine.string()});
    fs::create_directories(machine / "c/Minutrix/UserTimesDB");
    fs::copy_file(kBuildDir / "Minutrix.dll", machine / "c/Minutrix/Minutrix.dll");
    for (const char* script : {"RegisterISAPIFilter.VBS", "UnRegisterISAPIFilter.VBS"})
      fs::copy_file(kSourceDir / "dist" / script, machine / "c/Minutrix" / script);
    const std::string db = (machine / "c/Minutrix/UserTimesDB/UserTimesDB.mdb").string();
    const std::string db_tool = (kBuildDir / "minutrix-db").string();
    must({db_tool, "create", db});
    must({db_tool, "set", db, "ServerPort", "18080"});
    must({db_tool, "add-user", db, "alice", "30"});
    Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/d", "c:\\Minutrix\\", "/f"});
    must({"/usr/bin/htpasswd", "-bc", (dir_->path() / "htpasswd").string(), "carol", "pw"});
    must({Stack(), "start", dir_->path().string(), "--build", kBuildDir.string(), "--proxy-port",
          "13128", "--web-port", "18080"});
    saved_root_ = platform::MachineRoot();
    platform::SetMachineRoot(machine);
  }

  static void TearDownTestSuite() {
    test_support::Run({Stack(), "stop", dir_->path().string()});
    platform::SetMachineRoot(saved_root_);
    dir_.reset();
  }

  void SetUp() override { ASSERT_EQ(failures_, ""); }

  static fs::path Machine() { return dir_->path() / "machine"; }
  static void Reg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(kBuildDir / "minutrix-machine").string(), "reg"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto result = test_support::Run(argv, {{"MINUTRIX_ROOT", Machine().string()}});
    if (result.exit_code != 0) failures_ += "reg: " + result.output + "\n";
  }
  // Through the product's registration scripts, as the installer runs them.
  static void Register() {
    CmdExe(
        "CScript \"c:\\Minutrix\\RegisterISAPIFilter.VBS\" \"c:\\Minutrix\\Minutrix.dll\" -n "
        "Minutrix");
  }
  static void Unregister() {
    CmdExe("CScript \"c:\\Minutrix\\UnRegisterISAPIFilter.VBS\" Minutrix");
  }
  static void CmdExe(const std::string& command, int expected_status = 0) {
    const auto result = Cmd(Machine(), command);
    EXPECT_EQ(result.exit_code, expected_status) << command << ": " << result.output;
  }
  static void Restart() {
    CmdExe("net stop w3svc /y");
    CmdExe("net start w3svc");
  }
  // carol's request: "302" while the filter is loaded, "200" from the site without it.
  static std::string Carol() {
    return test_support::Run({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "20", "-x",
                              kProxy, "-U", "carol:pw", "-w", "%{http_code}", kSite})
        .output;
  }

  static std::unique_ptr<test_support::ScratchDir> dir_;
  static std::string failures_;
  static fs::path saved_root_;
};

std::unique_ptr<test_support::ScratchDir> WebServiceTest::dir_;
std::string WebServiceTest::failures_;
fs::path WebServiceTest::saved_root_;

TEST_F(WebServiceTest, StackMakesItsSquidTheWebServiceOfTheMachine) {
  const auto service = platform::FindService("w3svc");
  ASSERT_TRUE(service);
  EXPECT_EQ(service->start_command,
            "'" + Stack() + "' web-service-start '" + dir_->path().string() + "'");
  EXPECT_EQ(service->depends_on, std::vector<std::string>{"IISADMIN"});
}

TEST_F(WebServiceTest, FilterRegisteredWhileTheProxyRunsIsLoadedAfterNetStart) {
  Unregister();
  Restart();
  EXPECT_EQ(Carol(), "200");
  Register();
  EXPECT_EQ(Carol(), "200") << "the running helper keeps the filters it loaded";
  Restart();
  EXPECT_EQ(Carol(), "302");
  EXPECT_EQ(Carol(), "302");
}

TEST_F(WebServiceTest, UnregisteredFilterIsDroppedAfterStopAndStart) {
  Register();
  Restart();
  EXPECT_EQ(Carol(), "302");
  Unregister();
  Restart();
  EXPECT_EQ(Carol(), "200");
}

TEST_F(WebServiceTest, AfterNetStopAloneRequestsPassUnfiltered) {
  Register();
  Restart();
  ASSERT_EQ(Carol(), "302");
  CmdExe("net stop w3svc /y");
  EXPECT_FALSE(platform::ServiceRunning("W3SVC"));
  EXPECT_EQ(Carol(), "200");
  EXPECT_EQ(Carol(), "200");
  // Already stopped: net says so, and still nothing is filtered.
  CmdExe("net stop w3svc /y", 2);
  EXPECT_EQ(Carol(), "200");
  CmdExe("net start w3svc");
  EXPECT_EQ(Carol(), "302");
}

TEST_F(WebServiceTest, InstallersRestartServicesEndsWithTheNewFilterLoaded) {
  Unregister();
  Restart();
  ASSERT_EQ(Carol(), "200");
  Register();
  installer::LoadMessages("ENG");
  installer::strComputerName = platform::MachineSetting("Windows", "ComputerName").value_or("");
  installer::strError.clear();
  EXPECT_TRUE(installer::Functions::RestartServices()) << installer::strError;
  EXPECT_EQ(Carol(), "302");
}

// A machine whose profile names a stack that does not run (never started, or stopped since).
TEST(WebServiceWithoutProxyTest, CommandsRecordTheStateAndSucceed) {
  test_support::ScratchMachine machine;
  test_support::ScratchDir stack;
  const fs::path stack_dir = stack.path();
  fs::create_directories(stack_dir / "run");
  // A stale session file: its process group is long gone.
  test_support::WriteFile(stack_dir / "run/squid.session", "99999999\n");
  test_support::WriteFile(machine.root() / "machine.ini",
                          test_support::ReadFile(machine.root() / "machine.ini") +
                              "\r\n[Service W3SVC]\r\nStart='" + Stack() + "' web-service-start '" +
                              stack_dir.string() + "'\r\n");
  for (int round = 0; round < 2; ++round) {
    auto result = Cmd(machine.root(), "net stop w3svc /y");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_FALSE(platform::ServiceRunning("W3SVC"));
    result = Cmd(machine.root(), "net start w3svc");
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_NE(result.output.find("service was started successfully"), std::string::npos)
        << result.output;
    EXPECT_TRUE(platform::ServiceRunning("W3SVC"));
    fs::remove_all(stack_dir / "run");  // second round: no run folder at all
  }
}

}  // namespace
