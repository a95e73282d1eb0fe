// minutrix-msiexec: the machine's MSIExec.exe (minutrix-machine init puts it in system32). It
// installs a package exactly as the interpreter's MSIEXEC command does.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "tools/cmd/interpreter.h"

int main(int argc, char** argv) {
  // The Windows command line as started, split by the C runtime's rules, as MSIExec reads it.
  const std::string line = platform::ProcessCommandLine(argc, argv);
  std::vector<std::string> args = platform::SplitCommandLine(line);
  if (!args.empty()) args.erase(args.begin());
  if (args.size() == 1 && (args[0] == "/?" || args[0] == "--help" || args[0] == "-h")) {
    cmd::MsiExec({});  // with no package it prints its usage
    return 0;
  }
  const int status = cmd::MsiExec(args);
  std::fflush(stdout);
  return status;
}
