// Reading the filter's registry settings; failures fall back to the neutral value.
#include "filter/registry_settings.h"

#include <vector>

#include "filter/diagnostic_log.h"
#include "platform/registry.h"

std::string GetRegValue(const std::string& sub_key, const std::string& value_name) noexcept {
  try {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub_key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return {};
    }
    DWORD size = 0;
    if (RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
      RegCloseKey(key);
      return {};
    }
    std::vector<BYTE> buffer(size);
    const LONG rc = RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr, buffer.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return {};
    // The type is not checked: whatever is stored reads as text up to its first zero byte.
    std::string text(reinterpret_cast<const char*>(buffer.data()), size);
    return text.substr(0, text.find('\0'));
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
    return GetRegValue(kMinutrixKey, "MinutrixDebug") == "1";
  } catch (...) {
    WriteFallbackRecord("[IsDebugOn]");
    return false;
  }
}
