// minutrix-cmd: the machine's cmd.exe. Reads its own Windows command line, takes the /c or /k
// command after cmd's switches, runs it, and with /k keeps the console open in a terminal.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/command_line.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tools/cmd/interpreter.h"

namespace {

constexpr const char* kHelp =
    "Starts the machine's command interpreter (the stand-in for cmd.exe).\n"
    "\n"
    "CMD [/Q] [/D] [/A | /U] [/S] [/E:ON | /E:OFF] [/V:ON | /V:OFF] [[/C | /K] string]\n"
    "\n"
    "/C      Carries out the command specified by string and then terminates\n"
    "/K      Carries out the command specified by string but remains: in a terminal the\n"
    "        console stays until Enter is pressed (or exit is typed); without one it ends\n"
    "/S      Modifies the treatment of string after /C or /K (see below)\n"
    "\n"
    "If /C or /K is specified, quote characters of the rest of the line are kept when it has\n"
    "exactly two, with no special character (&<>()@^|) but some whitespace between them, and the\n"
    "text between them names a program; otherwise a leading quote and the last quote are removed.\n"
    "\n"
    "Commands: COPY, DEL/ERASE, ATTRIB, MD/MKDIR, RD/RMDIR, TYPE, ECHO, CD, VER, REM, EXIT,\n"
    "NET START/STOP (the services of the machine profile), REGSVR32, CSCRIPT (scripts are\n"
    "executables with a #! line), MSIEXEC, and any program of the machine. Commands can be joined\n"
    "with &, && and ||, and redirected with >, >>, 2> and <.\n"
    "\n"
    "Without /C or /K, commands are read from standard input.\n";

void Banner() {
  const std::string major = platform::MachineSetting("Windows", "MajorVersion").value_or("5");
  const std::string minor = platform::MachineSetting("Windows", "MinorVersion").value_or("0");
  const std::string build = platform::MachineSetting("Windows", "BuildNumber").value_or("2195");
  std::printf("Microsoft Windows [Version %s.%02d.%s]\n\n", major.c_str(), std::atoi(minor.c_str()),
              build.c_str());
}

// Reads commands until exit; in a terminal an empty line (Enter) closes when `enter_closes`.
int Console(bool enter_closes, int level) {
  const bool tty = ::isatty(0) != 0;
  if (enter_closes && !tty) return level;
  if (enter_closes)
    std::printf("\n(This console stays open: press Enter to close it, or type a command.)\n");
  for (;;) {
    if (tty) {
      std::printf("%s>", cmd::CurrentFolder().c_str());
      std::fflush(stdout);
    }
    std::string line;
    const bool whole = platform::ReadStandardInputLine(line);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (!whole && line.empty()) return level;
    if (line.find_first_not_of(" \t") == std::string::npos) {
      if (enter_closes) return level;
      continue;
    }
    bool exit_requested = false;
    level = cmd::RunLine(line, &exit_requested);
    std::fflush(stdout);
    if (exit_requested) return level;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string line = platform::ProcessCommandLine(argc, argv);
  std::string rest = platform::SplitProgram(line).tail;
  bool keep = false;
  bool have_command = false;
  bool strip_always = false;
  while (!rest.empty() && rest[0] == '/') {
    size_t end = 1;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t' && rest[end] != '/' &&
           rest[end] != '"')
      ++end;
    const std::string sw = platform::LowerAscii(rest.substr(1, end - 1));
    if (sw == "?") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (sw == "c" || sw == "k") {
      keep = sw == "k";
      have_command = true;
      rest = rest.substr(end);
      break;
    }
    if (sw == "s") strip_always = true;
    rest = rest.substr(end);
    const size_t next = rest.find_first_not_of(" \t");
    rest = next == std::string::npos ? "" : rest.substr(next);
  }
  if (!have_command && (rest == "--help" || rest == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!have_command) {
    if (::isatty(0)) Banner();
    return Console(false, 0);
  }
  const size_t start = rest.find_first_not_of(" \t");
  rest = start == std::string::npos ? "" : rest.substr(start);
  std::string command = rest;
  if (strip_always) {
    if (!command.empty() && command[0] == '"') {
      const size_t last = command.rfind('"');
      command =
          last == 0 ? command.substr(1) : command.substr(1, last - 1) + command.substr(last + 1);
    }
  } else {
    command = cmd::StripOuterQuotes(command);
  }
  bool exit_requested = false;
  int level = command.empty() ? 0 : cmd::RunLine(command, &exit_requested);
  std::fflush(stdout);
  if (keep && !exit_requested) level = Console(true, level);
  return level;
}
