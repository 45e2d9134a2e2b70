#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/gamesim/CGameSimulator.h"

namespace velt
{

// The game's usual LAN port: where a host announces unless told otherwise.
constexpr std::uint16_t kGameSimDefaultAnnouncePort = 6112;

extern const char* const kGameSimUsage;

// What the velt-gamesim command line asks for.
struct GameSimOptions
{
    GameSimScript m_script;
    bool m_quiet = false; // print the summary only
    // Each line printed with the wall-clock and game time at which it came ("@W +G ").
    bool m_stampLines = false;
    // When an in-game line contains the first text, the second is typed.
    std::vector<std::pair<std::string, std::string>> m_answers;
    bool m_help = false;
    std::optional<std::uint32_t> m_timeoutSeconds; // give up when the session has not ended by then
};

// A game version as people write it ("1.26", "1.32", "2.0.2") in the announcement's numbering
// (26, 10032, 10100); nothing when it is not one.
std::optional<std::uint32_t> ParseGameVersion(const std::string& text);

// Reads the arguments after the program name. Nothing, with a one-line reason in error, when
// they do not make sense.
std::optional<GameSimOptions> ParseGameSimArguments(const std::vector<std::string>& args,
                                                    std::string& error);

} // namespace velt
