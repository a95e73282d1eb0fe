// A user's page: today's figures, minutes per day as a chart, top sites, one day minute by
// minute, the class and the schedule that applies, and (for an administrator) every change.
#include <map>

#include "admin/charts.h"
#include "admin/html.h"
#include "platform/text.h"
#include "store/reports.h"
#include "store/schedule_admin.h"
#include "store/schedules.h"
#include "store/today.h"
#include "store/usage.h"

namespace admin {
namespace {

std::string Card(const Call& call, const char* label, const std::string& value) {
  return "<div class=\"card\"><div class=\"muted\">" + EscT(call, label) +
         "</div><div class=\"big\">" + Esc(value) + "</div></div>";
}

std::string WindowsText(const std::vector<store::Window>& windows) {
  std::string text;
  for (const store::Window& w : windows) {
    if (!text.empty()) text += ", ";
    text += std::string(store::WeekdayName(w.weekday)) + " " + store::MinuteText(w.start) + "-" +
            store::MinuteText(w.end);
  }
  return text;
}

// Whose windows apply: "own", "class" or "everyone".
std::string Source(const store::Schedule& schedule,
                   const std::map<std::string, std::vector<store::Window>, std::less<>>& windows,
                   const std::string& user) {
  if (windows.count(user) != 0) return "the user's own";
  if (auto group = schedule.group_of.find(user);
      group != schedule.group_of.end() && windows.count(group->second) != 0) {
    return "the class's";
  }
  return "everyone's";
}

}  // namespace

void PageUser(Console::Impl& console, Call& call) {
  const std::string name = call.Segment(1);
  store::UserToday today;
  std::vector<store::DayUsage> days;
  std::vector<store::SiteUsage> sites;
  std::vector<store::Run> runs;
  store::Schedule schedule;
  long max_internet_time = 0;
  std::vector<std::string> class_names;
  const long long day_now = store::LocalDayNumber(call.now);
  const long span = call.Query("days") == "30" ? 30 : 7;
  long long date = day_now;
  if (!call.Query("date").empty()) {
    const auto parsed = store::ParseDay(call.Query("date"));
    if (!parsed) throw HttpError(400, "The date is not a date that exists; give it as YYYY-MM-DD.");
    date = *parsed;
  }
  {
    auto connection = console.pool.Borrow();
    const bool found = store::ReadUserToday(*connection, name, call.now, today);
    if (!found || !call.MaySee(today.group)) {
      throw HttpError(call.admin() ? 404 : 403, call.admin()
                                                    ? "There is no such user."
                                                    : "This user is not in one of your classes.");
    }
    store::Period period;
    period.user = today.user;
    period.last_day = day_now;
    period.first_day = day_now - span + 1;
    days = store::UsageByDay(*connection, period);
    sites = store::UsageBySite(*connection, period);
    runs = store::UserDay(*connection, today.user, date);
    schedule = store::ReadSchedule(*connection);
    if (call.admin()) {
      for (const auto& group : store::ReadGroups(*connection)) class_names.push_back(group.name);
    }
    max_internet_time = today.max_internet_time;
  }
  const std::string path = UserPath(today.user);
  std::string body = "<div class=\"cards\">";
  body += Card(call, "Class", today.group.empty() ? call.T("none") : today.group);
  body += Card(call, "Allowance today", MinutesText(call, today.allowance));
  body += Card(call, "Used", std::to_string(today.used));
  body += Card(call, "Extra", std::to_string(today.extra));
  body += Card(call, "Left", MinutesText(call, today.left));
  body +=
      Card(call, "Last request", today.last < 0 ? call.T("never") : store::MinuteText(today.last));
  body += "</div>\n";

  body += "<h2>" + EscT(call, "More or fewer minutes today") + "</h2>\n<div class=\"panel bar\">";
  const std::string reason = "<label>" + EscT(call, call.admin() ? "Reason (optional)" : "Reason") +
                             " <input name=\"reason\" maxlength=\"1000\"" +
                             (call.admin() ? "" : " required") + "></label>";
  body +=
      PostForm(call, "/api/users/" + PercentEncode(today.user) + "/minutes",
               "<label>" + EscT(call, "Minutes (negative to take)") +
                   " <input name=\"add\" type=\"number\" value=\"15\" required></label>" + reason,
               EscT(call, "Change"), path, "bar");
  body += "</div>\n";

  std::map<long long, long long> per_day;
  for (const auto& row : days) per_day[row.day] += row.minutes;
  std::vector<Bar> bars;
  for (long long day = day_now - span + 1; day <= day_now; ++day) {
    bars.push_back({store::DayText(day).substr(5), per_day[day]});
  }
  body += "<h2>" + EscT(call, "Minutes per day") + "</h2>\n<p>";
  body += span == 7 ? "<strong>" + EscT(call, "7 days") + "</strong> · <a href=\"" +
                          Esc(path + "?days=30") + "\">" + EscT(call, "30 days") + "</a>"
                    : "<a href=\"" + Esc(path + "?days=7") + "\">" + EscT(call, "7 days") +
                          "</a> · <strong>" + EscT(call, "30 days") + "</strong>";
  body += "</p>\n" + ColumnChart(bars, call.T("Minutes per day")) + "\n";

  body += "<h2>" + EscT(call, "Top sites") + "</h2>\n";
  if (sites.empty()) {
    body += "<p class=\"muted\">" + EscT(call, "no usage") + "</p>\n";
  } else {
    std::vector<Bar> site_bars;
    for (const auto& site : sites) {
      site_bars.push_back({site.site.empty() ? call.T("(not recorded)") : site.site, site.minutes});
      if (site_bars.size() == 10) break;
    }
    body += BarChart(site_bars, call.T("Top sites")) + "\n";
  }

  body += "<h2>" + EscT(call, "One day minute by minute") + "</h2>\n";
  body += "<form class=\"bar\" method=\"get\" action=\"" + Esc(path) + "\"><label>" +
          EscT(call, "Date") + " <input type=\"date\" name=\"date\" value=\"" +
          store::DayText(date) + "\"></label><button type=\"submit\">" + EscT(call, "Show") +
          "</button></form>\n";
  if (runs.empty()) {
    body += "<p class=\"muted\">" + EscT(call, "no usage") + "</p>\n";
  } else {
    std::vector<Stretch> stretches;
    std::string table = "<table><thead><tr><th>" + EscT(call, "From") + "</th><th>" +
                        EscT(call, "To") + "</th><th class=\"number\">" + EscT(call, "Minutes") +
                        "</th><th>" + EscT(call, "Site") + "</th></tr></thead><tbody>";
    for (const auto& run : runs) {
      const int end = run.start + static_cast<int>(run.minutes);
      const std::string site = run.site.empty() ? call.T("(not recorded)") : run.site;
      stretches.push_back(
          {run.start, static_cast<int>(run.minutes),
           store::MinuteText(run.start) + "-" + store::MinuteText(end) + " " + site});
      table += "<tr><td>" + store::MinuteText(run.start) + "</td><td>" + store::MinuteText(end) +
               "</td><td class=\"number\">" + std::to_string(run.minutes) + "</td><td>" +
               Esc(site) + "</td></tr>";
    }
    body += DayChart(stretches, call.T("One day minute by minute")) + "\n" + table +
            "</tbody></table>\n";
  }

  body += "<h2>" + EscT(call, "Schedule") + "</h2>\n<table><thead><tr><th>" +
          EscT(call, "Weekday") + "</th><th class=\"number\">" + EscT(call, "Allowance") +
          "</th></tr></thead><tbody>";
  for (int weekday = 0; weekday < 7; ++weekday) {
    body += "<tr><td>" + EscT(call, store::WeekdayName(weekday)) + "</td><td class=\"number\">" +
            Esc(MinutesText(call,
                            store::AllowanceOn(schedule, today.user, weekday, max_internet_time))) +
            "</td></tr>";
  }
  body += "</tbody></table>\n";
  const auto* allowed = store::WindowsOf(schedule, schedule.allowed, today.user);
  const auto* free = store::WindowsOf(schedule, schedule.free, today.user);
  body += "<p>" + EscT(call, "Allowed hours") + ": " +
          (allowed ? Esc(WindowsText(*allowed)) + " <span class=\"muted\">(" +
                         EscT(call, Source(schedule, schedule.allowed, today.user)) + ")</span>"
                   : EscT(call, "any time")) +
          "</p>\n";
  body += "<p>" + EscT(call, "Free hours") + ": " +
          (free ? Esc(WindowsText(*free)) + " <span class=\"muted\">(" +
                      EscT(call, Source(schedule, schedule.free, today.user)) + ")</span>"
                : EscT(call, "none")) +
          "</p>\n";

  if (call.admin()) {
    const std::string base = "/api/users/" + PercentEncode(today.user);
    body += "<h2>" + EscT(call, "The user's own schedule") + "</h2>\n" +
            ScheduleForms(call, today.user, {}, path);
    body += "<h2>" + EscT(call, "Change the user") + "</h2>\n<div class=\"panel\">\n";
    body += PostForm(call, base + "/group", ClassChoice(call, class_names, today.group),
                     EscT(call, "Set the class"), path, "bar");
    body += PostForm(call, base + "/allowance",
                     "<label>" + EscT(call, "Allowance per period (-1 unlimited)") +
                         " <input name=\"minutes\" type=\"number\" min=\"-1\" value=\"" +
                         std::to_string(max_internet_time) + "\" required></label>",
                     EscT(call, "Set allowance"), path, "bar");
    body += PostForm(call, base + "/reset", "", EscT(call, "Reset today"), path, "bar");
    body += PostForm(call, base + "/rename",
                     "<label>" + EscT(call, "New name") + " <input name=\"to\" required></label>",
                     EscT(call, "Rename"), "/users", "bar");
    body += "<form method=\"post\" action=\"" + Esc(base + "/remove") +
            "\" class=\"bar\" data-confirm=\"" + EscT(call, "Remove this user?") +
            "\"><input type=\"hidden\" name=\"csrf\" value=\"" + Esc(call.session->csrf) +
            "\"><input type=\"hidden\" name=\"back\" value=\"/users\"><button type=\"submit\" "
            "class=\"danger\">" +
            EscT(call, "Remove the user") + "</button></form>\n</div>\n";
  }
  SendHtml(call, 200, Frame(call, "user", today.user, body));
}

}  // namespace admin
