// ClsTempogate, the library's one filter object: its start-up, its shut-down and its decision on
// every request of a monitored user.
#pragma once

#include <atomic>

#include "filter/http_filter_base.h"

class ClsTempogate : public HttpFilterBase {
 public:
  ClsTempogate() = default;
  // Closes the data sets and the database and empties the time map, with its log lines.
  ~ClsTempogate();

  // The start-up: status file, version record, database and data sets. TRUE when ready.
  BOOL GetFilterVersion(HTTP_FILTER_VERSION* version) override;
  DWORD OnPreprocHeaders(HTTP_FILTER_CONTEXT* context,
                         HTTP_FILTER_PREPROC_HEADERS* preprocHeaders) override;
  DWORD OnAuthentication(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_AUTHENT* authent) override;
  DWORD OnUrlMap(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_URL_MAP* urlMap) override;
  DWORD OnEndOfNetSession(HTTP_FILTER_CONTEXT* context) override;

  // Non-zero when the connection and the data sets are ready. Called only by GetFilterVersion.
  int Initialize();
  // Loads the data sets once; true when they are loaded. Defined with the data sets.
  bool InitializeFilter();

  // The has-time answer keeps only the low byte of what it is given.
  void SetHasTime(int value) { m_bHasTime = value & 0xff; }
  int GetHasTime() const { return m_bHasTime; }

  // Set under section 0 and consumed under section 1, so by two threads that share no section.
  std::atomic<int> m_bUserSeen{0};
  int m_bHasTime = 0;
  int m_bDataSetsLoaded = 0;

 private:
  // The decision on one request; see request_handling.cpp. With a shared store, HandleRequest
  // answers by StoreDownPolicy while the store cannot be reached and tries it again once a
  // second; DecideRequest is the decision itself.
  DWORD HandleRequest(HTTP_FILTER_CONTEXT* context);
  DWORD DecideRequest(HTTP_FILTER_CONTEXT* context);
  // A shared store that failed: opened again and every table read anew (the data sets loaded
  // now when the start-up could not). True when it answers again. Never raises.
  bool ReconnectStore();
  bool sections_created_ = false;
};

// The filter's registration flags: preproc headers, authentication, URL map, end of net session,
// on secure and non-secure ports, at the host's default priority.
inline constexpr DWORD kTempogateNotifications =
    SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_AUTHENTICATION | SF_NOTIFY_URL_MAP |
    SF_NOTIFY_END_OF_NET_SESSION | SF_NOTIFY_NONSECURE_PORT | SF_NOTIFY_SECURE_PORT;
