#include "tools/matchd/SyntheticMatchGenerator.h"

#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "host/ReplayHeaderBuilder.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "tools/matchd/RaceText.h"
#include "tools/matchd/SeededRandom.h"
#include "tools/matchd/SyntheticStream.h"

namespace velt
{

namespace
{

struct MeleeMap
{
    std::string_view m_path;
    std::string_view m_shortName;
    std::uint8_t m_startPositions;
    std::uint16_t m_width;
    std::uint16_t m_height;
};

constexpr std::array<MeleeMap, 9> kMaps = {{
    {"Maps\\FrozenThrone\\(2)EchoIsles.w3x", "Echo Isles", 2, 84, 84},
    {"Maps\\FrozenThrone\\(2)TerenasStand.w3x", "Terenas Stand", 2, 100, 92},
    {"Maps\\FrozenThrone\\(4)TwistedMeadows.w3x", "Twisted Meadows", 4, 116, 116},
    {"Maps\\FrozenThrone\\(4)TurtleRock.w3x", "Turtle Rock", 4, 108, 108},
    {"Maps\\(4)LostTemple.w3m", "Lost Temple", 4, 116, 116},
    {"Maps\\FrozenThrone\\(6)GnollWood.w3x", "Gnoll Wood", 6, 116, 116},
    {"Maps\\FrozenThrone\\(8)Sanctuary.w3x", "Sanctuary", 8, 148, 148},
    {"Maps\\FrozenThrone\\(8)Deadlock.w3x", "Deadlock", 8, 180, 180},
    {"Maps\\FrozenThrone\\(8)MurgulOasis.w3x", "Murgul Oasis", 8, 148, 148},
}};

constexpr std::array<std::string_view, 6> kStreamers = {
    "Zeno Gaming", "LanCaster", "ObsCam", "NightCaster", "TwinBlade TV", "Replay Den"};
constexpr std::array<std::string_view, 4> kSlogans = {
    "By gamers, for gamers.", "Every match, every angle.", "Live from the stand-in server.",
    "Sit back and watch."};
constexpr std::array<std::string_view, 20> kSyllables = {
    "ka",  "ri", "mo",  "zen", "tor", "el", "vy", "dra", "shi", "nu",
    "gar", "lo", "fen", "ix",  "ro",  "ba", "sa", "thu", "wen", "qi"};

// Races of a slot, each selectable; observers show random.
constexpr std::array<std::uint8_t, 4> kRaces = {0x41, 0x42, 0x44, 0x48};
constexpr std::uint8_t kObserverRace = 0x60;
constexpr std::size_t kLobbySlots = 12;
constexpr std::uint32_t kMaxObservers = 3;
// Duels most often, then team games; all against all now and then.
constexpr std::array<std::uint32_t, 14> kPlayerCounts = {2, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 7, 8, 8};
constexpr std::uint16_t kAnnouncedPort = 6112; // replaced by the local host's own port
constexpr std::string_view kHeaderTag = "VELT stand-in match server";

std::string MakeName(CSeededRandom& random, const MatchRoster& taken)
{
    for (;;)
    {
        std::string name;
        const std::uint32_t syllables = random.Between(2, 3);
        for (std::uint32_t i = 0; i < syllables; ++i)
            name += random.Pick(kSyllables);
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        if (random.Percent(30))
            name += std::to_string(random.Between(1, 99));
        bool unique = true;
        for (const auto* list : {&taken.m_players, &taken.m_observers})
            for (const auto& entry : *list)
                unique = unique && entry.m_name != name;
        if (unique)
            return name;
    }
}

// Player ids 1, 3, 4, ...: id 2 is the viewer's.
std::uint8_t NextPlayerId(std::uint8_t last)
{
    return last + 1 == kViewerPlayerId ? last + 2 : last + 1;
}

MatchRoster MakeRoster(CSeededRandom& random, std::uint32_t players, const MeleeMap& map)
{
    MatchRoster roster;
    const std::uint32_t observers = random.Between(1, kMaxObservers);
    // Even counts of four and more play two teams, two play one against one, odd ones all
    // against all.
    const bool twoTeams = players % 2 == 0;
    std::uint8_t id = 0;
    for (std::uint32_t i = 0; i < players; ++i)
    {
        id = NextPlayerId(id);
        const auto team = static_cast<std::uint8_t>(twoTeams ? i % 2 : i);
        roster.m_players.push_back({id, MakeName(random, roster), team, random.Pick(kRaces)});
    }
    for (std::uint32_t i = 0; i < observers && map.m_startPositions + i + 1 < kLobbySlots; ++i)
    {
        id = NextPlayerId(id);
        roster.m_observers.push_back({id, MakeName(random, roster), kObserverTeam, kObserverRace});
    }
    return roster;
}

// The lobby as it stood at the start: the map's start positions (players first, the rest
// closed), then the observer slots with the recorded observers and the viewer, the rest open.
SlotTable MakeSlotTable(const MatchRoster& roster, const MeleeMap& map, CSeededRandom& random)
{
    SlotTable table;
    table.m_randomSeed = random.Next32();
    table.m_layoutStyle = 0;
    table.m_playerSlots = map.m_startPositions;
    for (std::size_t i = 0; i < map.m_startPositions; ++i)
    {
        SlotRecord slot;
        slot.m_colour = static_cast<std::uint8_t>(i);
        slot.m_team = static_cast<std::uint8_t>(i);
        if (i < roster.m_players.size())
        {
            slot.m_playerId = roster.m_players[i].m_playerId;
            slot.m_team = roster.m_players[i].m_team;
            slot.m_race = roster.m_players[i].m_race;
        }
        else
        {
            slot.m_slotStatus = 1;
            slot.m_downloadStatus = 255;
        }
        table.m_slots.push_back(slot);
    }
    std::vector<std::uint8_t> watching;
    for (const auto& observer : roster.m_observers)
        watching.push_back(observer.m_playerId);
    watching.push_back(kViewerPlayerId);
    for (std::size_t i = 0; table.m_slots.size() < kLobbySlots; ++i)
    {
        SlotRecord slot;
        slot.m_team = kObserverTeam;
        slot.m_colour = kObserverTeam;
        slot.m_race = kObserverRace;
        if (i < watching.size())
            slot.m_playerId = watching[i];
        else
        {
            slot.m_slotStatus = 0;
            slot.m_downloadStatus = 255;
        }
        table.m_slots.push_back(slot);
    }
    return table;
}

std::string JoinNames(const std::vector<RosterEntry>& players, std::uint8_t team,
                      std::string_view separator, bool withRace)
{
    std::string text;
    for (const auto& player : players)
    {
        if (player.m_team != team)
            continue;
        if (!text.empty())
            text += separator;
        text += player.m_name;
        if (withRace)
            text.append("(").append(RaceText(player.m_race)).append(")");
    }
    return text;
}

void Describe(CMatchInfo& info, const MatchRoster& roster, const MeleeMap& map)
{
    const auto& players = roster.m_players;
    const std::size_t count = players.size();
    if (count == 2)
    {
        info.m_matchName = players[0].m_name + " vs " + players[1].m_name;
        info.m_playersInfo =
            JoinNames(players, 0, "", true) + " vs " + JoinNames(players, 1, "", true);
    }
    else if (count % 2 == 0)
    {
        info.m_matchName = std::to_string(count / 2) + "v" + std::to_string(count / 2) + " " +
                           std::string(map.m_shortName);
        info.m_playersInfo =
            JoinNames(players, 0, ", ", true) + " vs " + JoinNames(players, 1, ", ", true);
    }
    else
    {
        info.m_matchName = "FFA " + std::to_string(count) + " " + std::string(map.m_shortName);
        for (const auto& player : players)
        {
            if (!info.m_playersInfo.empty())
                info.m_playersInfo += " / ";
            info.m_playersInfo.append(player.m_name)
                .append("(")
                .append(RaceText(player.m_race))
                .append(")");
        }
    }
    info.m_playersInfo += " +" + std::to_string(roster.m_observers.size()) + " obs";
}

std::string StartTime(std::uint32_t index, CSeededRandom& random)
{
    // Drawn one after the other: the order of a call's arguments is not fixed.
    const std::uint32_t hour = random.Between(10, 23);
    const std::uint32_t minute = random.Between(0, 59);
    char text[32];
    std::snprintf(text, sizeof text, "2024-06-%02u %02u:%02u:00", 28 - (index * 5 + 3) % 27, hour,
                  minute);
    return text;
}

std::vector<std::uint8_t> MakeHeader(const SyntheticMatch& match, const MatchRoster& roster,
                                     const MeleeMap& map, CSeededRandom& random)
{
    const SlotTable table = MakeSlotTable(roster, map, random);
    GameInfoParams announce;
    announce.m_hostCounter = match.m_info.m_matchId;
    announce.m_entryKey = random.Next32();
    announce.m_gameName = match.m_info.m_matchName;
    announce.m_stat.m_mapWidth = map.m_width;
    announce.m_stat.m_mapHeight = map.m_height;
    announce.m_stat.m_mapXoro = random.Next32();
    announce.m_stat.m_mapPath = std::string(map.m_path);
    announce.m_stat.m_hostName = match.m_info.m_streamer;
    announce.m_port = kAnnouncedPort;

    MapCheckParams mapCheck;
    mapCheck.m_mapPath = std::string(map.m_path);
    mapCheck.m_fileSize = random.Between(100000, 2000000);
    mapCheck.m_fileCrc = random.Next32();
    mapCheck.m_mapXoro = announce.m_stat.m_mapXoro;
    for (auto& byte : mapCheck.m_sha1)
        byte = static_cast<std::uint8_t>(random.Next32());

    ReplayHeaderContent content;
    content.m_tag = std::string(kHeaderTag);
    content.m_presenter = match.m_info.m_streamer;
    content.m_matchSeconds = static_cast<std::uint16_t>(match.m_durationMs / 1000);
    content.m_live = false;
    content.m_announcement = BuildGameInfo(announce);
    content.m_joinReply =
        BuildSlotInfoJoin({table, kViewerPlayerId, kAnnouncedPort, {127, 0, 0, 1}});
    for (const auto* list : {&roster.m_players, &roster.m_observers})
        for (const auto& entry : *list)
        {
            if (content.m_playerPackets.size() < entry.m_playerId)
                content.m_playerPackets.resize(entry.m_playerId);
            content.m_playerPackets[entry.m_playerId - 1] =
                BuildPlayerInfo({2, entry.m_playerId, entry.m_name});
        }
    content.m_mapCheck = BuildMapCheck(mapCheck);
    content.m_slotTable = BuildSlotInfo(table);
    content.m_countdown = BuildCountdownStart();
    const auto end = BuildCountdownEnd();
    content.m_countdown.insert(content.m_countdown.end(), end.begin(), end.end());
    content.m_slogan = std::string(random.Pick(kSlogans));
    return BuildReplayHeader(content);
}

} // namespace

SyntheticMatch GenerateSyntheticMatch(const SyntheticSettings& settings, std::uint32_t index)
{
    CSeededRandom random(CSeededRandom::Derive(settings.m_seed, index));
    SyntheticMatch match;
    match.m_live = index < settings.m_liveCount;
    const std::uint32_t players = random.Pick(kPlayerCounts);
    // A map for about as many players as play: a duel on a map for two or four, not eight.
    std::vector<const MeleeMap*> fitting;
    for (const auto& map : kMaps)
        if (map.m_startPositions >= players && map.m_startPositions <= players + 2)
            fitting.push_back(&map);
    const MeleeMap& map = *random.Pick(fitting);
    const MatchRoster roster = MakeRoster(random, players, map);

    CMatchInfo& info = match.m_info;
    info.m_matchId = kFirstSyntheticMatchId + index;
    info.m_streamer = std::string(random.Pick(kStreamers));
    info.m_mapPath = std::string(map.m_path);
    info.m_startTime = StartTime(index, random);
    Describe(info, roster, map);

    const std::uint32_t maxSeconds = std::min(settings.m_maxSeconds, kMaxSyntheticSeconds);
    const std::uint32_t minSeconds =
        std::clamp<std::uint32_t>(settings.m_minSeconds, 1, maxSeconds);
    const std::uint32_t seconds = random.Between(minSeconds, std::max(minSeconds, maxSeconds));
    SyntheticStream stream = GenerateSyntheticStream(roster, seconds * 1000, random);
    match.m_stream = std::move(stream.m_bytes);
    match.m_marks = std::move(stream.m_marks);
    match.m_durationMs = stream.m_durationMs;
    info.m_length = match.m_durationMs / 1000;
    info.m_status = 1;
    match.m_header = MakeHeader(match, roster, map, random);
    return match;
}

std::vector<SyntheticMatch> GenerateSyntheticMatches(const SyntheticSettings& settings)
{
    std::vector<SyntheticMatch> matches;
    matches.reserve(settings.m_count);
    for (std::uint32_t i = 0; i < settings.m_count; ++i)
        matches.push_back(GenerateSyntheticMatch(settings, i));
    return matches;
}

} // namespace velt
