// The login page, the Today board and the error page.
#include <algorithm>

#include "admin/html.h"
#include "platform/text.h"
#include "store/schedule_admin.h"
#include "store/schedules.h"
#include "store/today.h"

namespace admin {
namespace {

constexpr long kPageSize = 100;

const char* StateLabel(store::UserState state) {
  switch (state) {
    case store::UserState::kBrowsing:
      return "browsing now";
    case store::UserState::kOutOfTime:
      return "out of time";
    case store::UserState::kOutsideHours:
      return "outside hours";
    case store::UserState::kFreeHours:
      return "free hours";
    case store::UserState::kUnlimited:
      return "unlimited";
    case store::UserState::kIdle:
      break;
  }
  return "idle";
}

// The board's columns, also the labels of a row's cells on a phone.
constexpr const char* kColumns[] = {"User",  "Class", "Allowance today", "Used",
                                    "Extra", "Left",  "State",           "Last request"};

std::string Cell(const Call& call, int column, const std::string& text,
                 const std::string& css_class = {}) {
  std::string html = "<td data-label=\"" + EscT(call, kColumns[column]) + "\"";
  if (!css_class.empty()) html += " class=\"" + css_class + "\"";
  return html + ">" + text + "</td>";
}

std::string MinutesButton(const Call& call, const std::string& user, int add) {
  const std::string text = add > 0 ? "+" + std::to_string(add) : "\u2212" + std::to_string(-add);
  return "<form method=\"post\" action=\"/api/users/" + Esc(PercentEncode(user)) +
         "/minutes\" class=\"minutes\" data-user=\"" + Esc(user) + "\" data-add=\"" +
         std::to_string(add) + "\"><input type=\"hidden\" name=\"csrf\" value=\"" +
         Esc(call.session->csrf) + "\"><input type=\"hidden\" name=\"back\" value=\"/today\">" +
         "<input type=\"hidden\" name=\"add\" value=\"" + std::to_string(add) + "\">" +
         "<button type=\"submit\" class=\"" + (add > 0 ? "add" : "take") + "\">" + text +
         "</button></form>";
}

std::string Row(const Call& call, const store::UserToday& row) {
  std::string html = "<tr data-user=\"" + Esc(row.user) + "\" class=\"state-" +
                     store::StateName(row.state) + "\">";
  html += Cell(call, 0, "<a href=\"" + Esc(UserPath(row.user)) + "\">" + Esc(row.user) + "</a>");
  html += Cell(call, 1, Esc(row.group), "group");
  html += Cell(call, 2, Esc(MinutesText(call, row.allowance)), "number");
  html += Cell(call, 3, std::to_string(row.used), "number");
  html += Cell(call, 4, std::to_string(row.extra), "number");
  html += Cell(call, 5, Esc(MinutesText(call, row.left)), "number left");
  html += Cell(call, 6, EscT(call, StateLabel(row.state)), "state");
  html += Cell(call, 7, row.last < 0 ? EscT(call, "never") : store::MinuteText(row.last), "last");
  html += "<td class=\"actions\">";
  if (row.allowance != -1)
    html += MinutesButton(call, row.user, 15) + MinutesButton(call, row.user, -15);
  if (call.admin()) {
    html += "<form method=\"post\" action=\"/api/users/" + Esc(PercentEncode(row.user)) +
            "/reset\" class=\"reset\" data-user=\"" + Esc(row.user) +
            "\"><input type=\"hidden\" name=\"csrf\" value=\"" + Esc(call.session->csrf) +
            "\"><input type=\"hidden\" name=\"back\" value=\"/today\"><button type=\"submit\" "
            "class=\"reset\">" +
            EscT(call, "Reset today") + "</button></form>";
  }
  return html + "</td></tr>\n";
}

std::string Labels(const Call& call) {
  Json labels = Json::object();
  for (auto state :
       {store::UserState::kBrowsing, store::UserState::kOutOfTime, store::UserState::kOutsideHours,
        store::UserState::kFreeHours, store::UserState::kUnlimited, store::UserState::kIdle}) {
    labels[store::StateName(state)] = call.T(StateLabel(state));
  }
  labels["unlimited"] = call.T("unlimited");
  labels["never"] = call.T("never");
  labels["reset"] = call.T("Reset today");
  labels["offline"] = call.T("The board could not be refreshed; it shows the last figures.");
  labels["showing"] = call.T("Showing {first} to {last} of {total}");
  Json columns = Json::array();
  for (const char* column : kColumns) columns.push_back(call.T(column));
  labels["columns"] = columns;
  return JsonText(labels);
}

std::string Replace(std::string text, const std::string& key, const std::string& value) {
  const size_t at = text.find(key);
  return at == std::string::npos ? text : text.replace(at, key.size(), value);
}

}  // namespace

void PageLogin(Console::Impl&, Call& call, int status, const std::string& message) {
  std::string body = "<div class=\"login panel\">\n<form method=\"post\" action=\"/login\">\n";
  body += "<label>" + EscT(call, "Name") +
          " <input name=\"user\" autocomplete=\"username\" required autofocus></label>\n";
  body += "<label>" + EscT(call, "Password") +
          " <input type=\"password\" name=\"password\" autocomplete=\"current-password\" "
          "required></label>\n";
  body += "<button type=\"submit\">" + EscT(call, "Log in") + "</button>\n</form>\n";
  if (!message.empty()) {
    body += "<p class=\"message bad\" role=\"alert\">" + EscT(call, message) + "</p>\n";
  }
  body += "</div>\n";
  SendHtml(call, status, Frame(call, "login", call.T("Log in to the console"), body));
}

std::string ErrorPage(const Call& call, int status, const std::string& message) {
  std::string body = "<p class=\"message bad\" role=\"alert\">" + Esc(message) + "</p>\n";
  body += "<p><a href=\"" + std::string(call.account ? "/today" : "/login") + "\">" +
          EscT(call, call.account ? "Back to the board" : "Log in") + "</a></p>\n";
  return Frame(call, "error", std::to_string(status) + " · " + call.T("Not done"), body);
}

void PageToday(Console::Impl& console, Call& call) {
  const std::string group = call.Query("group");
  if (!group.empty() && !call.MaySee(group)) {
    throw HttpError(403, "This class is not one of yours.");
  }
  const std::string name = platform::Trim(call.Query("name"));
  std::vector<store::UserToday> rows;
  std::vector<std::string> groups;
  {
    auto connection = console.pool.Borrow();
    rows = store::ReadToday(*connection, call.now);
    if (call.admin()) {
      for (const auto& info : store::ReadGroups(*connection)) groups.push_back(info.name);
    } else {
      groups = call.account->groups;
    }
  }
  const std::string wanted = platform::UpperAscii(name);
  std::erase_if(rows, [&](const store::UserToday& row) {
    return !call.MaySee(row.group) ||
           (!group.empty() && !platform::EqualsNoCase(row.group, group)) ||
           (!wanted.empty() && row.user.find(wanted) == std::string::npos);
  });
  const long total = static_cast<long>(rows.size());
  const long pages = std::max(1L, (total + kPageSize - 1) / kPageSize);
  long page = 1;
  try {
    page = std::clamp(std::stol(call.Query("page", "1")), 1L, pages);
  } catch (const std::exception&) {
    page = 1;
  }
  const long first = (page - 1) * kPageSize;
  const long last = std::min(total, first + kPageSize);

  std::string body = "<form class=\"bar\" method=\"get\" action=\"/today\">\n";
  body += "<label>" + EscT(call, "Class") + " <select name=\"group\"><option value=\"\">" +
          EscT(call, call.admin() ? "All classes" : "All my classes") + "</option>";
  for (const std::string& g : groups) {
    body += "<option" + std::string(platform::EqualsNoCase(g, group) ? " selected" : "") +
            " value=\"" + Esc(g) + "\">" + Esc(g) + "</option>";
  }
  body += "</select></label>\n";
  body += "<label>" + EscT(call, "Name") +
          " <input type=\"search\" id=\"filter-name\" name=\"name\" value=\"" + Esc(name) +
          "\"></label>\n<button type=\"submit\">" + EscT(call, "Filter") + "</button>\n</form>\n";
  body += "<div class=\"bar\"><label>" +
          EscT(call, call.admin() ? "Reason for changes (optional)" : "Reason for changes") +
          " <input id=\"reason\" name=\"reason\" maxlength=\"1000\" size=\"40\"></label></div>\n";
  body += "<p id=\"status\" class=\"status\" role=\"status\"></p>\n";
  body += "<table class=\"board\">\n<thead><tr>";
  for (const char* column : kColumns) {
    const std::string_view c(column);
    const bool number = c == "Allowance today" || c == "Used" || c == "Extra" || c == "Left";
    body += std::string("<th") + (number ? " class=\"number\"" : "") + ">" + EscT(call, column) +
            "</th>";
  }
  body += "<th></th></tr></thead>\n<tbody id=\"board-rows\">\n";
  for (long i = first; i < last; ++i) body += Row(call, rows[static_cast<size_t>(i)]);
  body += "</tbody>\n</table>\n";
  const auto link = [&](long to) {
    std::string query = "?page=" + std::to_string(to);
    if (!group.empty()) query += "&group=" + PercentEncode(group);
    if (!name.empty()) query += "&name=" + PercentEncode(name);
    return Esc(query);
  };
  body += "<p class=\"paging\"><span id=\"board-count\">" +
          Esc(Replace(Replace(Replace(call.T("Showing {first} to {last} of {total}"), "{first}",
                                      std::to_string(total == 0 ? 0 : first + 1)),
                              "{last}", std::to_string(last)),
                      "{total}", std::to_string(total))) +
          "</span> <a id=\"page-previous\" href=\"" + link(page - 1) + "\"" +
          (page <= 1 ? " hidden" : "") + ">" + EscT(call, "Previous") +
          "</a> <a id=\"page-next\" href=\"" + link(page + 1) + "\"" +
          (page >= pages ? " hidden" : "") + ">" + EscT(call, "Next") + "</a></p>\n";
  const std::string data = " data-csrf=\"" + Esc(call.session->csrf) + "\" data-admin=\"" +
                           (call.admin() ? "1" : "0") + "\" data-group=\"" + Esc(group) +
                           "\" data-refresh=\"" + std::to_string(console.options.refresh_seconds) +
                           "\" data-page-size=\"" + std::to_string(kPageSize) +
                           "\" data-page-number=\"" + std::to_string(page) + "\" data-labels=\"" +
                           Esc(Labels(call)) + "\"";
  SendHtml(call, 200, Frame(call, "today", call.T("Today"), body, data));
}

}  // namespace admin
