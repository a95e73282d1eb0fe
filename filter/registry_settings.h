// The filter's two registry settings under HKEY_LOCAL_MACHINE\software\Minutrix, read afresh at
// every call. None of these throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/machine.h"

inline constexpr const char* kMinutrixKey = "software\\Minutrix";

// The value's stored bytes taken as text up to the first zero byte; empty when unreadable.
std::string GetRegValue(const std::string& sub_key, const std::string& value_name) noexcept;
// "MinutrixPath": the install directory, or empty.
std::string GetMinutrixPath() noexcept;
// True exactly when "MinutrixDebug" reads as the text "1".
bool IsDebugOn() noexcept;

namespace debug_switch {
// The lock-free check of IsDebugOn, inline as every detail line of the log asks it: the change
// counter that every registry writer bumps (this process's mapping; old mappings stay valid)
// and one word packing the counter's value and the machine root's epoch (its low 8 bits) that
// the answer was read at, and the answer.
// Until the switch is first read, `counter` points at a value that no key matches. One object,
// so that a check addresses it once.
struct State {
  std::atomic<const volatile std::uint64_t*> counter;
  std::atomic<std::uint64_t> key;
  std::atomic<unsigned> calls;  // threads may lose counts; the clock is read less often
};
extern State g_state;
// The clock (for a hand edit of registry.txt, which bumps no counter) is read at every
// kClockEvery-th check only.
inline constexpr unsigned kClockEvery = 64;
inline std::uint64_t KeyOf(std::uint64_t counter, unsigned epoch) {
  return counter << 9 | static_cast<std::uint64_t>(epoch & 0xFF) << 1;
}
enum class Check { kFailed, kPassed, kClockTurn };
// kPassed (and the answer in `on`) when nothing can have changed; kClockTurn the same, but the
// clock must be looked at; kFailed when the switch must be read.
inline Check Fast(bool& on) noexcept {
  const volatile std::uint64_t* counter = g_state.counter.load(std::memory_order_acquire);
  const std::uint64_t key = g_state.key.load(std::memory_order_acquire);
  if ((key & ~std::uint64_t{1}) != KeyOf(*counter, platform::MachineRootEpoch()))
    return Check::kFailed;
  const unsigned calls = g_state.calls.load(std::memory_order_relaxed) + 1;
  g_state.calls.store(calls, std::memory_order_relaxed);
  on = (key & 1) != 0;
  return calls % kClockEvery != 0 ? Check::kPassed : Check::kClockTurn;
}
// The answer after a check that did not pass.
bool Settle(Check check, bool on) noexcept;
}  // namespace debug_switch

// IsDebugOn with the lock-free check inline.
inline bool IsDebugOnInline() noexcept {
  bool on = false;
  const debug_switch::Check check = debug_switch::Fast(on);
  return check == debug_switch::Check::kPassed ? on : debug_switch::Settle(check, on);
}
