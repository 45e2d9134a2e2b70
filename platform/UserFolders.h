#pragma once

#include <string>

namespace velt
{

// Where a user's settings for a program live by this system's custom: the XDG configuration
// folder on Linux, the roaming application data on Windows.
enum class SettingsConvention
{
    kXdg,
    kWindows,
};

#ifdef _WIN32
inline constexpr SettingsConvention kSystemSettingsConvention = SettingsConvention::kWindows;
#else
inline constexpr SettingsConvention kSystemSettingsConvention = SettingsConvention::kXdg;
#endif

// The user's roaming application data folder as the Windows shell knows it, even when %APPDATA%
// is missing from the environment (a program started by a service, or with a cleared
// environment). Empty when the shell cannot tell, and on other systems.
std::string ShellRoamingAppDataFolder();

} // namespace velt
