// Printing the squid.conf lines.
#include "hosts/squid/squid_config.h"

namespace squid {
namespace {

std::string RegexQuote(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string_view(".^$*+?()[]{}|\\").find(c) != std::string_view::npos) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::string SquidConfig(const ConfigOptions& o) {
  std::string program;
  if (!o.environment.empty()) {
    program = "/usr/bin/env";
    for (const auto& pair : o.environment) program += " " + pair;
    program += " ";
  }
  program += o.helper_path + " --server-name " + o.server_name;
  if (o.extras == Extras::kDefault) program += " --extras default";
  for (const auto& filter : o.filters) program += " --filter " + filter;

  std::string out;
  out +=
      "# Minutrix: every request of an authenticated user is decided by the ISAPI filters of "
      "this\n";
  out += "# machine, hosted by minutrix-squid-helper. Paths must not contain spaces.\n";
  out += "url_rewrite_program " + program + "\n";
  out += "# One helper process: the filter keeps its users' counting periods in memory.\n";
  out +=
      "url_rewrite_children 1 startup=1 idle=1 concurrency=" + std::to_string(o.concurrency) + "\n";
  if (o.extras == Extras::kKeyed) {
    out += "url_rewrite_extras \"" + std::string(kKeyedExtras) + "\"\n";
  } else {
    out += "# No url_rewrite_extras: the helper reads Squid's default extras (--extras default).\n";
  }
  out += "# Never pass requests unfiltered when the helper is busy.\n";
  out += "url_rewrite_bypass off\n";
  out +=
      "# The product page itself is not filtered, or a user who is always redirected would loop.\n";
  out += "acl minutrix_page url_regex -i ^http://" + RegexQuote(o.server_name) +
         "(:" + RegexQuote(o.product_port) + ")?/Minutrix/\n";
  out += "url_rewrite_access deny minutrix_page\n";
  out += "url_rewrite_access allow all\n";
  out += "# Requests the filter ends without a redirect are refused by Squid itself (403).\n";
  out += "acl minutrix_block note minutrix block\n";
  out += "adapted_http_access deny minutrix_block\n";
  out += "adapted_http_access allow all\n";
  return out;
}

}  // namespace squid
