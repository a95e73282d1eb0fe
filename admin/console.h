// The administration console: one object answers every request of the server (pages, the API,
// its script and style sheet), with the sessions, the login throttle and the connections to the
// store it keeps between requests.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/web/http_server.h"

namespace admin {

struct ConsoleOptions {
  std::string connection_string;        // of UserTimesDB.mdb
  std::filesystem::path accounts_file;  // the console's accounts
  std::filesystem::path log_file;       // the console's own log
  // The address nginx connects from, when the console runs behind it: only from there are the
  // client address (X-Real-IP) and the scheme (X-Forwarded-Proto) taken from headers, which
  // nginx sets. Empty: the connection's own address and scheme count.
  std::string trusted_proxy;
  // Seconds between refreshes of the Today board.
  int refresh_seconds = 15;
};

class Console {
 public:
  explicit Console(ConsoleOptions options);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Answers one request. Called from the server's worker threads, several at once.
  void Handle(const platform::HttpRequest& request, platform::HttpResponse& response);
  // Appends a line to the console's log.
  void Log(const std::string& text);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace admin
