#include "tools/matchd/ReplaySeating.h"

#include <algorithm>
#include <functional>

#include "host/packets/GamePacket.h"
#include "platform/ByteReader.h"

namespace velt
{

namespace
{

constexpr std::uint8_t kSlotOccupied = 2;
constexpr std::uint8_t kDownloadComplete = 100;
constexpr std::uint8_t kObserverRace = 0x60;  // random and selectable, as observer slots show
constexpr std::uint8_t kHostLineSenderId = 1; // the host's lobby lines come from this id

struct Seat
{
    ReplaySlot m_slot;
    int m_recordedIndex = -1; // -1: the viewer's new slot
    bool m_viewer = false;
};

bool IsUsed(const ReplaySlot& slot)
{
    return slot.m_slotStatus == kSlotOccupied;
}

bool IsHuman(const ReplaySlot& slot)
{
    return IsUsed(slot) && slot.m_computer == 0 && slot.m_playerId != 0;
}

// Ids that issued a command block or a chat line: they must keep their place.
std::array<bool, 256> ActiveIds(const ReplayFile& replay)
{
    std::array<bool, 256> active{};
    CByteReader blocks(replay.m_commandData);
    while (blocks.Ok() && !blocks.AtEnd())
    {
        const std::uint8_t playerId = blocks.U8();
        const std::uint16_t length = blocks.U16();
        blocks.Skip(length);
        if (blocks.Ok())
            active[playerId] = true;
    }
    for (const ReplayChat& chat : replay.m_chat)
        active[chat.m_senderId] = true;
    return active;
}

// Every id the recording names anywhere.
std::array<bool, 256> ReferencedIds(const ReplayFile& replay, const std::array<bool, 256>& active)
{
    std::array<bool, 256> referenced = active;
    for (const ReplaySlot& slot : replay.m_lobby.m_slots)
        if (IsHuman(slot))
            referenced[slot.m_playerId] = true;
    referenced[replay.m_lobby.m_host.m_playerId] = true;
    for (const ReplayPlayerRecord& player : replay.m_lobby.m_players)
        referenced[player.m_playerId] = true;
    for (const ReplayLeave& leave : replay.m_leaves)
        referenced[leave.m_playerId] = true;
    return referenced;
}

ReplaySlot ViewerSlot()
{
    ReplaySlot slot;
    slot.m_playerId = kServedViewerId;
    slot.m_downloadStatus = kDownloadComplete;
    slot.m_slotStatus = kSlotOccupied;
    slot.m_team = kServedObserverTeam;
    slot.m_colour = kServedObserverTeam;
    slot.m_race = kObserverRace;
    return slot;
}

class CSeatPlanner
{
public:
    CSeatPlanner(const ReplayFile& replay, std::string& error)
        : m_replay(replay), m_error(error), m_active(ActiveIds(replay)),
          m_observerTeam(replay.ObserverTeam())
    {
        const auto& slots = replay.m_lobby.m_slots;
        for (std::size_t i = 0; i < slots.size(); ++i)
            m_seats.push_back({slots[i], static_cast<int>(i), false});
    }

    std::optional<ReplaySeating> Plan()
    {
        if (!FitSlots() || !SeatViewer())
            return std::nullopt;
        ReplaySeating seating;
        if (!MapIds(seating))
            return std::nullopt;
        Fill(seating);
        return seating;
    }

private:
    bool IsSilentObserver(const Seat& seat) const
    {
        return !seat.m_viewer && IsHuman(seat.m_slot) && seat.m_slot.m_team == m_observerTeam &&
               !m_active[seat.m_slot.m_playerId];
    }

    // Removes the last seat that matches; false when none does.
    bool RemoveLast(const std::function<bool(const Seat&)>& match)
    {
        for (std::size_t i = m_seats.size(); i-- > 0;)
        {
            if (!match(m_seats[i]))
                continue;
            if (IsHuman(m_seats[i].m_slot))
                m_dropped.push_back(m_seats[i].m_slot.m_playerId);
            m_seats.erase(m_seats.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
        return false;
    }

    bool FitSlots()
    {
        while (m_seats.size() > kServedSlotsMax &&
               RemoveLast([](const Seat& seat) { return !IsUsed(seat.m_slot); }))
        {
        }
        while (m_seats.size() > kServedSlotsMax &&
               RemoveLast([this](const Seat& seat) { return IsSilentObserver(seat); }))
        {
        }
        if (m_seats.size() <= kServedSlotsMax)
            return true;
        m_error = "more than 12 slots are in use";
        return false;
    }

    void TakeSeat(Seat& seat)
    {
        seat.m_slot = ViewerSlot();
        seat.m_viewer = true;
    }

    bool SeatViewer()
    {
        const std::size_t startSpots = m_replay.m_lobby.m_startSpots;
        for (std::size_t i = startSpots; i < m_seats.size(); ++i)
            if (!IsUsed(m_seats[i].m_slot))
            {
                TakeSeat(m_seats[i]);
                return true;
            }
        if (m_seats.size() < kServedSlotsMax)
        {
            m_seats.push_back({ViewerSlot(), -1, true});
            return true;
        }
        for (Seat& seat : m_seats)
            if (!IsUsed(seat.m_slot))
            {
                TakeSeat(seat);
                return true;
            }
        for (std::size_t i = m_seats.size(); i-- > 0;)
            if (IsSilentObserver(m_seats[i]))
            {
                m_dropped.push_back(m_seats[i].m_slot.m_playerId);
                TakeSeat(m_seats[i]);
                return true;
            }
        m_error = "every slot is in use: no place for the viewer";
        return false;
    }

    bool Dropped(std::uint8_t id) const
    {
        return std::find(m_dropped.begin(), m_dropped.end(), id) != m_dropped.end();
    }

    // Participants keep their ids when they can; recorded id 2 and ids above 12 move to the
    // lowest free ids. Ids the recording names without a slot keep theirs, but 1 and 2 move
    // above 12: the host's lobby lines come from id 1 and go to id 2, so both are kept for a
    // seated participant and the viewer.
    bool MapIds(ReplaySeating& seating)
    {
        const std::array<bool, 256> referenced = ReferencedIds(m_replay, m_active);
        std::array<bool, 256> participant{};
        for (const Seat& seat : m_seats)
            if (!seat.m_viewer && IsHuman(seat.m_slot))
                participant[seat.m_slot.m_playerId] = true;
        std::array<bool, 256> moves{};
        std::array<bool, 256> taken{};
        taken[kServedViewerId] = true;
        for (std::size_t id = 0; id < 256; ++id)
        {
            seating.m_servedId[id] = static_cast<std::int16_t>(id);
            if (participant[id])
                moves[id] = id == kServedViewerId || id > kServedMaxPlayerId;
            else if (referenced[id] && !Dropped(id))
                moves[id] = id == kServedViewerId || id == kHostLineSenderId;
            else
                continue;
            taken[id] = taken[id] || !moves[id];
        }
        for (std::uint8_t id : m_dropped)
            seating.m_servedId[id] = kNotServed;
        const auto freeId = [&](std::size_t from, std::size_t to) -> std::int16_t
        {
            for (std::size_t id = from; id <= to; ++id)
                if (!taken[id])
                {
                    taken[id] = true;
                    return static_cast<std::int16_t>(id);
                }
            return kNotServed;
        };
        for (std::size_t id = 0; id < 256; ++id)
        {
            if (!moves[id])
                continue;
            const std::int16_t to = participant[id] ? freeId(1, kServedMaxPlayerId)
                                                    : freeId(kServedMaxPlayerId + 1, 255);
            if (to == kNotServed)
            {
                m_error = "no free player id for recorded id " + std::to_string(id);
                return false;
            }
            seating.m_servedId[id] = to;
        }
        return true;
    }

    void Fill(ReplaySeating& seating) const
    {
        seating.m_servedSlot.fill(kNotServed);
        seating.m_droppedIds = m_dropped;
        const bool teamsMove = m_observerTeam != kServedObserverTeam;
        for (std::size_t i = 0; i < m_seats.size(); ++i)
        {
            const Seat& seat = m_seats[i];
            if (seat.m_viewer)
                seating.m_viewerSlot = static_cast<std::uint8_t>(i);
            if (seat.m_recordedIndex >= 0)
                seating.m_servedSlot[static_cast<std::size_t>(seat.m_recordedIndex)] =
                    static_cast<std::int16_t>(i);
            ReplaySlot slot = seat.m_slot;
            const bool observer = slot.m_team == m_observerTeam || seat.m_viewer;
            if (observer && teamsMove)
            {
                slot.m_team = kServedObserverTeam;
                slot.m_colour = kServedObserverTeam;
            }
            const bool human = !seat.m_viewer && IsHuman(slot);
            if (human)
                slot.m_playerId = static_cast<std::uint8_t>(seating.m_servedId[slot.m_playerId]);
            seating.m_table.m_slots.push_back(slot);
            if (!human)
                continue;
            ServedParticipant entry;
            entry.m_recordedId = seat.m_slot.m_playerId;
            entry.m_servedId = slot.m_playerId;
            entry.m_recordedName =
                CutUtf8(m_replay.RecordedName(entry.m_recordedId), kPlayerNameMaxLength);
            entry.m_displayName = m_replay.DisplayName(entry.m_recordedId);
            if (entry.m_displayName.empty())
                entry.m_displayName = "Player " + std::to_string(entry.m_recordedId);
            if (entry.m_recordedName.empty())
                entry.m_recordedName = CutUtf8(entry.m_displayName, kPlayerNameMaxLength);
            entry.m_observer = slot.m_team == kServedObserverTeam;
            entry.m_team = slot.m_team;
            entry.m_race = slot.m_race;
            seating.m_participants.push_back(std::move(entry));
        }
        seating.m_table.m_randomSeed = m_replay.m_lobby.m_randomSeed;
        seating.m_table.m_layoutStyle = m_replay.m_lobby.m_selectMode;
        seating.m_table.m_playerSlots = m_replay.m_lobby.m_startSpots;
    }

    const ReplayFile& m_replay;
    std::string& m_error;
    const std::array<bool, 256> m_active;
    const std::uint8_t m_observerTeam;
    std::vector<Seat> m_seats;
    std::vector<std::uint8_t> m_dropped;
};

} // namespace

std::optional<std::uint8_t> ReplaySeating::ServedId(std::uint8_t recordedId) const
{
    const std::int16_t id = m_servedId[recordedId];
    if (id == kNotServed)
        return std::nullopt;
    return static_cast<std::uint8_t>(id);
}

const ServedParticipant* ReplaySeating::ParticipantByServedId(std::uint8_t servedId) const
{
    const auto it =
        std::find_if(m_participants.begin(), m_participants.end(),
                     [&](const ServedParticipant& entry) { return entry.m_servedId == servedId; });
    return it == m_participants.end() ? nullptr : &*it;
}

std::optional<ReplaySeating> SeatReplay(const ReplayFile& replay, std::string& error)
{
    return CSeatPlanner(replay, error).Plan();
}

} // namespace velt
