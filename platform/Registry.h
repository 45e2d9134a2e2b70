#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velt
{

// The current user's registry. On Windows these are the registry calls; elsewhere the game runs
// under Wine, so they read Wine's registry of the current user ("user.reg" in the prefix).

// Wine's prefix: $WINEPREFIX, or ~/.wine when that is unset.
std::string WinePrefix();

// Reads a string value (at most maxBytes bytes with its terminator, as a fixed buffer would take)
// under a key of the current user. Key and value names match without regard to case.
std::optional<std::string> ReadUserRegistryString(std::string_view keyPath,
                                                  std::string_view valueName,
                                                  std::size_t maxBytes = 255);

// The same against an explicit Wine prefix, for callers (and tests) that know it.
std::optional<std::string> ReadWineUserRegistryString(const std::string& prefix,
                                                      std::string_view keyPath,
                                                      std::string_view valueName,
                                                      std::size_t maxBytes = 255);

// "\\Software\\Blizzard Entertainment\\" -> "Software\\Blizzard Entertainment": a key path
// without leading or trailing backslashes.
std::string NormaliseRegistryKey(std::string_view key);

// Turns a Windows path such as C:\Games\Warcraft III into a path of this system, through the
// prefix's dosdevices links. Missing trailing components are kept as they are spelt.
// On Windows the path is already local and is returned as it stands.
std::optional<std::string> WindowsPathToLocal(const std::string& prefix,
                                              std::string_view windowsPath);

// A Warcraft III folder as this system reaches it. On Windows it stays as written; elsewhere a
// folder in Windows form (a drive letter and a colon) goes through the Wine prefix's drive
// mapping, as the registry's folder does, and any other folder stays as written.
std::string LocalFolderPath(const std::string& folder);

} // namespace velt
