// The console's request handling: who is asking (session, role, address), whether the request
// may do what it asks (CSRF token, throttle, role), the routes, and one place where failures
// become answers.
//
//   answers ........ SendJson, SendHtml, SendRedirect, SendError, SendDone
//   login .......... Login, Logout
//   routes ......... kRoutes: who may use which path with which method
//   Handle ......... the order of the checks
#include "admin/console.h"

#include <array>

#include "admin/console_internal.h"
#include "platform/ado.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/web/secrets.h"
#include "store/input_checks.h"

namespace admin {
namespace {

constexpr const char* kSessionCookie = "minutrix_session";
constexpr const char* kLangCookie = "minutrix_lang";
// No script but our own file, no style but our own, nothing from another host, no framing.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

void SetCommonHeaders(Call& call) {
  auto& out = call.response;
  out.SetHeader("Content-Security-Policy", kContentSecurityPolicy);
  out.SetHeader("X-Content-Type-Options", "nosniff");
  out.SetHeader("X-Frame-Options", "DENY");
  out.SetHeader("Referrer-Policy", "no-referrer");
  out.SetHeader("Cache-Control", "no-store");
  if (call.secure) out.SetHeader("Strict-Transport-Security", "max-age=31536000");
}

std::string SessionCookie(const Call& call, const std::string& token, bool end) {
  std::string cookie =
      std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly; " + "SameSite=Strict";
  if (call.secure) cookie += "; Secure";
  if (end) cookie += "; Max-Age=0";
  return cookie;
}

// Where a page or a form's change may send the browser back to: a path of this console only.
std::string LocalPath(const std::string& wanted, const std::string& fallback) {
  if (wanted.size() < 2 || wanted[0] != '/' || wanted[1] == '/' || wanted[1] == '\\') {
    return fallback;
  }
  for (unsigned char c : wanted) {
    if (c < 0x21 || c == 0x7f || c == '\\') return fallback;
  }
  return wanted;
}

// ---- login ----

// Compared against when the name has no account, so that a wrong name takes as long as a wrong
// password. A hash of a random text made once.
const std::string& DummyHash() {
  static const std::string hash = platform::HashPassword(platform::RandomHex(16));
  return hash;
}

void Login(Console::Impl& console, Call& call) {
  const std::string name = call.Param("user");
  const std::string password = call.Param("password");
  if (console.throttle.Blocked(name, call.client, call.now)) {
    call.response.SetHeader("Retry-After", std::to_string(kThrottleWindow));
    PageLogin(console, call, 429, "Too many failed logins. Try again in 15 minutes.");
    return;
  }
  const std::optional<Account> account = console.accounts.Find(name);
  const bool good = platform::CheckPassword(password, account ? account->hash : DummyHash()) &&
                    account.has_value();
  if (!good) {
    console.log.Write("Failed login of '" + name.substr(0, 100) + "' from " + call.client);
    const std::string blocked = console.throttle.Failed(name, call.client, call.now);
    if (!blocked.empty()) {
      console.log.Write("Too many failed logins: logins of " + blocked +
                        " are refused for 15 minutes");
    }
    PageLogin(console, call, 401, "Wrong name or password.");
    return;
  }
  console.throttle.Succeeded(name);
  const Session session = console.sessions.Open(account->name, call.now);
  console.log.Write(account->name + " (" + RoleName(account->role) + ") logged in from " +
                    call.client);
  call.response.AddHeader("Set-Cookie", SessionCookie(call, session.token, false));
  SendRedirect(call, "/today");
}

void Logout(Console::Impl& console, Call& call) {
  console.sessions.Close(call.session->token);
  call.response.AddHeader("Set-Cookie", SessionCookie(call, "", true));
  if (call.from_form) {
    SendRedirect(call, "/login");
  } else {
    SendJson(call, 200, Json{{"done", "logged out"}});
  }
}

void Static(Console::Impl&, Call& call) {
  const Asset* asset = call.target.segments.size() == 2 ? FindAsset(call.Segment(1)) : nullptr;
  if (asset == nullptr) throw HttpError(404, "There is no such page.");
  call.response.status = 200;
  call.response.content_type = asset->content_type;
  call.response.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
  call.response.SetHeader("Cache-Control", "no-cache");
}

void Home(Console::Impl&, Call& call) { SendRedirect(call, "/today"); }

void LoginPage(Console::Impl& console, Call& call) {
  if (call.account) {
    SendRedirect(call, "/today");
    return;
  }
  PageLogin(console, call, 200, "");
}

// ---- routes ----

enum class Access {
  kAnyone,   // no session needed
  kTeacher,  // any account (a teacher's handler limits it to its classes)
  kAdmin,
};

struct Route {
  const char* method;
  std::array<const char*, 4> pattern;  // segments; "*" matches any one; null ends it
  Access access;
  void (*handler)(Console::Impl&, Call&);
};

constexpr Route kRoutes[] = {
    {"GET", {}, Access::kTeacher, Home},
    {"GET", {"login"}, Access::kAnyone, LoginPage},
    {"POST", {"login"}, Access::kAnyone, Login},
    {"POST", {"logout"}, Access::kTeacher, Logout},
    {"GET", {"static", "*"}, Access::kAnyone, Static},
    {"GET", {"today"}, Access::kTeacher, PageToday},
    {"GET", {"users", "*"}, Access::kTeacher, PageUser},
    {"GET", {"users"}, Access::kAdmin, PageUsers},
    {"GET", {"sites"}, Access::kAdmin, PageSites},
    {"GET", {"settings"}, Access::kAdmin, PageSettings},
    {"GET", {"reports"}, Access::kAdmin, PageReports},
    {"GET", {"audit"}, Access::kAdmin, PageAudit},
    {"GET", {"health"}, Access::kAdmin, PageHealth},
    {"GET", {"api", "session"}, Access::kTeacher, ApiSession},
    {"GET", {"api", "today"}, Access::kTeacher, ApiToday},
    {"GET", {"api", "users", "*"}, Access::kTeacher, ApiUser},
    {"POST", {"api", "users", "*", "minutes"}, Access::kTeacher, ApiMinutes},
    {"POST", {"api", "users", "*", "reset"}, Access::kAdmin, ApiReset},
    {"POST", {"api", "users"}, Access::kAdmin, ApiAddUser},
    {"POST", {"api", "users", "*", "rename"}, Access::kAdmin, ApiRenameUser},
    {"POST", {"api", "users", "*", "remove"}, Access::kAdmin, ApiRemoveUser},
    {"POST", {"api", "users", "*", "allowance"}, Access::kAdmin, ApiAllowance},
    {"GET", {"api", "report"}, Access::kAdmin, ApiReport},
    {"GET", {"api", "audit"}, Access::kAdmin, ApiAudit},
    {"GET", {"api", "sites"}, Access::kAdmin, ApiSites},
    {"POST", {"api", "sites", "add"}, Access::kAdmin, ApiAddSite},
    {"POST", {"api", "sites", "remove"}, Access::kAdmin, ApiRemoveSite},
    {"GET", {"api", "settings"}, Access::kAdmin, ApiSettings},
    {"POST", {"api", "settings"}, Access::kAdmin, ApiSetSetting},
    {"GET", {"api", "health"}, Access::kAdmin, ApiHealth},
    {"GET", {"api", "groups"}, Access::kAdmin, ApiGroups},
    {"POST", {"api", "groups"}, Access::kAdmin, ApiAddGroup},
    {"POST", {"api", "groups", "*", "remove"}, Access::kAdmin, ApiRemoveGroup},
    {"POST", {"api", "users", "*", "group"}, Access::kAdmin, ApiSetGroup},
    {"POST", {"api", "schedule", "allowance"}, Access::kAdmin, ApiWeekdayAllowance},
    {"POST", {"api", "schedule", "hours"}, Access::kAdmin, ApiHours},
};

bool Matches(const Route& route, const std::vector<std::string>& segments) {
  size_t count = 0;
  while (count < route.pattern.size() && route.pattern[count] != nullptr) ++count;
  if (count != segments.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    if (std::string_view(route.pattern[i]) != "*" && segments[i] != route.pattern[i]) return false;
  }
  return true;
}

// Who is asking: the browser's address and scheme (from nginx's headers only when the
// connection comes from nginx), the language, the session and its account.
void Identify(Console::Impl& console, Call& call) {
  const auto& request = call.request;
  call.client = request.peer_address;
  call.secure = request.tls;
  const auto& proxy = console.options.trusted_proxy;
  if (!proxy.empty() && request.peer_address == proxy) {
    // nginx sets X-Real-IP itself (proxy_set_header), replacing what a browser sent; two of them
    // mean the configuration does not, and then neither counts.
    const std::string real = request.Header("X-Real-IP");
    if (request.HeaderCount("X-Real-IP") == 1 && IsAddress(real)) call.client = real;
    if (request.HeaderCount("X-Forwarded-Proto") == 1 &&
        request.Header("X-Forwarded-Proto") == "https") {
      call.secure = true;
    }
  }
  const std::string cookies = request.Header("Cookie");
  const std::string wanted = call.Query("lang");
  if (wanted == "nl" || wanted == "en") {
    call.lang = wanted == "nl" ? Lang::kDutch : Lang::kEnglish;
    call.response.AddHeader("Set-Cookie", std::string(kLangCookie) + "=" + wanted +
                                              "; Path=/; SameSite=Strict; Max-Age=31536000");
  } else if (CookieValue(cookies, kLangCookie) == "nl") {
    call.lang = Lang::kDutch;
  }
  const std::string token = CookieValue(cookies, kSessionCookie);
  if (token.empty()) return;
  call.session = console.sessions.Touch(token, call.now);
  if (!call.session) return;
  call.account = console.accounts.Find(call.session->user);
  if (!call.account) {  // removed since it logged in
    console.sessions.Close(token);
    call.session.reset();
  }
}

// A change's parameters from its body: a form's fields, or a JSON object's members.
void ReadParams(Call& call) {
  const std::string type = platform::LowerAscii(call.request.Header("Content-Type"));
  const std::string& body = call.request.body;
  if (type.rfind("application/x-www-form-urlencoded", 0) == 0) {
    auto fields = ParseFields(body);
    if (!fields) throw HttpError(400, "The form could not be read.");
    call.params = std::move(*fields);
    call.from_form = true;
    return;
  }
  if (body.empty()) return;
  if (type.rfind("application/json", 0) != 0) {
    throw HttpError(415, "Send the change as JSON (application/json) or as a form.");
  }
  const Json value = Json::parse(body, nullptr, false);
  if (value.is_discarded() || !value.is_object()) {
    throw HttpError(400, "The request is not a JSON object.");
  }
  for (const auto& [name, member] : value.items()) {
    if (member.is_string()) {
      call.params.emplace(name, member.get<std::string>());
    } else if (member.is_number_integer()) {
      call.params.emplace(name, std::to_string(member.get<std::int64_t>()));
    } else if (member.is_boolean()) {
      call.params.emplace(name, member.get<bool>() ? "yes" : "no");
    } else if (!member.is_null()) {
      throw HttpError(400, "'" + name + "' must be a text, a whole number or true/false.");
    }
  }
}

void Dispatch(Console::Impl& console, Call& call) {
  const auto& segments = call.target.segments;
  call.api = !segments.empty() && segments[0] == "api";
  const std::string& method = call.request.method == "HEAD" ? "GET" : call.request.method;
  const Route* found = nullptr;
  bool path_known = false;
  for (const auto& route : kRoutes) {
    if (!Matches(route, segments)) continue;
    path_known = true;
    if (method == route.method) {
      found = &route;
      break;
    }
  }
  if (found == nullptr) {
    throw HttpError(path_known ? 405 : 404,
                    path_known ? "That method is not allowed here." : "There is no such page.");
  }
  const bool changes = method != "GET";
  // A body is read only for a login or a session: nobody else gets to make the console parse.
  if (found->access != Access::kAnyone && !call.account) {
    if (!call.api && !changes) {
      SendRedirect(call, "/login");
      return;
    }
    throw HttpError(401, "Log in first.");
  }
  if (changes) ReadParams(call);
  if (found->access != Access::kAnyone) {
    // Every change carries the session's token: a page of another site cannot know it.
    if (changes) {
      const std::string header = call.request.Header("X-CSRF-Token");
      const std::string given = !header.empty() || !call.from_form ? header : call.Param("csrf");
      if (given.empty() || !platform::ConstantTimeEquals(given, call.session->csrf)) {
        throw HttpError(403, "The request lacks the session's X-CSRF-Token; nothing was changed.");
      }
    }
    if (found->access == Access::kAdmin && !call.admin()) {
      throw HttpError(403, "Only an administrator may do this.");
    }
  }
  found->handler(console, call);
}

}  // namespace

// ---- answers ----

std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void SendJson(Call& call, int status, const Json& value) {
  call.response.status = status;
  call.response.content_type = "application/json; charset=utf-8";
  call.response.body = JsonText(value);
}

void SendHtml(Call& call, int status, const std::string& html) {
  call.response.status = status;
  call.response.content_type = "text/html; charset=utf-8";
  call.response.body = html;
}

void SendRedirect(Call& call, const std::string& location) {
  call.response.status = 303;
  call.response.SetHeader("Location", location);
  call.response.content_type = "text/plain; charset=utf-8";
  call.response.body = "See " + location + "\n";
}

void SendError(Call& call, int status, const std::string& message) {
  if (call.api && !call.from_form) {
    SendJson(call, status, Json{{"error", call.T(message)}});
  } else {
    SendHtml(call, status, ErrorPage(call, status, call.T(message)));
  }
}

void SendDone(Call& call, const Json& value, const std::string& page) {
  if (call.from_form) {
    SendRedirect(call, LocalPath(call.Param("back"), page));
  } else {
    SendJson(call, 200, value);
  }
}

bool Call::MaySee(const std::string& group) const {
  if (!account) return false;
  if (account->role == Role::kAdmin) return true;
  for (const std::string& mine : account->groups) {
    if (!group.empty() && platform::EqualsNoCase(mine, group)) return true;
  }
  return false;
}

const std::string& Call::Segment(size_t i) const {
  static const std::string kNone;
  return i < target.segments.size() ? target.segments[i] : kNone;
}

// ---- Console ----

Console::Console(ConsoleOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Console::~Console() = default;

void Console::Log(const std::string& text) { impl_->log.Write(text); }

void Console::Handle(const platform::HttpRequest& request, platform::HttpResponse& response) {
  Call call(request, response);
  call.now = platform::Now();
  try {
    auto target = ParseTarget(request.target);
    if (!target) {
      SetCommonHeaders(call);
      throw HttpError(400, "The address could not be read.");
    }
    call.target = std::move(*target);
    Identify(*impl_, call);
    SetCommonHeaders(call);
    Dispatch(*impl_, call);
  } catch (const HttpError& error) {
    SendError(call, error.status(), error.what());
  } catch (const store::Refusal& refusal) {
    SendError(call, 400, refusal.what());
  } catch (const AccountError& error) {
    impl_->log.Write(std::string("Accounts: ") + error.what());
    SendError(call, 500, error.what());
  } catch (const ado::ComError& error) {
    if (IsBusy(error)) {
      call.response.SetHeader("Retry-After", "2");
      SendError(call, 503, kBusyMessage);
    } else {
      impl_->log.Write("The database failed: " + error.Description());
      SendError(call, 500, "The database failed: " + error.Description());
    }
  } catch (const std::exception& error) {
    impl_->log.Write(std::string("Failed: ") + error.what());
    SendError(call, 500, "Something failed; the console's log says what.");
  }
}

}  // namespace admin
