#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/ReplayHeaderBuilder.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "host/packets/StatString.h"
#include "tools/w3gs/TimeSlotChecksum.h"

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

std::uint16_t LengthField(const Bytes& packet)
{
    return packet[2] | (packet[3] << 8);
}

// The packet cut to size bytes, its length field saying so, so that a parser sees a consistent
// head over a body that lacks its end.
Bytes CutTo(const Bytes& packet, std::size_t size)
{
    Bytes cut(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(size));
    if (size >= 4)
    {
        cut[2] = static_cast<std::uint8_t>(size);
        cut[3] = static_cast<std::uint8_t>(size >> 8);
    }
    return cut;
}

SlotTable SampleTable()
{
    SlotTable table;
    table.m_slots = {
        {1, 100, 2, 0, 0, 0, 0x41, 1, 100},
        {3, 100, 2, 0, 1, 1, 0x42, 1, 90},
        {2, 255, 2, 0, kObserverTeam, kObserverTeam, 0x60, 1, 100},
        {0, 255, 0, 0, 0, 3, 0x60, 1, 100},
    };
    table.m_randomSeed = 0xDEADBEEF;
    table.m_layoutStyle = 3;
    table.m_playerSlots = 2;
    return table;
}

GameInfoParams SampleGameInfo()
{
    GameInfoParams info;
    info.m_hostCounter = 7;
    info.m_entryKey = 0x12345678;
    info.m_gameName = "Moon vs Grubby";
    info.m_stat.m_mapWidth = 116;
    info.m_stat.m_mapHeight = 84;
    info.m_stat.m_mapXoro = 0x3BCCFA6C;
    info.m_stat.m_mapPath = "Maps\\FrozenThrone\\(2)EchoIsles.w3x";
    info.m_stat.m_hostName = "Streamer";
    info.m_uptimeSeconds = 42;
    info.m_port = 10003;
    return info;
}

struct RoundTripCase
{
    std::string m_name;
    Bytes m_packet;
    std::function<bool(const Bytes&)> m_readsBack; // parses and compares with what was built
};

void PrintTo(const RoundTripCase& c, std::ostream* out)
{
    *out << c.m_name;
}

std::vector<RoundTripCase> RoundTripCases()
{
    std::vector<RoundTripCase> cases;
    cases.push_back({"GameInfo", BuildGameInfo(SampleGameInfo()),
                     [](const Bytes& p)
                     {
                         const auto full = ParseGameInfoDetails(p);
                         const auto keys = ParseGameInfo(p);
                         const GameInfoParams want = SampleGameInfo();
                         return full && keys && full->m_gameName == want.m_gameName &&
                                full->m_stat.m_mapPath == want.m_stat.m_mapPath &&
                                full->m_stat.m_hostName == want.m_stat.m_hostName &&
                                full->m_stat.m_mapXoro == want.m_stat.m_mapXoro &&
                                full->m_stat.m_mapWidth == 116 && full->m_stat.m_mapHeight == 84 &&
                                full->m_stat.m_gameFlags == want.m_stat.m_gameFlags &&
                                full->m_uptimeSeconds == 42 && full->m_slotsTotal == 12 &&
                                full->m_product == kProductFrozenThrone &&
                                keys->m_gamePort == 10003 && keys->m_hostCounter == 7 &&
                                keys->m_entryKey == 0x12345678 &&
                                keys->m_gameName == want.m_gameName;
                     }});
    SlotInfoJoinParams join{SampleTable(), 2, 6112, {127, 0, 0, 1}};
    cases.push_back({"SlotInfoJoin", BuildSlotInfoJoin(join),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseSlotInfoJoin(p);
                         return parsed && parsed->m_table == SampleTable() &&
                                parsed->m_playerId == 2 && parsed->m_port == 6112 &&
                                parsed->m_ip == std::array<std::uint8_t, 4>{127, 0, 0, 1};
                     }});
    cases.push_back({"SlotInfo", BuildSlotInfo(SampleTable()),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseSlotInfo(p);
                         return parsed && *parsed == SampleTable();
                     }});
    cases.push_back({"PlayerInfo", BuildPlayerInfo({2, 5, "FifteenCharName"}),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParsePlayerInfo(p);
                         return parsed && parsed->m_joinCounter == 2 && parsed->m_playerId == 5 &&
                                parsed->m_name == "FifteenCharName";
                     }});
    MapCheckParams map{"Maps\\(4)LostTemple.w3m", 123456, 0xCAFEBABE, 0x0BADF00D, {}};
    map.m_sha1[0] = 0xAA;
    map.m_sha1[19] = 0x55;
    cases.push_back({"MapCheck", BuildMapCheck(map),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseMapCheck(p);
                         return parsed && parsed->m_unknown == 1 &&
                                parsed->m_mapPath == "Maps\\(4)LostTemple.w3m" && parsed->m_facts &&
                                parsed->m_facts->m_mapSize == 123456 &&
                                parsed->m_facts->m_mapCrc32 == 0xCAFEBABE &&
                                parsed->m_facts->m_mapXoro == 0x0BADF00D &&
                                parsed->m_facts->m_sha1 && (*parsed->m_facts->m_sha1)[0] == 0xAA &&
                                (*parsed->m_facts->m_sha1)[19] == 0x55;
                     }});
    TimeSlotParams slot{104, {{3, Bytes(13, 0)}, {4, {0x66}}}};
    slot.m_blocks[0].m_actions[0] = 0x68;
    cases.push_back({"TimeSlot", BuildTimeSlot(slot, TimeSlotChecksum),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseTimeSlot(p);
                         // zlib.crc32 of the two blocks' bytes, low 16 bits, computed apart.
                         return parsed && parsed->m_intervalMs == 104 &&
                                parsed->m_checksum == 0x67E5 && parsed->m_blocks.size() == 2 &&
                                parsed->m_blocks[0].m_playerId == 3 &&
                                parsed->m_blocks[0].m_actions.size() == 13 &&
                                parsed->m_blocks[1].m_actions == Bytes{0x66} && p[8] == 3 &&
                                p[11] == 0x68;
                     }});
    cases.push_back({"EmptyTimeSlot", BuildTimeSlot({97, {}}, nullptr),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseTimeSlot(p);
                         return p.size() == 6 && parsed && parsed->m_intervalMs == 97 &&
                                !parsed->m_checksum && parsed->m_blocks.empty();
                     }});
    cases.push_back({"InGameChat", BuildChatFromHost({{1, 2, 4}, 3, ChatKind::kInGame, 2, "gg wp"}),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseChatFromHost(p);
                         return parsed && parsed->m_receivers == Bytes{1, 2, 4} &&
                                parsed->m_sender == 3 && parsed->m_kind == 0x20 &&
                                parsed->m_flags == 2 && parsed->m_text == "gg wp";
                     }});
    cases.push_back({"LobbyChat", BuildChatFromHost({{2}, 1, ChatKind::kLobby, 0, "abc"}),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParseChatFromHost(p);
                         return parsed && p == Bytes{0xF7, 0x0F, 0x0C, 0x00, 0x01, 0x02,
                                                     0x01, 0x10, 'a',  'b',  'c',  0x00};
                     }});
    cases.push_back({"PlayerLeave", BuildPlayerLeave({6, kLeaveReasonLost}),
                     [](const Bytes& p)
                     {
                         const auto parsed = ParsePlayerLeave(p);
                         return parsed && parsed->m_playerId == 6 &&
                                parsed->m_reason == kLeaveReasonLost && p.size() == 9;
                     }});
    return cases;
}

class HostPacketRoundTrip : public ::testing::TestWithParam<RoundTripCase>
{
};

} // namespace

TEST_P(HostPacketRoundTrip, ParsesBackWhatWasBuilt)
{
    const RoundTripCase& c = GetParam();
    ASSERT_GE(c.m_packet.size(), 4u);
    EXPECT_EQ(c.m_packet[0], 0xF7);
    EXPECT_EQ(LengthField(c.m_packet), c.m_packet.size());
    const auto framed = FrameGamePacket(c.m_packet);
    EXPECT_EQ(framed.m_kind, GameFrame::Kind::kWhole);
    EXPECT_EQ(framed.m_length, c.m_packet.size());
    EXPECT_TRUE(c.m_readsBack(c.m_packet));
}

TEST_P(HostPacketRoundTrip, EveryCutAndAnExtraByteAreRefused)
{
    const RoundTripCase& c = GetParam();
    for (std::size_t size = 0; size < c.m_packet.size(); ++size)
    {
        EXPECT_FALSE(c.m_readsBack(CutTo(c.m_packet, size))) << "cut to " << size;
        Bytes unpatched(c.m_packet.begin(), c.m_packet.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(c.m_readsBack(unpatched)) << "unpatched cut to " << size;
    }
    Bytes longer = c.m_packet;
    longer.push_back(0);
    EXPECT_FALSE(c.m_readsBack(longer));
    EXPECT_FALSE(c.m_readsBack(CutTo(longer, longer.size())));
}

INSTANTIATE_TEST_SUITE_P(EveryBuilder, HostPacketRoundTrip, ::testing::ValuesIn(RoundTripCases()),
                         [](const auto& info) { return info.param.m_name; });

TEST(HostSidePacketsTest, HostsOwnPacketsAreTheExactBytes)
{
    const struct
    {
        const char* m_what;
        Bytes m_built;
        Bytes m_expected;
    } rows[] = {
        {"lobby chat",
         BuildHostChat({ChatKind::kLobby, "abc"}),
         {0xF7, 0x0F, 0x0C, 0x00, 0x01, 0x02, 0x01, 0x10, 'a', 'b', 'c', 0x00}},
        {"in-game chat",
         BuildHostChat({ChatKind::kInGame, "abc"}),
         {0xF7, 0x0F, 0x10, 0x00, 0x01, 0x02, 0x01, 0x20, 0, 0, 0, 0, 'a', 'b', 'c', 0}},
        {"chat cut at its own NUL",
         BuildHostChat({ChatKind::kLobby, std::string_view("ab\0c", 4)}),
         {0xF7, 0x0F, 0x0B, 0x00, 0x01, 0x02, 0x01, 0x10, 'a', 'b', 0x00}},
        {"leave acknowledgement", BuildLeaveAck(), {0xF7, 0x1B, 0x04, 0x00}},
        {"empty time slot", BuildEmptyTimeSlot(), {0xF7, 0x0C, 0x06, 0x00, 0x00, 0x00}},
        {"player loaded", BuildPlayerLoaded(5), {0xF7, 0x08, 0x05, 0x00, 0x05}},
        {"countdown start", BuildCountdownStart(), {0xF7, 0x0A, 0x04, 0x00}},
        {"countdown end", BuildCountdownEnd(), {0xF7, 0x0B, 0x04, 0x00}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.m_built, row.m_expected) << row.m_what;
    // At the limit the chat packet is exactly 128 bytes; a longer text never writes past it.
    for (const ChatKind kind : {ChatKind::kLobby, ChatKind::kInGame})
    {
        const std::string longest(MaxChatText(kind), 'x');
        EXPECT_EQ(BuildHostChat({kind, longest}).size(), kChatPacketCapacity);
        EXPECT_EQ(BuildHostChat({kind, longest + "yz"}).size(), kChatPacketCapacity);
    }
}

TEST(HostSidePacketsTest, ChatTextSplitsBetweenCharacters)
{
    const std::string ascii(300, 'a');
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9";                                            // two bytes each
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

TEST(HostSidePacketsTest, FeedReadsTimeSlotAndRecordedChatFields)
{
    const auto slot = ReadTimeSlot(Bytes{0xF7, 0x0C, 0x06, 0x00, 0x2C, 0x01});
    EXPECT_EQ(slot.m_intervalMs, 300) << "the whole 16-bit interval counts";
    EXPECT_FALSE(slot.m_firstPlayer);
    const auto ping = ReadTimeSlot(
        BuildTimeSlot({100, {{3, {0x68, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0xA0, 0x40}}}},
                      TimeSlotChecksum));
    EXPECT_EQ(ping.m_intervalMs, 100);
    EXPECT_EQ(ping.m_firstPlayer, 3);
    EXPECT_EQ(ping.m_firstAction, 0x68);
    EXPECT_EQ(ReadTimeSlot(Bytes{0xF7, 0x0C, 0x05, 0x00, 0x2C}).m_intervalMs, 0x2C);
    EXPECT_EQ(RecordedChatSender(BuildChatFromHost({{1, 2, 3}, 3, ChatKind::kInGame, 0, "gg"})), 3);
    EXPECT_FALSE(RecordedChatSender(Bytes{0xF7, 0x0F, 0x07, 0x00, 3, 1, 2}));
}

TEST(HostSidePacketsTest, PacketSizesMatchTheProtocolFormulas)
{
    const GameInfoParams info = SampleGameInfo();
    const auto encoded = EncodeStatString(BuildStatString(info.m_stat));
    EXPECT_EQ(BuildGameInfo(info).size(), 45 + info.m_gameName.size() + encoded.size());
    EXPECT_EQ(BuildSlotInfoJoin({SampleTable(), 2, 0, {}}).size(), 30 + 9 * 4u);
    EXPECT_EQ(BuildSlotInfo(SampleTable()).size(), 13 + 9 * 4u);
    EXPECT_EQ(BuildPlayerInfo({2, 1, "abcd"}).size(), 44 + 4u);
    EXPECT_EQ(BuildMapCheck({"Maps\\x.w3x", 1, 2, 3, {}}).size(), 41 + 10u);
    const auto slots = BuildSlotInfo(SampleTable());
    EXPECT_EQ(slots[7], 1);              // first record's player id at packet offset 7
    EXPECT_EQ(slots[7 + 9 * 2 + 4], 12); // third record's team: observer
    const auto announce = BuildGameInfo(info);
    EXPECT_EQ(BuildGameInfoWithStat(info, BuildStatString(info.m_stat)), announce);
    EXPECT_EQ(announce[announce.size() - 2], 10003 & 0xFF);
    EXPECT_EQ(announce[announce.size() - 1], 10003 >> 8);
}

TEST(HostSidePacketsTest, BuildersRefuseWhatCannotGoOnTheWire)
{
    GameInfoParams nulInName = SampleGameInfo();
    nulInName.m_gameName = std::string("a\0b", 3);
    SlotTable tooManySlots = SampleTable();
    tooManySlots.m_slots.resize(kMaxSlots + 1);
    const struct
    {
        const char* m_what;
        Bytes m_packet;
    } rows[] = {
        {"player name of 16", BuildPlayerInfo({2, 1, "SixteenCharsName"})},
        {"empty player name", BuildPlayerInfo({2, 1, ""})},
        {"NUL in game name", BuildGameInfo(nulInName)},
        {"NUL in game name, stat string given",
         BuildGameInfoWithStat(nulInName, BuildStatString(nulInName.m_stat))},
        {"25 slots in the slot table", BuildSlotInfo(tooManySlots)},
        {"25 slots in the join reply", BuildSlotInfoJoin({tooManySlots, 2, 0, {}})},
        {"25 chat receivers", BuildChatFromHost({Bytes(25, 1), 1, ChatKind::kLobby, 0, "x"})},
        {"map path of 256", BuildMapCheck({std::string(256, 'm'), 0, 0, 0, {}})},
        {"time slot over 64 KiB",
         BuildTimeSlot({100, {{1, Bytes(70000, 0x61)}}}, TimeSlotChecksum)},
        {"actions without a checksum", BuildTimeSlot({100, {{1, {0x61}}}}, nullptr)},
    };
    for (const auto& row : rows)
        EXPECT_TRUE(row.m_packet.empty()) << row.m_what;
}

TEST(StatStringTest, EncodesTheReferenceExample)
{
    StatStringFields fields;
    fields.m_gameFlags = 0x00064802;
    fields.m_mapWidth = 0xAC;
    fields.m_mapHeight = 0xAC;
    fields.m_mapXoro = 0x3BCCFA6C;
    fields.m_mapPath = "Maps\\FrozenThrone\\(12)EmeraldGardens.w3x";
    fields.m_hostName = "Varlock";
    const Bytes decoded = BuildStatString(fields);
    ASSERT_EQ(decoded.size(), 63u);
    const Bytes encoded = EncodeStatString(decoded);
    ASSERT_EQ(encoded.size(), 72u);
    const Bytes firstTwoGroups(encoded.begin(), encoded.begin() + 16);
    EXPECT_EQ(firstTwoGroups, (Bytes{0x01, 0x03, 0x49, 0x07, 0x01, 0x01, 0xAD, 0x01, 0xC1, 0xAD,
                                     0x01, 0x6D, 0xFB, 0xCD, 0x3B, 0x4D}));
    for (std::uint8_t byte : encoded)
        EXPECT_NE(byte, 0);
    const auto back = DecodeStatString(encoded);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, decoded);
    const auto parsed = ParseStatString(*back);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_mapPath, fields.m_mapPath);
    EXPECT_EQ(parsed->m_hostName, "Varlock");
    EXPECT_EQ(parsed->m_mapXoro, 0x3BCCFA6Cu);
}

TEST(StatStringTest, EveryLengthAndByteValueRoundTrips)
{
    for (std::size_t size = 0; size <= 30; ++size)
    {
        Bytes decoded(size);
        for (std::size_t i = 0; i < size; ++i)
            decoded[i] = static_cast<std::uint8_t>(i * 37 + size);
        const Bytes encoded = EncodeStatString(decoded);
        EXPECT_EQ(encoded.size(), size + (size + 6) / 7);
        const auto back = DecodeStatString(encoded);
        ASSERT_TRUE(back) << size;
        EXPECT_EQ(*back, decoded);
    }
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(DecodeStatString(EncodeStatString(all)), all);
}

TEST(StatStringTest, MalformedEncodingsAreRefused)
{
    const struct
    {
        const char* m_what;
        Bytes m_encoded;
    } rows[] = {
        {"mask without bit 0", {0x02, 0x03}},
        {"even data byte", {0x01, 0x04}},
        {"zero byte", {0x01, 0x00}},
        {"ends on a mask", {0x01, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x01}},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(DecodeStatString(row.m_encoded)) << row.m_what;
    EXPECT_FALSE(ParseStatString(Bytes{1, 2, 3}));
    StatStringFields fields;
    fields.m_mapPath = "Maps\\a.w3x";
    Bytes withSha1 = BuildStatString(fields);
    withSha1.insert(withSha1.end(), 20, 0x11);
    EXPECT_TRUE(ParseStatString(withSha1));
    withSha1.push_back(0);
    EXPECT_FALSE(ParseStatString(withSha1));
}

namespace
{

ReplayHeaderContent SampleHeader()
{
    ReplayHeaderContent content;
    content.m_tag = "VELT stand-in match server";
    content.m_presenter = "Nineteen chars name";
    content.m_matchSeconds = 754;
    content.m_live = true;
    content.m_announcement = BuildGameInfo(SampleGameInfo());
    content.m_joinReply = BuildSlotInfoJoin({SampleTable(), 2, 6112, {127, 0, 0, 1}});
    content.m_playerPackets = {
        BuildPlayerInfo({2, 1, "One"}), {}, BuildPlayerInfo({2, 3, "Three"})};
    content.m_mapCheck = BuildMapCheck({"Maps\\(2)EchoIsles.w3x", 1, 2, 3, {}});
    content.m_slotTable = BuildSlotInfo(SampleTable());
    content.m_countdown = BuildCountdownStart();
    const Bytes end = BuildCountdownEnd();
    content.m_countdown.insert(content.m_countdown.end(), end.begin(), end.end());
    content.m_slogan = std::string(49, 's');
    return content;
}

std::uint16_t U16At(const Bytes& bytes, std::size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8);
}

} // namespace

TEST(ReplayHeaderBuilderTest, PartsLandAtTheirOffsetsAndReadBack)
{
    const ReplayHeaderContent content = SampleHeader();
    const Bytes header = BuildReplayHeader(content);
    ASSERT_EQ(header.size(), 1752u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[30])), "Nineteen chars name");
    EXPECT_EQ(U16At(header, 50), 754);
    EXPECT_EQ(header[52], 0); // live
    EXPECT_EQ(header[53], 3);
    EXPECT_EQ(header[1745], content.m_announcement.size());
    EXPECT_EQ(header[54 + content.m_announcement.size() - 2], 10003 & 0xFF);
    EXPECT_EQ(header[310 + 1], 0x04);
    EXPECT_EQ(header[1746], content.m_joinReply.size());
    EXPECT_EQ(header[450], content.m_playerPackets[0].size());
    EXPECT_EQ(header[451 + 1], 0x06);
    EXPECT_EQ(header[460], 'O'); // name at record offset 10
    EXPECT_EQ(header[530], 0);   // id 2 has no record
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[620])), "Three");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&header[1418])), "Maps\\(2)EchoIsles.w3x");
    EXPECT_EQ(header[1748], content.m_mapCheck.size());
    EXPECT_EQ(header[1747], content.m_slotTable.size());
    EXPECT_EQ(header[1554 + 1], 0x09);
    EXPECT_EQ(header[1554 + 7], 1); // first slot record's player id
    EXPECT_EQ(Bytes(header.begin() + 1682, header.begin() + 1690),
              (Bytes{0xF7, 0x0A, 0x04, 0x00, 0xF7, 0x0B, 0x04, 0x00}));
    EXPECT_EQ(header[1695], 's');
    const auto back = SplitReplayHeader(header);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, content);
}

TEST(ReplayHeaderBuilderTest, PartsThatDoNotFitAreRefused)
{
    const auto with = [](const std::function<void(ReplayHeaderContent&)>& change)
    {
        ReplayHeaderContent content = SampleHeader();
        change(content);
        return BuildReplayHeader(content);
    };
    const struct
    {
        const char* m_what;
        Bytes m_header;
    } rows[] = {
        {"announcement of 256", with([](auto& c) { c.m_announcement.resize(256); })},
        {"join reply of 141", with([](auto& c) { c.m_joinReply.resize(141); })},
        {"player packet of 80", with([](auto& c) { c.m_playerPackets[0].resize(80); })},
        {"13 player records", with([](auto& c) { c.m_playerPackets.resize(13); })},
        {"map check of 145", with([](auto& c) { c.m_mapCheck.resize(145); })},
        {"slot table of 129", with([](auto& c) { c.m_slotTable.resize(129); })},
        {"countdown of 7", with([](auto& c) { c.m_countdown.resize(7); })},
        {"presenter of 20", with([](auto& c) { c.m_presenter = std::string(20, 'p'); })},
        {"slogan of 50", with([](auto& c) { c.m_slogan = std::string(50, 's'); })},
        {"tag of 30", with([](auto& c) { c.m_tag = std::string(30, 't'); })},
    };
    for (const auto& row : rows)
        EXPECT_TRUE(row.m_header.empty()) << row.m_what;
    EXPECT_EQ(with([](auto& c) { c.m_announcement.resize(255); }).size(), 1752u);
    EXPECT_EQ(with([](auto& c) { c.m_playerPackets.resize(12); }).size(), 1752u);
}

TEST(ReplayHeaderBuilderTest, SplitRefusesBrokenBlocksAndPatchKeepsTheRest)
{
    Bytes header = BuildReplayHeader(SampleHeader());
    ASSERT_EQ(header.size(), 1752u);
    EXPECT_FALSE(SplitReplayHeader(Bytes(header.begin(), header.end() - 1)));
    Bytes noNul = header;
    std::fill(noNul.begin() + 30, noNul.begin() + 50, 'x');
    EXPECT_FALSE(SplitReplayHeader(noNul));
    Bytes tooMany = header;
    tooMany[53] = 13;
    EXPECT_FALSE(SplitReplayHeader(tooMany));
    Bytes longJoin = header;
    longJoin[1746] = 141;
    EXPECT_FALSE(SplitReplayHeader(longJoin));

    Bytes patched = header;
    PatchReplayHeaderProgress(patched, 0x0102, false);
    EXPECT_EQ(U16At(patched, 50), 0x0102);
    EXPECT_EQ(patched[52], 1);
    patched[50] = header[50];
    patched[51] = header[51];
    patched[52] = header[52];
    EXPECT_EQ(patched, header);
}
