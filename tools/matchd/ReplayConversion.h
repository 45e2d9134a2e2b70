#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/matchd/ReplayStream.h"
#include "tools/matchd/SyntheticMatch.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// What the catalogue says about a converted recording beyond what the file holds.
struct ReplayMatchFacts
{
    std::uint32_t m_matchId = 0;
    std::string m_startTime; // "YYYY-MM-DD HH:MM:SS"
    bool m_live = false;     // released at the pace of its own game time
};

struct ReplayConversion
{
    std::optional<SyntheticMatch> m_match;
    ReplayStreamCounts m_counts;
    std::string m_error; // why there is no match
};

// A recorded game as a match the stand-in server serves as it is.
//
// The catalogue record: a name from the players ("A vs B", "2v2 <map>", "FFA 3 <map>", else the
// recorded game name and the map), the players text (teams joined by " vs ", each player with
// race, then the observer count), the recorded map path, the start time given, the length of the
// summed time increments, and the recording's host as streamer.
//
// The replay header: the announcement 0x30 with the recording's product and version, its game
// name and its stat string re-encoded byte for byte (the map's SHA-1 and then the game name
// give way if the 255 bytes would not hold them), the join reply 0x04 giving the viewer id 2,
// one player packet 0x06 per seated participant with the name as recorded (two padding bytes
// after it from 1.31, one before), the map check 0x3D
// (map path at header offset 1418; the recording knows the map's scripts hash and SHA-1 but
// not its file size and CRC, which stay 0), the slot table 0x09 (ReplaySeating), the
// countdown, the recording's host as presenter, and the not-live byte set.
ReplayConversion ConvertReplay(const ReplayFile& replay, const ReplayMatchFacts& facts);

} // namespace velt
