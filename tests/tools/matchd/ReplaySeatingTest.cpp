// Seating a recording in the lobby layout the local game host understands: which slots stay,
// where the viewer sits, and which player ids move.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tools/matchd/ReplaySeating.h"

using namespace velt;
using namespace velt::test;

namespace
{

struct SeatingRow
{
    const char* m_name;
    std::uint32_t m_version; // 2 means a 1.02 file: header version 0, 7-byte slots, old ids
    std::vector<Bytes> m_slots;
    std::uint8_t m_hostId;
    std::vector<std::uint8_t> m_others; // further player records
    std::vector<std::uint8_t> m_acting; // ids with a command block
    std::vector<std::uint8_t> m_chatting;
    // Expected: (player id, team, colour) per served slot, the viewer's slot, moved ids.
    std::vector<std::tuple<int, int, int>> m_served;
    std::uint8_t m_viewerSlot;
    std::map<int, int> m_moved; // recorded id -> served id (-1: left out)
    const char* m_error;        // non-null: seating must fail with this text in the reason
};

void PrintTo(const SeatingRow& row, std::ostream* out)
{
    *out << row.m_name;
}

ReplayFile Recording(const SeatingRow& row)
{
    const bool old = row.m_version == 2;
    LobbySpec lobby;
    lobby.m_hostId = row.m_hostId;
    lobby.m_others.clear();
    for (std::uint8_t id : row.m_others)
        lobby.m_others.emplace_back(id, "P" + std::to_string(id));
    lobby.m_slots = row.m_slots;
    lobby.m_slotSize = old ? 7 : 9;
    Bytes blocks;
    for (std::uint8_t id : row.m_acting)
        blocks = Concat({blocks, CommandBlock(id, Action({0x61}))});
    Bytes data =
        Concat({BuildLobby(lobby), StartRecords(), TimeSlotRecord(old ? 0x1E : 0x1F, 100, blocks)});
    for (std::uint8_t id : row.m_chatting)
        data = Concat({data, ChatRecord(id, 0x20, 0, "hi")});
    ContainerOptions wanted;
    wanted.m_version = row.m_version;
    wanted.m_headerVersion = old ? 0 : 1;
    return ReadBuilt(data, wanted);
}

std::vector<Bytes> Lobby(std::vector<Bytes> used, std::size_t size, std::uint8_t openTeam)
{
    while (used.size() < size)
        used.push_back(OpenSlot(openTeam));
    return used;
}

std::vector<Bytes> TwentyFourSlots()
{
    auto slots = Lobby({SlotBytes(1, 0, 0), SlotBytes(2, 1, 1)}, 20, 24);
    slots.push_back(SlotBytes(0, 1, 5, 0x02, 2, 1)); // a computer at slot 20
    return Lobby(slots, 24, 24);
}

// Ids 1 to 12 in every slot: 9 and 10 play, the rest watch on team 12.
std::vector<Bytes> FullOldLobby(bool everyoneActs, std::vector<std::uint8_t>& others)
{
    std::vector<Bytes> slots;
    for (std::uint8_t id = 1; id <= 12; ++id)
    {
        const bool player = everyoneActs || id == 9 || id == 10;
        slots.push_back(SlotBytes(id, player ? id % 2 : 12, player ? id - 1 : 12, 0x20));
        if (id > 1)
            others.push_back(id);
    }
    return slots;
}

std::vector<SeatingRow> Rows()
{
    std::vector<SeatingRow> rows = {
        {"LadderDuelGetsAnObserverSlotAtTheEnd",
         26,
         {SlotBytes(1, 0, 0), SlotBytes(2, 1, 1)},
         1,
         {2},
         {1, 2},
         {},
         {{1, 0, 0}, {3, 1, 1}, {2, 12, 12}},
         2,
         {{1, 1}, {2, 3}},
         nullptr},
        {"OpenSlotPastTheStartSpotsIsTheViewers",
         26,
         Lobby({SlotBytes(1, 0, 0), SlotBytes(3, 1, 1)}, 4, 12),
         1,
         {3},
         {1, 3},
         {},
         {{1, 0, 0}, {3, 1, 1}, {2, 12, 12}, {0, 12, 12}},
         2,
         {{1, 1}, {3, 3}},
         nullptr},
        {"OpenStartPositionIsNotTheViewers",
         26,
         {SlotBytes(1, 0, 0), OpenSlot(1), SlotBytes(3, 1, 1), OpenSlot(12)},
         1,
         {3},
         {1, 3},
         {},
         {{1, 0, 0}, {0, 1, 1}, {3, 1, 1}, {2, 12, 12}},
         3,
         {{3, 3}},
         nullptr},
        {"ObserversOfPatch129MoveToTeam12",
         29,
         {SlotBytes(3, 24, 24), SlotBytes(4, 3, 22), SlotBytes(6, 0, 12), OpenSlot(24),
          OpenSlot(24)},
         3,
         {4, 6},
         {4, 6},
         {3},
         {{3, 12, 12}, {4, 3, 22}, {6, 0, 12}, {2, 12, 12}, {0, 12, 12}},
         3,
         {{3, 3}, {4, 4}, {6, 6}},
         nullptr},
        {"TwentyFourSlotsKeepThoseInUse",
         10032,
         TwentyFourSlots(),
         1,
         {2},
         {1, 2},
         {},
         {{1, 0, 0},
          {3, 1, 1},
          {2, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 12, 12},
          {0, 1, 5}},
         2,
         {{2, 3}},
         nullptr},
        {"IdsAboveTwelveMoveToTheLowestFree",
         29,
         {SlotBytes(14, 0, 0), SlotBytes(15, 1, 1)},
         14,
         {15},
         {14, 15},
         {},
         {{1, 0, 0}, {3, 1, 1}, {2, 12, 12}},
         2,
         {{14, 1}, {15, 3}},
         nullptr},
        {"UnseatedHostOneMovesAboveTwelveToFreeIdOneForAPlayer",
         26,
         {SlotBytes(2, 0, 0), SlotBytes(3, 1, 1)},
         1,
         {2, 3},
         {2, 3},
         {1},
         {{1, 0, 0}, {3, 1, 1}, {2, 12, 12}},
         2,
         {{1, 13}, {2, 1}, {3, 3}},
         nullptr},
        {"ChatFromAnUnseatedIdTwoMovesAboveTwelve",
         26,
         {SlotBytes(1, 0, 0), SlotBytes(3, 1, 1)},
         1,
         {3},
         {1, 3},
         {2},
         {{1, 0, 0}, {3, 1, 1}, {2, 12, 12}},
         2,
         {{2, 13}, {3, 3}},
         nullptr},
    };
    SeatingRow full{"FullLobbyGivesASilentObserversSlotToTheViewer",
                    2,
                    {},
                    1,
                    {},
                    {9, 10},
                    {},
                    {},
                    11,
                    {{2, 12}, {12, -1}, {9, 9}},
                    nullptr};
    full.m_slots = FullOldLobby(false, full.m_others);
    for (int id = 1; id <= 11; ++id)
    {
        const bool player = id == 9 || id == 10;
        full.m_served.emplace_back(id == 2 ? 12 : id, player ? id % 2 : 12, player ? id - 1 : 12);
    }
    full.m_served.emplace_back(2, 12, 12);
    rows.push_back(full);
    SeatingRow busy{"FullLobbyOfActivePlayersHasNoPlaceForTheViewer",
                    26,
                    {},
                    1,
                    {},
                    {},
                    {},
                    {},
                    0,
                    {},
                    "no place for the viewer"};
    busy.m_slots = FullOldLobby(true, busy.m_others);
    for (std::uint8_t id = 1; id <= 12; ++id)
        busy.m_acting.push_back(id);
    rows.push_back(busy);
    return rows;
}

class ReplaySeatingTest : public ::testing::TestWithParam<SeatingRow>
{
};

} // namespace

TEST_P(ReplaySeatingTest, ServesTheLayoutTheHostUnderstands)
{
    const SeatingRow& row = GetParam();
    const ReplayFile replay = Recording(row);
    std::string error;
    const auto seating = SeatReplay(replay, error);
    if (row.m_error != nullptr)
    {
        ASSERT_FALSE(seating);
        EXPECT_NE(error.find(row.m_error), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(seating) << error;
    std::vector<std::tuple<int, int, int>> served;
    for (const SlotRecord& slot : seating->m_table.m_slots)
        served.emplace_back(slot.m_playerId, slot.m_team, slot.m_colour);
    EXPECT_EQ(served, row.m_served);
    EXPECT_EQ(seating->m_viewerSlot, row.m_viewerSlot);
    for (const auto& [recorded, expected] : row.m_moved)
        EXPECT_EQ(seating->m_servedId[recorded], expected) << "recorded id " << recorded;
    // Every seated recorded player has a packet under an id of 1 to 12 other than the viewer's.
    for (const ServedParticipant& entry : seating->m_participants)
    {
        EXPECT_GE(entry.m_servedId, 1);
        EXPECT_LE(entry.m_servedId, 12);
        EXPECT_NE(entry.m_servedId, kServedViewerId);
        EXPECT_EQ(entry.m_observer,
                  replay.SlotOf(entry.m_recordedId)->m_team == replay.ObserverTeam());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplaySeatingTest, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.m_name); });

TEST(ReplaySeatingSlotsTest, SlotNumbersFollowTheSlotsThatMoved)
{
    SeatingRow row{"", 10032, TwentyFourSlots(), 1, {2}, {1, 2}, {}, {}, 0, {}, nullptr};
    std::string error;
    const auto seating = SeatReplay(Recording(row), error);
    ASSERT_TRUE(seating) << error;
    EXPECT_EQ(seating->m_servedSlot[1], 1);
    EXPECT_EQ(seating->m_servedSlot[2], 2); // the viewer's now
    EXPECT_EQ(seating->m_servedSlot[20], 11);
    EXPECT_EQ(seating->m_servedSlot[21], kNotServed);
}

TEST(CutUtf8Test, NeverCutsACharacterInHalf)
{
    EXPECT_EQ(CutUtf8("abcdef", 4), "abcd");
    EXPECT_EQ(CutUtf8("abc", 4), "abc");
    // "Серник" is 12 bytes of two-byte characters.
    EXPECT_EQ(CutUtf8("\xD0\xA1\xD0\xB5\xD1\x80", 3), "\xD0\xA1");
    EXPECT_EQ(CutUtf8("\xD0\xA1\xD0\xB5\xD1\x80", 4), "\xD0\xA1\xD0\xB5");
}
