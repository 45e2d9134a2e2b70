#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/CStreamBuffer.h"
#include "host/packets/PlayPackets.h" // kViewerPlayerId: no recorded participant carries it
#include "tools/matchd/SeededRandom.h"
#include "tools/matchd/SyntheticMatch.h"

namespace velt
{

// The host's stream buffer; a stream must fit it whole.
constexpr std::size_t kMaxStreamSize = CStreamBuffer::kCapacity;

struct RosterEntry
{
    std::uint8_t m_playerId = 0;
    std::string m_name;
    std::uint8_t m_team = 0;
    std::uint8_t m_race = 0; // slot race flags
};

// Who took part in a recorded match.
struct MatchRoster
{
    std::vector<RosterEntry> m_players;
    std::vector<RosterEntry> m_observers;
};

struct SyntheticStream
{
    std::vector<std::uint8_t> m_bytes;
    std::vector<StreamMark> m_marks;
    std::uint32_t m_durationMs = 0;
};

// Time slots of about 100 ms until the target game time, carrying the players' actions, the
// observers' minimap pings and the players' hero skill menus at the first action position of
// their slots; recorded chat from players and observers between the slots; one player leaving
// shortly before the end. The roster needs at least one player and one observer.
SyntheticStream GenerateSyntheticStream(const MatchRoster& roster, std::uint32_t targetMs,
                                        CSeededRandom& random);

} // namespace velt
