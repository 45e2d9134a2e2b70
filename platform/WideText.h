#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

namespace velt
{

// Text crosses the Windows API as UTF-16 and lives as UTF-8 everywhere else; these convert at
// that boundary only. Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

} // namespace velt

#endif
