// Reading the free sites for the SslBump lines.
#include "hosts/squid/free_sites.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "platform/ado.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "store/free_site_rule.h"

namespace squid {
namespace {

struct SiteRow {
  char PageName[1024];
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {ADO_TEXT_FIELD(SiteRow, 2, PageName, false)};
    return kFields;
  }
};

bool IsAddress(std::string_view host) {
  int dots = 0;
  for (char c : host) {
    if (c == '.') {
      ++dots;
    } else if (!std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return dots == 3;
}

}  // namespace

std::optional<std::string> SpliceDomainOfHost(std::string_view host) {
  if (!host.empty() && host.front() == '.') host.remove_prefix(1);
  if (host.empty() || host.size() > 253 || host.front() == '.' || host.back() == '.') {
    return std::nullopt;
  }
  bool letter = false;
  for (char c : host) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '.' && c != '-' && c != '_') return std::nullopt;
    letter = letter || std::isalpha(u);
  }
  if (host.find("..") != std::string_view::npos) return std::nullopt;
  if (IsAddress(host)) return std::string(host);
  // A name without a dot ("free", "localhost") is more likely a word of a URL than a site.
  if (!letter || host.find('.') == std::string_view::npos) return std::nullopt;
  return "." + platform::LowerAscii(std::string(host));
}

std::optional<std::string> SpliceDomainOfRow(std::string_view row) {
  // Read as the filter reads it: the hosts spliced are the ones it makes free by host.
  if (store::IsHostRule(row)) return SpliceDomainOfHost(store::HostRuleName(row));
  std::string text = platform::Trim(row, platform::kWhitespace);
  std::string_view rest = text;
  for (std::string_view scheme : {"http://", "https://"}) {
    if (rest.size() > scheme.size() &&
        platform::EqualsNoCase(rest.substr(0, scheme.size()), scheme)) {
      rest.remove_prefix(scheme.size());
    }
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  return SpliceDomainOfHost(rest);
}

std::vector<std::string> WithoutCoveredDomains(const std::vector<std::string>& domains) {
  const auto covers = [](const std::string& outer, const std::string& inner) {
    if (outer == inner) return true;
    return outer.front() == '.' &&
           (inner.ends_with(outer) || (inner.front() != '.' && "." + inner == outer));
  };
  std::vector<std::string> kept;
  for (size_t i = 0; i < domains.size(); ++i) {
    bool covered = false;
    for (size_t j = 0; j < domains.size() && !covered; ++j) {
      if (i == j) continue;
      // Of two equal entries the first stays.
      covered = domains[i] == domains[j] ? j < i : covers(domains[j], domains[i]);
    }
    if (!covered) kept.push_back(domains[i]);
  }
  return kept;
}

namespace {

// Calls `read` with each filter's database (UserTimesDB\UserTimesDB.mdb beside the library).
template <typename Read>
void ForEachDatabase(const std::vector<std::string>& filter_paths, const char* what, Read read) {
  for (const std::string& filter : filter_paths) {
    std::filesystem::path library = filter;
    if (!filter.empty() && filter[0] != '/') {
      const auto mapped = platform::HostPath(filter);
      if (!mapped) continue;
      library = *mapped;
    }
    const std::filesystem::path database = library.parent_path() / "UserTimesDB/UserTimesDB.mdb";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(database, ec)) continue;
    try {
      ado::ConnectionPtr connection = ado::CreateConnection();
      connection->Open("Data Source=" + platform::WindowsPath(database) + ";", "", "", 0);
      read(connection);
    } catch (const ado::ComError& error) {
      throw std::runtime_error(std::string("cannot read ") + what + " of " + database.string() +
                               ": " + error.Description());
    }
  }
}

bool IsHostName(std::string_view text) {
  if (text.empty() || text.size() > 253 || text.front() == '.' || text.back() == '.') return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') {
      return false;
    }
  }
  return true;
}

struct CommandRow {
  char CurrentUserCommand[50];
  static std::span<const ado::FieldBinding> Bindings() {
    static const ado::FieldBinding kFields[] = {
        ADO_TEXT_FIELD(CommandRow, 9, CurrentUserCommand, false)};
    return kFields;
  }
};

}  // namespace

std::vector<std::string> FreeSiteRows(const std::vector<std::string>& filter_paths) {
  std::vector<std::string> rows;
  ForEachDatabase(filter_paths, "the free sites", [&](const ado::ConnectionPtr& connection) {
    ado::RecordsetPtr sites = ado::CreateRecordset();
    sites->Open("tblPages", connection, ado::adOpenKeyset, ado::adLockOptimistic, ado::adCmdTable);
    SiteRow row{};
    sites->QueryBinding()->BindToRecordset(&row);
    for (sites->MoveFirst(); !sites->IsEOF(); sites->MoveNext()) rows.emplace_back(row.PageName);
  });
  return rows;
}

std::vector<std::string> TimeLeftHosts(const std::vector<std::string>& filter_paths) {
  std::vector<std::string> hosts;
  ForEachDatabase(filter_paths, "the settings", [&](const ado::ConnectionPtr& connection) {
    ado::RecordsetPtr settings = ado::CreateRecordset();
    settings->Open("FilterSettings", connection, ado::adOpenKeyset, ado::adLockOptimistic,
                   ado::adCmdTable);
    CommandRow row{};
    settings->QueryBinding()->BindToRecordset(&row);
    settings->MoveFirst();
    if (settings->IsEOF()) return;
    const std::string command = platform::LowerAscii(platform::Trim(std::string_view(
        row.CurrentUserCommand, strnlen(row.CurrentUserCommand, sizeof row.CurrentUserCommand))));
    // Only a plain host name goes into squid.conf; the filter still answers any other command.
    if (!IsHostName(command)) return;
    if (std::find(hosts.begin(), hosts.end(), command) == hosts.end()) hosts.push_back(command);
  });
  return hosts;
}

}  // namespace squid
