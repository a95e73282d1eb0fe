// Sessions and the login throttle.
#include "admin/sessions.h"

#include "platform/text.h"
#include "platform/web/secrets.h"

namespace admin {

Session Sessions::Open(const std::string& user, std::time_t now) {
  Session session;
  session.token = platform::RandomHex(32);
  session.csrf = platform::RandomHex(32);
  session.user = user;
  session.last_seen = now;
  std::lock_guard lock(mutex_);
  // Ended sessions are dropped here, so that the map never grows with logins nobody closed.
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = now - it->second.last_seen >= kIdleSeconds ? sessions_.erase(it) : std::next(it);
  }
  sessions_[session.token] = session;
  return session;
}

std::optional<Session> Sessions::Touch(const std::string& token, std::time_t now) {
  std::lock_guard lock(mutex_);
  const auto found = sessions_.find(token);
  if (found == sessions_.end()) return std::nullopt;
  // A clock set back counts as no time passed.
  if (now - found->second.last_seen >= kIdleSeconds) {
    sessions_.erase(found);
    return std::nullopt;
  }
  if (now > found->second.last_seen) found->second.last_seen = now;
  return found->second;
}

void Sessions::Close(const std::string& token) {
  std::lock_guard lock(mutex_);
  sessions_.erase(token);
}

bool LoginThrottle::Count(Track& track, std::time_t now, int limit) {
  while (!track.failures.empty() && now - track.failures.front() >= kThrottleWindow) {
    track.failures.pop_front();
  }
  track.failures.push_back(now);
  if (static_cast<int>(track.failures.size()) < limit) return false;
  track.failures.clear();
  track.blocked_until = now + kThrottleWindow;
  return true;
}

bool LoginThrottle::Blocked(const std::string& name, const std::string& address, std::time_t now) {
  std::lock_guard lock(mutex_);
  const auto blocked = [now](const auto& tracks, const std::string& key) {
    const auto found = tracks.find(key);
    return found != tracks.end() && now < found->second.blocked_until;
  };
  return blocked(names_, platform::LowerAscii(name)) || blocked(addresses_, address);
}

std::string LoginThrottle::Failed(const std::string& name, const std::string& address,
                                  std::time_t now) {
  std::lock_guard lock(mutex_);
  std::string blocked;
  if (Count(names_[platform::LowerAscii(name)], now, kFailuresPerName)) {
    blocked = "the name '" + name.substr(0, 100) + "'";
  }
  if (Count(addresses_[address], now, kFailuresPerAddress)) {
    blocked += std::string(blocked.empty() ? "" : " and ") + "the address " + address;
  }
  // Tracks that hold nothing any more are dropped, so that guessed names do not pile up.
  for (auto* tracks : {&names_, &addresses_}) {
    for (auto it = tracks->begin(); it != tracks->end();) {
      const Track& track = it->second;
      const bool stale = now >= track.blocked_until &&
                         (track.failures.empty() || now - track.failures.back() >= kThrottleWindow);
      it = stale ? tracks->erase(it) : std::next(it);
    }
  }
  return blocked;
}

void LoginThrottle::Succeeded(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto found = names_.find(platform::LowerAscii(name));
  if (found != names_.end()) found->second.failures.clear();
}

}  // namespace admin
