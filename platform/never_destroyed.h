// Objects that must outlive every static destructor of their library: the filter object closes
// the store and writes the log from its own destructor, whatever order the others run in.
#pragma once

#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace platform {

// A new T that is never destroyed. Kept on purpose, so the leak checker is told to ignore it
// (it would otherwise report it once the library that holds the only reference is unloaded).
template <class T, class... Args>
T& NeverDestroyed(Args&&... args) {
  T* object = new T(std::forward<Args>(args)...);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_ignore_object(object);
#endif
  return *object;
}

}  // namespace platform
