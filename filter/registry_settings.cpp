// Reading the filter's registry settings; failures fall back to the neutral value.
#include "filter/registry_settings.h"

#include <atomic>

#include "filter/diagnostic_log.h"
#include "platform/shlwapi.h"

std::string GetRegValue(const std::string& sub_key, const std::string& value_name) noexcept {
  try {
    // The type is not checked: whatever is stored reads as text up to its first zero byte.
    return platform::GetValueText(HKEY_LOCAL_MACHINE, sub_key.c_str(), value_name.c_str());
  } catch (...) {
    WriteFallbackRecord("[GetRegValue]");
    return {};
  }
}

std::string GetMinutrixPath() noexcept {
  try {
    return GetRegValue(kMinutrixKey, "MinutrixPath");
  } catch (...) {
    WriteFallbackRecord("[GetMinutrixPath]");
    return {};
  }
}

bool IsDebugOn() noexcept {
  try {
    // Asked at every detail line of the log, so the answer is kept for as long as the registry
    // has not changed; any change to it, by any program, is seen at the next line.
    static std::atomic<unsigned long> cached{0};  // (change stamp + 1) * 2 + answer; 0: none yet
    const unsigned long stamp = platform::RegistryChangeStamp();
    const unsigned long seen = cached.load(std::memory_order_acquire);
    if (seen != 0 && seen / 2 == stamp + 1) return (seen & 1) != 0;
    const bool on = GetRegValue(kMinutrixKey, "MinutrixDebug") == "1";
    cached.store((stamp + 1) * 2 + (on ? 1 : 0), std::memory_order_release);
    return on;
  } catch (...) {
    WriteFallbackRecord("[IsDebugOn]");
    return false;
  }
}
