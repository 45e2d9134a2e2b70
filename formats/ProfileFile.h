#pragma once

#include <string>
#include <string_view>

namespace velt
{

// Private profile files ("key=value" lines under "[section]" headers), read and written with the
// semantics of the Windows profile functions:
// - section and key names match without regard to case;
// - writing keeps every other section, key, comment and the order of lines;
// - values are written raw (a path's backslashes stay as they are);
// - a missing file or section is created;
// - a write that cannot replace the file leaves the old file as it was.

// The integer at the start of the value; the default when the key is missing. Negative values
// read as 0, as the platform does.
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path);

// The value with surrounding blanks (and one pair of surrounding quotes) removed, cut to
// bufferSize - 1 characters; the default when the key is missing.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t bufferSize,
                                    const std::string& path);

// Writes one key; true when the file was written.
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path);

} // namespace velt
