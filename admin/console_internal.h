// Inside of the console: what one request carries through its handlers, the console's state,
// and the handlers of the API (api.cpp) and of the pages (pages_*.cpp).
#pragma once

#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "admin/accounts.h"
#include "admin/console.h"
#include "admin/console_log.h"
#include "admin/database.h"
#include "admin/http_util.h"
#include "admin/sessions.h"
#include "admin/texts.h"
#include "platform/web/http_server.h"

namespace admin {

using Json = nlohmann::json;

// Ends a request with `status` and a message for the user (in the request's language: the
// message is looked up in the Dutch table).
class HttpError : public std::runtime_error {
 public:
  HttpError(int status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

struct Call {
  Call(const platform::HttpRequest& in, platform::HttpResponse& out) : request(in), response(out) {}

  const platform::HttpRequest& request;
  platform::HttpResponse& response;
  Target target;
  Lang lang = Lang::kEnglish;
  std::string client;   // the browser's address, as the throttle counts it
  bool secure = false;  // the browser reached us over HTTPS (directly or through nginx)
  bool api = false;     // a path under /api/: answers are JSON
  std::time_t now = 0;
  std::optional<Session> session;
  std::optional<Account> account;
  // A change's parameters: the fields of a form, or the members of a JSON object as texts.
  Fields params;
  bool from_form = false;  // a form sent the change: answered with a redirect to a page

  bool admin() const { return account && account->role == Role::kAdmin; }
  // Whether this account sees the users of `group` (a teacher: only its classes).
  bool MaySee(const std::string& group) const;
  // The path's segment `i`, or empty.
  const std::string& Segment(size_t i) const;
  std::string Query(std::string_view name, const std::string& fallback = {}) const {
    return Field(target.query, name, fallback);
  }
  std::string Param(std::string_view name, const std::string& fallback = {}) const {
    return Field(params, name, fallback);
  }
  std::string T(std::string_view english) const { return Tr(lang, english); }
};

struct Console::Impl {
  explicit Impl(ConsoleOptions console_options)
      : options(std::move(console_options)),
        accounts(options.accounts_file),
        log(options.log_file),
        pool(options.connection_string) {}

  ConsoleOptions options;
  Accounts accounts;
  Sessions sessions;
  LoginThrottle throttle;
  ConsoleLog log;
  ConnectionPool pool;
};

// ---- answers (console.cpp) ----

void SendJson(Call& call, int status, const Json& value);
void SendHtml(Call& call, int status, const std::string& html);
void SendRedirect(Call& call, const std::string& location);
// A message for the user: JSON {"error": ...} under /api/, a page otherwise.
void SendError(Call& call, int status, const std::string& message);
// A change done: JSON for the API, or back to `page` for a form.
void SendDone(Call& call, const Json& value, const std::string& page);
// `value` as JSON text; bytes that are not UTF-8 become U+FFFD.
std::string JsonText(const Json& value);

// ---- the API (api.cpp) ----

void ApiSession(Console::Impl& console, Call& call);
void ApiToday(Console::Impl& console, Call& call);
void ApiUser(Console::Impl& console, Call& call);
void ApiMinutes(Console::Impl& console, Call& call);
void ApiReset(Console::Impl& console, Call& call);
void ApiAddUser(Console::Impl& console, Call& call);
void ApiRenameUser(Console::Impl& console, Call& call);
void ApiRemoveUser(Console::Impl& console, Call& call);
void ApiAllowance(Console::Impl& console, Call& call);
void ApiReport(Console::Impl& console, Call& call);
void ApiAudit(Console::Impl& console, Call& call);
void ApiSites(Console::Impl& console, Call& call);
void ApiAddSite(Console::Impl& console, Call& call);
void ApiRemoveSite(Console::Impl& console, Call& call);
void ApiSettings(Console::Impl& console, Call& call);
void ApiSetSetting(Console::Impl& console, Call& call);
void ApiHealth(Console::Impl& console, Call& call);
// classes and schedules (api_classes.cpp)
void ApiGroups(Console::Impl& console, Call& call);
void ApiAddGroup(Console::Impl& console, Call& call);
void ApiRemoveGroup(Console::Impl& console, Call& call);
void ApiSetGroup(Console::Impl& console, Call& call);
void ApiWeekdayAllowance(Console::Impl& console, Call& call);
void ApiHours(Console::Impl& console, Call& call);

// ---- the pages (pages_*.cpp) ----

void PageLogin(Console::Impl& console, Call& call, int status, const std::string& message);
void PageToday(Console::Impl& console, Call& call);
void PageUser(Console::Impl& console, Call& call);
void PageUsers(Console::Impl& console, Call& call);
void PageSites(Console::Impl& console, Call& call);
void PageSettings(Console::Impl& console, Call& call);
void PageReports(Console::Impl& console, Call& call);
void PageAudit(Console::Impl& console, Call& call);
void PageHealth(Console::Impl& console, Call& call);
// The page that tells of a failure, with a way back.
std::string ErrorPage(const Call& call, int status, const std::string& message);

// ---- the script and the style sheet (assets, made from admin/assets/ at build time) ----

struct Asset {
  const char* name;  // "console.js"
  const char* content_type;
  const unsigned char* data;
  unsigned long size;
};
const Asset* FindAsset(std::string_view name);

}  // namespace admin
