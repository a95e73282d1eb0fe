// WMI stand-in over the process table.
#include "platform/wmi.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/faults.h"
#include "platform/last_error.h"
#include "platform/machine.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/services.h"

namespace platform {
namespace {

constexpr long kRpcServerUnavailable = -2147023174;   // 0x800706BA
constexpr long kServerExecutionFailed = -2146959355;  // 0x80080005
constexpr long kInvalidSyntax = -2147221020;          // MK_E_SYNTAX
constexpr long kInvalidQuery = -2147217385;           // WBEM_E_INVALID_QUERY
constexpr long kInvalidClass = -2147217392;           // WBEM_E_INVALID_CLASS
constexpr auto kQueryCost = std::chrono::milliseconds(5);

void Fail(AutomationError* error, long number, std::string description, std::string source) {
  if (error != nullptr) *error = AutomationError{number, std::move(description), std::move(source)};
}

}  // namespace

std::optional<WmiServices> WmiServices::Bind(std::string_view moniker, AutomationError* error) {
  // winmgmts:[{options}][!][//server][/namespace]
  constexpr std::string_view kScheme = "winmgmts:";
  if (moniker.size() < kScheme.size() ||
      !EqualsNoCase(moniker.substr(0, kScheme.size()), kScheme)) {
    Fail(error, kInvalidSyntax, "Invalid syntax", "GetObject");
    return std::nullopt;
  }
  std::string_view rest = moniker.substr(kScheme.size());
  if (!rest.empty() && rest[0] == '{') {
    const size_t close = rest.find('}');
    if (close == std::string_view::npos) {
      Fail(error, kInvalidSyntax, "Invalid syntax", "GetObject");
      return std::nullopt;
    }
    rest = rest.substr(close + 1);
  }
  if (!rest.empty() && rest[0] == '!') rest = rest.substr(1);
  std::string server;
  if (rest.substr(0, 2) == "//") {
    rest = rest.substr(2);
    server = std::string(rest.substr(0, rest.find('/')));
  }
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
  if (const DWORD fault = InjectedFault(FaultOp::kWmiQuery)) {
    Fail(error, static_cast<long>(0x80070000u | (fault & 0xffffu)),
         std::string(SystemErrorText(fault)), "SWbemServicesEx");
    return std::nullopt;
  }
  std::string spaced;
  for (char c : wql) {
    if (c == '=')
      spaced += " = ";
    else if (c == '\'')
      spaced += ' ';
    else
      spaced += c;
  }
  std::vector<std::string> words;
  std::istringstream in(spaced);
  for (std::string word; in >> word;) words.push_back(word);
  const bool shape =
      (words.size() == 4 || words.size() == 8) && EqualsNoCase(words[0], "select") &&
      words[1] == "*" && EqualsNoCase(words[2], "from") &&
      (words.size() == 4 ||
       (EqualsNoCase(words[4], "where") && EqualsNoCase(words[5], "processid") && words[6] == "=" &&
        words[7].find_first_not_of("0123456789") == std::string::npos));
  if (!shape) {
    Fail(error, kInvalidQuery, "Invalid query ", "SWbemServicesEx");
    return std::nullopt;
  }
  if (!EqualsNoCase(words[3], "Win32_Process")) {
    Fail(error, kInvalidClass, "Invalid class ", "SWbemServicesEx");
    return std::nullopt;
  }
  std::vector<Win32Process> found;
  if (words.size() == 8) {
    const std::string& digits = words[7];
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
