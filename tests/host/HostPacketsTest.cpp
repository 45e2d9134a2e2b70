#include <gtest/gtest.h>

#include "host/CHostCommands.h"
#include "host/CommandArguments.h"
#include "host/ReplayHeader.h"
#include "tests/host/HostTestSupport.h"

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

struct GotoRow
{
    const char* m_argument;
    std::optional<std::uint64_t> m_targetMs;
};

TEST(CommandArguments, GotoTargets)
{
    const GotoRow rows[] = {
        {"2:30", 150000}, {"0:60", 60000}, {"1:61", std::nullopt}, {"90", std::nullopt},
        {"", std::nullopt}, {"x:5", 5000}, {"1:2:03", 63000}, {"-1:30", std::nullopt},
        {"1:-5", std::nullopt}, {"+1:30", std::nullopt},
        {"99999999999:00", 60000000000000}, {"10:5s", 605000},
    };
    for (const auto& row : rows)
        EXPECT_EQ(GotoTargetMs(row.m_argument), row.m_targetMs) << row.m_argument;
}

// /back is ours: minutes and seconds in digits, one colon, nothing else.
TEST(CommandArguments, BackTargets)
{
    const GotoRow rows[] = {
        {"1:00", 60000},        {"0:05", 5000},         {"0:60", 60000},
        {"0:00:00", std::nullopt}, {"1:2:03", std::nullopt}, {"x:5", std::nullopt},
        {"10:5s", std::nullopt}, {":30", std::nullopt},  {"1:", std::nullopt},
        {" 1:00", std::nullopt}, {"1:61", std::nullopt},  {"9999999999:00", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(BackTargetMs(row.m_argument), row.m_targetMs) << row.m_argument;
}

TEST(CommandArguments, GameClockTargets)
{
    const GotoRow rows[] = {
        {"12:00", 80000},  {"2:00", 360000},       {"08:00", 0},           {"7:59", 479000},
        {"8:01", 0},       {"8:03", 1000},         {"24:00", std::nullopt}, {"23:61", std::nullopt},
        {"23:60", 320000}, {"1200", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(GameClockTargetMs(row.m_argument), row.m_targetMs) << row.m_argument;
}

TEST(CommandArguments, SyncDownHalts)
{
    struct Row
    {
        std::uint64_t m_target;
        std::uint64_t m_gameTime;
        std::uint64_t m_halt;
    };
    const Row rows[] = {
        {0, 100000, 100000},      // the clock read 08:00 100 s ago
        {0, 0, 0},                //
        {80000, 0, 400000},       // 12:00 lies ahead: last read a clock day before
        {80000, 500000, 420000},  //
        {80000, 560000, 0},       // a whole day later, 12:00 again
        {479000, 1000, 2000},     //
        {1000, 961000, 0},        // two days on
        {0, 600000, 120000},      // 08:00 last read one clock day in, 120 s ago
    };
    for (const auto& row : rows)
        EXPECT_EQ(SyncDownHaltMs(row.m_target, row.m_gameTime), row.m_halt)
            << row.m_target << " at " << row.m_gameTime;
    EXPECT_EQ(CommandArgument("goto 2:30", 4), "2:30");
    EXPECT_EQ(CommandArgument("goto", 4), "");
    EXPECT_EQ(CommandArgument("syncdown_8:00", 8), "8:00");
}

TEST(CommandTable, LooksUpTheFirstMatchingRow)
{
    struct Row
    {
        const char* m_command;
        const char* m_word; // "" for the bad-argument row
    };
    const Row rows[] = {
        {"obmsg", "obmsg"},     {"OBMSG", "obmsg"},       {"obmsg on", "obmsg on"},
        {"obmsg  on", ""},      {"pingmsg off", "pingmsg off"}, {"s", "s"},
        {"S", "s"},             {"go", "go"},             {"gogo", ""},
        {"goto", "goto"},       {"goto 1:00", "goto"},    {"GOTOx", "goto"},
        {"got", ""},            {"syncup 12:00", "syncup"}, {"syncdown 8:00", "syncdown"},
        {"syncdo", ""},         {"rate", "rate"},         {"rate 5", "rate 5"},
        {"rate 6", ""},         {"help", "help"},         {"help me", ""},
        {"alias", ""},          {"ping", ""},             {"sp 3", "sp 3"},
        {"SPEED 3", "speed 3"}, {"speed 5", ""},          {"speed", "speed"},
        {"sp", "sp"},           {"fs", "fs"},             {"kaishi", "kaishi"},
        {"", ""},               {"time", "time"},         {"bet", "bet"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CHostCommands::Lookup(row.m_command).m_word, row.m_word) << row.m_command;
}

TEST(ReplayHeader, PacketViewsStayInsideTheirFields)
{
    ReplayHeader header;
    EXPECT_EQ(header.Text(ReplayHeader::kPresenterOffset, ReplayHeader::kPresenterSize),
              "Zeno Gaming");
    EXPECT_EQ(header.Text(ReplayHeader::kSloganOffset, ReplayHeader::kSloganSize),
              "By gamers, for gamers.");
    header.SetU8(ReplayHeader::kSlotTableLengthOffset, 0xFF);
    EXPECT_EQ(header.SlotTable().size(), ReplayHeader::kSlotTableSize);
    header.SetU8(ReplayHeader::PlayerRecordOffset(12), 0xFF);
    EXPECT_EQ(header.PlayerPacket(12).size(), ReplayHeader::kPlayerRecordSize - 1);
    EXPECT_TRUE(header.PlayerPacket(13).empty());
    header.SetU8(ReplayHeader::kPlayerCountOffset, 200);
    EXPECT_EQ(header.PlayerCount(), 12u);
}

} // namespace
} // namespace velt
