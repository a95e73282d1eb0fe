// Re-entrant critical sections with the Win32 interface.
#pragma once

#include "platform/win_types.h"

// Opaque to callers; the lock lives behind the pointer.
struct CRITICAL_SECTION {
  void* impl = nullptr;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
