// ClsTempogate, the library's one filter object: it decides every request of a monitored user.
#pragma once

#include "filter/http_filter_base.h"

class ClsTempogate : public HttpFilterBase {
 public:
  ClsTempogate() = default;

  DWORD OnAuthentication(HTTP_FILTER_CONTEXT* context, HTTP_FILTER_AUTHENT* authent) override;
  DWORD OnEndOfNetSession(HTTP_FILTER_CONTEXT* context) override;

  // Loads the data sets once; true when they are loaded. Defined with the data sets.
  bool InitializeFilter();

  // The has-time answer keeps only the low byte of what it is given.
  void SetHasTime(int value) { m_bHasTime = value & 0xff; }
  int GetHasTime() const { return m_bHasTime; }

  int m_bUserSeen = 0;
  int m_bHasTime = 0;
  int m_bDataSetsLoaded = 0;
};
