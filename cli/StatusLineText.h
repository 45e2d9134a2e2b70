#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/HostStatus.h"

namespace velt
{

// What the status line shows beside the host's own snapshot.
struct StatusLineFacts
{
    std::string m_matchName;      // the catalogue's name, as the server sent it; may be empty
    std::uint16_t m_gamePort = 0; // where the game joins; 0 when not known
};

// Width assumed when the terminal does not tell its own.
inline constexpr std::size_t kDefaultStatusColumns = 80;

// The one-line status of a watched match, for a terminal of the given width: the match, the
// phase (waiting for the game, lobby, paused, buffering), game time, how far behind live, the
// speed, the data downloaded and buffered ahead, the live delay. When the line does not fit, the
// least useful parts go first (buffered ahead, delay, downloaded, the match's name, speed,
// behind live) and what is left is cut; it always stays one column short of the width, so the
// terminal never wraps it. Server text is made terminal-safe, and a long match name is cut.
std::string StatusLineText(const HostStatus& status, const StatusLineFacts& facts,
                           std::size_t columns);

// "12:05", or "1:02:03" from an hour on.
std::string ClockText(std::uint32_t seconds);
// "512 B", "12 KiB", "1.2 MiB".
std::string ByteCountText(std::uint32_t bytes);

} // namespace velt
