// Free sites and classes, as lists.
#include "store/lists.h"

#include "platform/ado_admin.h"
#include "store/schema.h"

namespace store {
namespace {

bool TableExists(const ado::ConnectionPtr& connection, const char* table) {
  return ado::QueryInteger(connection,
                           "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1",
                           {std::string(table)}, 0) > 0;
}

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

std::vector<ClassInfo> ReadClasses(const ado::ConnectionPtr& connection) {
  std::vector<ClassInfo> groups;
  if (!TableExists(connection, "ScheduleGroups") || !TableExists(connection, "GroupMembers")) {
    return groups;
  }
  ado::QueryRows(connection,
                 "SELECT g.Name, (SELECT count(*) FROM GroupMembers m WHERE m.GroupName = g.Name)"
                 " FROM ScheduleGroups g ORDER BY g.Name COLLATE NOCASE",
                 {}, [&](const std::vector<ado::Parameter>& row) {
                   ClassInfo group;
                   group.name = Text(row[0]);
                   const auto* count = std::get_if<std::int64_t>(&row[1]);
                   group.members = count != nullptr ? static_cast<long>(*count) : 0;
                   groups.push_back(std::move(group));
                 });
  return groups;
}

}  // namespace store
