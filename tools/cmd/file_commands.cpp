// The file commands of cmd: COPY, DEL, ATTRIB, MD, RD and TYPE, on Windows names of the machine.
// Read-only is the owner's write permission: Windows keeps it when copying and refuses to
// overwrite or (without /F) delete a read-only file, even for an administrator.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/machine.h"
#include "platform/text.h"
#include "tools/cmd/interpreter.h"

namespace cmd {
namespace {

namespace fs = std::filesystem;

bool IsSwitch(const std::string& word) { return word.size() >= 2 && word[0] == '/'; }

bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

bool ReadOnly(const fs::path& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  return !ec && fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

void SetReadOnly(const fs::path& path, bool read_only) {
  std::error_code ec;
  if (read_only) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
  } else {
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
  }
}

// A Windows name split into its folder (host) and last component.
struct Target {
  bool ok = false;
  fs::path folder;
  std::string pattern;     // a name, or a pattern with * and ?
  bool is_folder = false;  // the whole name is an existing folder
  fs::path host;           // the whole name, when it has no wildcard
};

Target Resolve(const std::string& name) {
  Target target;
  std::string trimmed = name;
  const bool wild = HasWildcard(trimmed);
  if (!wild) {
    const auto host = platform::HostPath(trimmed.empty() ? "." : trimmed);
    if (!host) return target;
    target.ok = true;
    target.host = *host;
    std::error_code ec;
    target.is_folder = fs::is_directory(*host, ec);
    target.folder = host->parent_path();
    target.pattern = host->filename().string();
    if (target.is_folder) {
      target.folder = *host;
      target.pattern = "*";
    }
    return target;
  }
  const size_t slash = trimmed.find_last_of("\\/");
  const std::string folder =
      slash == std::string::npos
          ? (trimmed.size() > 1 && trimmed[1] == ':' ? trimmed.substr(0, 2) + "." : ".")
          : trimmed.substr(0, slash + 1);
  const auto host = platform::HostPath(folder);
  if (!host) return target;
  target.ok = true;
  target.folder = *host;
  target.pattern = trimmed.substr(
      slash == std::string::npos ? (trimmed.size() > 1 && trimmed[1] == ':' ? 2 : 0) : slash + 1);
  return target;
}

std::vector<fs::path> MatchingFiles(const fs::path& folder, const std::string& pattern,
                                    bool folders_too = false) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code e;
    const bool file = it->is_regular_file(e);
    const bool dir = it->is_directory(e) && !it->is_symlink(e);
    if ((file || (folders_too && dir)) && MatchesPattern(it->path().filename().string(), pattern)) {
      out.push_back(it->path());
    }
  }
  std::sort(out.begin(), out.end(), [](const fs::path& a, const fs::path& b) {
    return platform::LowerAscii(a.filename().string()) <
           platform::LowerAscii(b.filename().string());
  });
  return out;
}

std::vector<fs::path> SubFolders(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code e;
    if (it->is_directory(e) && !it->is_symlink(e)) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string Win(const fs::path& host) { return platform::WindowsPath(host); }

bool CopyOne(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (fs::exists(to, ec) && fs::equivalent(from, to, ec)) {
    std::fputs("The file cannot be copied onto itself.\n", stderr);
    return false;
  }
  if (fs::exists(to, ec) && ReadOnly(to)) {
    std::fputs("Access is denied.\n", stderr);
    return false;
  }
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    std::fputs(ec == std::errc::no_such_file_or_directory
                   ? "The system cannot find the path specified.\n"
                   : "Access is denied.\n",
               stderr);
    return false;
  }
  return true;
}

}  // namespace

int Copy(const std::vector<std::string>& args) {
  std::vector<std::string> names;
  for (const auto& a : args) {
    if (!IsSwitch(a)) names.push_back(a);
  }
  if (names.empty() || names.size() > 2) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  const Target source = Resolve(names[0]);
  std::vector<fs::path> files;
  if (source.ok) {
    if (source.is_folder || HasWildcard(names[0])) {
      files = MatchingFiles(source.folder, source.pattern);
    } else {
      std::error_code ec;
      if (fs::is_regular_file(source.host, ec)) files.push_back(source.host);
    }
  }
  if (files.empty()) {
    std::fputs("The system cannot find the file specified.\n        0 file(s) copied.\n", stdout);
    return 1;
  }
  const bool listing = source.is_folder || HasWildcard(names[0]);
  const std::string destination = names.size() == 2 ? names[1] : ".";
  const Target target = Resolve(destination);
  std::error_code ec;
  fs::path folder;
  fs::path single;
  if (target.ok && HasWildcard(destination)) {
    folder = target.folder;
  } else if (target.ok && target.is_folder) {
    folder = target.host;
  } else if (target.ok) {
    single = target.host;
  }
  if (!target.ok || (!folder.empty() && !fs::is_directory(folder, ec)) ||
      (!single.empty() && !fs::is_directory(single.parent_path(), ec))) {
    std::fputs("The system cannot find the path specified.\n        0 file(s) copied.\n", stdout);
    return 1;
  }
  int copied = 0;
  bool failed = false;
  if (!single.empty() && files.size() > 1) {
    // Several sources into one file: cmd joins them.
    if (fs::exists(single, ec) && ReadOnly(single)) {
      std::fputs("Access is denied.\n        0 file(s) copied.\n", stdout);
      return 1;
    }
    std::ofstream out(single, std::ios::binary | std::ios::trunc);
    for (const fs::path& f : files) {
      std::printf("%s\n", Win(f).c_str());
      std::ifstream in(f, std::ios::binary);
      out << in.rdbuf();
    }
    if (!out.flush()) failed = true;
    copied = failed ? 0 : 1;
  } else {
    for (const fs::path& f : files) {
      if (listing) std::printf("%s\n", Win(f).c_str());
      const fs::path to = single.empty() ? folder / f.filename() : single;
      if (CopyOne(f, to)) {
        ++copied;
      } else {
        failed = true;
      }
    }
  }
  std::printf("        %d file(s) copied.\n", copied);
  return failed ? 1 : 0;
}

int Del(const std::vector<std::string>& args) {
  bool force = false, quiet = false, recurse = false;
  std::vector<std::string> names;
  for (const auto& a : args) {
    const std::string s = platform::LowerAscii(a);
    if (s == "/f")
      force = true;
    else if (s == "/q")
      quiet = true;
    else if (s == "/s")
      recurse = true;
    else if (!IsSwitch(a))
      names.push_back(a);
  }
  if (names.empty()) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  int level = 0;
  for (const std::string& name : names) {
    const Target target = Resolve(name);
    if (!target.ok) {
      std::fprintf(stderr, "The system cannot find the path specified.\n");
      level = 1;
      continue;
    }
    const bool everything = target.pattern == "*" || target.pattern == "*.*";
    if (everything && !quiet && !AskYesNo(Win(target.folder / "*") + ", Are you sure (Y/N)? ")) {
      continue;
    }
    std::vector<fs::path> folders = {target.folder};
    bool found = false;
    for (size_t i = 0; i < folders.size(); ++i) {
      for (const fs::path& f : MatchingFiles(folders[i], target.pattern)) {
        found = true;
        if (ReadOnly(f) && !force) {
          std::fprintf(stderr, "%s\nAccess is denied.\n", Win(f).c_str());
          level = 1;
          continue;
        }
        std::error_code removed;
        if (!fs::remove(f, removed) || removed) {
          std::fprintf(stderr,
                       "%s\nThe process cannot access the file because it is being used by another "
                       "process.\n",
                       Win(f).c_str());
          level = 1;
          continue;
        }
        if (recurse) std::printf("Deleted file - %s\n", Win(f).c_str());
      }
      if (recurse) {
        for (const fs::path& sub : SubFolders(folders[i])) folders.push_back(sub);
      }
    }
    if (!found && !everything) {
      std::fprintf(stderr, "Could Not Find %s\n", Win(target.folder / target.pattern).c_str());
      level = 1;
    }
  }
  return level;
}

int Attrib(const std::vector<std::string>& args) {
  int read_only = 0;  // +1 set, -1 clear
  bool recurse = false, folders = false;
  std::string name;
  for (const auto& a : args) {
    const std::string s = platform::LowerAscii(a);
    if (s == "+r")
      read_only = 1;
    else if (s == "-r")
      read_only = -1;
    else if (s.size() == 2 && (s[0] == '+' || s[0] == '-') &&
             std::string("ashi").find(s[1]) != std::string::npos)
      continue;
    else if (s == "/s")
      recurse = true;
    else if (s == "/d")
      folders = true;
    else if (IsSwitch(a)) {
      std::fprintf(stderr, "Parameter format not correct - %s\n", a.c_str());
      return 1;
    } else {
      name += (name.empty() ? "" : " ") + a;
    }
  }
  if (name.empty()) name = "*";
  const Target target = Resolve(name);
  if (!target.ok) {
    std::fprintf(stderr, "Path not found - %s\n", name.c_str());
    return 1;
  }
  std::vector<fs::path> targets;
  const bool trailing = !name.empty() && (name.back() == '\\' || name.back() == '/');
  if (target.is_folder && !trailing && !recurse) targets.push_back(target.host);
  std::vector<fs::path> queue = {target.folder};
  for (size_t i = 0; i < queue.size(); ++i) {
    for (const fs::path& p : MatchingFiles(queue[i], target.pattern, folders)) targets.push_back(p);
    if (recurse) {
      for (const fs::path& sub : SubFolders(queue[i])) queue.push_back(sub);
    }
  }
  if (targets.empty()) {
    std::fprintf(stderr, "File not found - %s\n", name.c_str());
    return 1;
  }
  for (const fs::path& p : targets) {
    if (read_only != 0) {
      SetReadOnly(p, read_only > 0);
    } else {
      std::printf("A    %s     %s\n", ReadOnly(p) ? "R" : " ", Win(p).c_str());
    }
  }
  return 0;
}

int MakeDirectory(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  int level = 0;
  for (const std::string& name : args) {
    const auto host = platform::HostPath(name);
    std::error_code ec;
    if (!host) {
      std::fputs("The system cannot find the path specified.\n", stderr);
      level = 1;
    } else if (fs::exists(*host, ec)) {
      std::fprintf(stderr, "A subdirectory or file %s already exists.\n", name.c_str());
      level = 1;
    } else if (!fs::create_directories(*host, ec)) {
      std::fputs("Access is denied.\n", stderr);
      level = 1;
    }
  }
  return level;
}

int RemoveDirectory(const std::vector<std::string>& args) {
  bool tree = false, quiet = false;
  std::vector<std::string> names;
  for (const auto& a : args) {
    const std::string s = platform::LowerAscii(a);
    if (s == "/s")
      tree = true;
    else if (s == "/q")
      quiet = true;
    else
      names.push_back(a);
  }
  if (names.empty()) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  int level = 0;
  for (const std::string& name : names) {
    const auto host = platform::HostPath(name);
    std::error_code ec;
    if (!host || !fs::is_directory(*host, ec)) {
      std::fputs("The system cannot find the file specified.\n", stderr);
      level = 1;
      continue;
    }
    if (tree) {
      if (!quiet && !AskYesNo(name + ", Are you sure (Y/N)? ")) continue;
      fs::remove_all(*host, ec);
    } else if (!fs::is_empty(*host, ec)) {
      std::fputs("The directory is not empty.\n", stderr);
      level = 1;
      continue;
    } else {
      fs::remove(*host, ec);
    }
    if (ec) {
      std::fputs("Access is denied.\n", stderr);
      level = 1;
    }
  }
  return level;
}

int Type(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs("The syntax of the command is incorrect.\n", stderr);
    return 1;
  }
  int level = 0;
  for (const std::string& name : args) {
    const auto host = platform::HostPath(name);
    std::ifstream in(host ? *host : fs::path(), std::ios::binary);
    if (!host || !in) {
      std::fputs("The system cannot find the file specified.\n", stderr);
      level = 1;
      continue;
    }
    std::fflush(stdout);
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
      std::fwrite(buf, 1, static_cast<size_t>(in.gcount()), stdout);
    }
  }
  return level;
}

}  // namespace cmd
