#include "tools/matchd/ReplayConversion.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "host/ReplayHeader.h"
#include "host/ReplayHeaderBuilder.h"
#include "host/packets/LobbyPackets.h"
#include "tools/matchd/RaceText.h"
#include "tools/matchd/ReplaySeating.h"

namespace velt
{

namespace
{

constexpr std::string_view kHeaderTag = "VELT stand-in match server";
constexpr std::uint16_t kAnnouncedPort = 6112; // replaced by the local host's own port
constexpr std::uint32_t kAnnouncedSlots = 12;
constexpr std::size_t kMapSha1Size = 20;
constexpr std::uint8_t kStatusCompleted = 1;
constexpr std::uint32_t kPatch200 = 100; // 2.0 numbers its versions from 10100

std::string VersionText(const W3gHeader& header)
{
    const std::uint32_t patch = header.Patch();
    char text[16];
    if (patch >= kPatch200)
        std::snprintf(text, sizeof text, "2.%u", patch - kPatch200);
    else
        std::snprintf(text, sizeof text, "1.%02u", patch);
    return text;
}

// "(4)TurtleRock.w3x" under any folder gives "TurtleRock".
std::string MapShortName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    if (!name.empty() && name[0] == '(')
    {
        const std::size_t close = name.find(')');
        if (close != std::string::npos && close + 1 < name.size())
            name.erase(0, close + 1);
    }
    return name;
}

struct TeamPlayer
{
    std::string m_name;
    std::uint8_t m_race = 0;
};

// The playing slots by team, in slot order: participants and computers.
std::vector<std::vector<TeamPlayer>> Teams(const ReplaySeating& seating)
{
    std::vector<std::uint8_t> teamIds;
    std::vector<std::vector<TeamPlayer>> teams;
    for (std::size_t i = 0; i < seating.m_table.m_slots.size(); ++i)
    {
        const SlotRecord& slot = seating.m_table.m_slots[i];
        if (i == seating.m_viewerSlot || slot.m_slotStatus != 2 ||
            slot.m_team == kServedObserverTeam)
            continue;
        TeamPlayer player{"Computer", slot.m_race};
        if (slot.m_computer == 0)
        {
            const ServedParticipant* who = seating.ParticipantByServedId(slot.m_playerId);
            if (who == nullptr)
                continue;
            player.m_name = who->m_displayName;
        }
        const auto found = std::find(teamIds.begin(), teamIds.end(), slot.m_team);
        if (found == teamIds.end())
        {
            teamIds.push_back(slot.m_team);
            teams.push_back({player});
        }
        else
            teams[static_cast<std::size_t>(found - teamIds.begin())].push_back(player);
    }
    return teams;
}

void Describe(CMatchInfo& info, const ReplayFile& replay, const ReplaySeating& seating)
{
    const auto teams = Teams(seating);
    const std::string map = MapShortName(replay.m_lobby.m_stat.m_mapPath);
    std::size_t players = 0;
    bool evenTeams = !teams.empty();
    for (const auto& team : teams)
    {
        players += team.size();
        evenTeams = evenTeams && team.size() == teams.front().size();
    }
    if (teams.size() == 2 && players == 2)
        info.m_matchName = teams[0][0].m_name + " vs " + teams[1][0].m_name;
    else if (teams.size() == 2 && evenTeams)
        info.m_matchName =
            std::to_string(players / 2) + "v" + std::to_string(players / 2) + " " + map;
    else if (teams.size() > 2 && evenTeams && teams.front().size() == 1)
        info.m_matchName = "FFA " + std::to_string(players) + " " + map;
    else
        info.m_matchName = replay.m_lobby.m_gameName + " on " + map;

    for (const auto& team : teams)
    {
        if (!info.m_playersInfo.empty())
            info.m_playersInfo += " vs ";
        for (std::size_t i = 0; i < team.size(); ++i)
        {
            if (i > 0)
                info.m_playersInfo += ", ";
            info.m_playersInfo += team[i].m_name + "(" + RaceText(team[i].m_race) + ")";
        }
    }
    const auto observers =
        std::count_if(seating.m_participants.begin(), seating.m_participants.end(),
                      [](const ServedParticipant& entry) { return entry.m_observer; });
    if (observers > 0)
        info.m_playersInfo += " +" + std::to_string(observers) + " obs";
}

// The announcement with the recorded stat string as it is, instead of one rebuilt from its
// fields.
std::vector<std::uint8_t> BuildAnnouncement(const ReplayFile& replay, std::uint32_t hostCounter,
                                            const std::string& gameName, bool withSha1)
{
    const auto& stat = replay.m_lobby.m_stat;
    std::span<const std::uint8_t> decoded(stat.m_decoded);
    if (!withSha1 && stat.m_mapSha1 && decoded.size() >= kMapSha1Size)
        decoded = decoded.first(decoded.size() - kMapSha1Size);
    GameInfoParams info;
    info.m_product =
        replay.m_header.m_product == "W3XP" ? kProductFrozenThrone : kProductReignOfChaos;
    info.m_version = replay.m_header.m_version;
    info.m_hostCounter = hostCounter;
    info.m_entryKey = hostCounter * 0x9E3779B1u; // fixed per match, echoed by the game
    info.m_gameName = gameName;
    info.m_slotsTotal = kAnnouncedSlots;
    info.m_gameType = 1; // custom game, as LAN hosts announce
    info.m_slotsUsed = 1;
    info.m_slotsOpen = kAnnouncedSlots;
    info.m_uptimeSeconds = 0;
    info.m_port = kAnnouncedPort;
    return BuildGameInfoWithStat(info, decoded);
}

// The first form that fits the header's 255 bytes: all of it, without the map's SHA-1, then
// with the game name cut as far as it must be.
std::vector<std::uint8_t> FittingAnnouncement(const ReplayFile& replay, std::uint32_t matchId,
                                              std::string gameName)
{
    constexpr std::size_t kLimit = std::min<std::size_t>(ReplayHeader::kAnnouncementSize, 0xFF);
    auto packet = BuildAnnouncement(replay, matchId, gameName, true);
    if (packet.size() <= kLimit)
        return packet;
    packet = BuildAnnouncement(replay, matchId, gameName, false);
    if (packet.size() <= kLimit)
        return packet;
    const std::size_t over = packet.size() - kLimit;
    if (over > gameName.size())
        return {};
    return BuildAnnouncement(replay, matchId, CutUtf8(gameName, gameName.size() - over), false);
}

std::vector<std::uint8_t> BuildHeader(const ReplayFile& replay, const ReplaySeating& seating,
                                      const CMatchInfo& info, std::string& error)
{
    const auto& stat = replay.m_lobby.m_stat;
    ReplayHeaderContent content;
    content.m_tag = std::string(kHeaderTag);
    content.m_presenter = CutUtf8(info.m_streamer, ReplayHeader::kPresenterSize - 1);
    content.m_matchSeconds =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(info.m_length, 0xFFFF));
    content.m_live = false;
    const std::string gameName =
        replay.m_lobby.m_gameName.empty() ? info.m_matchName : replay.m_lobby.m_gameName;
    content.m_announcement = FittingAnnouncement(replay, info.m_matchId, gameName);
    if (content.m_announcement.empty())
    {
        error = "the stat string is too long for the announcement";
        return {};
    }
    content.m_joinReply =
        BuildSlotInfoJoin({seating.m_table, kServedViewerId, kAnnouncedPort, {127, 0, 0, 1}});
    for (const ServedParticipant& entry : seating.m_participants)
    {
        if (content.m_playerPackets.size() < entry.m_servedId)
            content.m_playerPackets.resize(entry.m_servedId);
        // From 1.31 the game reads two padding bytes after the name.
        content.m_playerPackets[entry.m_servedId - 1] =
            BuildPlayerInfo({2, entry.m_servedId, entry.m_recordedName,
                             PlayerInfoPaddingFor(replay.m_header.m_version)});
    }
    MapCheckParams mapCheck;
    mapCheck.m_mapPath = stat.m_mapPath;
    mapCheck.m_mapXoro = stat.m_mapChecksum;
    if (stat.m_mapSha1)
        mapCheck.m_sha1 = *stat.m_mapSha1;
    content.m_mapCheck = BuildMapCheck(mapCheck);
    if (content.m_mapCheck.empty() || content.m_mapCheck.size() > ReplayHeader::kMapCheckSize)
    {
        error = "the map path of " + std::to_string(stat.m_mapPath.size()) +
                " bytes is too long for the map check";
        return {};
    }
    content.m_slotTable = BuildSlotInfo(seating.m_table);
    content.m_countdown = BuildCountdownStart();
    const auto end = BuildCountdownEnd();
    content.m_countdown.insert(content.m_countdown.end(), end.begin(), end.end());
    content.m_slogan = "Recorded game, Warcraft III " + VersionText(replay.m_header);
    auto header = BuildReplayHeader(content);
    if (header.empty())
        error = "a packet does not fit its place in the replay header";
    return header;
}

} // namespace

ReplayConversion ConvertReplay(const ReplayFile& replay, const ReplayMatchFacts& facts)
{
    ReplayConversion result;
    const auto seating = SeatReplay(replay, result.m_error);
    if (!seating)
        return result;
    auto stream = ConvertReplayStream(replay, *seating, result.m_error);
    if (!stream)
        return result;
    result.m_counts = stream->m_counts;

    SyntheticMatch match;
    CMatchInfo& info = match.m_info;
    info.m_matchId = facts.m_matchId;
    info.m_streamer = replay.DisplayName(replay.m_lobby.m_host.m_playerId);
    if (info.m_streamer.empty())
        info.m_streamer = replay.m_lobby.m_stat.m_hostName;
    info.m_mapPath = replay.m_lobby.m_stat.m_mapPath;
    info.m_startTime = facts.m_startTime;
    info.m_length = stream->m_durationMs / 1000;
    info.m_status = kStatusCompleted;
    Describe(info, replay, *seating);

    match.m_header = BuildHeader(replay, *seating, info, result.m_error);
    if (match.m_header.empty())
        return result;
    match.m_stream = std::move(stream->m_bytes);
    match.m_marks = std::move(stream->m_marks);
    match.m_durationMs = stream->m_durationMs;
    match.m_live = facts.m_live;
    result.m_match = std::move(match);
    return result;
}

} // namespace velt
