// Parsing of command lines (quotes, operators, redirections, variables) and running what they name.
#include "tools/cmd/interpreter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/vb_app.h"

namespace cmd {
namespace {

namespace fs = std::filesystem;

// %NAME% replaced by the variable's value; an unknown name stays as written, as cmd /c leaves it.
std::string Expand(std::string_view line) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == '%') {
      const size_t close = line.find('%', i + 1);
      if (close != std::string_view::npos && close > i + 1) {
        const std::string name(line.substr(i + 1, close - i - 1));
        const std::string value = platform::Environ(name);
        if (!value.empty()) {
          out += value;
          i = close + 1;
          continue;
        }
      }
    }
    out.push_back(line[i++]);
  }
  return out;
}

enum class Join { kAlways, kOnSuccess, kOnFailure };

struct Piece {
  Join join = Join::kAlways;  // how it follows the piece before it
  std::string text;
};

std::vector<Piece> SplitOperators(std::string_view line) {
  std::vector<Piece> pieces(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '^' && i + 1 < line.size()) {
      pieces.back().text.push_back(c);
      pieces.back().text.push_back(line[++i]);
      continue;
    }
    if (!quoted && (c == '&' || (c == '|' && i + 1 < line.size() && line[i + 1] == '|'))) {
      Piece next;
      if (c == '&' && i + 1 < line.size() && line[i + 1] == '&') {
        next.join = Join::kOnSuccess;
        ++i;
      } else if (c == '|') {
        next.join = Join::kOnFailure;
        ++i;
      }
      pieces.push_back(next);
      continue;
    }
    pieces.back().text.push_back(c);
  }
  return pieces;
}

struct Redirect {
  int fd = 1;
  bool append = false;
  std::string target;  // a Windows name, "nul", or "&1"
};

// Takes the redirections out of `text`; false when one names no target.
bool TakeRedirects(std::string& text, std::vector<Redirect>& redirects) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') quoted = !quoted;
    if (quoted || (c != '>' && c != '<')) {
      if (!quoted && c == '^' && i + 1 < text.size()) {
        out.push_back(text[++i]);
        continue;
      }
      out.push_back(c);
      continue;
    }
    Redirect r;
    r.fd = c == '<' ? 0 : 1;
    if (c == '>' && !out.empty() && (out.back() == '1' || out.back() == '2') &&
        (out.size() == 1 || out[out.size() - 2] == ' ' || out[out.size() - 2] == '\t')) {
      r.fd = out.back() - '0';
      out.pop_back();
    }
    if (c == '>' && i + 1 < text.size() && text[i + 1] == '>') {
      r.append = true;
      ++i;
    }
    size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j < text.size() && text[j] == '&') {
      r.target = "&";
      ++j;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])))
        r.target.push_back(text[j++]);
    } else if (j < text.size() && text[j] == '"') {
      const size_t close = text.find('"', j + 1);
      if (close == std::string::npos) return false;
      r.target = text.substr(j + 1, close - j - 1);
      j = close + 1;
    } else {
      while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '>' &&
             text[j] != '<') {
        r.target.push_back(text[j++]);
      }
    }
    if (r.target.empty()) return false;
    redirects.push_back(r);
    i = j - 1;
  }
  text = out;
  return true;
}

// Applies redirections for one command; the streams come back when it goes out of scope.
class StreamGuard {
 public:
  bool Apply(const std::vector<Redirect>& redirects) {
    using Mode = platform::StandardStreamRedirection::Mode;
    for (const Redirect& r : redirects) {
      bool ok = false;
      if (r.target.size() > 1 && r.target[0] == '&') {
        ok = streams_.ToStream(r.fd, std::atoi(r.target.c_str() + 1));
      } else if (platform::EqualsNoCase(r.target, "nul")) {
        ok = streams_.ToNullDevice(r.fd);
      } else {
        const auto host = platform::HostPath(r.target);
        if (!host) {
          std::fputs("The system cannot find the path specified.\n", stderr);
          return false;
        }
        ok = streams_.ToFile(
            r.fd, *host, r.fd == 0 ? Mode::kRead : (r.append ? Mode::kAppend : Mode::kTruncate));
      }
      if (!ok) {
        std::fputs(r.fd == 0 ? "The system cannot find the file specified.\n"
                             : "The system cannot find the path specified.\n",
                   stderr);
        return false;
      }
    }
    return true;
  }

 private:
  platform::StandardStreamRedirection streams_;
};

std::string Stem(const std::string& word) {
  std::string name = word.substr(
      word.find_last_of("\\/:") == std::string::npos ? 0 : word.find_last_of("\\/:") + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name = name.substr(0, dot);
  return platform::LowerAscii(name);
}

int Echo(const std::string& rest_raw) {
  if (rest_raw.empty()) {
    std::puts("ECHO is on.");
    return 0;
  }
  // "echo." and "echo text": the character after ECHO is a separator.
  std::puts(rest_raw.substr(1).c_str());
  return 0;
}

int Version() {
  const std::string major = platform::MachineSetting("Windows", "MajorVersion").value_or("5");
  const std::string minor = platform::MachineSetting("Windows", "MinorVersion").value_or("0");
  const std::string build = platform::MachineSetting("Windows", "BuildNumber").value_or("2195");
  std::printf("\nMicrosoft Windows [Version %s.%02d.%s]\n", major.c_str(), std::atoi(minor.c_str()),
              build.c_str());
  return 0;
}

int ChangeFolder(const std::vector<std::string>& args) {
  std::string target;
  for (const auto& a : args) {
    if (platform::LowerAscii(a) != "/d") target += (target.empty() ? "" : " ") + a;
  }
  if (target.empty()) {
    std::puts(CurrentFolder().c_str());
    return 0;
  }
  const auto host = platform::HostPath(target);
  std::error_code ec;
  if (host) fs::current_path(*host, ec);
  if (!host || ec) {
    std::fputs("The system cannot find the path specified.\n", stderr);
    return 1;
  }
  return 0;
}

// One command without operators.
int RunCommand(std::string text, bool* exit_requested) {
  std::vector<Redirect> redirects;
  if (!TakeRedirects(text, redirects)) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  text = platform::Trim(text);
  while (!text.empty() && text[0] == '@') text = platform::Trim(text.substr(1));
  if (text.empty()) return 0;
  StreamGuard guard;
  if (!guard.Apply(redirects)) return 1;

  // The command word ends at a blank, or for built-ins also at "/" or "." ("copy/y", "echo.").
  std::string word;
  size_t end = 0;
  if (text[0] == '"') {
    end = text.find('"', 1);
    word = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    end = end == std::string::npos ? text.size() : end + 1;
  } else {
    end = text.find_first_of(" \t");
    if (end == std::string::npos) end = text.size();
    word = text.substr(0, end);
  }
  const std::string builtin = platform::LowerAscii(text.substr(0, text.find_first_of(" \t/.\"")));
  const std::string after_builtin = text.substr(std::min(text.size(), builtin.size()));
  const std::vector<std::string> args = Words(after_builtin);

  if (builtin == "echo") return Echo(after_builtin);
  if (builtin == "rem") return 0;
  if (builtin == "cls") return 0;
  if (builtin == "ver") return Version();
  if (builtin == "exit") {
    *exit_requested = true;
    for (const auto& a : args) {
      if (platform::LowerAscii(a) != "/b") return std::atoi(a.c_str());
    }
    return 0;
  }
  if (builtin == "cd" || builtin == "chdir") return ChangeFolder(args);
  if (builtin == "copy") return Copy(args);
  if (builtin == "del" || builtin == "erase") return Del(args);
  if (builtin == "md" || builtin == "mkdir") return MakeDirectory(args);
  if (builtin == "rd" || builtin == "rmdir") return RemoveDirectory(args);
  if (builtin == "type") return Type(args);

  // A program of the machine wins; the Windows programs the stand-in carries come next.
  const auto program = platform::FindProgram(word);
  const std::string rest = text.substr(end);
  if (program && platform::IsExecutableFile(*program)) {
    const int status = RunProgram(text);
    if (status < 0) {
      std::fprintf(stderr, "%s\n", std::string(platform::SystemErrorText(GetLastError())).c_str());
      return 1;
    }
    return status;
  }
  const std::string stem = Stem(word);
  const std::vector<std::string> program_args = Words(rest, stem == "attrib");
  if (stem == "attrib") return Attrib(program_args);
  if (stem == "net") return Net(program_args);
  if (stem == "regsvr32") return Regsvr32(program_args);
  if (stem == "cscript") return CScript(program_args);
  if (stem == "msiexec") return MsiExec(program_args);
  if (program) {
    std::fprintf(stderr, "The system cannot execute the specified program.\n");
    return 1;
  }
  std::fprintf(stderr,
               "'%s' is not recognized as an internal or external command,\noperable program or "
               "batch file.\n",
               word.c_str());
  return 9009;
}

}  // namespace

std::string StripOuterQuotes(std::string_view text) {
  const std::string s(text);
  const size_t quotes = static_cast<size_t>(std::count(s.begin(), s.end(), '"'));
  if (quotes == 2 && s[0] == '"') {
    const size_t close = s.find('"', 1);
    const std::string inner = s.substr(1, close - 1);
    if (inner.find_first_of("&<>()@^|") == std::string::npos &&
        inner.find_first_of(" \t") != std::string::npos && platform::FindProgram(inner)) {
      return s;
    }
  }
  if (s.empty() || s[0] != '"') return s;
  const size_t last = s.rfind('"');
  if (last == 0) return s.substr(1);
  return s.substr(1, last - 1) + s.substr(last + 1);
}

std::vector<std::string> Words(std::string_view text, bool split_switches) {
  std::vector<std::string> words;
  std::string current;
  bool quoted = false;
  bool in_word = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
      continue;
    }
    if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) words.push_back(current);
      current.clear();
      in_word = false;
      continue;
    }
    if (!quoted && split_switches && c == '/' && in_word) {
      words.push_back(current);
      current.clear();
    }
    current.push_back(c);
    in_word = true;
  }
  if (in_word) words.push_back(current);
  return words;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern == "*.*" || pattern == "*") return true;
  // Classic wildcard match with backtracking on the last star.
  size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  const auto same = [](char a, char b) { return platform::LowerChar(a) == platform::LowerChar(b); };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '.')) ++p;
  return p == pattern.size();
}

int RunLine(std::string_view line, bool* exit_requested) {
  int level = 0;
  bool first = true;
  for (const Piece& piece : SplitOperators(Expand(line))) {
    if (!first && piece.join == Join::kOnSuccess && level != 0) continue;
    if (!first && piece.join == Join::kOnFailure && level == 0) continue;
    first = false;
    level = RunCommand(piece.text, exit_requested);
    if (*exit_requested) break;
  }
  return level;
}

int RunProgram(const std::string& command_line) {
  const DWORD pid = platform::StartProcess(command_line, platform::WindowStyle::kNormalFocus);
  if (pid == 0) return -1;
  return platform::WaitForProcess(pid).value_or(-1);
}

std::string CurrentFolder() {
  std::error_code ec;
  std::string folder = platform::WindowsPath(fs::current_path(ec));
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

bool AskYesNo(const std::string& question) {
  std::fputs(question.c_str(), stdout);
  std::fflush(stdout);
  std::string answer;
  if (!platform::ReadStandardInputLine(answer)) std::fputc('\n', stdout);
  answer = platform::Trim(answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace cmd
