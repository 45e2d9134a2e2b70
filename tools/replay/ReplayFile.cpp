#include "tools/replay/ReplayFile.h"

#include <algorithm>

namespace velt
{
namespace
{

constexpr std::uint32_t kPatch129 = 29; // 24 slots, observers on team 24
constexpr std::uint8_t kObserverTeamBefore129 = 12;
constexpr std::uint8_t kObserverTeamFrom129 = 24;
constexpr std::uint8_t kSlotOccupied = 2;

} // namespace

std::span<const std::uint8_t> ReplayFile::CommandBytes(const ReplayTimeSlot& slot) const
{
    return std::span(m_commandData).subspan(slot.m_dataOffset, slot.m_dataSize);
}

const PlayerActionCounts* ReplayFile::ActionsOf(std::uint8_t playerId) const
{
    const auto it = std::find_if(m_actions.begin(), m_actions.end(),
                                 [&](const auto& counts) { return counts.m_playerId == playerId; });
    return it == m_actions.end() ? nullptr : &*it;
}

std::uint8_t ReplayFile::ObserverTeam() const
{
    return m_header.Patch() >= kPatch129 ? kObserverTeamFrom129 : kObserverTeamBefore129;
}

const ReplaySlot* ReplayFile::SlotOf(std::uint8_t playerId) const
{
    const auto& slots = m_lobby.m_slots;
    const auto it = std::find_if(slots.begin(), slots.end(),
                                 [&](const ReplaySlot& slot)
                                 {
                                     return slot.m_slotStatus == kSlotOccupied &&
                                            slot.m_computer == 0 && slot.m_playerId == playerId;
                                 });
    return it == slots.end() ? nullptr : &*it;
}

std::string ReplayFile::RecordedName(std::uint8_t playerId) const
{
    if (m_lobby.m_host.m_playerId == playerId)
        return m_lobby.m_host.m_name;
    for (const auto& player : m_lobby.m_players)
        if (player.m_playerId == playerId)
            return player.m_name;
    return {};
}

std::string ReplayFile::DisplayName(std::uint8_t playerId) const
{
    for (const auto& profile : m_lobby.m_profiles)
        if (profile.m_playerId == playerId && !profile.m_battleTag.empty())
            return profile.m_battleTag;
    return RecordedName(playerId);
}

} // namespace velt
