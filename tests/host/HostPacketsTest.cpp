#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "host/CHostCommands.h"
#include "host/CommandArguments.h"
#include "host/ReplayHeader.h"
#include "host/ReplayHeaderCheck.h"
#include "tests/doubles/HostRig.h"

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

// Each row spoils one part of a header that can be hosted: the check names what is wrong.
TEST(ReplayHeaderCheck, NamesWhatTheGameCouldNotTake)
{
    using H = ReplayHeader;
    const struct
    {
        const char* m_problem; // null: the header can be hosted
        std::function<void(Bytes&)> m_spoil;
    } rows[] = {
        {nullptr, [](Bytes&) {}},
        {nullptr, [](Bytes& h) { h[H::PlayerRecordOffset(2)] = 0; }}, // an id without a packet
        {"it is 1751 bytes long, not 1752", [](Bytes& h) { h.pop_back(); }},
        {"its presenter name does not end inside its field",
         [](Bytes& h) { std::fill_n(h.begin() + H::kPresenterOffset, H::kPresenterSize, 'a'); }},
        {"its slogan does not end inside its field",
         [](Bytes& h) { std::fill_n(h.begin() + H::kSloganOffset, H::kSloganSize, 'a'); }},
        {"it names 13 players, and holds records for 12",
         [](Bytes& h) { h[H::kPlayerCountOffset] = 13; }},
        {"it has no LAN announcement", [](Bytes& h) { h[H::kAnnouncementLengthOffset] = 0; }},
        {"its LAN announcement is not a valid game packet",
         [](Bytes& h) { --h[H::kAnnouncementLengthOffset]; }},
        {"its join reply is said to be 141 bytes long, in a field of 140",
         [](Bytes& h) { h[H::kJoinReplyLengthOffset] = 141; }},
        {"its join reply is not a valid game packet",
         [](Bytes& h) { h[H::kJoinReplyOffset + 1] = 0x09; }},
        {"its map check is not a valid game packet",
         [](Bytes& h)
         {
             // The map path runs to the end of the packet, without its NUL.
             const std::size_t end = H::kMapCheckOffset + h[H::kMapCheckLengthOffset];
             std::fill(h.begin() + H::kMapPathOffset, h.begin() + end, 'M');
         }},
        {"its slot table is not a valid game packet",
         [](Bytes& h) { h[H::kSlotTableOffset + 2] ^= 1; }},
        {"the packet of player 1 is said to be 80 bytes long, in a record of 80",
         [](Bytes& h) { h[H::PlayerRecordOffset(1)] = 80; }},
        {"the packet of player 3 is not a valid game packet",
         [](Bytes& h) { h[H::PlayerRecordOffset(3) + 1] = 0; }},
        {"its countdown is not the two countdown packets",
         [](Bytes& h) { h[H::kCountdownOffset + 5] = 0x0A; }},
    };
    for (const auto& row : rows)
    {
        Bytes header = test::BuildTestHeader();
        row.m_spoil(header);
        const auto problem = ReplayHeaderProblem(header);
        if (row.m_problem == nullptr)
            EXPECT_EQ(problem, std::nullopt);
        else
            EXPECT_EQ(problem.value_or("(none)").rfind(row.m_problem, 0), 0u)
                << problem.value_or("(none)");
    }
}

} // namespace
} // namespace velt
