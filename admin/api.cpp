// The console's API: JSON over the store's reads and its change operations (the same code as
// minutrix-db's, with an audit row naming the console's user in each change's transaction).
#include <ctime>
#include <sstream>

#include "admin/console_internal.h"
#include "admin/html.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "store/admin.h"
#include "store/lists.h"
#include "store/report_format.h"
#include "store/reports.h"
#include "store/schedules.h"
#include "store/today.h"
#include "store/usage.h"

namespace admin {
namespace {

Json Nullable(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json TodayJson(const store::UserToday& row) {
  return Json{{"user", row.user},
              {"group", Nullable(row.group)},
              {"allowance", row.allowance},
              {"used", row.used},
              {"extra", row.extra},
              {"left", row.left},
              {"state", store::StateName(row.state)},
              {"last", row.last < 0 ? Json(nullptr) : Json(store::MinuteText(row.last))}};
}

store::Actor ActorOf(const Call& call) {
  store::Actor actor;
  actor.who = call.account->name;
  actor.reason = platform::Trim(call.Param("reason"), platform::kWhitespace);
  actor.program = "minutrix-admin";
  return actor;
}

Json DoneJson(const store::ChangeResult& result) {
  return Json{{"done", result.done}, {"warnings", result.warnings}};
}

// The user of the path (segment 2) as the board shows it; 404 for an administrator when there
// is none, 403 for a teacher when it is not in one of its classes (or there is none, which a
// teacher need not learn).
store::UserToday VisibleUser(const ado::ConnectionPtr& connection, const Call& call) {
  store::UserToday today;
  const bool found = store::ReadUserToday(connection, call.Segment(2), call.now, today);
  if (call.admin()) {
    if (!found) throw HttpError(404, "There is no such user.");
  } else if (!found || !call.MaySee(today.group)) {
    throw HttpError(403, "This user is not in one of your classes.");
  }
  return today;
}

long long DayParam(const std::string& text, const char* name, long long fallback) {
  if (text.empty()) return fallback;
  const auto day = store::ParseDay(text);
  if (!day) {
    throw HttpError(400, std::string(name) + " '" + store::Printable(text) +
                             "' is not a date that exists; give it as YYYY-MM-DD.");
  }
  return *day;
}

}  // namespace

void ApiSession(Console::Impl&, Call& call) {
  SendJson(call, 200,
           Json{{"user", call.account->name},
                {"role", RoleName(call.account->role)},
                {"csrf", call.session->csrf},
                {"groups", call.account->groups}});
}

void ApiToday(Console::Impl& console, Call& call) {
  const std::string group = call.Query("group");
  if (!group.empty() && !call.MaySee(group)) {
    throw HttpError(403, "This class is not one of yours.");
  }
  std::vector<store::UserToday> rows;
  {
    auto connection = console.pool.Borrow();
    rows = store::ReadToday(*connection, call.now);
  }
  // Written directly: the board of a large school is ten thousand rows, refreshed by every open
  // board, and a JSON tree of them costs more than reading them.
  std::string out = "[";
  for (const store::UserToday& row : rows) {
    if (!call.MaySee(row.group)) continue;
    if (!group.empty() && !platform::EqualsNoCase(row.group, group)) continue;
    if (out.size() > 1) out += ',';
    out += "{\"user\":" + store::JsonString(row.user) +
           ",\"group\":" + (row.group.empty() ? "null" : store::JsonString(row.group)) +
           ",\"allowance\":" + std::to_string(row.allowance) +
           ",\"used\":" + std::to_string(row.used) + ",\"extra\":" + std::to_string(row.extra) +
           ",\"left\":" + std::to_string(row.left) + ",\"state\":\"" + store::StateName(row.state) +
           "\",\"last\":" + (row.last < 0 ? "null" : "\"" + store::MinuteText(row.last) + "\"") +
           "}";
  }
  out += "]";
  call.response.status = 200;
  call.response.content_type = "application/json; charset=utf-8";
  call.response.body = std::move(out);
}

void ApiUser(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const store::UserToday today = VisibleUser(*connection, call);
  const long long day_now = store::LocalDayNumber(call.now);
  const long days = call.Query("days") == "30" ? 30 : 7;
  store::Period period;
  period.user = today.user;
  period.last_day = day_now;
  period.first_day = day_now - days + 1;
  Json out{{"user", TodayJson(today)}};
  Json per_day = Json::array();
  std::map<long long, std::int64_t> minutes;
  for (const auto& row : store::UsageByDay(*connection, period)) minutes[row.day] += row.minutes;
  for (long long day = period.first_day; day <= period.last_day; ++day) {
    per_day.push_back(Json{{"date", store::DayText(day)}, {"minutes", minutes[day]}});
  }
  out["days"] = per_day;
  Json sites = Json::array();
  for (const auto& site : store::UsageBySite(*connection, period)) {
    sites.push_back(Json{{"site", Nullable(site.site)}, {"minutes", site.minutes}});
    if (sites.size() == 10) break;
  }
  out["sites"] = sites;
  const long long date = DayParam(call.Query("date"), "date", day_now);
  Json runs = Json::array();
  for (const auto& run : store::UserDay(*connection, today.user, date)) {
    runs.push_back(Json{{"start", store::MinuteText(run.start)},
                        {"minutes", run.minutes},
                        {"site", Nullable(run.site)}});
  }
  out["day"] = Json{{"date", store::DayText(date)}, {"runs", runs}};
  SendJson(call, 200, out);
}

void ApiMinutes(Console::Impl& console, Call& call) {
  const std::string add = call.Param("add");
  if (add.empty()) throw HttpError(400, "Give the minutes to add (\"add\", negative to take).");
  const std::int64_t minutes = store::ParseInteger(add, "add");
  const store::Actor actor = ActorOf(call);
  auto connection = console.pool.Borrow();
  const std::string user = VisibleUser(*connection, call).user;
  if (!call.admin() && actor.reason.empty()) {
    throw HttpError(400, "Give a reason for the change.");
  }
  const store::ChangeResult result = store::AddMinutes(*connection, actor, user, minutes);
  Json out = DoneJson(result);
  store::UserToday after;
  if (store::ReadUserToday(*connection, user, call.now, after)) out["user"] = TodayJson(after);
  SendDone(call, out, "/today");
}

void ApiReset(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const std::string user = VisibleUser(*connection, call).user;
  const store::ChangeResult result = store::SetUsed(*connection, ActorOf(call), user, 0);
  Json out = DoneJson(result);
  store::UserToday after;
  if (store::ReadUserToday(*connection, user, call.now, after)) out["user"] = TodayJson(after);
  SendDone(call, out, "/today");
}

void ApiAddUser(Console::Impl& console, Call& call) {
  const std::string name = call.Param("name");
  const std::string allowance = call.Param("allowance");
  if (allowance.empty()) throw HttpError(400, "Give the allowance in minutes (-1 for unlimited).");
  auto connection = console.pool.Borrow();
  const auto result =
      store::AddUser(*connection, ActorOf(call), name, store::ParseInteger(allowance, "allowance"),
                     // the form's "no class"
                     call.Param("group") == "-" ? "" : platform::Trim(call.Param("group")));
  SendDone(call, DoneJson(result), "/users");
}

void ApiRenameUser(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result =
      store::RenameUser(*connection, ActorOf(call), call.Segment(2), call.Param("to"));
  SendDone(call, DoneJson(result), "/users");
}

void ApiRemoveUser(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result = store::RemoveUser(*connection, ActorOf(call), call.Segment(2));
  SendDone(call, DoneJson(result), "/users");
}

void ApiAllowance(Console::Impl& console, Call& call) {
  const std::string minutes = call.Param("minutes");
  if (minutes.empty()) throw HttpError(400, "Give the allowance in minutes (-1 for unlimited).");
  auto connection = console.pool.Borrow();
  const auto result = store::SetAllowance(*connection, ActorOf(call), call.Segment(2),
                                          store::ParseInteger(minutes, "minutes"));
  SendDone(call, DoneJson(result), UserPath(platform::UpperAscii(call.Segment(2))));
}

void ApiReport(Console::Impl& console, Call& call) {
  static constexpr std::pair<const char*, store::ReportBy> kBy[] = {
      {"day", store::ReportBy::kDay},
      {"user", store::ReportBy::kUser},
      {"site", store::ReportBy::kSite},
      {"hour", store::ReportBy::kHour}};
  store::Report report;
  const std::string by = call.Query("by", "day");
  bool known = false;
  for (const auto& [name, value] : kBy) {
    if (by == name) {
      report.by = value;
      known = true;
    }
  }
  if (!known) throw HttpError(400, "by is one of day, user, site, hour.");
  const std::string format = call.Query("format", "json");
  if (format != "csv" && format != "json" && format != "html") {
    throw HttpError(400, "format is csv, json or html.");
  }
  report.period.last_day = DayParam(call.Query("to"), "to", store::LocalDayNumber(call.now));
  report.period.first_day = DayParam(call.Query("from"), "from", report.period.last_day - 6);
  if (report.period.first_day > report.period.last_day) {
    throw HttpError(400, "from " + store::DayText(report.period.first_day) + " is after to " +
                             store::DayText(report.period.last_day) + ".");
  }
  report.period.user = platform::UpperAscii(call.Query("user"));
  {
    auto connection = console.pool.Borrow();
    if (!report.period.user.empty() &&
        !store::KnownUser(*connection, report.period.user, report.period)) {
      throw HttpError(404, "There is no such user.");
    }
    store::FillReport(*connection, report);
  }
  const std::tm tm = platform::LocalTime(call.now);
  char made_at[32];
  report.made_at.assign(made_at, std::strftime(made_at, sizeof made_at, "%Y-%m-%d %H:%M", &tm));
  std::ostringstream out;
  store::WriteReport(report,
                     format == "csv"    ? store::ReportFormat::kCsv
                     : format == "json" ? store::ReportFormat::kJson
                                        : store::ReportFormat::kHtml,
                     call.lang == Lang::kDutch && format == "html" ? store::Language::kDutch
                                                                   : store::Language::kEnglish,
                     out);
  call.response.status = 200;
  call.response.body = out.str();
  if (format == "csv") {
    call.response.content_type = "text/csv; charset=utf-8";
    call.response.SetHeader("Content-Disposition",
                            "attachment; filename=\"minutrix-" + by + "-" +
                                store::DayText(report.period.first_day) + "-" +
                                store::DayText(report.period.last_day) + ".csv\"");
  } else if (format == "html") {
    // The printable page is self-contained: its style is inside it, and it has no script.
    call.response.content_type = "text/html; charset=utf-8";
    call.response.SetHeader("Content-Security-Policy",
                            "default-src 'none'; style-src 'unsafe-inline'; img-src data:; "
                            "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
  } else {
    call.response.content_type = "application/json; charset=utf-8";
  }
}

void ApiAudit(Console::Impl& console, Call& call) {
  const std::string from = call.Query("from");
  const std::optional<long long> from_day =
      from.empty() ? std::nullopt : std::optional<long long>(DayParam(from, "from", 0));
  auto connection = console.pool.Borrow();
  Json out = Json::array();
  for (const auto& row :
       store::ReadAudit(*connection, from_day, platform::UpperAscii(call.Query("user")))) {
    out.push_back(Json{{"at", row.at},
                       {"who", row.who},
                       {"command", row.command},
                       {"target", row.target},
                       {"old", row.old_value},
                       {"new", row.new_value},
                       {"reason", row.reason}});
  }
  SendJson(call, 200, out);
}

void ApiSites(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  SendJson(call, 200, Json(store::ReadFreeSites(*connection)));
}

void ApiAddSite(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result =
      store::AddSite(*connection, ActorOf(call), call.Param("site"), call.Param("host") == "yes");
  SendDone(call, DoneJson(result), "/sites");
}

void ApiRemoveSite(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result = store::RemoveSite(*connection, ActorOf(call), call.Param("site"),
                                        call.Param("host") == "yes");
  SendDone(call, DoneJson(result), "/sites");
}

void ApiSettings(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  Json out = Json::object();
  for (const auto& [name, value] : store::ReadSettings(*connection)) out[name] = value;
  SendJson(call, 200, out);
}

void ApiSetSetting(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result =
      store::SetSetting(*connection, ActorOf(call), call.Param("key"), call.Param("value"));
  SendDone(call, DoneJson(result), "/settings");
}

}  // namespace admin
