// Reading the filter's registry settings; failures fall back to the neutral value.
#include "filter/registry_settings.h"

#include <atomic>
#include <cstdint>

#include "filter/fallback_record.h"
#include "platform/machine.h"
#include "platform/registry.h"
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

namespace debug_switch {
namespace {
// KeyOf(1, any epoch) is never 0, the key until a counter is mapped.
const volatile std::uint64_t g_no_counter = 1;
}  // namespace
State g_state{&g_no_counter, 0, 0};
}  // namespace debug_switch

namespace {

// (change stamp + 1) * 2 + answer; 0: none yet.
std::atomic<unsigned long> g_debug_answer{0};

// Reads the switch (or the answer kept for the registry as it stands) and publishes it for the
// lock-free check.
[[gnu::noinline]] bool ReadDebugSwitch() noexcept {
  try {
    platform::RegistryChangeCounter checked;
    const unsigned long stamp = platform::RegistryChangeStamp(&checked);
    const unsigned long seen = g_debug_answer.load(std::memory_order_acquire);
    bool on;
    if (seen != 0 && seen / 2 == stamp + 1) {
      on = (seen & 1) != 0;
    } else {
      // Read after the stamp: the answer is never older than the counter value it is kept with.
      on = GetRegValue(kMinutrixKey, "MinutrixDebug") == "1";
      g_debug_answer.store((stamp + 1) * 2 + (on ? 1 : 0), std::memory_order_release);
    }
    // Without the counter's mapping every check reads the switch again: key 0 matches nothing.
    const bool mapped = checked.counter != nullptr;
    debug_switch::g_state.key.store(
        mapped ? debug_switch::KeyOf(checked.counter_seen, checked.epoch) | (on ? 1 : 0) : 0,
        std::memory_order_release);
    debug_switch::g_state.counter.store(mapped ? checked.counter : &debug_switch::g_no_counter,
                                        std::memory_order_release);
    return on;
  } catch (...) {
    WriteFallbackRecord("[IsDebugOn]");
    return false;
  }
}

}  // namespace

bool debug_switch::Settle(Check check, bool on) noexcept {
  if (check == Check::kClockTurn && !platform::RegistryLookDue()) return on;
  return ReadDebugSwitch();
}

bool IsDebugOn() noexcept {
  // Asked at every detail line of the log, hundreds of times per request: the answer is kept for
  // as long as no program has written the registry (a write bumps the counter, so it is seen at
  // the next line) and, looked at every kClockEvery-th time, its file has not been edited by
  // hand for a second.
  return IsDebugOnInline();
}
