// The reader on replays written by the test builder: layouts that the samples lack or that
// must hold without them (fragments, record order, old action layouts, container variants).
#include <gtest/gtest.h>

#include "ReplayBuilder.h"
#include "tools/replay/ReplayReader.h"

using namespace velt;
using namespace velt::test;

namespace
{

ReplayFile ReadOk(const Bytes& file)
{
    auto result = ReadReplayFromMemory(file, "test.w3g");
    EXPECT_TRUE(result.m_replay) << result.m_error.Text();
    return result.m_replay ? std::move(*result.m_replay) : ReplayFile{};
}

// Chat and leaves keep their place among the time slots, which a converter needs to emit them
// in order even when increments are 0.
TEST(ReplayReaderTest, RecordsKeepTheirOrderAndTimes)
{
    const ReplayFile replay = ReadOk(BuildReplayFile(SmallReplay()));
    EXPECT_EQ(replay.m_lobby.m_stat.m_mapPath, "Maps\\(2)Test.w3x");
    EXPECT_EQ(replay.m_lobby.m_stat.m_mapChecksum, 0xCAFEF00Du);
    ASSERT_EQ(replay.m_timeSlots.size(), 3u);
    EXPECT_EQ(replay.m_timeSlots[0].m_checksum, 0xAABBCCDDu);
    EXPECT_EQ(replay.m_timeSlots[2].m_timeMs, 450u);
    ASSERT_EQ(replay.m_chat.size(), 1u);
    EXPECT_EQ(replay.m_chat[0].m_timeMs, 100u);
    EXPECT_EQ(replay.m_chat[0].m_afterSlot, 1u);
    ASSERT_EQ(replay.m_leaves.size(), 1u);
    EXPECT_EQ(replay.m_leaves[0].m_timeMs, 450u);
    EXPECT_EQ(replay.m_leaves[0].m_afterSlot, 3u);
    EXPECT_EQ(replay.ActionsOf(1)->m_commandBlocks, 2u);
}

TEST(ReplayReaderTest, FragmentsJoinTheTimeSlotThatClosesThem)
{
    const Bytes a = CommandBlock(1, {0x18, 1, 3});
    const Bytes b = CommandBlock(2, {0x61});
    const Bytes data = Concat({BuildLobby({}), StartRecords(), TimeSlotRecord(0x1F, 100, {}),
                               TimeSlotRecord(0x1E, 0, a), TimeSlotRecord(0x1E, 5, b),
                               TimeSlotRecord(0x1F, 125, a), ChecksumRecord(0x22, 9),
                               ChatRecord(1, 0x20, 0, "after")});
    const ReplayFile replay = ReadOk(BuildReplayFile(data));
    ASSERT_EQ(replay.m_timeSlots.size(), 2u);
    const auto& joined = replay.m_timeSlots[1];
    EXPECT_EQ(joined.m_fragments, 2);
    EXPECT_EQ(joined.m_intervalMs, 130u);
    EXPECT_EQ(joined.m_timeMs, 230u);
    EXPECT_EQ(joined.m_checksum, 9u);
    const auto bytes = replay.CommandBytes(joined);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Concat({a, b, a}));
    EXPECT_EQ(replay.m_chat.at(0).m_afterSlot, 2u);
}

// Up to 1.02, 0x1E is the time slot itself and 0x20 its checksum.
TEST(ReplayReaderTest, RocRecordIdsUpTo102)
{
    LobbySpec wanted;
    wanted.m_slotSize = 7;
    wanted.m_mapSha1 = false;
    const Bytes data = Concat(
        {BuildLobby(wanted), StartRecords(), TimeSlotRecord(0x1E, 100, CommandBlock(1, {0x65})),
         ChecksumRecord(0x20, 5), TimeSlotRecord(0x1E, 110, {}), ChecksumRecord(0x20, 6)});
    const ReplayFile replay = ReadOk(BuildReplayFile(data, {0, 2, 4531}));
    EXPECT_EQ(replay.m_header.m_product, "WAR3");
    EXPECT_EQ(replay.m_lobby.m_slots[0].m_handicap, 100);
    ASSERT_EQ(replay.m_timeSlots.size(), 2u);
    EXPECT_EQ(replay.m_timeSlots[0].m_fragments, 0);
    EXPECT_EQ(replay.m_timeSlots[1].m_checksum, 6u);
    EXPECT_TRUE(replay.m_chat.empty());
    EXPECT_EQ(replay.m_actionWalkErrors, 0u);
}

// One command block per row, read under a version's action layout: does it walk to its end,
// and which stored id does it count.
struct ActionRow
{
    const char* m_name;
    std::uint32_t m_version;
    bool m_post202;
    Bytes m_actions;
    bool m_walks;
    int m_countedId;
};

void PrintTo(const ActionRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class ActionLayoutTest : public ::testing::TestWithParam<ActionRow>
{
};

TEST_P(ActionLayoutTest, WalksBlock)
{
    const auto& row = GetParam();
    LobbySpec wanted;
    if (row.m_post202)
        wanted.m_metadata.push_back({0x38, 5, 4, 0, 0, 0, 0x08, 0x01, 0x10, 0x00});
    const Bytes data = Concat({BuildLobby(wanted), StartRecords(),
                               TimeSlotRecord(0x1F, 50, CommandBlock(3, row.m_actions)),
                               ChatRecord(3, 0x20, 0, "still read")});
    const ContainerOptions container{row.m_version < 7 ? 0u : 1u, row.m_version};
    const ReplayFile replay = ReadOk(BuildReplayFile(data, container));
    EXPECT_EQ(replay.m_actionWalkErrors, row.m_walks ? 0u : 1u);
    EXPECT_EQ(replay.m_chat.size(), 1u); // a block that does not walk is still skipped whole
    ASSERT_NE(replay.ActionsOf(3), nullptr);
    EXPECT_EQ(replay.ActionsOf(3)->m_byActionId[static_cast<std::size_t>(row.m_countedId)], 1u);
}

const Bytes kObject = {1, 0, 0, 0, 2, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Versions, ActionLayoutTest,
    ::testing::Values(
        ActionRow{"ShortOrdersAndTriggerBefore107", 6, false,
                  Concat({{0x12, 0x40, 3, 0, 13, 0}, Bytes(16, 0), {0x62}, Bytes(8, 0), {0x61}}),
                  true, 0x61},
        ActionRow{"MenuIdsOneLowerBefore107", 6, false, Concat({{0x65, 0x67}, Bytes(12, 0)}), true,
                  0x67},
        ActionRow{"LongTriggerFrom107", 7, false, Concat({{0x62}, Bytes(12, 0), {0x61}}), true,
                  0x61},
        ActionRow{"OneByteAbilityFlagsBefore113", 12, false,
                  Concat({{0x10, 0x40, 3, 0, 13, 0}, kObject}), true, 0x10},
        ActionRow{"WordAbilityFlagsFrom113", 13, false,
                  Concat({{0x10, 0x40, 0, 3, 0, 13, 0}, kObject}), true, 0x10},
        ActionRow{"SubgroupByteBefore114b", 13, false,
                  Concat({{0x19, 0x01, 0x1A, 0x00}, kObject, {0x19, 0xFF}}), true, 0x1A},
        ActionRow{"SubgroupWithItemFrom114b", 26, false,
                  Concat({{0x19, 'a', 'e', 'p', 'h'}, kObject, {0x1A}}), true, 0x1A},
        ActionRow{"W3ApiBeforePost202",
                  10032,
                  false,
                  {0x77, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'},
                  true,
                  0x77},
        ActionRow{"SyncDataStoredAs77Post202",
                  10100,
                  true,
                  {0x77, 'T', 0, 'x', 'y', 0, 0, 0, 0, 0},
                  true,
                  0x77},
        ActionRow{
            "CacheStringsAndTriggerChat",
            26,
            false,
            {0x6B, 'M', 0, 'k', 0, 'v', 0, 1, 2, 3, 4, 0x60, 1, 2, 3, 4, 5, 6, 7, 8, 'h', 'i', 0},
            true,
            0x60},
        ActionRow{"UnknownIdStopsTheWalk", 26, false, {0x18, 1, 3, 0x74, 0, 0}, false, 0x18},
        ActionRow{
            "StoreUnitIsNotWalked", 26, false, {0x61, 0x6E, 'a', 0, 'b', 0, 'c', 0}, false, 0x61},
        ActionRow{"PayloadPastTheBlock", 26, false, {0x61, 0x12, 0x40, 0}, false, 0x61},
        ActionRow{
            "SelectionCountPastTheBlock", 26, false, {0x61, 0x16, 1, 0xFF, 0xFF}, false, 0x61}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(ReplayReaderTest, ChatKinds)
{
    const Bytes lobbyChange = {0x20, 3, 0x02, 0x00, 0x12, 0x05};
    const Bytes unknownKind = {0x20, 3, 0x03, 0x00, 0x42, 0xEE, 0xFF};
    const Bytes data = Concat({BuildLobby({}), StartRecords(), ChatRecord(2, 0x10, 0, "lobby line"),
                               lobbyChange, unknownKind, ChatRecord(1, 0x20, 26, "to slot 23")});
    const ReplayFile replay = ReadOk(BuildReplayFile(data));
    ASSERT_EQ(replay.m_chat.size(), 4u);
    EXPECT_EQ(replay.m_chat[0].m_text, "lobby line");
    EXPECT_EQ(replay.m_chat[1].m_payload, Bytes({0x05}));
    EXPECT_EQ(replay.m_chat[2].m_payload, Bytes({0xEE, 0xFF}));
    EXPECT_EQ(replay.m_chat[3].m_mode, 26u);
    EXPECT_EQ(replay.m_chat[3].m_payload.size(), 4 + std::string("to slot 23").size() + 1);
}

// Early 1.32 nests profiles; later builds write them flat. Both name the players.
TEST(ReplayReaderTest, ReforgedProfilesNameThePlayers)
{
    LobbySpec wanted;
    wanted.m_hostName = "LongBattleTagN#";
    wanted.m_metadata = {ProfileRecord(1, "LongBattleTagN#1234", true),
                       ProfileRecord(2, "Guest#77", false), ProfileRecord(9, "Ghost#1", false)};
    const ReplayFile replay =
        ReadOk(BuildReplayFile(Concat({BuildLobby(wanted), StartRecords()}), {1, 10032, 6105}));
    EXPECT_EQ(replay.m_header.m_blockHeaderSize, 12u);
    EXPECT_EQ(replay.RecordedName(1), "LongBattleTagN#");
    EXPECT_EQ(replay.DisplayName(1), "LongBattleTagN#1234");
    EXPECT_TRUE(replay.m_lobby.m_profiles.at(0).m_nested);
    EXPECT_FALSE(replay.m_lobby.m_profiles.at(1).m_nested);
    EXPECT_EQ(replay.DisplayName(2), "Guest#77");
    EXPECT_EQ(replay.SlotOf(9), nullptr);
}

// Streams terminated by a hosting bot, and a foreign prefix before the magic (NetEase).
TEST(ReplayReaderTest, ContainerVariants)
{
    ContainerOptions terminated;
    terminated.m_terminatedStreams = true;
    terminated.m_blockSize = 64;
    EXPECT_EQ(ReadOk(BuildReplayFile(SmallReplay(), terminated)).m_timeSlots.size(), 3u);

    Bytes prefixed(100, 0x4E);
    const Bytes file = BuildReplayFile(SmallReplay());
    prefixed.insert(prefixed.end(), file.begin(), file.end());
    const ReplayFile replay = ReadOk(prefixed);
    EXPECT_EQ(replay.m_header.m_fileOffset, 100u);
    EXPECT_EQ(replay.m_chat.size(), 1u);
}

} // namespace
