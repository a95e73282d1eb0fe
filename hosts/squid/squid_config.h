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
  std::string store_down_policy;         // --store-down-policy to pass on, when given
  std::vector<std::string> environment;  // NAME=VALUE pairs the helper needs (MINUTRIX_ROOT)
  // SslBump, when `ssl_bump_cert` (the proxy's CA, certificate and key in one PEM file) is set.
  std::string ssl_bump_cert;
  std::string http_port = "3128";                // the port line that takes the ssl-bump options
  std::string ssl_db = "/var/lib/squid/ssl_db";  // security_file_certgen's database
  std::vector<std::string> splice;               // dstdomain entries never decrypted
  std::vector<std::string> time_left_hosts;      // the filters' time-left command hosts
};

inline constexpr const char* kCertGenerator = "/usr/lib/squid/security_file_certgen";

std::string SquidConfig(const ConfigOptions& options);

}  // namespace squid
