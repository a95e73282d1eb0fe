// The shared frame of the pages.
#include "admin/html.h"

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

std::string UserPath(std::string_view user) { return "/users/" + PercentEncode(user); }

}  // namespace admin
