// The two exports of Minutrix.dll and its one filter object. Nothing escapes to the host.
#include "filter/tempogate.h"

namespace {
ClsTempogate gblTempogate;
}

extern "C" __attribute__((visibility("default"))) BOOL GetFilterVersion(
    HTTP_FILTER_VERSION* version) {
  try {
    HttpFilterBase* filter = RegisteredFilter();
    if (filter == nullptr) return FALSE;
    return filter->GetFilterVersion(version);
  } catch (...) {
    return FALSE;
  }
}

extern "C" __attribute__((visibility("default"))) DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* context,
                                                                       DWORD notificationType,
                                                                       LPVOID notification) {
  try {
    HttpFilterBase* filter = RegisteredFilter();
    if (filter == nullptr) return SF_STATUS_REQ_NEXT_NOTIFICATION;
    return filter->HttpFilterProc(context, notificationType, notification);
  } catch (...) {
    return SF_STATUS_REQ_ERROR;
  }
}
