// Health: the filter's status file (2 while its shared store is down), whether Squid's helpers run
// and when a minute was last charged, and the last errors of the filter's log of today.
#include <algorithm>
#include <sstream>

#include "admin/html.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/services.h"
#include "platform/text.h"
#include "store/schedules.h"
#include "store/today.h"

namespace admin {
namespace {

constexpr const char* kInstallFolder = "c:\\Minutrix\\";
constexpr size_t kErrorLines = 20;

struct Health {
  std::optional<std::string> status;       // the status file's number
  std::optional<std::string> status_time;  // and when it was written
  int helpers = 0;
  std::optional<std::time_t> last_decided;  // by the filters behind Squid
  int last_charge = -1;                     // minute of today
  std::vector<std::string> errors;
  std::string log_name;
};

Health ReadHealth(Console::Impl& console, std::time_t now) {
  Health health;
  if (auto text = platform::ReadWholeFile(std::string(kInstallFolder) + "Minutrix.sts")) {
    std::istringstream in(*text);
    std::string number;
    std::string at;
    std::getline(in, number);
    std::getline(in, at);
    health.status = platform::Trim(number, platform::kWhitespace);
    health.status_time = platform::Trim(at, platform::kWhitespace);
  }
  for (const DWORD pid : platform::RunningProcesses()) {
    // The kernel's short name (another user's program) is cut to 15 characters.
    if (platform::ProcessName(pid).rfind("minutrix-squid-", 0) == 0) ++health.helpers;
  }
  health.last_decided = platform::LastServiceWork("W3SVC");
  {
    auto connection = console.pool.Borrow();
    for (const auto& row : store::ReadToday(*connection, now)) {
      health.last_charge = std::max(health.last_charge, row.last);
    }
  }
  const std::tm tm = platform::LocalTime(now);
  char date[16];
  std::strftime(date, sizeof date, "%d%m%Y", &tm);
  health.log_name = std::string("MinutrixOutput") + date + ".txt";
  if (auto text = platform::ReadWholeFile(kInstallFolder + health.log_name)) {
    std::istringstream in(*text);
    std::string line;
    // Errors are the lines of severity 3, marked "*"; "-" (2) and "]" (1) are the filter's news.
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '*') {
        health.errors.push_back(line);
        if (health.errors.size() > kErrorLines) health.errors.erase(health.errors.begin());
      }
    }
  }
  return health;
}

// "2026-12-08 09:05:07", local time.
std::string DateTimeText(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string StatusMeaning(const std::string& status) {
  if (status == "1") return "ready: the database and its tables were loaded";
  if (status == "0") return "starting, or the start-up failed before the database was loaded";
  if (status == "2") {
    return "the shared store cannot be reached since the time shown: requests follow "
           "StoreDownPolicy";
  }
  return "unknown status";
}

}  // namespace

void ApiHealth(Console::Impl& console, Call& call) {
  const Health health = ReadHealth(console, call.now);
  SendJson(
      call, 200,
      Json{{"status", health.status ? Json(*health.status) : Json(nullptr)},
           {"status_time", health.status_time ? Json(*health.status_time) : Json(nullptr)},
           {"helpers", health.helpers},
           {"last_request",
            health.last_decided ? Json(DateTimeText(*health.last_decided)) : Json(nullptr)},
           {"last_charge",
            health.last_charge < 0 ? Json(nullptr) : Json(store::MinuteText(health.last_charge))},
           {"errors", health.errors}});
}

void PageHealth(Console::Impl& console, Call& call) {
  const Health health = ReadHealth(console, call.now);
  std::string body = "<div class=\"cards\">";
  body += "<div class=\"card\"><div class=\"muted\">" + EscT(call, "The filter's status file") +
          "</div><div class=\"big " + (health.status == "1" ? "ok" : "bad") + "\">" +
          (health.status ? Esc(*health.status) : EscT(call, "missing")) + "</div><div>" +
          (health.status ? EscT(call, StatusMeaning(*health.status)) + "<br>" +
                               Esc(health.status_time.value_or(""))
                         : EscT(call, "The filter has not started on this machine.")) +
          "</div></div>";
  body += "<div class=\"card\"><div class=\"muted\">" + EscT(call, "Squid's helpers running") +
          "</div><div class=\"big " + (health.helpers > 0 ? "ok" : "bad") + "\">" +
          std::to_string(health.helpers) + "</div></div>";
  body += "<div class=\"card\"><div class=\"muted\">" + EscT(call, "Last request decided") +
          "</div><div class=\"big\">" +
          (health.last_decided ? Esc(DateTimeText(*health.last_decided)) : EscT(call, "none")) +
          "</div></div>";
  body += "<div class=\"card\"><div class=\"muted\">" + EscT(call, "Last minute charged today") +
          "</div><div class=\"big\">" +
          (health.last_charge < 0 ? EscT(call, "none") : store::MinuteText(health.last_charge)) +
          "</div></div>";
  body += "</div>\n<h2>" + EscT(call, "The last errors of the filter's log") + " (" +
          Esc(health.log_name) + ")</h2>\n";
  if (health.errors.empty()) {
    body += "<p class=\"muted\">" + EscT(call, "No errors today.") + "</p>\n";
  } else {
    body += "<pre class=\"log\">";
    for (const std::string& line : health.errors) body += Esc(line) + "\n";
    body += "</pre>\n";
  }
  SendHtml(call, 200, Frame(call, "health", call.T("Health"), body));
}

}  // namespace admin
