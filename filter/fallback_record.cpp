// The fallback record "c:\error.txt".
#include "filter/fallback_record.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/last_error.h"

void WriteFallbackRecord(const char* tag) noexcept {
  const DWORD error = GetLastError();
  try {
    auto file = platform::WinFile::Open(kFallbackFile, "w");
    if (!file) return;
    char record[512];
    std::snprintf(record, sizeof record, "[%s] Error:%d", tag, static_cast<int>(error));
    file->Write(record);
    file->Close();
  } catch (...) {
  }
}
