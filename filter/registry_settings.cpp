// Reading the filter's registry settings; failures fall back to the neutral value.
#include "filter/registry_settings.h"

#include <atomic>
#include <cstdint>

#include "filter/diagnostic_log.h"
#include "platform/machine.h"
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

// The lock-free check of IsDebugOn: the change counter that every registry writer bumps (this
// process's mapping of it; old mappings stay valid) and one word that packs the counter's value
// and the machine root's epoch (its low 8 bits) that the answer was read at, and the answer.
std::atomic<const volatile std::uint64_t*> g_counter{nullptr};
std::atomic<std::uint64_t> g_key{0};
std::atomic<unsigned> g_calls{0};  // threads may lose counts; the clock is then read less often
// The clock (for a hand edit of registry.txt, which bumps no counter) is read at every
// kClockEvery-th check only.
constexpr unsigned kClockEvery = 64;

std::uint64_t KeyOf(std::uint64_t counter, unsigned epoch) {
  return counter << 9 | static_cast<std::uint64_t>(epoch & 0xFF) << 1;
}

// Reads the switch (or the answer kept for the registry as it stands) and publishes it for the
// lock-free check.
[[gnu::noinline]] bool ReadDebugSwitch() noexcept {
  try {
    platform::registry::Store::Checked checked;
    const unsigned long stamp = platform::registry::TheStore().ChangeStamp(&checked);
    const unsigned long seen = g_debug_answer.load(std::memory_order_acquire);
    bool on;
    if (seen != 0 && seen / 2 == stamp + 1) {
      on = (seen & 1) != 0;
    } else {
      // Read after the stamp: the answer is never older than the counter value it is kept with.
      on = GetRegValue(kMinutrixKey, "MinutrixDebug") == "1";
      g_debug_answer.store((stamp + 1) * 2 + (on ? 1 : 0), std::memory_order_release);
    }
    g_key.store(KeyOf(checked.counter_seen, checked.epoch) | (on ? 1 : 0),
                std::memory_order_release);
    g_counter.store(checked.counter, std::memory_order_release);
    return on;
  } catch (...) {
    WriteFallbackRecord("[IsDebugOn]");
    return false;
  }
}

}  // namespace

bool IsDebugOn() noexcept {
  // Asked at every detail line of the log, hundreds of times per request: the answer is kept for
  // as long as no program has written the registry (a write bumps the counter, so it is seen at
  // the next line) and, checked now and then, its file has not been edited by hand.
  const volatile std::uint64_t* counter = g_counter.load(std::memory_order_acquire);
  if (counter != nullptr) {
    const std::uint64_t key = g_key.load(std::memory_order_acquire);
    if ((key & ~std::uint64_t{1}) == KeyOf(*counter, platform::MachineRootEpoch())) {
      const unsigned calls = g_calls.load(std::memory_order_relaxed) + 1;
      g_calls.store(calls, std::memory_order_relaxed);
      if (calls % kClockEvery != 0 || !platform::registry::TheStore().SecondPassed())
        return (key & 1) != 0;
    }
  }
  return ReadDebugSwitch();
}
