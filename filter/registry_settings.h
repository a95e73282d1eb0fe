// The filter's two registry settings under HKEY_LOCAL_MACHINE\software\Minutrix, read afresh at
// every call. None of these throws.
#pragma once

#include <string>

inline constexpr const char* kMinutrixKey = "software\\Minutrix";

// The value's stored bytes taken as text up to the first zero byte; empty when unreadable.
std::string GetRegValue(const std::string& sub_key, const std::string& value_name) noexcept;
// "MinutrixPath": the install directory, or empty.
std::string GetMinutrixPath() noexcept;
// True exactly when "MinutrixDebug" reads as the text "1".
bool IsDebugOn() noexcept;
