#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velt
{

// A server's text made safe to print on a terminal, as UTF-8: decoded the way the desktop list
// decodes it (UTF-8, or Latin-1 when it is not valid UTF-8), then every control character (C0,
// DEL, C1) replaced, so that no escape sequence reaches the terminal. Tabs and line breaks
// become spaces, so that a text stays within its line and its tab-separated field; the other
// control characters become U+FFFD.
std::string TerminalText(std::string_view text);

// The columns a text of TerminalText takes on a terminal: wide characters take two, combining
// marks none.
std::size_t TerminalWidth(std::string_view text);

} // namespace velt
