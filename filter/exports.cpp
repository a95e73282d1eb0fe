// The two exports of Minutrix.dll and its one filter object. Nothing escapes to the host: the
// exports are noexcept, so a throw that slipped past the catch would end the process, not unwind
// into the web server.
#include "filter/tempogate.h"

namespace {
ClsTempogate gblTempogate;
}

extern "C" __attribute__((visibility("default"))) BOOL GetFilterVersion(
    HTTP_FILTER_VERSION* version) noexcept {
  try {
    HttpFilterBase* filter = RegisteredFilter();
    if (filter == nullptr) return FALSE;
    return filter->GetFilterVersion(version);
  } catch (...) {
    return FALSE;
  }
}

extern "C" __attribute__((visibility("default"))) DWORD HttpFilterProc(
    HTTP_FILTER_CONTEXT* context, DWORD notificationType, LPVOID notification) noexcept {
  try {
    HttpFilterBase* filter = RegisteredFilter();
    if (filter == nullptr) return SF_STATUS_REQ_NEXT_NOTIFICATION;
    return filter->HttpFilterProc(context, notificationType, notification);
  } catch (...) {
    return SF_STATUS_REQ_ERROR;
  }
}
