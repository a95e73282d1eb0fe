// Command-line splitting and quoting with the Microsoft C runtime's rules.
#include "platform/command_line.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/machine.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

ProgramAndTail SplitProgram(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  ProgramAndTail out;
  if (i < line.size() && line[i] == '"') {
    const size_t close = line.find('"', i + 1);
    if (close == std::string_view::npos) {
      out.program = std::string(line.substr(i + 1));
      return out;
    }
    out.program = std::string(line.substr(i + 1, close - i - 1));
    i = close + 1;
  } else {
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    out.program = std::string(line.substr(start, i - start));
  }
  while (i < line.size() && IsBlank(line[i])) ++i;
  out.tail = std::string(line.substr(i));
  return out;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  const ProgramAndTail first = SplitProgram(line);
  size_t lead = 0;
  while (lead < line.size() && IsBlank(line[lead])) ++lead;
  if (lead == line.size()) return args;
  args.push_back(first.program);
  const std::string_view rest = first.tail;
  size_t i = 0;
  while (true) {
    while (i < rest.size() && IsBlank(rest[i])) ++i;
    if (i >= rest.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < rest.size() && (quoted || !IsBlank(rest[i]))) {
      if (rest[i] == '\\') {
        size_t n = 0;
        while (i < rest.size() && rest[i] == '\\') {
          ++n;
          ++i;
        }
        if (i < rest.size() && rest[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
          // An even run leaves the quote to the code below, which toggles.
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (rest[i] == '"') {
        if (quoted && i + 1 < rest.size() && rest[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(rest[i++]);
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string QuoteArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::string ProcessCommandLine(int argc, const char* const* argv) {
  const char* line = std::getenv(kCommandLineVariable);
  const char* pid = std::getenv(kCommandLinePidVariable);
  // The variables are inherited by grandchildren; they describe this process only when the pid
  // they were made for is ours.
  if (line != nullptr && pid != nullptr && std::atol(pid) == static_cast<long>(::getpid())) {
    return line;
  }
  std::string out;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) out.push_back(' ');
    std::string arg = argv[i] == nullptr ? "" : argv[i];
    if (i == 0) {
      std::error_code ec;
      const std::filesystem::path self = arg.find('/') == std::string::npos
                                             ? std::filesystem::read_symlink("/proc/self/exe", ec)
                                             : std::filesystem::absolute(arg, ec);
      if (!ec) arg = WindowsPath(self);
    }
    // Arguments that carry quotes were written with Windows quoting by whoever started us (a
    // person in a shell typing cmd.exe /c 'copy "a b" c'); they are taken as they stand.
    out += i > 0 && arg.find('"') != std::string::npos ? arg : QuoteArgument(arg);
  }
  return out;
}

}  // namespace platform
