// The administrator's pages: users and classes, free sites, settings, reports and the audit.
// Each change is a form that carries the session's token and posts to the API.
#include <map>
#include <set>

#include "admin/charts.h"
#include "admin/html.h"
#include "platform/text.h"
#include "store/admin.h"
#include "store/lists.h"
#include "store/report_format.h"
#include "store/reports.h"
#include "store/schedule_admin.h"
#include "store/schedules.h"
#include "store/today.h"
#include "store/usage.h"

namespace admin {
namespace {

std::string Input(const Call& call, const char* label, const std::string& name,
                  const std::string& attributes = {}) {
  return "<label>" + EscT(call, label) + " <input name=\"" + name + "\"" + attributes + "></label>";
}

std::string HiddenField(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + name + "\" value=\"" + Esc(value) + "\">";
}

// The settings that are switches, shown as a choice of yes and no.
bool IsSwitch(const std::string& name) {
  static const std::set<std::string, platform::NoCaseLess> kSwitches = {
      "ResetDaily",  "ResetWeekly",  "ResetMonthly", "ShowStartMessage",
      "WarningMode", "UsersChanged", "HistoryHosts"};
  return kSwitches.count(name) != 0;
}

// What each setting does, for the page.
const char* SettingHelp(const std::string& name) {
  static const std::map<std::string, const char*, platform::NoCaseLess> kHelp = {
      {"ResetDaily", "Used minutes start again every day."},
      {"ResetWeekly", "Used minutes start again every week."},
      {"ResetMonthly", "Used minutes start again every month."},
      {"ShowStartMessage", "Show the time-left page at the start of a browsing period."},
      {"DeniedMessage", "The text of the page a user out of minutes sees."},
      {"UsersChanged", "Set by every change, so that the filter reads the users again."},
      {"IdleGapMinutes", "Minutes without a request that end a browsing period."},
      {"CurrentUserCommand", "The host name that shows a user the time left (http://NAME/)."},
      {"ServerPort", "The port of the web server with the product's page."},
      {"WarningMode", "Warn once instead of denying."},
      {"HistoryDays", "Days of history kept (0 keeps none)."},
      {"HistoryHosts", "Whether history names the site of each minute."},
  };
  const auto found = kHelp.find(name);
  return found == kHelp.end() ? "" : found->second;
}

}  // namespace

void PageUsers(Console::Impl& console, Call& call) {
  std::vector<store::UserToday> users;
  std::vector<store::GroupSummary> groups;
  std::map<std::string, std::string> own_schedules;
  {
    auto connection = console.pool.Borrow();
    users = store::ReadToday(*connection, call.now);
    groups = store::ReadGroups(*connection);
    own_schedules = store::ReadOwnSchedules(*connection);
  }
  std::vector<std::string> names;
  for (const auto& group : groups) names.push_back(group.name);
  std::string body = "<h2>" + EscT(call, "Add a user") + "</h2>\n<div class=\"panel\">";
  body +=
      PostForm(call, "/api/users",
               Input(call, "Login name (without domain)", "name", " required maxlength=\"59\"") +
                   Input(call, "Allowance per period (-1 unlimited)", "allowance",
                         " type=\"number\" min=\"-1\" value=\"60\" required") +
                   ClassChoice(call, names, ""),
               EscT(call, "Add"), "/users", "bar");
  body += "</div>\n<h2>" + EscT(call, "Users") + "</h2>\n";
  body += "<table><thead><tr><th>" + EscT(call, "User") + "</th><th>" + EscT(call, "Class") +
          "</th><th class=\"number\">" + EscT(call, "Allowance per period") +
          "</th><th class=\"number\">" + EscT(call, "Allowance today") + "</th><th>" +
          EscT(call, "Own schedule") + "</th></tr></thead><tbody>\n";
  for (const auto& user : users) {
    const auto own = own_schedules.find(user.user);
    body +=
        "<tr><td><a href=\"" + Esc(UserPath(user.user)) + "\">" + Esc(user.user) + "</a></td><td>" +
        PostForm(call, "/api/users/" + PercentEncode(user.user) + "/group",
                 ClassChoice(call, names, user.group, false), EscT(call, "Save"), "/users", "bar") +
        "</td><td class=\"number\">" + Esc(MinutesText(call, user.max_internet_time)) +
        "</td><td class=\"number\">" + Esc(MinutesText(call, user.allowance)) + "</td><td>" +
        (own == own_schedules.end() ? "" : Esc(own->second)) + "</td></tr>\n";
  }
  body += "</tbody></table>\n<h2>" + EscT(call, "Classes") + "</h2>\n<div class=\"panel\">";
  body +=
      PostForm(call, "/api/groups", Input(call, "New class", "name", " required maxlength=\"59\""),
               EscT(call, "Add"), "/users", "bar");
  body += "</div>\n";
  if (groups.empty()) {
    body += "<p class=\"muted\">" + EscT(call, "No classes yet.") + "</p>\n";
  } else {
    body += "<table><thead><tr><th>" + EscT(call, "Class") + "</th><th class=\"number\">" +
            EscT(call, "Members") + "</th><th>" + EscT(call, "Schedule") +
            "</th><th></th></tr></thead><tbody>\n";
    for (const auto& group : groups) {
      body += "<tr><td><a href=\"/today?group=" + Esc(PercentEncode(group.name)) + "\">" +
              Esc(group.name) + "</a></td><td class=\"number\">" + std::to_string(group.members) +
              "</td><td>" + Esc(group.schedule) +
              "</td><td class=\"actions\"><form method=\"post\" action=\"" +
              Esc("/api/groups/" + PercentEncode(group.name) + "/remove") +
              "\" class=\"inline\" data-confirm=\"" + EscT(call, "Remove this class?") +
              "\"><input type=\"hidden\" name=\"csrf\" value=\"" + Esc(call.session->csrf) +
              "\"><input type=\"hidden\" name=\"back\" value=\"/users\"><button type=\"submit\" "
              "class=\"danger\">" +
              EscT(call, "Remove") + "</button></form></td></tr>\n";
    }
    body += "</tbody></table>\n";
  }
  if (const auto everyone = own_schedules.find(store::kEveryone); everyone != own_schedules.end()) {
    body += "<p>" + EscT(call, "Everyone's schedule") + ": " + Esc(everyone->second) + "</p>\n";
  }
  std::vector<std::string> owners = {store::kEveryone};
  for (const auto& name : names) owners.push_back("@" + name);
  body += "<h2>" + EscT(call, "Schedules") + "</h2>\n" + ScheduleForms(call, "", owners, "/users");
  SendHtml(call, 200, Frame(call, "users", call.T("Users and classes"), body));
}

void PageSites(Console::Impl& console, Call& call) {
  std::vector<std::string> sites;
  {
    auto connection = console.pool.Borrow();
    sites = store::ReadFreeSites(*connection);
  }
  std::string body = "<p class=\"muted\">" +
                     EscT(call,
                          "A free site costs no minutes. A host (example.org) frees that host "
                          "and its subdomains; a text frees every address that contains it, "
                          "query strings included.") +
                     "</p>\n<div class=\"panel\">";
  body += PostForm(call, "/api/sites/add",
                   Input(call, "Host or text", "site", " required maxlength=\"254\"") + "<label>" +
                       EscT(call, "Match") + " <select name=\"host\"><option value=\"yes\">" +
                       EscT(call, "by host") + "</option><option value=\"no\">" +
                       EscT(call, "anywhere in the address") + "</option></select></label>",
                   EscT(call, "Add"), "/sites", "bar");
  body += "</div>\n<table><thead><tr><th>" + EscT(call, "Free site") +
          "</th><th></th></tr></thead><tbody>\n";
  for (const std::string& site : sites) {
    body +=
        "<tr><td>" + Esc(site) + "</td><td class=\"actions\">" +
        PostForm(call, "/api/sites/remove", HiddenField("site", site) + HiddenField("host", "no"),
                 EscT(call, "Remove"), "/sites", "inline") +
        "</td></tr>\n";
  }
  if (sites.empty()) {
    body +=
        "<tr><td colspan=\"2\" class=\"muted\">" + EscT(call, "No free sites.") + "</td></tr>\n";
  }
  body += "</tbody></table>\n";
  SendHtml(call, 200, Frame(call, "sites", call.T("Free sites"), body));
}

void PageSettings(Console::Impl& console, Call& call) {
  std::vector<std::pair<std::string, std::string>> settings;
  {
    auto connection = console.pool.Borrow();
    settings = store::ReadSettings(*connection);
  }
  std::string body = "<table><thead><tr><th>" + EscT(call, "Setting") + "</th><th>" +
                     EscT(call, "Value") + "</th></tr></thead><tbody>\n";
  for (const auto& [name, value] : settings) {
    std::string field;
    if (IsSwitch(name)) {
      const bool yes = value == "yes";
      field = "<select name=\"value\" aria-label=\"" + Esc(name) + "\"><option value=\"yes\"" +
              (yes ? " selected" : "") + ">" + EscT(call, "yes") + "</option><option value=\"no\"" +
              (yes ? "" : " selected") + ">" + EscT(call, "no") + "</option></select>";
    } else {
      field = "<input name=\"value\" aria-label=\"" + Esc(name) + "\" value=\"" + Esc(value) +
              "\" size=\"40\">";
    }
    body += "<tr><td><strong>" + Esc(name) + "</strong><br><span class=\"muted\">" +
            EscT(call, SettingHelp(name)) + "</span></td><td>" +
            PostForm(call, "/api/settings", HiddenField("key", name) + field, EscT(call, "Save"),
                     "/settings", "bar") +
            "</td></tr>\n";
  }
  body += "</tbody></table>\n";
  SendHtml(call, 200, Frame(call, "settings", call.T("Settings"), body));
}

void PageReports(Console::Impl& console, Call& call) {
  const long long today = store::LocalDayNumber(call.now);
  store::Report report;
  const std::string by = call.Query("by", "day");
  report.by = by == "user"   ? store::ReportBy::kUser
              : by == "site" ? store::ReportBy::kSite
              : by == "hour" ? store::ReportBy::kHour
                             : store::ReportBy::kDay;
  const auto day_of = [&](const char* name, long long fallback) {
    const std::string text = call.Query(name);
    if (text.empty()) return fallback;
    const auto day = store::ParseDay(text);
    if (!day) throw HttpError(400, "The date is not a date that exists; give it as YYYY-MM-DD.");
    return *day;
  };
  report.period.last_day = day_of("to", today);
  report.period.first_day = day_of("from", report.period.last_day - 6);
  if (report.period.first_day > report.period.last_day) {
    throw HttpError(400, "The first day is after the last.");
  }
  report.period.user = platform::UpperAscii(platform::Trim(call.Query("user")));
  {
    auto connection = console.pool.Borrow();
    store::FillReport(*connection, report);
  }
  const std::string by_name = store::ReportBy::kUser == report.by   ? "user"
                              : store::ReportBy::kSite == report.by ? "site"
                              : store::ReportBy::kHour == report.by ? "hour"
                                                                    : "day";
  const std::string from = store::DayText(report.period.first_day);
  const std::string to = store::DayText(report.period.last_day);
  std::string body = "<form class=\"bar\" method=\"get\" action=\"/reports\"><label>" +
                     EscT(call, "By") + " <select name=\"by\">";
  for (const char* choice : {"day", "user", "site", "hour"}) {
    body += std::string("<option value=\"") + choice + "\"" +
            (by_name == choice ? " selected" : "") + ">" + EscT(call, choice) + "</option>";
  }
  body +=
      "</select></label>" + Input(call, "From", "from", " type=\"date\" value=\"" + from + "\"") +
      Input(call, "To", "to", " type=\"date\" value=\"" + to + "\"") +
      Input(call, "User (all when empty)", "user", " value=\"" + Esc(report.period.user) + "\"") +
      "<button type=\"submit\">" + EscT(call, "Show") + "</button></form>\n";
  std::string query = "by=" + by_name + "&from=" + from + "&to=" + to;
  if (!report.period.user.empty()) query += "&user=" + PercentEncode(report.period.user);
  body += "<p><a href=\"" + Esc("/api/report?" + query + "&format=csv") + "\" download>" +
          EscT(call, "Download CSV") + "</a> · <a href=\"" +
          Esc("/api/report?" + query + "&format=html&lang=" + LangCode(call.lang)) + "\">" +
          EscT(call, "Printable page") + "</a></p>\n";
  if (store::IsEmpty(report)) {
    body += "<p class=\"muted\">" + EscT(call, "no usage") + "</p>\n";
    SendHtml(call, 200, Frame(call, "reports", call.T("Reports"), body));
    return;
  }
  std::vector<Bar> bars;
  std::string table = "<table><thead><tr>";
  const auto heads = [&](std::initializer_list<std::pair<const char*, bool>> columns) {
    for (const auto& [name, number] : columns) {
      table += std::string("<th") + (number ? " class=\"number\"" : "") + ">" + EscT(call, name) +
               "</th>";
    }
    table += "</tr></thead><tbody>\n";
  };
  const auto number = [](long long value) {
    return "<td class=\"number\">" + std::to_string(value) + "</td>";
  };
  long long total = 0;
  switch (report.by) {
    case store::ReportBy::kDay: {
      heads({{"Date", false}, {"User", false}, {"Minutes", true}});
      std::map<long long, long long> per_day;
      for (const auto& row : report.days) {
        per_day[row.day] += row.minutes;
        total += row.minutes;
        table += "<tr><td>" + store::DayText(row.day) + "</td><td>" + Esc(row.user) + "</td>" +
                 number(row.minutes) + "</tr>\n";
      }
      for (long long day = report.period.first_day; day <= report.period.last_day; ++day) {
        bars.push_back({store::DayText(day).substr(5), per_day[day]});
      }
      break;
    }
    case store::ReportBy::kUser:
      heads({{"User", false}, {"Minutes", true}, {"Days", true}, {"Allowance", true}});
      for (const auto& row : report.users) {
        total += row.minutes;
        bars.push_back({row.user, row.minutes});
        table += "<tr><td>" + Esc(row.user) + "</td>" + number(row.minutes) + number(row.days) +
                 "<td class=\"number\">" +
                 (row.allowance ? Esc(MinutesText(call, static_cast<long>(*row.allowance)))
                                : EscT(call, "(removed)")) +
                 "</td></tr>\n";
      }
      break;
    case store::ReportBy::kSite:
      heads({{"Site", false}, {"Minutes", true}, {"Users", true}});
      for (const auto& row : report.sites) {
        total += row.minutes;
        const std::string site = row.site.empty() ? call.T("(not recorded)") : row.site;
        if (bars.size() < 20) bars.push_back({site, row.minutes});
        table +=
            "<tr><td>" + Esc(site) + "</td>" + number(row.minutes) + number(row.users) + "</tr>\n";
      }
      break;
    case store::ReportBy::kHour:
      heads({{"Hour", false}, {"Minutes", true}});
      for (const auto& row : report.hours) {
        total += row.minutes;
        bars.push_back({(row.hour < 10 ? "0" : "") + std::to_string(row.hour), row.minutes});
        table += "<tr><td>" + store::MinuteText(row.hour * 60) + "</td>" + number(row.minutes) +
                 "</tr>\n";
      }
      break;
  }
  table += "</tbody><tfoot><tr><th>" + EscT(call, "Total") + "</th>" +
           (report.by == store::ReportBy::kDay ? "<th></th>" : "") + "<th class=\"number\">" +
           std::to_string(total) + "</th></tr></tfoot></table>\n";
  const bool columns = report.by == store::ReportBy::kDay || report.by == store::ReportBy::kHour;
  if (report.by == store::ReportBy::kUser && bars.size() > 30) bars.resize(30);
  body += (columns ? ColumnChart(bars, call.T("Minutes")) : BarChart(bars, call.T("Minutes"))) +
          "\n" + table;
  SendHtml(call, 200, Frame(call, "reports", call.T("Reports"), body));
}

void PageAudit(Console::Impl& console, Call& call) {
  const long long today = store::LocalDayNumber(call.now);
  std::string from = call.Query("from", store::DayText(today - 30));
  const auto from_day = store::ParseDay(from);
  if (!from_day) throw HttpError(400, "The date is not a date that exists; give it as YYYY-MM-DD.");
  const std::string user = platform::UpperAscii(platform::Trim(call.Query("user")));
  std::vector<store::AuditRow> rows;
  {
    auto connection = console.pool.Borrow();
    rows = store::ReadAudit(*connection, *from_day, user);
  }
  std::string body = "<form class=\"bar\" method=\"get\" action=\"/audit\">" +
                     Input(call, "From", "from", " type=\"date\" value=\"" + Esc(from) + "\"") +
                     Input(call, "User (all when empty)", "user", " value=\"" + Esc(user) + "\"") +
                     "<button type=\"submit\">" + EscT(call, "Show") + "</button></form>\n";
  body += "<table><thead><tr><th>" + EscT(call, "When") + "</th><th>" + EscT(call, "Who") +
          "</th><th>" + EscT(call, "Change") + "</th><th>" + EscT(call, "Of") + "</th><th>" +
          EscT(call, "Before") + "</th><th>" + EscT(call, "After") + "</th><th>" +
          EscT(call, "Why") + "</th></tr></thead><tbody>\n";
  // Newest first: what an administrator looks for is what just happened.
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    body += "<tr><td>" + Esc(it->at) + "</td><td>" + Esc(it->who) + "</td><td>" + Esc(it->command) +
            "</td><td>" + Esc(it->target) + "</td><td>" + Esc(it->old_value) + "</td><td>" +
            Esc(it->new_value) + "</td><td>" + Esc(it->reason) + "</td></tr>\n";
  }
  if (rows.empty()) {
    body += "<tr><td colspan=\"7\" class=\"muted\">" + EscT(call, "No changes.") + "</td></tr>\n";
  }
  body += "</tbody></table>\n";
  SendHtml(call, 200, Frame(call, "audit", call.T("Audit"), body));
}

}  // namespace admin
