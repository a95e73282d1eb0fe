// minutrix-machine: the layout of a new machine root and reg.exe's commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

using test_support::ScratchMachine;

const std::string kTool = (test_support::kBuildDir / "minutrix-machine").string();

TEST(MachineInit, LaysOutAWindows2000ServerWithItsWebServer) {
  ScratchMachine machine;
  for (const char* folder :
       {"c/WINNT/system32", "c/Inetpub/wwwroot", "c/Program Files/Common Files",
        "c/Documents and Settings/Administrator/Start Menu/Programs",
        "c/Documents and Settings/All Users/Start Menu/Programs"}) {
    EXPECT_TRUE(fs::is_directory(machine.root() / folder)) << folder;
  }
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);

  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  std::string expected = host;
  expected = platform::UpperAscii(expected.substr(0, expected.find('.')));
  char name[64];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(std::string(name), expected.substr(0, 15));

  char buffer[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\WINNT");
  ASSERT_GT(GetEnvironmentVariableA("COMSPEC", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\WINNT\\system32\\cmd.exe");
  ASSERT_GT(GetEnvironmentVariableA("allusersprofile", buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "C:\\Documents and Settings\\All Users");
}

TEST(MachineInit, RegistryHoldsWebRootShellFoldersAndBrowser) {
  ScratchMachine machine;
  const auto query = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kTool, "reg", "query"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test_support::Run(argv);
  };
  auto r = query({"HKLM\\software\\microsoft\\inetstp", "/v", "PathWWWRoot"});
  EXPECT_NE(r.output.find("PathWWWRoot    REG_SZ    C:\\Inetpub\\wwwroot"), std::string::npos)
      << r.output;
  r = query(
      {"HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Parameters\\Virtual Roots\\", "/v", "/"});
  EXPECT_NE(r.output.find("C:\\Inetpub\\wwwroot,,201"), std::string::npos) << r.output;
  r = query({"HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "/v",
             "Programs"});
  EXPECT_NE(r.output.find("C:\\Documents and Settings\\Administrator\\Start Menu\\Programs"),
            std::string::npos);
  r = query({"HKCR\\htmlfile\\shell\\open\\command", "/ve"});
  EXPECT_NE(r.output.find("\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome"),
            std::string::npos)
      << r.output;
}

TEST(MachineInit, RefusesAFolderInUse) {
  test_support::ScratchDir dir;
  test_support::WriteFile(dir.path() / "precious.txt", "keep");
  const auto r = test_support::Run({kTool, "init", dir.path().string()});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("not empty"), std::string::npos) << r.output;
  EXPECT_EQ(test_support::ReadFile(dir.path() / "precious.txt"), "keep");
}

TEST(RegCommand, AddQueryDeleteWithTypes) {
  ScratchMachine machine;
  machine.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixPath", "/t", "REG_SZ", "/d",
               "c:\\Minutrix\\", "/f"});
  machine.Reg(
      {"add", "HKLM\\software\\Minutrix", "/v", "Count", "/t", "REG_DWORD", "/d", "0x10", "/f"});
  machine.Reg(
      {"add", "HKLM\\software\\Minutrix", "/v", "Bytes", "/t", "REG_BINARY", "/d", "00ff10", "/f"});
  auto r = test_support::Run({kTool, "reg", "query", "hklm\\SOFTWARE\\minutrix"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("MinutrixPath    REG_SZ    c:\\Minutrix\\"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Count    REG_DWORD    0x10"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Bytes    REG_BINARY    00FF10"), std::string::npos) << r.output;

  machine.Reg({"delete", "HKLM\\software\\Minutrix", "/v", "Count", "/f"});
  r = test_support::Run({kTool, "reg", "query", "HKLM\\software\\Minutrix", "/v", "Count"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("unable to find"), std::string::npos);
  machine.Reg({"delete", "HKLM\\software\\Minutrix", "/f"});
  EXPECT_EQ(test_support::Run({kTool, "reg", "query", "HKLM\\software\\Minutrix"}).exit_code, 1);
}

TEST(RegCommand, OverwriteAsksUnlessForcedAndBadInputChangesNothing) {
  ScratchMachine machine;
  machine.Reg({"add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "0", "/f"});
  auto r = test_support::Run(
      {kTool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1"}, {},
      "No\n");
  EXPECT_NE(r.output.find("overwrite"), std::string::npos);
  r = test_support::Run({kTool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug",
                         "/t", "REG_DWORD", "/d", "-4", "/f"});
  EXPECT_NE(r.exit_code, 0);
  r = test_support::Run({kTool, "reg", "add", "HKXX\\software", "/f"});
  EXPECT_NE(r.exit_code, 0);
  r = test_support::Run({kTool, "reg", "add", "HKLM\\software\\Minutrix", "/v"});
  EXPECT_NE(r.exit_code, 0);
  r = test_support::Run({kTool, "reg", "query", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug"});
  EXPECT_NE(r.output.find("MinutrixDebug    REG_SZ    0"), std::string::npos) << r.output;
  r = test_support::Run(
      {kTool, "reg", "add", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug", "/d", "1"}, {},
      "yes\n");
  r = test_support::Run({kTool, "reg", "query", "HKLM\\software\\Minutrix", "/v", "MinutrixDebug"});
  EXPECT_NE(r.output.find("MinutrixDebug    REG_SZ    1"), std::string::npos) << r.output;
}

TEST(RegCommand, HelpAndMissingRoot) {
  EXPECT_EQ(test_support::Run({kTool, "--help"}).exit_code, 0);
  const auto r = test_support::Run({kTool, "reg", "query", "HKLM\\software"},
                                   {{"MINUTRIX_ROOT", "/nonexistent/root"}});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("minutrix-machine init"), std::string::npos) << r.output;
}

}  // namespace
