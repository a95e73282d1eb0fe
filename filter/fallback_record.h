// The filter's last resort when its log cannot be written: one record in "c:\error.txt". Needs
// nothing of the filter, so that the log and the registry settings below it may both use it.
#pragma once

inline constexpr const char* kFallbackFile = "c:\\error.txt";

// Records `tag` and the last system error in "c:\error.txt", replacing what was there. Never
// throws; a record that cannot be written is dropped.
void WriteFallbackRecord(const char* tag) noexcept;
