// The report queries. History's key leads with the day, so a range reads only its days, in
// (day, user, start) order; the sums are added up here while the rows stream by (SQLite's
// GROUP BY would group or sort millions of rows first, at several times the cost).
#include "store/reports.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/ado_admin.h"
#include "store/schema.h"
#include "store/usage.h"

namespace store {
namespace {

// " FROM History WHERE" the rows of the period: ?1 and ?2 are its days, ?3 its user if it has one.
std::string InPeriod(const Period& period) {
  return std::string(" FROM History WHERE Day BETWEEN ?1 AND ?2 AND ") + kCountedMinutes +
         (period.user.empty() ? "" : " AND UserName = ?3");
}

std::vector<ado::Parameter> Bound(const Period& period) {
  if (period.user.empty()) return {period.first_day, period.last_day};
  return {period.first_day, period.last_day, period.user};
}

std::int64_t Integer(const ado::Parameter& value) {
  const auto* number = std::get_if<std::int64_t>(&value);
  return number != nullptr ? *number : 0;
}
const std::string& Text(const ado::Parameter& value) {
  static const std::string kEmpty;
  const auto* text = std::get_if<std::string>(&value);
  return text != nullptr ? *text : kEmpty;
}

bool HasHistory(const ado::ConnectionPtr& connection) { return HasTable(connection, "History"); }

std::unordered_map<std::int64_t, std::string> HostNames(const ado::ConnectionPtr& connection) {
  std::unordered_map<std::int64_t, std::string> names;
  if (!HasTable(connection, "HistoryHosts")) return names;
  ado::QueryRows(
      connection, "SELECT ID, Name FROM HistoryHosts", {},
      [&](const std::vector<ado::Parameter>& row) { names[Integer(row[0])] = Text(row[1]); });
  return names;
}

}  // namespace

std::vector<DayUsage> UsageByDay(const ado::ConnectionPtr& connection, const Period& period) {
  std::vector<DayUsage> usage;
  if (!HasHistory(connection)) return usage;
  // The key's order: a day's rows of one user come together.
  ado::ScanRows(connection,
                "SELECT Day, UserName, Minutes" + InPeriod(period) + " ORDER BY Day, UserName",
                Bound(period), [&](const ado::RowView& row) {
                  const long long day = row.Integer(0);
                  const std::string_view user = row.Text(1);
                  if (usage.empty() || usage.back().day != day || usage.back().user != user)
                    usage.push_back({day, std::string(user), 0});
                  usage.back().minutes += row.Integer(2);
                });
  return usage;
}

std::vector<UserUsage> UsageByUser(const ado::ConnectionPtr& connection, const Period& period) {
  if (!HasHistory(connection)) return {};
  std::map<std::string, UserUsage, std::less<>> users;
  UserUsage* user = nullptr;  // of the last row
  long long last_day = 0;
  ado::ScanRows(
      connection, "SELECT Day, UserName, Minutes" + InPeriod(period) + " ORDER BY Day, UserName",
      Bound(period), [&](const ado::RowView& row) {
        const long long day = row.Integer(0);
        const std::string_view name = row.Text(1);
        if (user == nullptr || day != last_day || user->user != name) {
          auto found = users.find(name);
          if (found == users.end())
            found = users.emplace(std::string(name), UserUsage{std::string(name), 0, 0, {}}).first;
          user = &found->second;
          last_day = day;
          ++user->days;
        }
        user->minutes += row.Integer(2);
      });
  if (users.empty()) return {};
  ado::ScanRows(connection, "SELECT UserName, MaxInternetTime FROM Users", {},
                [&](const ado::RowView& row) {
                  const auto found = users.find(row.Text(0));
                  if (found != users.end()) found->second.allowance = row.Integer(1);
                });
  std::vector<UserUsage> usage;
  usage.reserve(users.size());
  for (auto& entry : users) usage.push_back(std::move(entry.second));
  return usage;
}

std::vector<SiteUsage> UsageBySite(const ado::ConnectionPtr& connection, const Period& period) {
  if (!HasHistory(connection)) return {};
  // Hosts are row ids, so mostly dense: their totals sit in a vector by host number, the rare
  // far one in a map. Users get numbers in the order met; a user's rows of a day come together.
  struct Totals {
    std::int64_t minutes = 0;
    std::int64_t users = 0;
    std::vector<bool> seen;  // by user number
  };
  constexpr std::int64_t kDense = 1 << 20;
  std::vector<Totals> dense;
  std::map<std::int64_t, Totals> sparse;
  std::unordered_map<std::string, std::uint32_t> user_numbers;
  std::string last_user;
  std::uint32_t last_number = 0;
  ado::ScanRows(
      connection, "SELECT UserName, Host, Minutes" + InPeriod(period) + " ORDER BY Day, UserName",
      Bound(period), [&](const ado::RowView& row) {
        const std::string_view user = row.Text(0);
        if (user != last_user || user_numbers.empty()) {
          last_user = user;
          last_number =
              user_numbers.try_emplace(last_user, static_cast<std::uint32_t>(user_numbers.size()))
                  .first->second;
        }
        const std::int64_t host = row.Integer(1);
        Totals* totals = nullptr;
        if (host >= 0 && host < kDense) {
          if (static_cast<std::size_t>(host) >= dense.size())
            dense.resize(static_cast<std::size_t>(host) + 1);
          totals = &dense[static_cast<std::size_t>(host)];
        } else {
          totals = &sparse[host];
        }
        totals->minutes += row.Integer(2);
        if (last_number >= totals->seen.size()) totals->seen.resize(last_number + 1);
        if (!totals->seen[last_number]) {
          totals->seen[last_number] = true;
          ++totals->users;
        }
      });
  const auto names = HostNames(connection);
  std::vector<SiteUsage> usage;
  const auto add = [&](std::int64_t host, const Totals& totals) {
    if (totals.users == 0) return;
    const auto name = names.find(host);
    usage.push_back(
        {host == 0 || name == names.end() ? "" : name->second, totals.minutes, totals.users});
  };
  for (std::size_t host = 0; host < dense.size(); ++host)
    add(static_cast<std::int64_t>(host), dense[host]);
  for (const auto& [host, totals] : sparse) add(host, totals);
  std::sort(usage.begin(), usage.end(), [](const SiteUsage& a, const SiteUsage& b) {
    return a.minutes != b.minutes ? a.minutes > b.minutes : a.site < b.site;
  });
  return usage;
}

std::vector<HourUsage> UsageByHour(const ado::ConnectionPtr& connection, const Period& period) {
  if (!HasHistory(connection)) return {};
  std::int64_t hours[24] = {};
  bool any = false;
  ado::ScanRows(connection, "SELECT Start, Minutes" + InPeriod(period), Bound(period),
                [&](const ado::RowView& row) {
                  std::int64_t start = std::clamp<std::int64_t>(row.Integer(0), 0, 24 * 60 - 1);
                  std::int64_t left = row.Integer(1);
                  any = any || left > 0;
                  // Minutes past midnight (a clock set back added them to a run) stay in 23.
                  while (left > 0) {
                    const std::int64_t hour = std::min<std::int64_t>(start / 60, 23);
                    const std::int64_t in_hour =
                        hour == 23 ? left : std::min(left, (hour + 1) * 60 - start);
                    hours[hour] += in_hour;
                    start += in_hour;
                    left -= in_hour;
                  }
                });
  if (!any) return {};
  std::vector<HourUsage> usage;
  for (int hour = 0; hour < 24; ++hour) usage.push_back({hour, hours[hour]});
  return usage;
}

std::vector<Run> UserDay(const ado::ConnectionPtr& connection, const std::string& user,
                         long long day) {
  std::vector<Run> runs;
  if (!HasHistory(connection)) return runs;
  const bool hosts = HasTable(connection, "HistoryHosts");
  ado::QueryRows(
      connection,
      std::string("SELECT Start, Minutes, ") +
          (hosts ? "(SELECT Name FROM HistoryHosts WHERE ID = Host AND Host != 0)" : "''") +
          " FROM History WHERE Day = ?1 AND UserName = ?2 AND " + kCountedMinutes +
          " ORDER BY Start",
      {day, user}, [&](const std::vector<ado::Parameter>& row) {
        runs.push_back({static_cast<int>(Integer(row[0])), Integer(row[1]), Text(row[2])});
      });
  return runs;
}

bool KnownUser(const ado::ConnectionPtr& connection, const std::string& user,
               const Period& period) {
  if (ado::QueryInteger(connection, "SELECT count(*) FROM Users WHERE UserName = ?1", {user}, 0) >
      0) {
    return true;
  }
  if (!HasHistory(connection)) return false;
  Period of_user = period;
  of_user.user = user;
  return ado::QueryInteger(connection, "SELECT 1" + InPeriod(of_user) + " LIMIT 1", Bound(of_user),
                           0) != 0;
}

std::vector<AuditRow> ReadAudit(const ado::ConnectionPtr& connection,
                                std::optional<long long> from_day, const std::string& user) {
  std::vector<AuditRow> rows;
  if (!HasTable(connection, "Audit")) return rows;
  // A user's changes follow the user through renames: read back from the newest, a rename to
  // one of the user's names adds the name it came from, for the rows before it; the user's
  // add-user ends the search.
  ado::QueryRows(connection,
                 "SELECT At, Who, Command, Target, OldValue, NewValue, Reason FROM Audit"
                 " WHERE ?1 = '' OR At >= ?2 OR Command = 'rename-user' ORDER BY ID DESC",
                 {user, from_day ? DayText(*from_day) : std::string()},
                 [&](const std::vector<ado::Parameter>& row) {
                   rows.push_back({Text(row[0]), Text(row[1]), Text(row[2]), Text(row[3]),
                                   Text(row[4]), Text(row[5]), Text(row[6])});
                 });
  const std::string from = from_day ? DayText(*from_day) : std::string();
  std::set<std::string> names = {user};
  std::vector<AuditRow> kept;
  for (AuditRow& row : rows) {
    bool mine = user.empty() || names.count(row.target) != 0;
    if (!user.empty() && row.command == "rename-user" && names.count(row.new_value) != 0) {
      mine = true;
      names.erase(row.new_value);  // before the rename, that name was somebody else's
      names.insert(row.target);
    } else if (mine && row.command == "add-user") {
      names.erase(row.target);  // the user began here; older rows of the name were another's
    }
    if (mine && row.at >= from) kept.push_back(std::move(row));
  }
  std::reverse(kept.begin(), kept.end());
  return kept;
}

}  // namespace store
