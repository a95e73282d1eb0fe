// The squid.conf lines that hook minutrix-squid-helper into Squid.
#pragma once

#include <string>
#include <vector>

#include "hosts/squid/squid_protocol.h"

namespace squid {

struct ConfigOptions {
  std::string helper_path;          // this program
  std::string server_name;          // the proxy's name as browsers know it
  std::string product_port = "80";  // ServerPort of the filter's settings
  int concurrency = 0;
  Extras extras = Extras::kKeyed;        // the extras the helper reads, passed on with --extras
  std::vector<std::string> filters;      // --filter arguments to pass on
  std::vector<std::string> environment;  // NAME=VALUE pairs the helper needs (MINUTRIX_ROOT)
};

std::string SquidConfig(const ConfigOptions& options);

}  // namespace squid
