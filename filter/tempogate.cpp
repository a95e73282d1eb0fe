// ClsTempogate's handlers.
#include "filter/tempogate.h"

DWORD ClsTempogate::OnAuthentication(HTTP_FILTER_CONTEXT*, HTTP_FILTER_AUTHENT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}

DWORD ClsTempogate::OnEndOfNetSession(HTTP_FILTER_CONTEXT*) {
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
