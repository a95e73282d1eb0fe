// The API of classes and schedules, over the store's schedule changes (the same code as
// minutrix-db's add-group, set-group, set-allowance --days, set-hours and set-free-hours).
#include "admin/console_internal.h"
#include "admin/html.h"
#include "platform/text.h"
#include "store/schedule_admin.h"
#include "store/schedules.h"

namespace admin {
namespace {

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

// Where a form about `owner` goes back to: the user's page, or the list of classes.
std::string PageOf(const std::string& owner) {
  if (owner.empty() || owner == store::kEveryone || owner.front() == '@') return "/users";
  return UserPath(platform::UpperAscii(owner));
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

}  // namespace

void ApiGroups(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  Json out = Json::array();
  for (const auto& group : store::ReadGroups(*connection)) {
    out.push_back(
        Json{{"name", group.name}, {"members", group.members}, {"schedule", group.schedule}});
  }
  SendJson(call, 200, out);
}

void ApiAddGroup(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result = store::AddGroup(*connection, ActorOf(call), call.Param("name"));
  SendDone(call, DoneJson(result), "/users");
}

void ApiRemoveGroup(Console::Impl& console, Call& call) {
  auto connection = console.pool.Borrow();
  const auto result = store::RemoveGroup(*connection, ActorOf(call), call.Segment(2));
  SendDone(call, DoneJson(result), "/users");
}

void ApiSetGroup(Console::Impl& console, Call& call) {
  std::string group = platform::Trim(call.Param("group"));
  if (group.empty()) group = "-";
  auto connection = console.pool.Borrow();
  const auto result = store::SetGroup(*connection, ActorOf(call), call.Segment(2), group);
  SendDone(call, DoneJson(result), UserPath(platform::UpperAscii(call.Segment(2))));
}

void ApiWeekdayAllowance(Console::Impl& console, Call& call) {
  const std::string owner = platform::Trim(call.Param("owner"));
  std::string error;
  const auto days = store::ParseDays(platform::Trim(call.Param("days")), error);
  if (!days) throw HttpError(400, error + ".");
  const std::string minutes = platform::Trim(call.Param("minutes"));
  const std::optional<std::int64_t> value =
      minutes.empty() ? std::nullopt
                      : std::optional<std::int64_t>(store::ParseInteger(minutes, "minutes"));
  auto connection = console.pool.Borrow();
  const auto result = store::SetWeekdayAllowance(*connection, ActorOf(call), owner, value, *days);
  SendDone(call, DoneJson(result), PageOf(owner));
}

void ApiHours(Console::Impl& console, Call& call) {
  const std::string owner = platform::Trim(call.Param("owner"));
  const std::string kind = call.Param("kind", "allowed");
  if (kind != "allowed" && kind != "free") throw HttpError(400, "kind is allowed or free.");
  const auto windows = store::ParseWindows(Words(call.Param("windows")));
  auto connection = console.pool.Borrow();
  const auto result = store::SetHours(
      *connection, ActorOf(call), owner,
      kind == "free" ? store::HoursKind::kFree : store::HoursKind::kAllowed, windows);
  SendDone(call, DoneJson(result), PageOf(owner));
}

}  // namespace admin
