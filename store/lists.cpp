// Free sites, as a list.
#include "store/lists.h"

#include "platform/ado_admin.h"
#include "store/schema.h"

namespace store {
namespace {

std::string Text(const ado::Parameter& value) {
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr ? *text : std::to_string(std::get<std::int64_t>(value));
}

}  // namespace

std::vector<std::string> ReadFreeSites(const ado::ConnectionPtr& connection) {
  std::vector<std::string> sites;
  ado::QueryRows(connection, "SELECT PageName FROM tblPages ORDER BY rowid", {},
                 [&](const std::vector<ado::Parameter>& row) {
                   std::string site = Text(row[0]);
                   if (site.rfind(kFreeSitesPlaceholder, 0) != 0) sites.push_back(std::move(site));
                 });
  return sites;
}

}  // namespace store
