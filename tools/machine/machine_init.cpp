// minutrix-machine init: a new machine root shaped like a Windows 2000 server with its web server.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/shlwapi.h"
#include "tools/machine/machine_tool.h"

namespace machine_tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFolders[] = {
    "C:\\WINNT\\system32",
    "C:\\WINNT\\Temp",
    "C:\\Inetpub\\wwwroot",
    "C:\\Inetpub\\scripts",
    "C:\\Program Files\\Common Files",
    "C:\\Program Files\\Internet Explorer",
    "C:\\Documents and Settings\\Administrator\\Start Menu\\Programs",
    "C:\\Documents and Settings\\Administrator\\Desktop",
    "C:\\Documents and Settings\\Administrator\\My Documents",
    "C:\\Documents and Settings\\All Users\\Start Menu\\Programs",
    "C:\\Documents and Settings\\All Users\\Desktop",
};

// The computer name Windows derives from a host name: upper case, at most 15 characters.
std::string ComputerName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') std::strcpy(host, "MINUTRIX");
  std::string name = host;
  name = name.substr(0, name.find('.'));
  return platform::UpperAscii(name).substr(0, 15);
}

bool SetString(HKEY root, const char* key, const char* name, const std::string& value) {
  return platform::SetValueText(root, key, name, value) == ERROR_SUCCESS;
}

bool SetDword(HKEY root, const char* key, const char* name, DWORD value) {
  return platform::SetValueDword(root, key, name, value) == ERROR_SUCCESS;
}

bool CreateKey(HKEY root, const char* key) {
  HKEY handle = nullptr;
  if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

bool WriteProfile(const fs::path& root, const std::string& computer) {
  std::ofstream out(root / "machine.ini", std::ios::binary);
  out << "; The machine this folder stands in for, as the Win32 calls report it.\r\n"
         "[Windows]\r\n"
         "MajorVersion=5\r\nMinorVersion=0\r\nBuildNumber=2195\r\n"
         "PlatformId=2\r\nCSDVersion=Service Pack 4\r\n"
         "ComputerName="
      << computer
      << "\r\n"
         "WindowsDirectory=C:\\WINNT\r\n"
         "\r\n[Environment]\r\n"
         "comspec=C:\\WINNT\\system32\\cmd.exe\r\n"
         "allusersprofile=C:\\Documents and Settings\\All Users\r\n"
         "userprofile=C:\\Documents and Settings\\Administrator\r\n"
         "computername="
      << computer
      << "\r\n"
         "os=Windows_NT\r\n"
         "windir=C:\\WINNT\r\nsystemroot=C:\\WINNT\r\nsystemdrive=C:\r\n"
         "programfiles=C:\\Program Files\r\n"
         "commonprogramfiles=C:\\Program Files\\Common Files\r\n"
         "temp=C:\\WINNT\\Temp\r\ntmp=C:\\WINNT\\Temp\r\n"
         // Services for NET START/STOP of the command interpreter; Start= and Stop= may name host
         // commands to run, their state is kept in services.state.
         "\r\n[Services]\r\n"
         "W3SVC=World Wide Web Publishing Service\r\n"
         "IISADMIN=IIS Admin Service\r\n"
         "winmgmt=Windows Management Instrumentation\r\n"
         "\r\n[Service W3SVC]\r\nDependsOn=IISADMIN\r\n";
  return static_cast<bool>(out.flush());
}

bool WriteRegistry() {
  const char* kShellFolders =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const std::string kUser = "C:\\Documents and Settings\\Administrator";
  const std::string kAll = "C:\\Documents and Settings\\All Users";
  bool ok = true;
  ok &= SetString(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "PathWWWRoot",
                  "C:\\Inetpub\\wwwroot");
  ok &= SetString(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "InstallPath",
                  "C:\\WINNT\\system32\\inetsrv");
  ok &= SetDword(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "MajorVersion", 5);
  ok &= SetDword(HKEY_LOCAL_MACHINE, "software\\microsoft\\inetstp", "MinorVersion", 0);
  ok &= SetString(HKEY_LOCAL_MACHINE,
                  "SYSTEM\\ControlSet001\\Services\\W3SVC\\Parameters\\Virtual Roots", "/",
                  "C:\\Inetpub\\wwwroot,,201");
  ok &= SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                  "ProgramFilesDir", "C:\\Program Files");
  ok &= SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                  "CommonFilesDir", "C:\\Program Files\\Common Files");
  ok &= CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall");
  ok &= SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                  "CurrentVersion", "5.0");
  ok &= SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                  "CurrentBuildNumber", "2195");
  ok &= SetString(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs",
                  kAll + "\\Start Menu\\Programs");
  ok &= SetString(HKEY_LOCAL_MACHINE, kShellFolders, "Common Start Menu", kAll + "\\Start Menu");
  ok &= SetString(HKEY_LOCAL_MACHINE, kShellFolders, "Common Desktop", kAll + "\\Desktop");
  ok &= SetString(HKEY_CURRENT_USER, kShellFolders, "Programs", kUser + "\\Start Menu\\Programs");
  ok &= SetString(HKEY_CURRENT_USER, kShellFolders, "Start Menu", kUser + "\\Start Menu");
  ok &= SetString(HKEY_CURRENT_USER, kShellFolders, "Desktop", kUser + "\\Desktop");
  ok &= SetString(HKEY_CURRENT_USER, kShellFolders, "Personal", kUser + "\\My Documents");
  ok &= SetString(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", "",
                  "\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome");
  return ok;
}

// The machine's cmd.exe is a copy of the interpreter stand-in built beside this tool (a copy, so
// that what happens to the machine's file never reaches the build). A build without it still gets
// a machine, with a warning.
void InstallInterpreter() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path interpreter = self.parent_path() / "minutrix-cmd";
  const auto target = platform::HostPath("C:\\WINNT\\system32\\cmd.exe");
  if (ec || !target || !fs::is_regular_file(interpreter, ec)) {
    std::fprintf(stderr,
                 "minutrix-machine: warning: no minutrix-cmd beside this program; the machine has "
                 "no cmd.exe\n");
    return;
  }
  fs::copy_file(interpreter, *target, fs::copy_options::overwrite_existing, ec);
  if (ec)
    std::fprintf(stderr, "minutrix-machine: warning: cannot install cmd.exe: %s\n",
                 ec.message().c_str());
}

// What a fresh Windows 2000 server carries of the data components, as stand-in files with their
// versions in them: MDAC 2.5 (older than the 2.7 the product needs) and Jet 4.0 SP3, no Access.
struct Component {
  const char* path;
  const char* text;
};
constexpr Component kComponents[] = {
    {"C:\\Program Files\\Common Files\\System\\ado\\MsAdo15.dll",
     "MsAdo15.dll: stand-in for the ADO library of MDAC 2.5 SP3\r\nFileVersion=2.53.6200.0\r\n"},
    {"C:\\WINNT\\system32\\msjet40.dll",
     "msjet40.dll: stand-in for the Jet 4.0 SP3 database engine\r\nFileVersion=4.0.2927.4\r\n"},
};

bool InstallComponents() {
  std::error_code ec;
  for (const Component& component : kComponents) {
    const auto host = platform::HostPath(component.path);
    if (!host) return false;
    fs::create_directories(host->parent_path(), ec);
    std::ofstream out(*host, std::ios::binary);
    out << component.text;
    if (!out.flush()) return false;
  }
  return true;
}

// The machine's Windows Installer, C:\WINNT\system32\MSIExec.exe, is a copy of minutrix-msiexec.
void InstallWindowsInstaller() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path program = self.parent_path() / "minutrix-msiexec";
  const auto target = platform::HostPath("C:\\WINNT\\system32\\MSIExec.exe");
  if (ec || !target || !fs::is_regular_file(program, ec)) {
    std::fprintf(stderr,
                 "minutrix-machine: warning: no minutrix-msiexec beside this program; the machine "
                 "has no MSIExec.exe\n");
    return;
  }
  fs::copy_file(program, *target, fs::copy_options::overwrite_existing, ec);
  if (ec)
    std::fprintf(stderr, "minutrix-machine: warning: cannot install MSIExec.exe: %s\n",
                 ec.message().c_str());
}

// The machine's reg.exe is a copy of this tool, which acts as reg.exe under that name: the
// product's scripts change the registry with it.
void InstallRegTool() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const auto target = platform::HostPath("C:\\WINNT\\system32\\reg.exe");
  if (ec || !target) return;
  fs::copy_file(self, *target, fs::copy_options::overwrite_existing, ec);
  if (ec)
    std::fprintf(stderr, "minutrix-machine: warning: cannot install reg.exe: %s\n",
                 ec.message().c_str());
}

}  // namespace

int Init(const std::string& dir) {
  std::error_code ec;
  const fs::path root = fs::absolute(dir, ec);
  if (ec) {
    std::fprintf(stderr, "minutrix-machine: bad folder name \"%s\"\n", dir.c_str());
    return 1;
  }
  if (fs::exists(root, ec) && !fs::is_empty(root, ec)) {
    std::fprintf(
        stderr,
        "minutrix-machine: \"%s\" is not empty; a machine root is made in an empty folder\n",
        root.c_str());
    return 1;
  }
  fs::create_directories(root / "c", ec);
  if (ec) {
    std::fprintf(stderr, "minutrix-machine: cannot create \"%s\": %s\n", root.c_str(),
                 ec.message().c_str());
    return 1;
  }
  platform::SetMachineRoot(root);
  for (const char* folder : kFolders) {
    const auto host = platform::HostPath(folder);
    if (!host || !fs::create_directories(*host, ec) || ec) {
      std::fprintf(stderr, "minutrix-machine: cannot create %s: %s\n", folder,
                   ec.message().c_str());
      return 1;
    }
  }
  const std::string computer = ComputerName();
  if (!WriteProfile(root, computer)) {
    std::fprintf(stderr, "minutrix-machine: cannot write %s\n", (root / "machine.ini").c_str());
    return 1;
  }
  if (!WriteRegistry()) {
    std::fprintf(stderr, "minutrix-machine: cannot write the registry %s\n",
                 platform::RegistryFilePath().c_str());
    return 1;
  }
  InstallInterpreter();
  if (!InstallComponents()) {
    std::fprintf(stderr, "minutrix-machine: cannot write the data components of the machine\n");
    return 1;
  }
  InstallWindowsInstaller();
  InstallRegTool();
  std::printf("Machine root %s ready (computer %s, Windows 5.0, drive C:).\n", root.c_str(),
              computer.c_str());
  return 0;
}

}  // namespace machine_tool
