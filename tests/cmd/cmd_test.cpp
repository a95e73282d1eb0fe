// The machine's cmd.exe: quote rules, file commands, services and the Windows programs it carries,
// run as real processes in a scratch machine.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/services.h"
#include "platform/shlwapi.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;

class CmdTest : public ::testing::Test {
 protected:
  CmdTest() { fs::create_directories(machine_.root() / "d"); }
  // Runs cmd.exe with a command line as Windows would pass it (the raw line, as StartProcess does).
  test_support::CommandResult Cmd(const std::string& tail, const std::string& input = {}) {
    const std::string exe = machine_.Host("C:\\WINNT\\system32\\cmd.exe").string();
    return test_support::Run({exe, "/c", tail}, {}, input);
  }
  void Program(const std::string& windows_path, const std::string& body) {
    const fs::path host = machine_.Host(windows_path);
    test_support::WriteFile(host, "#!/bin/sh\n" + body + "\n");
    ::chmod(host.c_str(), 0755);
  }
  bool ReadOnly(const std::string& windows_path) {
    struct stat st;
    return ::stat(machine_.Host(windows_path).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }
  test_support::ScratchMachine machine_;
};

TEST_F(CmdTest, HelpIsShown) {
  const auto r = test_support::Run({machine_.Host("C:\\WINNT\\system32\\cmd.exe").string(), "/?"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.output.find("Carries out the command"), std::string::npos);
}

TEST_F(CmdTest, OuterQuotesGoUnlessTheyNameOneProgram) {
  Program("C:\\My Tools\\say it.exe", "echo \"said $1\"");
  Program("C:\\My Tools\\say.exe", "echo \"say $*\"");
  // Exactly two quotes around a program name with a blank: kept, the program runs.
  EXPECT_EQ(Cmd("\"C:\\My Tools\\say it.exe\"").output, "said \n");
  // More quotes: the first and the last go.
  EXPECT_EQ(Cmd("\"\"C:\\My Tools\\say it.exe\" hello\"").output, "said hello\n");
  EXPECT_EQ(Cmd("\"echo a b\"").output, "a b\n");
}

TEST_F(CmdTest, CopyFileAndFolderOverwriting) {
  test_support::WriteFile(machine_.Host("C:\\src\\a.txt"), "A");
  test_support::WriteFile(machine_.Host("C:\\src\\b.dat"), "B");
  fs::create_directories(machine_.Host("C:\\dst"));
  test_support::WriteFile(machine_.Host("C:\\dst\\a.txt"), "old");
  auto r = Cmd("\"Copy \"C:\\src\\*.*\" \"C:\\dst\\*.*\"\"");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("2 file(s) copied."), std::string::npos);
  EXPECT_EQ(ReadFile(machine_.Host("C:\\dst\\a.txt")), "A");
  EXPECT_EQ(ReadFile(machine_.Host("C:\\dst\\b.dat")), "B");
  r = Cmd("copy C:\\src\\a.txt C:\\dst\\renamed.txt");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(ReadFile(machine_.Host("C:\\dst\\renamed.txt")), "A");
  r = Cmd("copy C:\\src\\none.txt C:\\dst");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("The system cannot find the file specified."), std::string::npos);
  r = Cmd("copy C:\\src\\a.txt C:\\missing\\a.txt");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("The system cannot find the path specified."), std::string::npos);
}

TEST_F(CmdTest, ReadOnlyIsKeptByCopyClearedByAttribAndForcedByDel) {
  test_support::WriteFile(machine_.Host("D:\\cd\\prog.dll"), "P");
  ::chmod(machine_.Host("D:\\cd\\prog.dll").c_str(), 0444);
  fs::create_directories(machine_.Host("C:\\Minutrix\\sub"));
  ASSERT_EQ(Cmd("copy D:\\cd\\prog.dll C:\\Minutrix\\sub\\prog.dll").exit_code, 0);
  EXPECT_TRUE(ReadOnly("C:\\Minutrix\\sub\\prog.dll"));
  EXPECT_EQ(Cmd("copy D:\\cd\\prog.dll C:\\Minutrix\\sub\\prog.dll").exit_code, 1)
      << "read-only target";
  EXPECT_EQ(Cmd("Del /Q C:\\Minutrix\\sub\\prog.dll").exit_code, 1);
  EXPECT_TRUE(fs::exists(machine_.Host("C:\\Minutrix\\sub\\prog.dll")));
  EXPECT_EQ(Cmd("Attrib -r c:\\Minutrix\\ /s/d").exit_code, 0);
  EXPECT_FALSE(ReadOnly("C:\\Minutrix\\sub\\prog.dll"));
  ::chmod(machine_.Host("C:\\Minutrix\\sub\\prog.dll").c_str(), 0444);
  EXPECT_EQ(Cmd("Del /F /Q \"C:\\Minutrix\\sub\\prog.dll\"").exit_code, 0);
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\Minutrix\\sub\\prog.dll")));
}

TEST_F(CmdTest, DelOfAFolderDeletesItsFilesAndKeepsIt) {
  test_support::WriteFile(machine_.Host("C:\\w\\one.asp"), "1");
  test_support::WriteFile(machine_.Host("C:\\w\\two.asp"), "2");
  test_support::WriteFile(machine_.Host("C:\\w\\inner\\three.asp"), "3");
  EXPECT_EQ(Cmd("Del /F /Q \"C:\\w\\*.*\"").exit_code, 0);
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\w\\one.asp")));
  EXPECT_TRUE(fs::exists(machine_.Host("C:\\w\\inner\\three.asp")));
  // Without /Q the question is asked; no answer (end of input) keeps the files.
  test_support::WriteFile(machine_.Host("C:\\w\\four.asp"), "4");
  const auto r = Cmd("Del C:\\w");
  EXPECT_NE(r.output.find("C:\\w\\*, Are you sure (Y/N)?"), std::string::npos) << r.output;
  EXPECT_TRUE(fs::exists(machine_.Host("C:\\w\\four.asp")));
  EXPECT_EQ(Cmd("Del C:\\w", "y\n").exit_code, 0);
  EXPECT_FALSE(fs::exists(machine_.Host("C:\\w\\four.asp")));
  EXPECT_NE(Cmd("Del /F /Q C:\\w\\gone.asp").output.find("Could Not Find C:\\w\\gone.asp"),
            std::string::npos);
}

TEST_F(CmdTest, NetStopsAndStartsServicesOfTheMachine) {
  auto r = Cmd("net stop w3svc /y");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(
      r.output.find("The World Wide Web Publishing Service service was stopped successfully."),
      std::string::npos);
  EXPECT_FALSE(platform::ServiceRunning("W3SVC"));
  r = Cmd("net stop w3svc /y");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("NET HELPMSG 3521"), std::string::npos);
  r = Cmd("net start w3svc");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(platform::ServiceRunning("W3SVC"));
  EXPECT_NE(Cmd("net start w3svc").output.find("already been started"), std::string::npos);
  EXPECT_EQ(Cmd("net stop nosuch").exit_code, 2);
  // Stopping IIS Admin stops the web service too, after /y.
  r = Cmd("net stop iisadmin /y");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(platform::ServiceRunning("W3SVC"));
  EXPECT_FALSE(platform::ServiceRunning("IISADMIN"));
  // Starting the web service starts what it depends on.
  EXPECT_EQ(Cmd("net start \"World Wide Web Publishing Service\"").exit_code, 0);
  EXPECT_TRUE(platform::ServiceRunning("IISADMIN"));
}

TEST_F(CmdTest, ScriptsPackagesAndDlls) {
  Program("C:\\Minutrix\\RegisterISAPIFilter.VBS",
          "echo \"$1|$2|$3\" > \"$MINUTRIX_ROOT/c/args.txt\"; exit 4");
  auto r =
      Cmd("\"CScript \"C:\\Minutrix\\RegisterISAPIFilter.VBS\" \"c:\\Minutrix\\Minutrix.DLL\" -n "
          "Minutrix\"");
  EXPECT_EQ(r.exit_code, 4) << r.output;
  EXPECT_EQ(ReadFile(machine_.Host("C:\\args.txt")), "c:\\Minutrix\\Minutrix.DLL|-n|Minutrix\n");
  EXPECT_NE(Cmd("CScript C:\\none.vbs").output.find("Can not find script file"), std::string::npos);

  test_support::WriteFile(machine_.Host("D:\\Runtime\\AccessRT.msi"), "package");
  r = Cmd("C:\\WINNT\\system32\\MSIExec.exe /i \"D:\\Runtime\\AccessRT.msi\" /qb AllUsers=1");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(Cmd("msiexec /i D:\\Runtime\\none.msi").exit_code, 1619 & 0xff);

  test_support::WriteFile(machine_.Host("C:\\WINNT\\system32\\stkit432.dll"), "dll");
  EXPECT_EQ(Cmd("regsvr32 /s C:\\WINNT\\system32\\stkit432.dll").exit_code, 0);
  EXPECT_EQ(Cmd("regsvr32 /s C:\\WINNT\\system32\\none.dll").exit_code, 3);
  DWORD size = 0;
  EXPECT_EQ(SHGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Minutrix Machine\\Registered Servers",
                        "C:\\WINNT\\system32\\stkit432.dll", nullptr, nullptr, &size),
            ERROR_SUCCESS);
}

TEST_F(CmdTest, UnknownCommandOperatorsAndKeptConsoleWithoutTerminal) {
  auto r = Cmd("nosuch.exe");
  EXPECT_EQ(r.exit_code, 9009 & 0xff);
  EXPECT_NE(r.output.find("'nosuch.exe' is not recognized as an internal or external command"),
            std::string::npos);
  EXPECT_EQ(Cmd("nosuch.exe || echo recovered && echo next").output.find("recovered\nnext\n") !=
                std::string::npos,
            true);
  EXPECT_EQ(Cmd("echo %windir%> C:\\out.txt").exit_code, 0);
  EXPECT_EQ(ReadFile(machine_.Host("C:\\out.txt")), "C:\\WINNT\n");
  // /k without a terminal closes at once.
  const auto k = test_support::Run(
      {machine_.Host("C:\\WINNT\\system32\\cmd.exe").string(), "/k", "echo kept"});
  EXPECT_EQ(k.exit_code, 0);
  EXPECT_EQ(k.output, "kept\n");
}

}  // namespace
