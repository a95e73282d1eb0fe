// A stand-in for the WMI scripting interface the installer uses to ask whether a process exists:
// bind with a "winmgmts:" moniker, run a WQL query on Win32_Process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// A failure as the scripting runtime reports it to VB: number, description, source.
struct AutomationError {
  long number = 0;
  std::string description;
  std::string source;
};

struct Win32Process {
  std::string name;  // the program's file name
  DWORD process_id = 0;
};

class WmiServices {
 public:
  // "winmgmts:[{options}][!][//server][/namespace]". The server must be this machine (".", empty,
  // "localhost" or its computer name, any case). Fails, as GetObject would, when the moniker is
  // malformed, the server is another machine, or the machine's "winmgmt" service is stopped.
  static std::optional<WmiServices> Bind(std::string_view moniker, AutomationError* error);

  // "SELECT * FROM Win32_Process [WHERE ProcessId = N]" (keywords in any case). A process that
  // is found running makes the query take a few milliseconds, as a real WMI query does; a
  // waiting loop of queries therefore does not spin.
  std::optional<std::vector<Win32Process>> ExecQuery(std::string_view wql,
                                                     AutomationError* error) const;

 private:
  WmiServices() = default;
};

}  // namespace platform
