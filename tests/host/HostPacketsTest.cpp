#include <gtest/gtest.h>

#include "host/CHostCommands.h"
#include "host/CommandArguments.h"
#include "host/GamePacketFramer.h"
#include "host/HostChatPackets.h"
#include "host/ReplayHeader.h"
#include "tests/host/HostTestSupport.h"

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

struct FrameRow
{
    const char* m_name;
    Bytes m_data;
    GameFrame::Kind m_kind;
    std::size_t m_length;
};

TEST(GamePacketFramer, CutsWholePacketsAndJunk)
{
    const FrameRow rows[] = {
        {"empty", {}, GameFrame::Kind::kNeedMore, 0},
        {"signature only", {0xF7}, GameFrame::Kind::kNeedMore, 0},
        {"head only", {0xF7, 0x27, 0x09, 0x00}, GameFrame::Kind::kNeedMore, 0},
        {"whole keepalive", {0xF7, 0x27, 0x09, 0x00, 0, 1, 2, 3, 4}, GameFrame::Kind::kWhole, 9},
        {"two packets", {0xF7, 0x1B, 0x04, 0x00, 0xF7, 0x1B, 0x04, 0x00}, GameFrame::Kind::kWhole, 4},
        {"junk up to next packet", {0x01, 0x02, 0xF7, 0x1B}, GameFrame::Kind::kMalformed, 2},
        {"junk without packet", {0x01, 0x02, 0x03}, GameFrame::Kind::kMalformed, 3},
        {"length below head", {0xF7, 0x0C, 0x02, 0x00, 0xF7}, GameFrame::Kind::kMalformed, 4},
        {"length zero", {0xF7, 0x0C, 0x00, 0x00}, GameFrame::Kind::kMalformed, 4},
    };
    for (const auto& row : rows)
    {
        const GameFrame frame = FrameGamePacket(row.m_data);
        EXPECT_EQ(frame.m_kind, row.m_kind) << row.m_name;
        EXPECT_EQ(frame.m_length, row.m_length) << row.m_name;
    }
}

TEST(HostChatPackets, BuildsTheExactChatLines)
{
    EXPECT_EQ(BuildHostChat({ChatKind::kLobby, "abc"}),
              (Bytes{0xF7, 0x0F, 0x0C, 0x00, 0x01, 0x02, 0x01, 0x10, 'a', 'b', 'c', 0x00}));
    EXPECT_EQ(BuildHostChat({ChatKind::kInGame, "abc"}),
              (Bytes{0xF7, 0x0F, 0x10, 0x00, 0x01, 0x02, 0x01, 0x20, 0, 0, 0, 0, 'a', 'b', 'c', 0}));
    // At the limit the packet is exactly 128 bytes; a longer text never writes past it.
    for (const ChatKind kind : {ChatKind::kLobby, ChatKind::kInGame})
    {
        const std::string longest(MaxChatText(kind), 'x');
        EXPECT_EQ(BuildHostChat({kind, longest}).size(), kChatPacketCapacity);
        EXPECT_EQ(BuildHostChat({kind, longest + "yz"}).size(), kChatPacketCapacity);
    }
}

TEST(HostChatPackets, SplitsLongLinesBetweenCharacters)
{
    const std::string ascii(300, 'a');
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9"; // two bytes each
    const std::string mixed = "a" + accents + "\xE6\x97\xA5\xE6\x9C\xAC"; // and two of three
    for (const std::string& text : {ascii, accents, mixed, std::string()})
    {
        const auto pieces = SplitChatText(text, 115);
        std::string joined;
        for (const auto piece : pieces)
        {
            EXPECT_LE(piece.size(), 115u);
            if (!piece.empty())
            {
                EXPECT_NE(static_cast<unsigned char>(piece.front()) & 0xC0, 0x80)
                    << "a piece starts inside a character";
            }
            joined += piece;
        }
        EXPECT_EQ(joined, text);
    }
    EXPECT_EQ(SplitChatText(ascii, 119).size(), 3u);
}

TEST(HostChatPackets, ParsesViewerChatOfEveryKind)
{
    const auto lobby = ParseViewerChat(Bytes{0xF7, 0x28, 0x0C, 0x00, 1, 1, 2, 0x10, '/', 's', 0});
    ASSERT_TRUE(lobby);
    EXPECT_EQ(lobby->m_kind, 0x10);
    EXPECT_EQ(lobby->m_text, "/s");
    const auto game =
        ParseViewerChat(Bytes{0xF7, 0x28, 0x0F, 0x00, 2, 1, 3, 2, 0x20, 0, 0, 0, 0, 'h', 'i'});
    ASSERT_TRUE(game);
    EXPECT_EQ(game->m_kind, 0x20);
    EXPECT_EQ(game->m_text, "hi") << "a text without its NUL runs to the end of the packet";
    const auto team = ParseViewerChat(Bytes{0xF7, 0x28, 0x09, 0x00, 1, 1, 2, 0x11, 3});
    ASSERT_TRUE(team);
    EXPECT_TRUE(team->m_text.empty());
    EXPECT_FALSE(ParseViewerChat(Bytes{0xF7, 0x28, 0x06, 0x00, 5, 1}));
    EXPECT_FALSE(ParseViewerChat(Bytes{0xF7, 0x28, 0x09, 0x00, 1, 1, 2, 0x20, 0}));
}

TEST(HostChatPackets, ReadsTimeSlotAndRecordedChatFields)
{
    const auto slot = ReadTimeSlot(Bytes{0xF7, 0x0C, 0x06, 0x00, 0x2C, 0x01});
    EXPECT_EQ(slot.m_intervalMs, 300) << "the whole 16-bit interval counts";
    EXPECT_FALSE(slot.m_firstPlayer);
    const auto ping = ReadTimeSlot(test::PingSlot(100, 3));
    EXPECT_EQ(ping.m_intervalMs, 100);
    EXPECT_EQ(ping.m_firstPlayer, 3);
    EXPECT_EQ(ping.m_firstAction, 0x68);
    EXPECT_EQ(ReadTimeSlot(Bytes{0xF7, 0x0C, 0x05, 0x00, 0x2C}).m_intervalMs, 0x2C);
    EXPECT_EQ(RecordedChatSender(test::RecordedChat(3, "gg")), 3);
    EXPECT_FALSE(RecordedChatSender(Bytes{0xF7, 0x0F, 0x07, 0x00, 3, 1, 2}));
}

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
