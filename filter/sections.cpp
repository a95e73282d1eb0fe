// The four sections and their log lines.
#include "filter/sections.h"

#include "filter/diagnostic_log.h"
#include "platform/sync.h"

std::atomic<int> sectionUseCount[kSectionCount];

namespace {
CRITICAL_SECTION g_sections[kSectionCount];
}

void LockSection(int type) {
  const int count = ++sectionUseCount[type];
  DoMessageHandling("[LockSection] type %d", type, 0);
  DoMessageHandling("[LockSection] number %d", count, 0);
  EnterCriticalSection(&g_sections[type]);
}

void UnlockSection(int type) {
  const int count = --sectionUseCount[type];
  LeaveCriticalSection(&g_sections[type]);
  DoMessageHandling("[UnlockSection] type %d", type, 0);
  DoMessageHandling("[UnlockSection] number %d", count, 0);
}

void CreateSections() {
  for (int type = kSectionCount - 1; type >= 0; --type)
    InitializeCriticalSection(&g_sections[type]);
}

void DeleteSections() {
  for (int type = kSectionCount - 1; type >= 0; --type) DeleteCriticalSection(&g_sections[type]);
}
