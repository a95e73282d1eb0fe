// WMI stand-in over the process table.
#include "platform/wmi.h"

#include <chrono>
#include <regex>
#include <thread>

#include "platform/machine.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/services.h"

namespace platform {
namespace {

constexpr long kRpcServerUnavailable = -2147023174;  // 0x800706BA
constexpr long kServerExecutionFailed = -2146959355;  // 0x80080005
constexpr long kInvalidSyntax = -2147221020;         // MK_E_SYNTAX
constexpr long kInvalidQuery = -2147217385;          // WBEM_E_INVALID_QUERY
constexpr long kInvalidClass = -2147217392;          // WBEM_E_INVALID_CLASS
constexpr auto kQueryCost = std::chrono::milliseconds(5);

void Fail(AutomationError* error, long number, std::string description, std::string source) {
  if (error != nullptr) *error = AutomationError{number, std::move(description), std::move(source)};
}

}  // namespace

std::optional<WmiServices> WmiServices::Bind(std::string_view moniker, AutomationError* error) {
  static const std::regex kMoniker(R"(^winmgmts:(\{[^}]*\})?!?(//([^/]*))?(/.*)?$)", std::regex::icase);
  std::cmatch m;
  const std::string text(moniker);
  if (!std::regex_match(text.c_str(), m, kMoniker)) {
    Fail(error, kInvalidSyntax, "Invalid syntax", "GetObject");
    return std::nullopt;
  }
  const std::string server = m[3].matched ? m[3].str() : "";
  const std::string computer = MachineSetting("Windows", "ComputerName").value_or("");
  if (!server.empty() && server != "." && !EqualsNoCase(server, "localhost") &&
      !EqualsNoCase(server, computer)) {
    Fail(error, kRpcServerUnavailable, "The RPC server is unavailable. ", "SWbemLocator");
    return std::nullopt;
  }
  if (FindService("winmgmt") && !ServiceRunning("winmgmt")) {
    Fail(error, kServerExecutionFailed, "Server execution failed ", "GetObject");
    return std::nullopt;
  }
  return WmiServices();
}

std::optional<std::vector<Win32Process>> WmiServices::ExecQuery(std::string_view wql,
                                                                 AutomationError* error) const {
  static const std::regex kQuery(
      R"(^\s*select\s+\*\s+from\s+(\w+)\s*(where\s+processid\s*=\s*'?(\d+)'?\s*)?$)", std::regex::icase);
  const std::string text(wql);
  std::smatch m;
  if (!std::regex_match(text, m, kQuery)) {
    Fail(error, kInvalidQuery, "Invalid query ", "SWbemServicesEx");
    return std::nullopt;
  }
  if (!EqualsNoCase(m[1].str(), "Win32_Process")) {
    Fail(error, kInvalidClass, "Invalid class ", "SWbemServicesEx");
    return std::nullopt;
  }
  std::vector<Win32Process> found;
  if (m[3].matched) {
    const std::string digits = m[3].str();
    const unsigned long long pid = digits.size() > 10 ? 0 : std::stoull(digits);
    if (pid > 0 && pid <= 0x7fffffffULL && ProcessRunning(static_cast<DWORD>(pid))) {
      found.push_back({ProcessName(static_cast<DWORD>(pid)), static_cast<DWORD>(pid)});
      std::this_thread::sleep_for(kQueryCost);
    }
  } else {
    for (DWORD pid : RunningProcesses()) found.push_back({ProcessName(pid), pid});
  }
  return found;
}

}  // namespace platform
