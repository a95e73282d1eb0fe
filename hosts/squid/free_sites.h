// The hosts that SslBump leaves encrypted: the free sites of the filters' databases and the
// administrator's own list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace squid {

// The rows of tblPages in the database beside each filter library (UserTimesDB\UserTimesDB.mdb
// in the library's folder; host paths or Windows paths of the machine). A filter without a
// database beside it adds nothing; a database that cannot be read raises std::runtime_error.
std::vector<std::string> FreeSiteRows(const std::vector<std::string>& filter_paths);

// The hosts of the filters' time-left command (CurrentUserCommand of each filter's settings,
// lower-cased, without repeats): a request for http(s)://COMMAND/ asks for the time-left page, a
// host that does not exist. Only plain host names are given; a database that cannot be read
// raises std::runtime_error.
std::vector<std::string> TimeLeftHosts(const std::vector<std::string>& filter_paths);

// The dstdomain entry for a free-site row whose host can be told: "host:NAME", or a plain row
// that is a host name alone (a scheme and a trailing "/" allowed). ".NAME" (NAME and below) for
// a name, the address itself for an IPv4 address. A row with a port, a path or other text
// names no host: such a site is decrypted, and the filter sees its URLs.
std::optional<std::string> SpliceDomainOfRow(std::string_view row);

// The dstdomain entry for a host given by the administrator (a name, ".name" or an IPv4
// address), or nullopt when it is not one.
std::optional<std::string> SpliceDomainOfHost(std::string_view host);

// `domains` without the entries another one covers (".a.example" covers "b.a.example" and
// ".b.a.example") and without repeats, in their order: Squid warns about each of them.
std::vector<std::string> WithoutCoveredDomains(const std::vector<std::string>& domains);

}  // namespace squid
