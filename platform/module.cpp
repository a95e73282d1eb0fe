// Module look-up over the dynamic linker's list of loaded objects.
#include "platform/module.h"

#include <link.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/last_error.h"
#include "platform/machine.h"

namespace {

// The main program has no dl_phdr_info name; it gets this handle.
HMODULE const kMainProgram = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(1));

struct Search {
  const char* wanted_name = nullptr;  // match by file name
  std::uintptr_t wanted_base = 0;     // or by load address
  std::uintptr_t found_base = 0;
  std::string found_path;
  bool found = false;
};

int Visit(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
  const std::string path = info->dlpi_name;
  if (search->wanted_name != nullptr) {
    const std::string base = std::filesystem::path(path).filename().string();
    if (!platform::EqualsNoCase(base, search->wanted_name)) return 0;
  } else if (info->dlpi_addr != search->wanted_base) {
    return 0;
  }
  search->found = true;
  search->found_base = info->dlpi_addr;
  search->found_path = path;
  return 1;
}

std::string MainProgramPath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR module_name) {
  if (module_name == nullptr) return kMainProgram;
  Search search;
  const std::string name = std::filesystem::path(module_name).filename().string();
  search.wanted_name = name.c_str();
  dl_iterate_phdr(Visit, &search);
  if (!search.found) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }
  // A library loaded at address 0 would collide with nullptr; shared objects never are.
  return reinterpret_cast<HMODULE>(search.found_base);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
  std::string host_path;
  if (module == nullptr || module == kMainProgram) {
    host_path = MainProgramPath();
  } else {
    Search search;
    search.wanted_base = reinterpret_cast<std::uintptr_t>(module);
    dl_iterate_phdr(Visit, &search);
    if (search.found) host_path = search.found_path;
  }
  if (host_path.empty()) {
    SetLastError(126);
    return 0;
  }
  const std::string windows = platform::WindowsPath(host_path);
  if (filename == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (windows.size() < size) {
    std::memcpy(filename, windows.c_str(), windows.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(windows.size());
  }
  std::memcpy(filename, windows.data(), size - 1);
  filename[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
