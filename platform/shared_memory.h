// Reading memory that another process writes (files mapped MAP_SHARED).
#pragma once

#include <atomic>

namespace platform {

// Orders the loads around it, so that two reads of a shared header are two real reads. GCC
// refuses thread fences under ThreadSanitizer, which cannot see the other process anyway: there
// only the compiler is held back.
inline void SharedMemoryAcquireFence() {
#if defined(__SANITIZE_THREAD__)
  std::atomic_signal_fence(std::memory_order_seq_cst);
#else
  std::atomic_thread_fence(std::memory_order_acquire);
#endif
}

}  // namespace platform
