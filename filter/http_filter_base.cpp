// The base handlers and the notification dispatch.
#include "filter/http_filter_base.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<HttpFilterBase*> g_filter{nullptr};
}

HttpFilterBase* RegisteredFilter() { return g_filter.load(); }

HttpFilterBase::HttpFilterBase() { g_filter.store(this); }

HttpFilterBase::~HttpFilterBase() {
  HttpFilterBase* self = this;
  g_filter.compare_exchange_strong(self, nullptr);
}

DWORD HttpFilterBase::HttpFilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType,
                                     void* notification) {
  switch (notificationType) {
    case SF_NOTIFY_READ_RAW_DATA:
      return OnReadRawData(context, static_cast<HTTP_FILTER_RAW_DATA*>(notification));
    case SF_NOTIFY_PREPROC_HEADERS:
      return OnPreprocHeaders(context, static_cast<HTTP_FILTER_PREPROC_HEADERS*>(notification));
    case SF_NOTIFY_AUTHENTICATION:
      return OnAuthentication(context, static_cast<HTTP_FILTER_AUTHENT*>(notification));
    case SF_NOTIFY_URL_MAP:
      return OnUrlMap(context, static_cast<HTTP_FILTER_URL_MAP*>(notification));
    case SF_NOTIFY_SEND_RAW_DATA:
      return OnSendRawData(context, static_cast<HTTP_FILTER_RAW_DATA*>(notification));
    case SF_NOTIFY_LOG:
      return OnLog(context, static_cast<HTTP_FILTER_LOG*>(notification));
    case SF_NOTIFY_END_OF_NET_SESSION:
      return OnEndOfNetSession(context);
    case SF_NOTIFY_END_OF_REQUEST:
      return OnEndOfRequest(context);
    default:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

BOOL HttpFilterBase::GetFilterVersion(HTTP_FILTER_VERSION* version) {
  version->lpszFilterDesc[0] = '\0';
  version->dwFlags = SF_NOTIFY_ORDER_DEFAULT;
  version->dwFilterVersion = HTTP_FILTER_REVISION;
  return TRUE;
}

DWORD HttpFilterBase::OnReadRawData(HTTP_FILTER_CONTEXT*, HTTP_FILTER_RAW_DATA*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnPreprocHeaders(HTTP_FILTER_CONTEXT*, HTTP_FILTER_PREPROC_HEADERS*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnAuthentication(HTTP_FILTER_CONTEXT*, HTTP_FILTER_AUTHENT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnUrlMap(HTTP_FILTER_CONTEXT*, HTTP_FILTER_URL_MAP*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnSendRawData(HTTP_FILTER_CONTEXT*, HTTP_FILTER_RAW_DATA*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnLog(HTTP_FILTER_CONTEXT*, HTTP_FILTER_LOG*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnEndOfNetSession(HTTP_FILTER_CONTEXT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
DWORD HttpFilterBase::OnEndOfRequest(HTTP_FILTER_CONTEXT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
