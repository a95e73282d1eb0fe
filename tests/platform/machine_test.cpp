// Windows names onto the machine root, both ways.
#include "platform/machine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScratchMachine;

TEST(MachinePath, FindsExistingComponentsWithoutRegardToCase) {
  ScratchMachine machine;
  fs::create_directories(machine.root() / "c/Minutrix");
  test_support::WriteFile(machine.root() / "c/Minutrix/Minutrix.dll", "x");
  EXPECT_EQ(platform::HostPath("c:\\MINUTRIX\\minutrix.DLL"),
            machine.root() / "c/Minutrix/Minutrix.dll");
  EXPECT_EQ(platform::HostPath("C:/Minutrix/Minutrix.dll"),
            machine.root() / "c/Minutrix/Minutrix.dll");
  // The real spelling of every existing folder is kept; new names stay as written.
  EXPECT_EQ(platform::HostPath("c:\\winnt\\SYSTEM32\\New Folder\\a.TXT"),
            machine.root() / "c/WINNT/system32/New Folder/a.TXT");
}

TEST(MachinePath, DrivesAndSpecialNames) {
  ScratchMachine machine;
  EXPECT_EQ(platform::HostPath("Z:\\etc\\hostname"), fs::path("/etc/hostname"));
  EXPECT_EQ(platform::HostPath("\\Inetpub"), machine.root() / "c/Inetpub");
  EXPECT_EQ(platform::HostPath("c:\\a\\..\\..\\Inetpub\\.\\wwwroot"),
            machine.root() / "c/Inetpub/wwwroot");
  // Names that map nowhere are not guessed.
  EXPECT_FALSE(platform::HostPath("q:\\file.txt").has_value());
  EXPECT_FALSE(platform::HostPath("\\\\server\\share\\x").has_value());
  EXPECT_FALSE(platform::HostPath("").has_value());
}

TEST(MachinePath, WindowsNamesOfHostPaths) {
  ScratchMachine machine;
  EXPECT_EQ(platform::WindowsPath(machine.root() / "c/Inetpub/wwwroot"), "C:\\Inetpub\\wwwroot");
  EXPECT_EQ(platform::WindowsPath("/usr/lib/x.so"), "Z:\\usr\\lib\\x.so");
  EXPECT_EQ(platform::WindowsPath(machine.root() / "c/Minutrix/"), "C:\\Minutrix\\");
  // A path outside the drives, even inside the root, is reached through Z:.
  const std::string registry = platform::WindowsPath(machine.root() / "registry.txt");
  EXPECT_EQ(registry.substr(0, 3), "Z:\\");
  EXPECT_EQ(platform::HostPath(registry), machine.root() / "registry.txt");
}

TEST(MachinePath, DrivesAreOneLetterFoldersWithoutZ) {
  ScratchMachine machine;
  fs::create_directories(machine.root() / "d");
  fs::create_directories(machine.root() / "z");
  fs::create_directories(machine.root() / "data");
  test_support::WriteFile(machine.root() / "e", "not a folder");
  EXPECT_EQ(platform::Drives(), (std::vector<char>{'C', 'D'}));
}

}  // namespace
