// setup as an administrator runs it: from a copy of the distribution folder on drive D: of a new
// machine, answered by the demo's own UI scripts; then a real Squid loads what was installed and
// charges a monitored user, and setup started from the product folder removes the product again,
// after which the proxy no longer filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::kBuildDir;
using test_support::kSourceDir;
using test_support::ReadFile;

constexpr const char* kProxy = "http://127.0.0.1:13128";
constexpr const char* kSite = "http://127.0.0.2:18080/";

class SetupEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Must({(kBuildDir / "minutrix-machine").string(), "init", Machine().string()});
    fs::copy(kBuildDir / "dist", Machine() / "d", fs::copy_options::recursive);
    Must({"/usr/bin/htpasswd", "-bc", (dir_.path() / "htpasswd").string(), "CORP\\jsmith", "pw"});
    Must({"/usr/bin/htpasswd", "-b", (dir_.path() / "htpasswd").string(), "carol", "pw"});
    test_support::WriteFile(dir_.path() / "clock", "2026-12-07 09:00:00\n");
  }
  void TearDown() override { test_support::Run({Stack(), "stop", dir_.path().string()}); }

  fs::path Machine() const { return dir_.path() / "machine"; }
  fs::path Host(const std::string& relative) const { return Machine() / relative; }
  static std::string Stack() { return (kSourceDir / "scripts/minutrix-stack").string(); }

  void Must(const std::vector<std::string>& argv) {
    const auto result = test_support::Run(argv, {{"MINUTRIX_ROOT", Machine().string()}});
    ASSERT_EQ(result.exit_code, 0) << argv[0] << ": " << result.output;
  }
  // setup started as `program` (a host path), its windows answered by scripts/ui/`ui`.
  std::string RunSetup(const fs::path& program, const std::string& ui) {
    const fs::path transcript = dir_.path() / (ui + ".transcript");
    const auto result = test_support::Run(
        {program.string()}, {{"MINUTRIX_ROOT", Machine().string()},
                             {"MINUTRIX_UI", "script"},
                             {"MINUTRIX_UI_SCRIPT", (kSourceDir / "scripts/ui" / ui).string()},
                             {"MINUTRIX_UI_TRANSCRIPT", transcript.string()}});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return fs::exists(transcript) ? ReadFile(transcript) : "";
  }
  std::string Reg(const std::string& key, const std::string& value) {
    return test_support::Run(
               {(kBuildDir / "minutrix-machine").string(), "reg", "query", key, "/v", value},
               {{"MINUTRIX_ROOT", Machine().string()}})
        .output;
  }
  static std::string Code(const std::string& account) {
    return test_support::Run({"/usr/bin/curl", "-s", "-o", "/dev/null", "--max-time", "20", "-x",
                              kProxy, "-U", account + ":pw", "-w", "%{http_code}", kSite})
        .output;
  }
  // The minutes JSMITH has used, from `minutrix-db users` of the installed database.
  std::string UsedByJsmith() {
    const auto result = test_support::Run({(kBuildDir / "minutrix-db").string(), "users",
                                           "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb"},
                                          {{"MINUTRIX_ROOT", Machine().string()}});
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string name, allowance, used;
      if (words >> name >> allowance >> used && name == "JSMITH") return used;
    }
    return "no JSMITH in: " + result.output;
  }
  // Files left in the product folder.
  std::set<std::string> ProductFiles() {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(Host("c/Minutrix"))) {
      if (!entry.is_regular_file() && !entry.is_symlink()) continue;
      files.insert(fs::relative(entry.path(), Host("c/Minutrix")).string());
    }
    return files;
  }

  test_support::ScratchDir dir_;
};

TEST_F(SetupEndToEndTest, InstallFromACopyOnDriveDThenTheProxyFiltersUntilTheUninstall) {
  // The install: MDAC 2.5 of the new machine is replaced, so the run ends with the restart
  // question (answered No), not the web-service question.
  const std::string install = RunSetup(Host("d/Setup.exe"), "install.ui");
  EXPECT_NE(install.find("list: Found application path : D:\\\n"), std::string::npos) << install;
  EXPECT_NE(install.find("box \"Install success\" icon information"), std::string::npos) << install;
  EXPECT_EQ(install.find("box \"ERROR!\""), std::string::npos) << install;
  for (const char* file :
       {"c/Minutrix/Minutrix.dll", "c/Minutrix/UserTimesDB/UserTimesDB.mdb", "c/Minutrix/Setup.exe",
        "c/Minutrix/InstallScript.txt", "c/Minutrix/MinutrixRegSettings.ini",
        "c/Inetpub/wwwroot/Minutrix/Minutrix.asp"}) {
    EXPECT_TRUE(fs::exists(Host(file))) << file << "\n" << install;
  }
  EXPECT_NE(Reg("HKLM\\software\\Minutrix", "MinutrixPath").find("c:\\Minutrix\\"),
            std::string::npos);
  EXPECT_NE(Reg("HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters", "FilterLoadOrder")
                .find("Minutrix"),
            std::string::npos);
  EXPECT_NE(Reg("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Minutrix",
                "UninstallString")
                .find("c:\\Minutrix\\Setup.exe"),
            std::string::npos);

  // The installed database has no users, and the list says what that means.
  EXPECT_NE(install.find("list: The database has no users yet"), std::string::npos) << install;
  EXPECT_EQ(UsedByJsmith().rfind("no JSMITH", 0), 0u);

  // The administrator points the installed database at the product page's port, adds the first
  // user and starts the proxy on what was installed.
  const std::string db = "c:\\Minutrix\\UserTimesDB\\UserTimesDB.mdb";
  Must({(kBuildDir / "minutrix-db").string(), "set", db, "ServerPort", "18080"});
  Must({(kBuildDir / "minutrix-db").string(), "add-user", db, "jsmith", "60"});
  Must({Stack(), "start", dir_.path().string(), "--build", kBuildDir.string(), "--proxy-port",
        "13128", "--web-port", "18080", "--web-root", Host("c/Inetpub/wwwroot").string(),
        "--clock-file", (dir_.path() / "clock").string()});
  EXPECT_EQ(Code("carol"), "302") << "not monitored: denied by the installed filter";
  EXPECT_EQ(Code("CORP\\jsmith"), "200");
  test_support::WriteFile(dir_.path() / "clock", "2026-12-07 09:03:00\n");
  EXPECT_EQ(Code("CORP\\jsmith"), "200");
  EXPECT_EQ(UsedByJsmith(), "3") << "charged in the installed database";
  const auto page = test_support::Run(
      {"/usr/bin/curl", "-s", "-L", "--max-time", "20", "-x", kProxy, "-U", "carol:pw", kSite});
  EXPECT_NE(page.output.find("Minutrix"), std::string::npos)
      << "the installed page answers the denied redirect\n"
      << page.output;

  const auto running = ProductFiles();
  EXPECT_TRUE(running.count("Minutrix.sts")) << "the filter ran";
  EXPECT_TRUE(std::any_of(running.begin(), running.end(), [](const std::string& name) {
    return name.rfind("MinutrixOutput", 0) == 0;
  })) << "the filter logged";

  // The uninstall from the product folder, with the web-service restart it asks for.
  const std::string uninstall = RunSetup(Host("c/Minutrix/Setup.exe"), "uninstall.ui");
  EXPECT_NE(uninstall.find("list: Minutrix is installed!\n"), std::string::npos) << uninstall;
  EXPECT_NE(uninstall.find("box \"Uninstall success\" icon information"), std::string::npos)
      << uninstall;
  EXPECT_EQ(Code("carol"), "200") << "the proxy no longer filters";

  // What stays behind: the folders, the running installer and the install script, MinutrixDebug
  // under software\Minutrix, the shortcut library and the prerequisites; not the filter's logs,
  // status file or the database's side files.
  EXPECT_EQ(ProductFiles(), (std::set<std::string>{"InstallScript.txt", "Setup.exe"}));
  EXPECT_TRUE(fs::is_directory(Host("c/Minutrix/UserTimesDB")));
  EXPECT_FALSE(fs::exists(Host("c/Inetpub/wwwroot/Minutrix/Minutrix.asp")));
  EXPECT_EQ(Reg("HKLM\\software\\Minutrix", "MinutrixPath").find("c:\\Minutrix\\"),
            std::string::npos);
  EXPECT_NE(Reg("HKLM\\software\\Minutrix", "MinutrixDebug").find("MinutrixDebug"),
            std::string::npos);
  EXPECT_EQ(Reg("HKLM\\SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters", "FilterLoadOrder")
                .find("Minutrix"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(Host("c/WINNT/system32/stkit432.dll")));
  EXPECT_FALSE(fs::exists(Host("c/Documents and Settings/All Users/Start Menu/Programs/Minutrix")));
}

}  // namespace
