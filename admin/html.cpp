// The shared frame of the pages.
#include "admin/html.h"

#include "platform/text.h"
#include "store/report_format.h"

namespace admin {

std::string Esc(std::string_view text) { return store::HtmlEscape(std::string(text)); }

std::string EscT(const Call& call, std::string_view english) { return Esc(call.T(english)); }

std::string Frame(const Call& call, std::string_view page, std::string_view title,
                  const std::string& body, const std::string& data) {
  struct Link {
    const char* id;
    const char* path;
    const char* label;
    bool teacher;
  };
  static constexpr Link kLinks[] = {
      {"today", "/today", "Today", true},        {"users", "/users", "Users and classes", false},
      {"sites", "/sites", "Free sites", false},  {"settings", "/settings", "Settings", false},
      {"reports", "/reports", "Reports", false}, {"audit", "/audit", "Audit", false},
      {"health", "/health", "Health", false},
  };
  std::string html = "<!DOCTYPE html>\n<html lang=\"" + std::string(LangCode(call.lang)) +
                     "\">\n<head>\n<meta charset=\"utf-8\">\n"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                     "<title>" +
                     Esc(title) + " · Minutrix</title>\n" +
                     "<link rel=\"stylesheet\" href=\"/static/console.css\">\n"
                     "<script src=\"/static/console.js\" defer></script>\n</head>\n<body>\n";
  html += "<header class=\"top\">\n<a class=\"brand\" href=\"/today\">Minutrix</a>\n";
  if (call.account) {
    html += "<nav>\n";
    for (const Link& link : kLinks) {
      if (!link.teacher && !call.admin()) continue;
      html += "<a href=\"" + std::string(link.path) + "\"" +
              (page == link.id ? " class=\"here\" aria-current=\"page\"" : "") + ">" +
              EscT(call, link.label) + "</a>\n";
    }
    html += "</nav>\n";
  }
  html += "<div class=\"who\">";
  if (call.account) {
    html += "<span>" + Esc(call.account->name) + " (" + EscT(call, RoleName(call.account->role)) +
            ")</span> ";
  }
  html += call.lang == Lang::kDutch ? "<a href=\"?lang=en\" lang=\"en\">English</a>"
                                    : "<a href=\"?lang=nl\" lang=\"nl\">Nederlands</a>";
  if (call.account) {
    html += " " + PostForm(call, "/logout", "", EscT(call, "Log out"), "/login", "inline");
  }
  html += "</div>\n</header>\n";
  html += "<main id=\"main\" data-page=\"" + Esc(page) + "\"" + data + ">\n<h1>" + Esc(title) +
          "</h1>\n" + body + "</main>\n</body>\n</html>\n";
  return html;
}

std::string PostForm(const Call& call, const std::string& action, const std::string& fields,
                     const std::string& button, const std::string& back,
                     const std::string& css_class) {
  std::string html = "<form method=\"post\" action=\"" + Esc(action) + "\"";
  if (!css_class.empty()) html += " class=\"" + Esc(css_class) + "\"";
  html += ">";
  if (call.session) {
    html += "<input type=\"hidden\" name=\"csrf\" value=\"" + Esc(call.session->csrf) + "\">";
  }
  if (!back.empty()) html += "<input type=\"hidden\" name=\"back\" value=\"" + Esc(back) + "\">";
  html += fields + "<button type=\"submit\">" + button + "</button></form>";
  return html;
}

std::string MinutesText(const Call& call, long minutes) {
  return minutes == -1 ? call.T("unlimited") : std::to_string(minutes);
}

std::string ClassChoice(const Call& call, const std::vector<std::string>& groups,
                        const std::string& current, bool label) {
  std::string html = std::string(label ? "<label>" + EscT(call, "Class") + " " : "") +
                     "<select name=\"group\" aria-label=\"" + EscT(call, "Class") +
                     "\"><option value=\"-\">" + EscT(call, "none") + "</option>";
  for (const std::string& group : groups) {
    html += "<option value=\"" + Esc(group) + "\"" +
            (platform::EqualsNoCase(group, current) ? " selected" : "") + ">" + Esc(group) +
            "</option>";
  }
  return html + "</select>" + (label ? "</label>" : "");
}

std::string ScheduleForms(const Call& call, const std::string& owner,
                          const std::vector<std::string>& owners, const std::string& back) {
  std::string who;
  if (owner.empty()) {
    who = "<label>" + EscT(call, "For (@class, a user, or * for everyone)") +
          " <input name=\"owner\" list=\"owners\" required size=\"12\"></label>";
  } else {
    who = "<input type=\"hidden\" name=\"owner\" value=\"" + Esc(owner) + "\">";
  }
  std::string html = "<div class=\"panel\">\n<p class=\"muted\">" +
                     EscT(call,
                          "Weekdays as mon-fri or sat,sun; hours as mon-fri 08:00-16:30 sat "
                          "10:00-12:00 (a window may cross midnight); none removes them.") +
                     "</p>\n";
  if (owner.empty()) {
    html += "<datalist id=\"owners\">";
    for (const std::string& name : owners) html += "<option value=\"" + Esc(name) + "\">";
    html += "</datalist>\n";
  }
  html += PostForm(call, "/api/schedule/allowance",
                   who + "<label>" + EscT(call, "Weekdays") +
                       " <input name=\"days\" required size=\"10\" placeholder=\"mon-fri\"></label>"
                       "<label>" +
                       EscT(call, "Minutes (empty removes)") +
                       " <input name=\"minutes\" type=\"number\" min=\"-1\"></label>",
                   EscT(call, "Set the allowance by weekday"), back, "bar");
  html += PostForm(
      call, "/api/schedule/hours",
      who + "<label>" + EscT(call, "Hours") + " <select name=\"kind\"><option value=\"allowed\">" +
          EscT(call, "Allowed hours") + "</option><option value=\"free\">" +
          EscT(call, "Free hours") + "</option></select></label><label>" + EscT(call, "Windows") +
          " <input name=\"windows\" required size=\"32\" "
          "placeholder=\"mon-fri 08:00-16:30\"></label>",
      EscT(call, "Set the hours"), back, "bar");
  return html + "</div>\n";
}

std::string UserPath(std::string_view user) { return "/users/" + PercentEncode(user); }

}  // namespace admin
