// minutrix-machine reg: reg.exe's add, query and delete over the machine registry.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/shlwapi.h"
#include "tools/machine/machine_tool.h"

namespace machine_tool {
namespace {

constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

struct Options {
  std::string operation;
  std::string key_name;
  std::optional<std::string> value;  // "" for /ve
  bool all_values = false;           // /va
  bool recursive = false;            // /s on query
  std::string type = "REG_SZ";
  std::string data;
  std::string separator = "\\0";
  bool force = false;
};

struct KeyName {
  HKEY root = nullptr;
  std::string root_name;
  std::string path;
};

std::optional<KeyName> SplitKey(const std::string& name) {
  const size_t slash = name.find('\\');
  const std::string root = platform::UpperAscii(name.substr(0, slash));
  const std::string rest = slash == std::string::npos ? "" : name.substr(slash + 1);
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
    return KeyName{HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", rest};
  if (root == "HKCU" || root == "HKEY_CURRENT_USER")
    return KeyName{HKEY_CURRENT_USER, "HKEY_CURRENT_USER", rest};
  if (root == "HKCR" || root == "HKEY_CLASSES_ROOT")
    return KeyName{HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", rest};
  if (root == "HKU" || root == "HKEY_USERS") return KeyName{HKEY_USERS, "HKEY_USERS", rest};
  return std::nullopt;
}

bool IsSwitch(const std::string& arg, const char* name) {
  return (arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-')) &&
         platform::EqualsNoCase(std::string_view(arg).substr(1), name);
}

std::optional<Options> Parse(const std::vector<std::string>& args, std::string& error) {
  Options o;
  if (args.size() < 2) {
    error = "ERROR: Invalid syntax. Type \"minutrix-machine --help\" for usage.\n";
    return std::nullopt;
  }
  o.operation = platform::UpperAscii(args[0]);
  o.key_name = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    std::optional<std::string> v;
    if (IsSwitch(a, "v")) {
      if (!(v = next())) break;
      o.value = *v;
    } else if (IsSwitch(a, "ve")) {
      o.value = "";
    } else if (IsSwitch(a, "va")) {
      o.all_values = true;
    } else if (IsSwitch(a, "s") && o.operation == "QUERY") {
      o.recursive = true;
    } else if (IsSwitch(a, "s")) {
      if (!(v = next())) break;
      o.separator = *v;
    } else if (IsSwitch(a, "t")) {
      if (!(v = next())) break;
      o.type = platform::UpperAscii(*v);
    } else if (IsSwitch(a, "d")) {
      if (!(v = next())) break;
      o.data = *v;
    } else if (IsSwitch(a, "f")) {
      o.force = true;
    } else {
      error = "ERROR: Invalid syntax: \"" + a + "\". Type \"minutrix-machine --help\" for usage.\n";
      return std::nullopt;
    }
    continue;
  }
  if (!error.empty()) return std::nullopt;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    if ((IsSwitch(a, "v") || IsSwitch(a, "t") || IsSwitch(a, "d") ||
         (IsSwitch(a, "s") && o.operation != "QUERY")) &&
        i + 1 >= args.size()) {
      error = "ERROR: Invalid syntax: " + a + " needs a value.\n";
      return std::nullopt;
    }
  }
  return o;
}

bool Confirm(const std::string& question) {
  std::printf("%s (Yes/No)? ", question.c_str());
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::printf("\n");
    return false;
  }
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

std::optional<std::pair<DWORD, std::string>> EncodeData(const Options& o, std::string& error) {
  const std::string& t = o.type;
  if (t == "REG_SZ" || t == "REG_EXPAND_SZ") {
    return std::make_pair(t == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ, o.data + '\0');
  }
  if (t == "REG_DWORD") {
    char* end = nullptr;
    const std::string& d = o.data.empty() ? std::string("0") : o.data;
    errno = 0;
    const unsigned long long n = std::strtoull(d.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || d[0] == '-' || n > 0xffffffffULL) {
      error = "ERROR: Invalid value for REG_DWORD: \"" + o.data + "\".\n";
      return std::nullopt;
    }
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((n >> (8 * i)) & 0xff);
    return std::make_pair(REG_DWORD, bytes);
  }
  if (t == "REG_BINARY") {
    if (o.data.size() % 2 != 0) {
      error = "ERROR: Invalid value for REG_BINARY: an even number of hex digits is needed.\n";
      return std::nullopt;
    }
    std::string bytes;
    for (size_t i = 0; i < o.data.size(); i += 2) {
      char* end = nullptr;
      const std::string pair = o.data.substr(i, 2);
      const long b = std::strtol(pair.c_str(), &end, 16);
      if (*end != '\0') {
        error = "ERROR: Invalid value for REG_BINARY: \"" + o.data + "\".\n";
        return std::nullopt;
      }
      bytes.push_back(static_cast<char>(b));
    }
    return std::make_pair(REG_BINARY, bytes);
  }
  if (t == "REG_MULTI_SZ") {
    std::string bytes;
    std::string rest = o.data;
    while (!rest.empty()) {
      const size_t at = rest.find(o.separator);
      bytes += rest.substr(0, at) + '\0';
      rest = at == std::string::npos ? "" : rest.substr(at + o.separator.size());
    }
    return std::make_pair(REG_MULTI_SZ, bytes + '\0');
  }
  if (t == "REG_NONE") return std::make_pair(REG_NONE, o.data);
  error = "ERROR: Invalid type \"" + o.type + "\".\n";
  return std::nullopt;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_NONE:
      return "REG_NONE";
    default:
      return "REG_UNKNOWN";
  }
}

std::string ShowData(DWORD type, const std::string& data) {
  if ((type == REG_SZ || type == REG_EXPAND_SZ)) return data.substr(0, data.find('\0'));
  if (type == REG_DWORD && data.size() == 4) {
    DWORD n = 0;
    for (int i = 3; i >= 0; --i) n = n * 256 + static_cast<unsigned char>(data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", n);
    return buf;
  }
  if (type == REG_MULTI_SZ) {
    std::string out;
    size_t start = 0;
    while (start < data.size() && data[start] != '\0') {
      const size_t end = data.find('\0', start);
      if (!out.empty()) out += "\\0";
      out += data.substr(start, end - start);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return out;
  }
  std::string out;
  char buf[4];
  for (unsigned char c : data) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

void PrintValue(const std::string& name, DWORD type, const std::string& data) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(), TypeName(type),
              ShowData(type, data).c_str());
}

bool ReadValue(HKEY key, const std::string& name, DWORD& type, std::string& data) {
  auto bytes = platform::GetValueBytes(key, nullptr, name.c_str(), &type);
  if (bytes) data = std::move(*bytes);
  return bytes.has_value();
}

void QueryTree(HKEY key, const std::string& full_name, bool recursive, int& values_shown) {
  std::printf("\n%s\n", full_name.c_str());
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD name_size = sizeof name;
    DWORD type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::string data;
    ReadValue(key, name, type, data);
    PrintValue(name, type, data);
    ++values_shown;
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD name_size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    children.emplace_back(name);
  }
  for (const std::string& child : children) {
    const std::string child_name = full_name + "\\" + child;
    if (!recursive) {
      std::printf("%s%s\n", values_shown >= 0 ? "" : "", child_name.c_str());
      continue;
    }
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      QueryTree(sub, child_name, true, values_shown);
      RegCloseKey(sub);
    }
  }
}

int Add(const Options& o, const KeyName& k) {
  std::string error;
  HKEY key = nullptr;
  if (RegCreateKeyExA(k.root, k.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    std::fputs(
        "ERROR: The registry key could not be created or the registry file could not be written.\n",
        stderr);
    return 1;
  }
  if (o.value) {
    auto encoded = EncodeData(o, error);
    if (!encoded) {
      RegCloseKey(key);
      std::fputs(error.c_str(), stderr);
      return 1;
    }
    DWORD type = 0;
    std::string existing;
    if (!o.force && ReadValue(key, *o.value, type, existing) &&
        !Confirm("Value " + (o.value->empty() ? std::string("(Default)") : *o.value) +
                 " exists, overwrite")) {
      RegCloseKey(key);
      std::puts("The operation was cancelled by the user.");
      return 0;
    }
    const LONG rc = RegSetValueExA(key, o.value->c_str(), 0, encoded->first,
                                   reinterpret_cast<const BYTE*>(encoded->second.data()),
                                   static_cast<DWORD>(encoded->second.size()));
    if (rc != ERROR_SUCCESS) {
      RegCloseKey(key);
      std::fputs("ERROR: The registry file could not be written.\n", stderr);
      return 1;
    }
  }
  RegCloseKey(key);
  std::puts("The operation completed successfully.");
  return 0;
}

int Query(const Options& o, const KeyName& k) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(k.root, k.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    std::fputs(kNotFound, stderr);
    return 1;
  }
  std::string full = k.root_name + (k.path.empty() ? "" : "\\" + k.path);
  while (!full.empty() && full.back() == '\\') full.pop_back();
  if (o.value) {
    DWORD type = 0;
    std::string data;
    const bool found = ReadValue(key, *o.value, type, data);
    RegCloseKey(key);
    if (!found) {
      std::fputs(kNotFound, stderr);
      return 1;
    }
    std::printf("\n%s\n", full.c_str());
    PrintValue(*o.value, type, data);
    std::printf("\n");
    return 0;
  }
  int shown = 0;
  QueryTree(key, full, o.recursive, shown);
  std::printf("\n");
  RegCloseKey(key);
  return 0;
}

int Delete(const Options& o, const KeyName& k) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(k.root, k.path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    std::fputs(kNotFound, stderr);
    return 1;
  }
  std::string what =
      o.value ? "the registry value " + (o.value->empty() ? std::string("(Default)") : *o.value)
      : o.all_values ? std::string("all values under the registry key ") + o.key_name
                     : "the registry key " + o.key_name;
  if (!o.force && !Confirm("Delete " + what)) {
    RegCloseKey(key);
    std::puts("The operation was cancelled by the user.");
    return 0;
  }
  LONG rc = ERROR_SUCCESS;
  if (o.value) {
    rc = RegDeleteValueA(key, o.value->c_str());
  } else if (o.all_values) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[16384];
      DWORD size = sizeof name;
      if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.emplace_back(name);
    }
    for (const auto& name : names) {
      if ((rc = RegDeleteValueA(key, name.c_str())) != ERROR_SUCCESS) break;
    }
  } else {
    rc = SHDeleteKeyA(k.root, k.path.c_str());
  }
  RegCloseKey(key);
  if (rc == ERROR_FILE_NOT_FOUND) {
    std::fputs(kNotFound, stderr);
    return 1;
  }
  if (rc != ERROR_SUCCESS) {
    std::fputs(rc == ERROR_ACCESS_DENIED ? "ERROR: Access is denied.\n"
                                         : "ERROR: The registry file could not be written.\n",
               stderr);
    return 1;
  }
  std::puts("The operation completed successfully.");
  return 0;
}

}  // namespace

int Reg(const std::vector<std::string>& args) {
  std::string error;
  const auto options = Parse(args, error);
  if (!options) {
    std::fputs(error.c_str(), stderr);
    return 2;
  }
  const auto key = SplitKey(options->key_name);
  if (!key) {
    std::fputs("ERROR: Invalid key name: the root must be HKLM, HKCU, HKCR or HKU.\n", stderr);
    return 2;
  }
  if (!std::filesystem::is_directory(platform::MachineRoot())) {
    std::fprintf(stderr,
                 "ERROR: No machine root at %s (make one with \"minutrix-machine init DIR\").\n",
                 platform::MachineRoot().c_str());
    return 1;
  }
  if (options->operation == "ADD") return Add(*options, *key);
  if (options->operation == "QUERY") return Query(*options, *key);
  if (options->operation == "DELETE") return Delete(*options, *key);
  std::fprintf(stderr, "ERROR: Invalid operation \"%s\": use add, query or delete.\n",
               args[0].c_str());
  return 2;
}

}  // namespace machine_tool
