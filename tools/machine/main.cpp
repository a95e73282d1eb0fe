// minutrix-machine: makes and inspects the folder that stands in for the Windows server.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/registry.h"
#include "tools/machine/machine_tool.h"

namespace {

constexpr const char* kHelp = R"(Usage: minutrix-machine [--root DIR] COMMAND ...

The machine root is the folder that stands in for the Windows server: drive X: is its
folder "x", Z: is the host's "/". It is taken from --root, else from $MINUTRIX_ROOT,
else /var/lib/minutrix/machine.

Commands:
  init DIR          Lay out a new machine root in DIR (empty or missing): drive C with
                    C:\WINNT\system32, C:\Inetpub\wwwroot, C:\Program Files\Common Files,
                    the Start Menu folders, the machine profile machine.ini (with the
                    services W3SVC, IISADMIN and winmgmt), the command interpreter
                    C:\WINNT\system32\cmd.exe (minutrix-cmd), the Windows Installer
                    C:\WINNT\system32\MSIExec.exe (minutrix-msiexec), MDAC 2.5 (MsAdo15.dll
                    2.53.6200.0), Jet 4.0 (msjet40.dll 4.0.2927.4), no Access, and a registry
                    with what a Windows 2000 server with its web server holds.
  reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
                    Add a key or set a value. TYPE: REG_SZ (default), REG_EXPAND_SZ,
                    REG_DWORD (decimal or 0x hex), REG_BINARY (hex digits), REG_MULTI_SZ
                    (items separated by \0 or SEP), REG_NONE. Without /f an existing value
                    is replaced only after a "Yes" on standard input.
  reg query KEY [/v NAME | /ve] [/s]
                    Show a value, or the values and subkeys of a key (/s: the whole tree).
  reg delete KEY [/v NAME | /ve | /va] [/f]
                    Delete a value, all values of a key (/va), or the key with its tree.
                    Without /f a "Yes" on standard input is asked for.

KEY is ROOT\Path with ROOT one of HKLM, HKCU, HKCR, HKU or their long names.
Example: switch the filter's debug log on:
  minutrix-machine reg add "HKLM\software\Minutrix" /v MinutrixDebug /t REG_SZ /d 1 /f
)";

// A change saved over a damaged registry file is told, so the administrator can look at it.
void TellRegistryDamage() {
  const auto note = platform::TakeRegistryDamageNote();
  if (!note) return;
  std::string lines;
  for (size_t i = 0; i < note->lines.size() && i < 10; ++i)
    lines += (i == 0 ? "" : ", ") + std::to_string(note->lines[i]);
  if (note->lines.size() > 10) lines += ", ...";
  std::fprintf(stderr,
               "minutrix-machine: %s was damaged: line%s %s could not be read and %s kept in "
               "the file as %s stood; the file as it was before this change is saved as %s\n",
               platform::RegistryFilePath().c_str(), note->lines.size() == 1 ? "" : "s",
               lines.c_str(), note->lines.size() == 1 ? "is" : "are",
               note->lines.size() == 1 ? "it" : "they", note->copy_path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Copied into a machine as reg.exe, the tool is that machine's reg.exe.
  std::string self = argc > 0 ? argv[0] : "";
  self = self.substr(self.find_last_of('/') + 1);
  for (char& c : self) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (self == "reg.exe") return machine_tool::Reg(args);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
    std::fputs(kHelp, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--root") {
    if (args.size() < 2) {
      std::fputs("minutrix-machine: --root needs a folder\n", stderr);
      return 2;
    }
    platform::SetMachineRoot(args[1]);
    args.erase(args.begin(), args.begin() + 2);
    if (args.empty()) {
      std::fputs(kHelp, stderr);
      return 2;
    }
  }
  if (args[0] == "init") {
    if (args.size() != 2) {
      std::fputs("minutrix-machine: usage: minutrix-machine init DIR\n", stderr);
      return 2;
    }
    return machine_tool::Init(args[1]);
  }
  if (args[0] == "reg") {
    args.erase(args.begin());
    const int status = machine_tool::Reg(args);
    TellRegistryDamage();
    return status;
  }
  std::fprintf(stderr, "minutrix-machine: unknown command \"%s\" (see --help)\n", args[0].c_str());
  return 2;
}
