#include <gtest/gtest.h>

#include <set>

#include "host/ReplayHeader.h"
#include "host/ReplayHeaderBuilder.h"
#include "host/ReplayHeaderCheck.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "tools/matchd/ReplayFolder.h"
#include "tools/matchd/SyntheticMatchGenerator.h"
#include "tools/matchd/SyntheticStream.h"
#include "tools/w3gs/TimeSlotChecksum.h"

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

// What a walk over a stream finds.
struct StreamFacts
{
    bool m_wellFormed = true;
    std::size_t m_slots = 0;
    std::uint32_t m_gameTimeMs = 0;
    std::uint16_t m_minInterval = 0xFFFF;
    std::uint16_t m_maxInterval = 0;
    std::size_t m_observerPingsFirst = 0; // 0x68 at offset 11, by a team-12 slot
    std::size_t m_playerSkillMenusFirst = 0;
    std::size_t m_playerChats = 0;
    std::size_t m_observerChats = 0;
    std::size_t m_leaves = 0;
    std::size_t m_packetsBeforeFirstSlot = 0;
    std::set<std::uint8_t> m_actingIds;
};

StreamFacts Walk(const Bytes& stream, const std::set<std::uint8_t>& observers)
{
    StreamFacts facts;
    std::size_t at = 0;
    while (at < stream.size())
    {
        const auto rest = std::span(stream).subspan(at);
        const GameFrame frame = FrameGamePacket(rest);
        if (frame.m_kind != GameFrame::Kind::kWhole)
        {
            facts.m_wellFormed = false;
            return facts;
        }
        const auto packet = rest.first(frame.m_length);
        if (facts.m_slots == 0 && packet[1] != 0x0C)
            ++facts.m_packetsBeforeFirstSlot;
        if (packet[1] == 0x0C)
        {
            const auto slot = ParseTimeSlot(packet);
            if (!slot || (slot->m_checksum && *slot->m_checksum != TimeSlotChecksum(packet.subspan(
                                                                       slot->m_blocksOffset))))
                facts.m_wellFormed = false;
            else
            {
                ++facts.m_slots;
                facts.m_gameTimeMs += slot->m_intervalMs;
                facts.m_minInterval = std::min(facts.m_minInterval, slot->m_intervalMs);
                facts.m_maxInterval = std::max(facts.m_maxInterval, slot->m_intervalMs);
                for (const auto& block : slot->m_blocks)
                    facts.m_actingIds.insert(block.m_playerId);
                if (!slot->m_blocks.empty())
                {
                    const bool byObserver = observers.count(packet[8]) > 0;
                    facts.m_observerPingsFirst += byObserver && packet[11] == 0x68;
                    facts.m_playerSkillMenusFirst += !byObserver && packet[11] == 0x66;
                }
            }
        }
        else if (packet[1] == 0x0F)
        {
            const auto chat = ParseChatFromHost(packet);
            if (!chat || chat->m_kind != 0x20 || chat->m_text.empty())
                facts.m_wellFormed = false;
            else if (observers.count(chat->m_sender))
                ++facts.m_observerChats;
            else
                ++facts.m_playerChats;
        }
        else if (packet[1] == 0x07)
            facts.m_leaves += ParsePlayerLeave(packet).has_value();
        else
            facts.m_wellFormed = false;
        at += frame.m_length;
    }
    return facts;
}

SyntheticSettings Settings(std::uint64_t seed, std::uint32_t count)
{
    SyntheticSettings settings;
    settings.m_seed = seed;
    settings.m_count = count;
    return settings;
}

} // namespace

TEST(SyntheticMatchTest, SameSeedSameMatchesOtherSeedOthers)
{
    const auto first = GenerateSyntheticMatches(Settings(7, 3));
    const auto again = GenerateSyntheticMatches(Settings(7, 3));
    const auto other = GenerateSyntheticMatches(Settings(8, 3));
    ASSERT_EQ(first.size(), 3u);
    for (std::size_t i = 0; i < first.size(); ++i)
    {
        EXPECT_EQ(first[i].m_header, again[i].m_header);
        EXPECT_EQ(first[i].m_stream, again[i].m_stream);
        EXPECT_EQ(first[i].m_info.m_playersInfo, again[i].m_info.m_playersInfo);
        EXPECT_NE(first[i].m_stream, other[i].m_stream);
        EXPECT_EQ(first[i].m_info.m_matchId, kFirstSyntheticMatchId + i);
    }
    // A match does not depend on how many are made, nor on which of the others are live.
    SyntheticSettings more = Settings(7, 5);
    more.m_liveCount = 1;
    EXPECT_EQ(GenerateSyntheticMatch(more, 2).m_stream, first[2].m_stream);
    EXPECT_TRUE(GenerateSyntheticMatch(more, 0).m_live);
    EXPECT_FALSE(GenerateSyntheticMatch(more, 1).m_live);
}

class SyntheticMatchShape : public ::testing::TestWithParam<std::uint64_t>
{
};

// Every generated match, whatever the seed, carries what the host and the viewer rely on.
TEST_P(SyntheticMatchShape, HeaderHoldsRealLanPacketsForTheMatch)
{
    for (const SyntheticMatch& match : GenerateSyntheticMatches(Settings(GetParam(), 6)))
    {
        SCOPED_TRACE(match.m_info.m_matchName);
        const auto content = SplitReplayHeader(match.m_header);
        ASSERT_TRUE(content);
        EXPECT_EQ(ReplayHeaderProblem(match.m_header), std::nullopt);
        ReplayHeader header;
        header.Assign(match.m_header);

        const auto announce = ParseGameInfoDetails(content->m_announcement);
        ASSERT_TRUE(announce);
        EXPECT_EQ(announce->m_stat.m_mapPath, match.m_info.m_mapPath);
        EXPECT_EQ(announce->m_stat.m_hostName, match.m_info.m_streamer);
        EXPECT_EQ(ParseGameInfo(content->m_announcement)->m_gamePort, announce->m_port);

        const auto table = ParseSlotInfo(content->m_slotTable);
        ASSERT_TRUE(table);
        const auto join = ParseSlotInfoJoin(content->m_joinReply);
        ASSERT_TRUE(join);
        EXPECT_EQ(join->m_playerId, kViewerPlayerId);
        EXPECT_EQ(join->m_table, *table);
        ASSERT_LE(table->m_slots.size(), ReplayHeader::kSlotRecordsRead);

        std::set<std::uint8_t> players, observers;
        for (const SlotRecord& slot : table->m_slots)
            if (slot.m_playerId != 0)
                (slot.m_team == kObserverTeam ? observers : players).insert(slot.m_playerId);
        EXPECT_EQ(observers.count(kViewerPlayerId), 1u);
        observers.erase(kViewerPlayerId);
        EXPECT_GE(players.size(), 2u);
        EXPECT_LE(players.size(), 8u);
        EXPECT_GE(observers.size(), 1u);

        // One player packet per recorded participant, none for the viewer.
        const std::size_t n = header.PlayerCount();
        EXPECT_EQ(n, players.size() + observers.size() + 1);
        EXPECT_TRUE(header.PlayerPacket(kViewerPlayerId).empty());
        for (std::uint8_t id = 1; id <= n; ++id)
        {
            if (id == kViewerPlayerId)
                continue;
            const auto info = ParsePlayerInfo(header.PlayerPacket(id));
            ASSERT_TRUE(info) << int(id);
            EXPECT_EQ(info->m_playerId, id);
            EXPECT_TRUE(players.count(id) || observers.count(id));
            EXPECT_EQ(header.Text(ReplayHeader::PlayerRecordOffset(id) + 10, 16), info->m_name);
        }

        EXPECT_EQ(header.Text(ReplayHeader::kMapPathOffset, 136), match.m_info.m_mapPath);
        EXPECT_EQ(match.m_info.m_mapPath.rfind("Maps\\", 0), 0u);
        const auto mapCheck = ParseMapCheck(content->m_mapCheck);
        ASSERT_TRUE(mapCheck && mapCheck->m_facts);
        EXPECT_EQ(mapCheck->m_facts->m_mapXoro, announce->m_stat.m_mapXoro);
        EXPECT_EQ(content->m_countdown, (Bytes{0xF7, 0x0A, 0x04, 0x00, 0xF7, 0x0B, 0x04, 0x00}));
        EXPECT_EQ(content->m_presenter, match.m_info.m_streamer);
        EXPECT_FALSE(content->m_slogan.empty());
        EXPECT_EQ(content->m_matchSeconds, match.m_durationMs / 1000);
        EXPECT_FALSE(content->m_live);
    }
}

TEST_P(SyntheticMatchShape, StreamCarriesSlotsPingsSkillsChatAndALeave)
{
    SyntheticSettings settings = Settings(GetParam(), 4);
    settings.m_minSeconds = 240;
    settings.m_maxSeconds = 900;
    for (const SyntheticMatch& match : GenerateSyntheticMatches(settings))
    {
        SCOPED_TRACE(match.m_info.m_matchName);
        const auto table = ParseSlotInfo(SplitReplayHeader(match.m_header)->m_slotTable);
        std::set<std::uint8_t> observers;
        for (const SlotRecord& slot : table->m_slots)
            if (slot.m_team == kObserverTeam && slot.m_playerId != 0)
                observers.insert(slot.m_playerId);
        const StreamFacts facts = Walk(match.m_stream, observers);
        ASSERT_TRUE(facts.m_wellFormed);
        EXPECT_EQ(facts.m_gameTimeMs, match.m_durationMs);
        EXPECT_GE(match.m_durationMs, 240000u);
        EXPECT_LE(match.m_durationMs, 900000u + 110);
        EXPECT_GE(facts.m_minInterval, 90);
        EXPECT_LE(facts.m_maxInterval, 110);
        EXPECT_GE(facts.m_observerPingsFirst, 1u);
        EXPECT_GE(facts.m_playerSkillMenusFirst, 1u);
        EXPECT_GE(facts.m_playerChats, 1u);
        EXPECT_GE(facts.m_observerChats, 1u);
        EXPECT_EQ(facts.m_leaves, 1u);
        EXPECT_EQ(facts.m_packetsBeforeFirstSlot, 0u);
        EXPECT_EQ(facts.m_actingIds.count(kViewerPlayerId), 0u);
        EXPECT_LE(match.m_stream.size(), kMaxStreamSize);

        ASSERT_FALSE(match.m_marks.empty());
        EXPECT_EQ(match.m_marks.back().m_streamEnd, match.m_stream.size());
        EXPECT_EQ(match.m_marks.back().m_gameTimeMs, match.m_durationMs);
        EXPECT_EQ(match.StreamEndAt(0), 0u);
        EXPECT_EQ(match.StreamEndAt(match.m_durationMs), match.m_stream.size());
        for (std::size_t i = 1; i < match.m_marks.size(); ++i)
        {
            ASSERT_LT(match.m_marks[i - 1].m_gameTimeMs, match.m_marks[i].m_gameTimeMs);
            ASSERT_LT(match.m_marks[i - 1].m_streamEnd, match.m_marks[i].m_streamEnd);
        }
        // Every mark ends on a packet boundary: what a live match releases is whole packets.
        const std::uint32_t half = match.StreamEndAt(match.m_durationMs / 2);
        EXPECT_TRUE(Walk(Bytes(match.m_stream.begin(), match.m_stream.begin() + half), observers)
                        .m_wellFormed);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, SyntheticMatchShape, ::testing::Values(1u, 2u, 99u, 123456789u));

// A stop request during a long generation is honoured between two matches, not after all.
TEST(SyntheticMatchTest, StopRequestEndsTheGenerationEarly)
{
    MatchdOptions options;
    options.m_synthetic.m_count = 1000;
    options.m_synthetic.m_maxSeconds = 200;
    int looks = 0;
    const ReplayFolderLoad load = CollectServedMatches(options, [&] { return ++looks > 3; });
    EXPECT_EQ(load.m_matches.size(), 3u);
    EXPECT_EQ(load.m_matches.back().m_info.m_matchId, kFirstSyntheticMatchId + 2);
}

TEST(SyntheticMatchTest, CatalogueFactsAreFilledAndLengthsSpreadOverTheRange)
{
    const auto matches = GenerateSyntheticMatches(Settings(3, 40));
    std::uint32_t shortest = 0xFFFFFFFF, longest = 0;
    std::set<std::string> maps;
    for (const SyntheticMatch& match : matches)
    {
        const CMatchInfo& info = match.m_info;
        EXPECT_FALSE(info.m_matchName.empty());
        EXPECT_FALSE(info.m_playersInfo.empty());
        EXPECT_FALSE(info.m_streamer.empty());
        EXPECT_EQ(info.m_startTime.size(), 19u) << info.m_startTime;
        EXPECT_EQ(info.m_status, 1);
        EXPECT_EQ(info.m_length, match.m_durationMs / 1000);
        shortest = std::min(shortest, info.m_length);
        longest = std::max(longest, info.m_length);
        maps.insert(info.m_mapPath);
    }
    EXPECT_GE(shortest, 180u);
    EXPECT_LE(longest, 3600u);
    EXPECT_LT(shortest, 900u);
    EXPECT_GT(longest, 2700u);
    EXPECT_GE(maps.size(), 4u);
}

TEST(SyntheticStreamTest, ARosterWithoutObserversOrPlayersGivesNoStream)
{
    CSeededRandom random(1);
    MatchRoster noObservers;
    noObservers.m_players = {{1, "A", 0, 0x41}, {3, "B", 1, 0x42}};
    EXPECT_TRUE(GenerateSyntheticStream(noObservers, 60000, random).m_bytes.empty());
    MatchRoster noPlayers;
    noPlayers.m_observers = {{4, "O", kObserverTeam, 0x60}};
    EXPECT_TRUE(GenerateSyntheticStream(noPlayers, 60000, random).m_bytes.empty());
}
