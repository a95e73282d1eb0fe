// Reading the filter's registry settings; failures fall back to the neutral value.
#include "filter/registry_settings.h"

#include <atomic>

#include "filter/diagnostic_log.h"
#include "platform/registry_store.h"
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

namespace {

// (change stamp + 1) * 2 + answer; 0: none yet.
std::atomic<unsigned long> g_debug_answer{0};

// Reads the switch and keeps the answer with the stamp it belongs to.
[[gnu::noinline]] bool ReadDebugSwitch() noexcept {
  try {
    // The store's full check: the fast one may just have said that its second is over.
    const unsigned long stamp = platform::registry::TheStore().ChangeStamp();
    const unsigned long seen = g_debug_answer.load(std::memory_order_acquire);
    if (seen != 0 && seen / 2 == stamp + 1) return (seen & 1) != 0;
    const bool on = GetRegValue(kMinutrixKey, "MinutrixDebug") == "1";
    g_debug_answer.store((stamp + 1) * 2 + (on ? 1 : 0), std::memory_order_release);
    return on;
  } catch (...) {
    WriteFallbackRecord("[IsDebugOn]");
    return false;
  }
}

}  // namespace

bool IsDebugOn() noexcept {
  // Asked at every detail line of the log, hundreds of times per request: the answer is kept for
  // as long as the registry has not changed, and checked here without a call or a lock (the
  // store's published stamp, see FastChangeStamp); any change, by any program, is seen at the
  // next line.
  static platform::registry::Store& store = platform::registry::TheStore();
  if (const auto stamp = store.FastChangeStamp()) {
    const unsigned long seen = g_debug_answer.load(std::memory_order_acquire);
    if (seen != 0 && seen / 2 == *stamp + 1) return (seen & 1) != 0;
  }
  return ReadDebugSwitch();
}
