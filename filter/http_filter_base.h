// The filter base: one handler per notification, each passing the request on, and the dispatch
// that routes HttpFilterProc to them. The one filter object of the library registers itself here.
#pragma once

#include "platform/isapi.h"

class HttpFilterBase {
 public:
  HttpFilterBase();
  // Not virtual, as in the original object layout: the one filter object is destroyed as itself.
  ~HttpFilterBase();
  HttpFilterBase(const HttpFilterBase&) = delete;
  HttpFilterBase& operator=(const HttpFilterBase&) = delete;

  virtual DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType,
                               void* notification);
  // Empty description, SF_NOTIFY_ORDER_DEFAULT, HTTP_FILTER_REVISION; TRUE.
  virtual BOOL GetFilterVersion(HTTP_FILTER_VERSION* version);
  virtual DWORD OnReadRawData(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_RAW_DATA* rawData);
  virtual DWORD OnPreprocHeaders(HTTP_FILTER_CONTEXT* context,
                                 HTTP_FILTER_PREPROC_HEADERS* preprocHeaders);
  virtual DWORD OnAuthentication(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_AUTHENT* authent);
  virtual DWORD OnUrlMap(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_URL_MAP* urlMap);
  virtual DWORD OnSendRawData(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_RAW_DATA* rawData);
  virtual DWORD OnLog(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_LOG* log);
  virtual DWORD OnEndOfNetSession(HTTP_FILTER_CONTEXT* context);
  virtual DWORD OnEndOfRequest(HTTP_FILTER_CONTEXT* context);
};

// The library's one filter object, or nullptr before its construction and after its destruction.
HttpFilterBase* RegisteredFilter();
