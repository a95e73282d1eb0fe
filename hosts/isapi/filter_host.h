// Hosting ISAPI filters: loading a filter library, its version call, and one request's
// notifications delivered in the web server's order, with the server variables and headers the
// host offers and the response headers the filter sends recorded.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/isapi.h"

namespace isapi_host {

// Named values of a request (its server variables or headers), the names compared without case
// as the web server compares them. A request has a handful, so they are kept in one vector and
// searched in order rather than in a tree of allocated nodes.
class NamedValues {
 public:
  using value_type = std::pair<std::string, std::string>;
  using iterator = std::vector<value_type>::iterator;
  using const_iterator = std::vector<value_type>::const_iterator;

  iterator find(std::string_view name);
  const_iterator find(std::string_view name) const;
  iterator end() { return entries_.end(); }
  const_iterator end() const { return entries_.end(); }
  // The value of `name`, added empty when the request has none.
  std::string& operator[](std::string_view name);
  // Removes `name`; the number removed (0 or 1).
  std::size_t erase(std::string_view name);
  // Adds a name the request does not have yet.
  void add(std::string name, std::string value);
  std::size_t size() const { return entries_.size(); }
  void reserve(std::size_t count) { entries_.reserve(count); }

 private:
  std::vector<value_type> entries_;
};

// A response head the filter sent with SF_REQ_SEND_RESPONSE_HEADER.
struct SentResponse {
  std::string status;   // "302 Redirect"
  std::string headers;  // "Location: http://...\r\n\r\n"
};

// One request as the host knows it. The filter reads it through its callbacks; everything it
// sends back is recorded here. One request is delivered on one thread at a time.
struct Request {
  NamedValues server_variables;  // REMOTE_USER, SERVER_NAME, URL
  NamedValues headers;           // "URL", "method", "Host:"
  std::vector<SentResponse> responses;
  std::vector<std::string> added_response_headers;
  std::string written;  // WriteClient data
};

// Convenience for the common case: the `method` request of `user` for `url`, from `client`
// (REMOTE_ADDR, none when empty).
Request MakeRequest(const std::string& user, const std::string& url, const std::string& server_name,
                    const std::string& method = "GET", const std::string& client = {});

// A loaded filter library.
class LoadedFilter {
 public:
  // dlopen()s `host_path`; nullptr with `error` set when it cannot be loaded or lacks the exports.
  static std::unique_ptr<LoadedFilter> Load(const std::string& host_path, std::string& error);
  ~LoadedFilter();  // unloads the library: its filter object is destroyed
  LoadedFilter(const LoadedFilter&) = delete;
  LoadedFilter& operator=(const LoadedFilter&) = delete;

  // Calls GetFilterVersion once with the server's version; keeps the record.
  BOOL CallGetFilterVersion();
  const HTTP_FILTER_VERSION& version() const { return version_; }
  bool accepted() const { return accepted_; }
  const std::string& path() const { return path_; }

  // Delivers one notification; `notification` points to the record of that type (or nullptr).
  DWORD Notify(Request& request, DWORD notification_type, void* notification);

 private:
  LoadedFilter() = default;
  void* handle_ = nullptr;
  std::string path_;
  PFN_GETFILTERVERSION get_filter_version_ = nullptr;
  PFN_HTTPFILTERPROC http_filter_proc_ = nullptr;
  HTTP_FILTER_VERSION version_{};
  bool accepted_ = false;
};

// What became of a request after its notifications.
struct Outcome {
  DWORD status = SF_STATUS_REQ_NEXT_NOTIFICATION;  // the last result that counted
  DWORD ended_at = 0;                              // the notification that ended it, or 0
  std::optional<SentResponse> response;            // the first response head sent, if any
};

// The web server's order: preproc headers, authentication, URL map, each to every accepted filter
// that registered for it. A filter's SF_STATUS_REQ_FINISHED(_KEEP_CONN) or SF_STATUS_REQ_ERROR
// ends the request; SF_STATUS_REQ_HANDLED_NOTIFICATION skips the later filters for that
// notification. Safe to call from several threads for different requests.
Outcome DeliverRequest(const std::vector<LoadedFilter*>& filters, Request& request);

inline constexpr DWORD kServerFilterVersion = 0x00050000;  // IIS 5.0

}  // namespace isapi_host
