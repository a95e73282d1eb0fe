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

std::string SslBumpLines(const ConfigOptions& o) {
  std::string splice;
  for (const auto& domain : o.splice) splice += " " + domain;
  std::string out;
  out +=
      "# HTTPS with interception (SslBump): Squid decrypts HTTPS with the certificate authority\n"
      "# below, so that the filter sees https:// URLs and its pages can answer them. Browsers\n"
      "# must trust that authority. This http_port line replaces squid.conf's own for the port.\n";
  out += "http_port " + o.http_port + " ssl-bump tls-cert=" + o.ssl_bump_cert +
         " generate-host-certificates=on dynamic_cert_mem_cache_size=4MB\n";
  out += "# Make the certificate database first: " + std::string(kCertGenerator) + " -c -s " +
         o.ssl_db + " -M 4MB; chown -R proxy: " + o.ssl_db + "\n";
  out += "sslcrtd_program " + std::string(kCertGenerator) + " -s " + o.ssl_db + " -M 4MB\n";
  out += "sslcrtd_children 5 startup=1 idle=1\n";
  out += "acl minutrix_connect method CONNECT\n";
  out +=
      "# dstdomain -n: a CONNECT to an address is never looked up in reverse (a lookup that may\n"
      "# stall every such tunnel).\n";
  if (!splice.empty()) {
    out +=
        "# Never decrypted: the free sites and the hosts given to --splice-host, by the name the\n"
        "# browser asks for and by the name in its TLS greeting. The filter decides their\n"
        "# CONNECTs: a denial refuses the tunnel.\n";
    out += "acl minutrix_splice dstdomain -n" + splice + "\n";
    out += "acl minutrix_splice_name ssl::server_name" + splice + "\n";
    out += "ssl_bump splice minutrix_splice\n";
  }
  if (!o.time_left_hosts.empty()) {
    std::string hosts;
    for (const auto& host : o.time_left_hosts) hosts += " " + host;
    out +=
        "# The time-left command's host exists nowhere: its tunnel is decrypted at once, without\n"
        "# a server to ask, so that the filter can answer https://COMMAND/ with its page.\n";
    out += "acl minutrix_time_left dstdomain -n" + hosts + "\n";
    out += "ssl_bump bump minutrix_time_left\n";
  }
  out += "acl minutrix_step1 at_step SslBump1\n";
  out += "ssl_bump peek minutrix_step1\n";
  if (!splice.empty()) out += "ssl_bump splice minutrix_splice_name\n";
  out += "ssl_bump bump all\n";
  out +=
      "# A decrypted site's requests are decided one by one inside the tunnel, so its CONNECT is\n"
      "# not: the start page is then shown on the first page of the site.\n";
  out += splice.empty() ? "url_rewrite_access deny minutrix_connect\n"
                        : "url_rewrite_access deny minutrix_connect !minutrix_splice\n";
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
  if (!o.store_down_policy.empty()) program += " --store-down-policy " + o.store_down_policy;

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
  if (!o.ssl_bump_cert.empty()) out += SslBumpLines(o);
  out += "url_rewrite_access allow all\n";
  out += "# Requests the filter ends without a redirect are refused by Squid itself (403).\n";
  out += "acl minutrix_block note minutrix block\n";
  if (o.ssl_bump_cert.empty()) {
    out += "adapted_http_access deny minutrix_block\n";
  } else {
    out +=
        "# A CONNECT refused here would be decrypted after all, to show Squid's error page under\n"
        "# a certificate forged for the host. The filter decides only spliced hosts' CONNECTs:\n"
        "# those are refused where the tunnel would open (miss_access), before any TLS.\n";
    out += "adapted_http_access deny minutrix_block !minutrix_connect\n";
    out += "miss_access deny minutrix_block\n";
  }
  out += "adapted_http_access allow all\n";
  return out;
}

}  // namespace squid
