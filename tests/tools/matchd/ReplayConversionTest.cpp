// A recorded game converted into what the stand-in server serves: the stream of time slots,
// chat and leaves, the replay header and the catalogue record.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/ReplayHeader.h"
#include "host/ReplayHeaderBuilder.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tools/matchd/ReplayConversion.h"
#include "tools/w3gs/TimeSlotChecksum.h"

using namespace velt;
using namespace velt::test;

namespace
{

// Players 1 and 3 on team 0, 5 on team 1, observer 4; the viewer gets a new slot 4.
LobbySpec FourPeople()
{
    LobbySpec lobby;
    lobby.m_others = {{3, "Ally"}, {4, "Watcher"}, {5, "Foe"}};
    lobby.m_slots = {SlotBytes(1, 0, 0), SlotBytes(3, 0, 1, 0x02), SlotBytes(5, 1, 2, 0x08),
                     SlotBytes(4, 12, 12, 0x60)};
    return lobby;
}

ReplayMatchFacts Facts()
{
    return {7, "2024-01-02 03:04:05", false};
}

SyntheticMatch Convert(const ReplayFile& replay)
{
    ReplayConversion conversion = ConvertReplay(replay, Facts());
    EXPECT_TRUE(conversion.m_match) << conversion.m_error;
    return conversion.m_match ? std::move(*conversion.m_match) : SyntheticMatch{};
}

// A served time slot: its interval and, per block, the player and the first action.
struct SlotShape
{
    int m_interval;
    std::vector<std::pair<int, int>> m_blocks;

    bool operator==(const SlotShape&) const = default;
};

void PrintTo(const SlotShape& shape, std::ostream* out)
{
    *out << "{" << shape.m_interval << ":";
    for (const auto& [player, action] : shape.m_blocks)
        *out << " " << player << "/" << std::hex << action << std::dec;
    *out << "}";
}

std::vector<SlotShape> SlotShapes(const std::vector<std::uint8_t>& stream)
{
    std::vector<SlotShape> shapes;
    for (const Bytes& packet : SplitPackets(stream))
    {
        if (packet[1] != 0x0C)
            continue;
        const auto slot = ParseTimeSlot(packet);
        if (!slot)
        {
            ADD_FAILURE() << "time slot does not parse";
            continue;
        }
        if (slot->m_checksum)
        {
            EXPECT_EQ(*slot->m_checksum,
                      TimeSlotChecksum(std::span(packet).subspan(slot->m_blocksOffset)));
        }
        SlotShape shape{slot->m_intervalMs, {}};
        for (const auto& block : slot->m_blocks)
            shape.m_blocks.emplace_back(block.m_playerId,
                                        block.m_actions.empty() ? -1 : block.m_actions[0]);
        shapes.push_back(shape);
    }
    return shapes;
}

struct SlotRow
{
    const char* m_name;
    std::uint32_t m_version;
    Bytes m_records; // time slot records after the start records
    std::vector<SlotShape> m_served;
};

void PrintTo(const SlotRow& row, std::ostream* out)
{
    *out << row.m_name;
}

const Bytes kEsc = {0x61};
const Bytes kSkill = {0x66};

Bytes Slot(std::uint16_t interval, std::initializer_list<Bytes> blocks, std::uint8_t id = 0x1F)
{
    Bytes all;
    for (const Bytes& block : blocks)
        all = Concat({all, block});
    return TimeSlotRecord(id, interval, all);
}

const SlotRow kSlotRows[] = {
    {"ObserverPingGoesFirst",
     26,
     Slot(100, {CommandBlock(1, kEsc), CommandBlock(4, Ping())}),
     {{100, {{4, 0x68}, {1, 0x61}}}}},
    {"FurtherPingsFollowInZeroIntervalSlots",
     26,
     Slot(100, {CommandBlock(1, kEsc), CommandBlock(4, Ping()), CommandBlock(4, Ping())}),
     {{100, {{4, 0x68}, {1, 0x61}}}, {0, {{4, 0x68}}}}},
    {"AHeroSkillKeepsItsPlaceAndThePingFollows",
     26,
     Slot(100, {CommandBlock(1, kSkill), CommandBlock(4, Ping())}),
     {{100, {{1, 0x66}}}, {0, {{4, 0x68}}}}},
    {"PingsAreCutFromTheFrontOfABlock",
     26,
     Slot(100, {CommandBlock(4, Concat({Ping(), Ping(), kEsc}))}),
     {{100, {{4, 0x68}, {4, 0x61}}}, {0, {{4, 0x68}}}}},
    {"APlayersPingStaysWhereItIs",
     26,
     Slot(100, {CommandBlock(1, kEsc), CommandBlock(3, Ping())}),
     {{100, {{1, 0x61}, {3, 0x68}}}}},
    {"BeforePatch107Id0x68IsNoPing",
     2,
     Slot(100, {CommandBlock(1, kEsc), CommandBlock(4, Ping())}, 0x1E),
     {{100, {{1, 0x61}, {4, 0x68}}}}},
    {"FragmentsAreJoinedIntoTheirSlot",
     26,
     Concat({Slot(0, {CommandBlock(1, kEsc)}, 0x1E), Slot(100, {CommandBlock(5, kSkill)})}),
     {{100, {{1, 0x61}, {5, 0x66}}}}},
    {"AnIntervalBeyond16BitsIsCarriedByEmptySlots",
     26,
     Concat({Slot(60000, {CommandBlock(1, kEsc)}, 0x1E), Slot(60000, {})}),
     {{65535, {{1, 0x61}}}, {54465, {}}}},
    {"AnEmptyCommandBlockIsKept",
     26,
     Slot(100, {CommandBlock(3, {}), CommandBlock(4, Ping())}),
     {{100, {{4, 0x68}, {3, -1}}}}},
    {"EmptySlotsStayEmpty", 26, Concat({Slot(0, {}), Slot(250, {})}), {{0, {}}, {250, {}}}},
};

class ReplayStreamSlotTest : public ::testing::TestWithParam<SlotRow>
{
};

} // namespace

TEST_P(ReplayStreamSlotTest, TimeSlotsAsTheHostReadsThem)
{
    const SlotRow& row = GetParam();
    const bool old = row.m_version == 2;
    LobbySpec lobby = FourPeople();
    lobby.m_slotSize = old ? 7 : 9;
    ContainerOptions wanted;
    wanted.m_version = row.m_version;
    wanted.m_headerVersion = old ? 0 : 1;
    const ReplayFile replay =
        ReadBuilt(Concat({BuildLobby(lobby), StartRecords(), row.m_records}), wanted);
    const SyntheticMatch match = Convert(replay);
    EXPECT_EQ(SlotShapes(match.m_stream), row.m_served);
    std::uint64_t gameTime = 0;
    for (const SlotShape& shape : SlotShapes(match.m_stream))
        gameTime += static_cast<std::uint64_t>(shape.m_interval);
    EXPECT_EQ(gameTime, replay.m_durationMs);
    EXPECT_EQ(match.m_durationMs, replay.m_durationMs);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplayStreamSlotTest, ::testing::ValuesIn(kSlotRows),
                         [](const auto& info) { return std::string(info.param.m_name); });

namespace
{

struct ChatRow
{
    const char* m_name;
    std::uint8_t m_sender;
    std::uint8_t m_flag;
    std::uint32_t m_mode;
    std::vector<std::uint8_t> m_receivers; // empty: no packet at all
    std::uint32_t m_scope;
};

void PrintTo(const ChatRow& row, std::ostream* out)
{
    *out << row.m_name;
}

// The viewer (2) hears everything; the slot numbers are those of FourPeople, the viewer's 4.
const ChatRow kChatRows[] = {
    {"ToAll", 1, 0x20, 0, {1, 2, 3, 4, 5}, 0},
    {"ToAllies", 1, 0x20, 1, {1, 2, 3}, 1},
    {"ToObservers", 4, 0x20, 2, {2, 4}, 2},
    {"PrivateToSlot2", 1, 0x20, 3 + 2, {2, 5}, 3 + 2},
    {"PrivateToAnEmptySlotReachesTheViewerOnly", 1, 0x20, 3 + 9, {2}, 3 + 4},
    {"LobbyLineToAll", 3, 0x10, 0, {1, 2, 3, 4, 5}, 0},
    {"LobbySlotChangeIsNoChat", 3, 0x11, 0, {}, 0},
};

class ReplayStreamChatTest : public ::testing::TestWithParam<ChatRow>
{
};

} // namespace

TEST_P(ReplayStreamChatTest, RecordedChatGoesToItsAudienceAndTheViewer)
{
    const ChatRow& row = GetParam();
    const ReplayFile replay =
        ReadBuilt(Concat({BuildLobby(FourPeople()), StartRecords(), Slot(100, {}),
                          ChatRecord(row.m_sender, row.m_flag, row.m_mode, "gl hf")}));
    const SyntheticMatch match = Convert(replay);
    const auto packets = SplitPackets(match.m_stream);
    ASSERT_EQ(packets.size(), row.m_receivers.empty() ? 1u : 2u);
    if (row.m_receivers.empty())
        return;
    const auto chat = ParseChatFromHost(packets[1]);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->m_receivers, row.m_receivers);
    EXPECT_EQ(chat->m_sender, row.m_sender);
    EXPECT_EQ(chat->m_kind, row.m_flag);
    EXPECT_EQ(chat->m_flags, row.m_scope);
    EXPECT_EQ(chat->m_text, "gl hf");
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplayStreamChatTest, ::testing::ValuesIn(kChatRows),
                         [](const auto& info) { return std::string(info.param.m_name); });

TEST(ReplayStreamTest, RecordsKeepTheirOrderAndEachSlotMarksHowFarTheStreamReaches)
{
    LobbySpec lobby = FourPeople();
    // Recorded id 2 moves to 3, the lowest free id: the viewer is 2.
    lobby.m_others = {{2, "Ally"}, {4, "Watcher"}, {5, "Foe"}};
    lobby.m_slots[1] = SlotBytes(2, 0, 1, 0x02);
    const ReplayFile replay = ReadBuilt(Concat(
        {BuildLobby(lobby), StartRecords(), ChatRecord(1, 0x20, 0, "early"), LeaveRecord(9, 1, 7),
         Slot(100, {CommandBlock(2, kEsc)}), ChatRecord(2, 0x20, 0, "gg"), LeaveRecord(2, 1, 7),
         Slot(120, {}), LeaveRecord(5, 0x0C, 9)}));
    ReplayConversion conversion = ConvertReplay(replay, Facts());
    ASSERT_TRUE(conversion.m_match) << conversion.m_error;
    const SyntheticMatch& match = *conversion.m_match;
    const auto packets = SplitPackets(match.m_stream);
    std::vector<int> types;
    for (const Bytes& packet : packets)
        types.push_back(packet[1]);
    // The leave of id 9, who has no slot, is left out.
    EXPECT_EQ(types, (std::vector<int>{0x0F, 0x0C, 0x0F, 0x07, 0x0C, 0x07}));
    EXPECT_EQ(conversion.m_counts.m_leavesSkipped, 1u);
    EXPECT_EQ(packets[1][8], 3); // the block of recorded id 2
    EXPECT_EQ(ParseChatFromHost(packets[2])->m_sender, 3);
    EXPECT_EQ(ParsePlayerLeave(packets[3])->m_playerId, 3);
    EXPECT_EQ(ParsePlayerLeave(packets[3])->m_reason, 7u);
    EXPECT_EQ(ParsePlayerLeave(packets[5])->m_playerId, 5);
    // Each mark takes in the records that follow its slot; the last one ends the stream.
    std::size_t afterFirst = 0;
    for (std::size_t i = 0; i < 4; ++i)
        afterFirst += packets[i].size();
    ASSERT_EQ(match.m_marks.size(), 2u);
    EXPECT_EQ(match.m_marks[0].m_gameTimeMs, 100u);
    EXPECT_EQ(match.m_marks[0].m_streamEnd, afterFirst);
    EXPECT_EQ(match.m_marks[1].m_gameTimeMs, 220u);
    EXPECT_EQ(match.m_marks[1].m_streamEnd, match.m_stream.size());
}

TEST(ReplayHeaderTest, HeaderCarriesTheRecordedLobbyForTheViewer)
{
    LobbySpec lobby = FourPeople();
    lobby.m_hostName = "Presenter";
    lobby.m_gameName = "Friday night";
    const ReplayFile replay =
        ReadBuilt(Concat({BuildLobby(lobby), StartRecords(), Slot(2500, {})}));
    const SyntheticMatch match = Convert(replay);
    ASSERT_EQ(match.m_header.size(), ReplayHeader::kHeaderSize);
    const auto content = SplitReplayHeader(match.m_header);
    ASSERT_TRUE(content);
    EXPECT_EQ(content->m_presenter, "Presenter");
    EXPECT_FALSE(content->m_live);
    EXPECT_EQ(content->m_matchSeconds, 2);

    const auto announcement = ParseGameInfoDetails(content->m_announcement);
    ASSERT_TRUE(announcement);
    EXPECT_EQ(announcement->m_product, kProductFrozenThrone);
    EXPECT_EQ(announcement->m_version, 26u);
    EXPECT_EQ(announcement->m_hostCounter, 7u);
    EXPECT_EQ(announcement->m_gameName, "Friday night");
    EXPECT_EQ(announcement->m_stat.m_mapPath, replay.m_lobby.m_stat.m_mapPath);
    EXPECT_EQ(announcement->m_stat.m_mapXoro, replay.m_lobby.m_stat.m_mapChecksum);
    // The recorded stat string, SHA-1 included, byte for byte.
    const auto encoded = velt::EncodeStatString(replay.m_lobby.m_stat.m_decoded);
    EXPECT_NE(std::search(content->m_announcement.begin(), content->m_announcement.end(),
                          encoded.begin(), encoded.end()),
              content->m_announcement.end());

    const auto join = ParseSlotInfoJoin(content->m_joinReply);
    ASSERT_TRUE(join);
    EXPECT_EQ(join->m_playerId, kServedViewerId);
    EXPECT_EQ(ParseSlotInfo(content->m_slotTable), join->m_table);
    ASSERT_EQ(content->m_playerPackets.size(), 5u); // ids 1 to 5, none for the viewer's 2
    EXPECT_TRUE(content->m_playerPackets[1].empty());
    const char* names[] = {"Presenter", "", "Ally", "Watcher", "Foe"};
    for (std::size_t i = 0; i < 5; ++i)
        if (!content->m_playerPackets[i].empty())
        {
            EXPECT_EQ(ParsePlayerInfo(content->m_playerPackets[i])->m_name, names[i]);
        }
    const std::string pathAt1418(reinterpret_cast<const char*>(&match.m_header[1418]));
    EXPECT_EQ(pathAt1418, replay.m_lobby.m_stat.m_mapPath);
    EXPECT_EQ(content->m_countdown, Concat({BuildCountdownStart(), BuildCountdownEnd()}));
}

TEST(ReplayHeaderTest, LongNamesGiveWayAndAnOverlongMapPathIsRefused)
{
    LobbySpec lobby = FourPeople();
    lobby.m_gameName = std::string(150, 'g');
    lobby.m_mapPath = "Maps\\" + std::string(80, 'm') + ".w3x";
    const ReplayFile longName =
        ReadBuilt(Concat({BuildLobby(lobby), StartRecords(), Slot(100, {})}));
    const auto content = SplitReplayHeader(Convert(longName).m_header);
    ASSERT_TRUE(content);
    const auto announcement = ParseGameInfoDetails(content->m_announcement);
    ASSERT_TRUE(announcement);
    EXPECT_LE(content->m_announcement.size(), 255u);
    EXPECT_LT(announcement->m_gameName.size(), 150u);
    EXPECT_EQ(announcement->m_gameName, std::string(announcement->m_gameName.size(), 'g'));
    EXPECT_EQ(announcement->m_stat.m_mapPath, lobby.m_mapPath);

    lobby.m_mapPath = "Maps\\" + std::string(110, 'm') + ".w3x";
    const ReplayFile longPath =
        ReadBuilt(Concat({BuildLobby(lobby), StartRecords(), Slot(100, {})}));
    const ReplayConversion refused = ConvertReplay(longPath, Facts());
    EXPECT_FALSE(refused.m_match);
    EXPECT_NE(refused.m_error.find("map path"), std::string::npos) << refused.m_error;
}

namespace
{

struct CatalogueRow
{
    const char* m_name;
    std::vector<Bytes> m_slots;
    std::vector<std::pair<std::uint8_t, std::string>> m_others;
    const char* m_matchName;
    const char* m_playersInfo;
};

void PrintTo(const CatalogueRow& row, std::ostream* out)
{
    *out << row.m_name;
}

const CatalogueRow kCatalogueRows[] = {
    {"Duel",
     {SlotBytes(1, 0, 0, 0x41), SlotBytes(3, 1, 1, 0x48), SlotBytes(4, 12, 12, 0x60)},
     {{3, "Bob"}, {4, "Obs"}},
     "Host vs Bob",
     "Host(HU) vs Bob(UD) +1 obs"},
    {"TwoAgainstTwo",
     {SlotBytes(1, 0, 0, 0x02), SlotBytes(3, 0, 1, 0x04), SlotBytes(4, 1, 2, 0x20),
      SlotBytes(5, 1, 3, 0x01)},
     {{3, "B"}, {4, "C"}, {5, "D"}},
     "2v2 Test",
     "Host(OR), B(NE) vs C(RD), D(HU)"},
    {"AllAgainstAll",
     {SlotBytes(1, 0, 0), SlotBytes(3, 1, 1), SlotBytes(4, 2, 2)},
     {{3, "B"}, {4, "C"}},
     "FFA 3 Test",
     "Host(HU) vs B(HU) vs C(HU)"},
    {"AgainstTheComputer",
     {SlotBytes(1, 0, 0, 0x04), SlotBytes(0, 1, 1, 0x08, 2, 1)},
     {},
     "Host vs Computer",
     "Host(NE) vs Computer(UD)"},
};

class ReplayCatalogueTest : public ::testing::TestWithParam<CatalogueRow>
{
};

} // namespace

TEST_P(ReplayCatalogueTest, RecordNamesThePlayersOnTheirTeams)
{
    const CatalogueRow& row = GetParam();
    LobbySpec lobby;
    lobby.m_slots = row.m_slots;
    lobby.m_others = row.m_others;
    const ReplayFile replay =
        ReadBuilt(Concat({BuildLobby(lobby), StartRecords(), Slot(61000, {})}));
    const CMatchInfo info = Convert(replay).m_info;
    EXPECT_EQ(info.m_matchName, row.m_matchName);
    EXPECT_EQ(info.m_playersInfo, row.m_playersInfo);
    EXPECT_EQ(info.m_streamer, "Host");
    EXPECT_EQ(info.m_mapPath, "Maps\\(2)Test.w3x");
    EXPECT_EQ(info.m_length, 61u);
    EXPECT_EQ(info.m_matchId, 7u);
    EXPECT_EQ(info.m_startTime, "2024-01-02 03:04:05");
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplayCatalogueTest, ::testing::ValuesIn(kCatalogueRows),
                         [](const auto& info) { return std::string(info.param.m_name); });
