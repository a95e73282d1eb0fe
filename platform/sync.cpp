// Critical sections over std::recursive_mutex: the holder may enter again, as on Windows.
#include "platform/sync.h"

#include <mutex>

namespace {
std::recursive_mutex* Impl(LPCRITICAL_SECTION section) {
  return static_cast<std::recursive_mutex*>(section->impl);
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  section->impl = new std::recursive_mutex;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) { Impl(section)->lock(); }

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return Impl(section)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) { Impl(section)->unlock(); }

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete Impl(section);
  section->impl = nullptr;
}
