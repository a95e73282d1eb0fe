// Logged-in sessions and the throttle of failed logins, in memory: a restart of the console logs
// everyone out and forgets the failures. Both classes may be used from several threads.
#pragma once

#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace admin {

inline constexpr std::time_t kIdleSeconds = 30 * 60;

struct Session {
  std::string token;  // the cookie's value: 256 random bits
  std::string csrf;   // what changes must carry in X-CSRF-Token: 256 other random bits
  std::string user;   // the account's name
  std::time_t last_seen = 0;
};

class Sessions {
 public:
  // A new session of `user` at `now`.
  Session Open(const std::string& user, std::time_t now);
  // The session of `token`, seen again at `now`; nullopt (and the session ended) when it is
  // unknown or was idle for kIdleSeconds.
  std::optional<Session> Touch(const std::string& token, std::time_t now);
  void Close(const std::string& token);

 private:
  std::mutex mutex_;
  std::map<std::string, Session, std::less<>> sessions_;
};

inline constexpr std::time_t kThrottleWindow = 15 * 60;  // failures counted, and the block
inline constexpr int kFailuresPerName = 5;
inline constexpr int kFailuresPerAddress = 20;

class LoginThrottle {
 public:
  // Whether logins of `name` (any case) or from `address` are refused at `now`.
  bool Blocked(const std::string& name, const std::string& address, std::time_t now);
  // Counts a failed login. Returns what it blocked from now on, for the log: "" when nothing,
  // otherwise a text that names the name or the address.
  std::string Failed(const std::string& name, const std::string& address, std::time_t now);
  // A good password ends the failures counted against the name.
  void Succeeded(const std::string& name);

 private:
  struct Track {
    std::deque<std::time_t> failures;  // within the window
    std::time_t blocked_until = 0;
  };
  static bool Count(Track& track, std::time_t now, int limit);

  std::mutex mutex_;
  std::map<std::string, Track, std::less<>> names_;
  std::map<std::string, Track, std::less<>> addresses_;
};

}  // namespace admin
