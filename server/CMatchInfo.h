#pragma once

#include <cstdint>
#include <string>

namespace velt
{

// One match as the match server describes it in a match record. The catalogue table owns one
// per match id; a newer record for the same id replaces it.
class CMatchInfo
{
public:
    std::string m_matchName;   // column "Match Name"
    std::string m_streamer;    // column "Streamer"
    std::string m_playersInfo; // column "Players Info"
    std::string m_mapPath;     // relative to the Warcraft III folder; column "Map"
    std::uint32_t m_extra = 0; // second number of the record; carried, not used
    std::uint32_t m_matchId = 0;
    std::uint8_t m_status = 0;  // 0 live, 1 completed, 2 broken
    std::uint32_t m_length = 0; // seconds
    std::string m_lengthText;   // m_length formatted for "Total Length"
    std::string m_startTime;    // shown as the server sends it
};

} // namespace velt
