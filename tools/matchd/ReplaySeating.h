#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/packets/LobbyPackets.h"
#include "platform/Utf8.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// The lobby layout that the local game host understands: at most 12 slots (its slot-table field
// holds 12 records, and it looks at the first 12 only), observers on team 12, player records of
// ids 1 to 12, and the viewer's game as player id 2 (the host's own lobby lines go to id 2 and
// come from id 1).
constexpr std::size_t kServedSlotsMax = 12;
constexpr std::uint8_t kServedObserverTeam = 12;
constexpr std::uint8_t kServedViewerId = 2;
constexpr std::uint8_t kServedMaxPlayerId = 12;
// An id or slot that the served match leaves out.
constexpr std::int16_t kNotServed = -1;

// A recorded player or observer who sits in the served lobby and gets a player packet.
struct ServedParticipant
{
    std::uint8_t m_recordedId = 0;
    std::uint8_t m_servedId = 0;
    std::string m_recordedName; // as recorded, cut to what a player packet takes
    std::string m_displayName;  // the BattleTag when the file has one
    bool m_observer = false;
    std::uint8_t m_team = 0;
    std::uint8_t m_race = 0;
};

// How a recording's lobby is served: its slot table reworked into the host's layout, and the
// map from recorded player ids and slot numbers to served ones.
struct ReplaySeating
{
    SlotTable m_table; // the viewer seated, observers on team 12
    std::uint8_t m_viewerSlot = 0;
    std::array<std::int16_t, 256> m_servedId{};               // by recorded id; kNotServed: dropped
    std::array<std::int16_t, kMaxReplaySlots> m_servedSlot{}; // by recorded slot number
    std::vector<ServedParticipant> m_participants;            // in slot order
    std::vector<std::uint8_t> m_droppedIds; // recorded ids of silent observers left out

    // The served id of a recorded one, or nothing when it is left out.
    std::optional<std::uint8_t> ServedId(std::uint8_t recordedId) const;
    const ServedParticipant* ParticipantByServedId(std::uint8_t servedId) const;
};

// Reworks the lobby. A layout of more than 12 slots keeps the slots in use (unused ones go from
// the end first, so that slot numbers change as little as possible). The viewer takes an unused
// slot past the map's start positions, else a new slot at the end, else any unused slot. When
// every slot is taken, an observer who never acted nor chatted makes room. Recorded id 2, and
// participants' ids above 12, move to the lowest ids that nobody in the recording uses; ids 1
// and 2 of someone without a slot (a hosting bot) move above 12.
// Nothing, with the reason in error, when the recording cannot be seated so.
std::optional<ReplaySeating> SeatReplay(const ReplayFile& replay, std::string& error);

} // namespace velt
