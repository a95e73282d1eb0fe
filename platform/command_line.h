// Windows command lines: splitting into arguments by the C runtime's rules, quoting arguments back,
// and the command line a program of the machine was started with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Arguments of a command line as the Microsoft C runtime splits it: the program name ends at the
// closing quote or the first blank, without backslash rules; later arguments follow the
// backslash-quote rules (2n backslashes + quote: n backslashes, quote toggles; 2n+1: n and a
// literal quote) and "" inside quotes is a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view line);

// `argument` quoted so that SplitCommandLine gives it back unchanged (unquoted when it needs none).
std::string QuoteArgument(std::string_view argument);

// The program part of a command line (quotes removed) and the rest after it, leading blanks kept
// out. "\"C:\\a b\\x.exe\" /c dir" gives {"C:\\a b\\x.exe", "/c dir"}.
struct ProgramAndTail {
  std::string program;
  std::string tail;
};
ProgramAndTail SplitProgram(std::string_view line);

// The Windows command line of this process: the one it was started with through StartProcess
// when that is known, else its arguments quoted and joined (argv[0] as its Windows name).
std::string ProcessCommandLine(int argc, const char* const* argv);

// Environment variables by which StartProcess hands the raw command line to the program.
inline constexpr const char* kCommandLineVariable = "MINUTRIX_COMMAND_LINE";
inline constexpr const char* kCommandLinePidVariable = "MINUTRIX_COMMAND_LINE_PID";

}  // namespace platform
