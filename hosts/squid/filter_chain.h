// The filters of this web server, loaded once, and the decision on one Squid request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosts/isapi/filter_host.h"
#include "hosts/squid/squid_protocol.h"

namespace squid {

// Where the web server of a machine lists its filters, as the registration script writes them:
// value "FilterLoadOrder" (names, comma-separated, in load order) and, per name, a subkey with
// "FilterPath" (the library's Windows path).
inline constexpr const char* kFiltersKey = "SYSTEM\\ControlSet001\\Services\\W3SVC\\Filters";
// The web service of the machine: while it is recorded as stopped, requests pass unfiltered.
inline constexpr const char* kWebService = "W3SVC";

// Windows paths of the filters registered on this machine, in load order. Names without a
// readable path are reported in `problems` and left out.
std::vector<std::string> RegisteredFilterPaths(std::vector<std::string>& problems);

class FilterChain {
 public:
  // Loads each library (host paths, or Windows paths of the machine) and makes its version call.
  // A library that cannot be loaded or answers FALSE is reported in `problems` and not used.
  void Load(const std::vector<std::string>& paths, std::vector<std::string>& problems);
  size_t active() const;

  // The form of the extras in the request lines; keyed unless set.
  void set_extras(Extras extras) { extras_ = extras; }

  // The answer line for one request line. A line that does not fit the extras is refused
  // (never passed unfiltered), and the first such line says so on standard error. Never throws.
  std::string Answer(std::string_view line, const std::string& server_name);

 private:
  Extras extras_ = Extras::kKeyed;
  bool hinted_ = false;
  std::vector<std::unique_ptr<isapi_host::LoadedFilter>> filters_;
  std::vector<isapi_host::LoadedFilter*> active_;
};

}  // namespace squid
