#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <set>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "platform/ByteWriter.h"

using namespace velt;
using Bytes = std::vector<std::uint8_t>;

namespace
{

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A host packet as the host would write it: head, body, length patched.
Bytes HostPacket(std::uint8_t type, const Bytes& body)
{
    Bytes packet = Concat({{0xF7, type, 0, 0}, body});
    packet[2] = static_cast<std::uint8_t>(packet.size());
    packet[3] = static_cast<std::uint8_t>(packet.size() >> 8);
    return packet;
}

Bytes GameInfoPacket(const std::string& name, std::uint16_t port)
{
    CByteWriter body;
    body.U32(0x57335850).U32(26).U32(7).U32(0x11223344).CString(name).U8(0);
    body.CString("\x01\x03\x49\x07").U32(12).U32(1).U32(1).U32(12).U32(0).U16(port);
    return HostPacket(0x30, body.View());
}

} // namespace

// ---- builders: exact bytes ------------------------------------------------------------------

struct GoldenRow
{
    const char* m_name;
    Bytes m_built;
    Bytes m_expected;
};

TEST(GameSidePacketsTest, BuildersWriteTheDocumentedBytes)
{
    JoinRequestParams join;
    join.m_hostCounter = 1;
    join.m_entryKey = 0x11223344;
    join.m_playerName = "abc";
    join.m_internalPort = 0x1234;
    ChatToHostParams lobby;
    lobby.m_text = "abc";
    ChatToHostParams inGame = lobby;
    inGame.m_kind = ChatKind::kInGame;
    inGame.m_flags = 2;
    const GoldenRow rows[] = {
        {"join", BuildJoinRequest(join),
         Concat({{0xF7, 0x1E, 41, 0, 1, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0xE0, 0x17, 0, 0, 0, 0},
                 Text("abc"),
                 {0, 1, 0, 2, 0, 0x12, 0x34, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}})},
        {"map report",
         BuildMapReport({1, 0x12345}),
         {0xF7, 0x42, 13, 0, 1, 0, 0, 0, 1, 0x45, 0x23, 0x01, 0}},
        {"loaded", BuildGameLoaded(), {0xF7, 0x23, 4, 0}},
        {"keepalive",
         BuildKeepalive({0, 0xDEADBEEF}),
         {0xF7, 0x27, 9, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}},
        {"lobby chat",
         BuildChatToHost(lobby),
         {0xF7, 0x28, 12, 0, 1, 1, 2, 0x10, 'a', 'b', 'c', 0}},
        {"game chat",
         BuildChatToHost(inGame),
         {0xF7, 0x28, 16, 0, 1, 1, 2, 0x20, 2, 0, 0, 0, 'a', 'b', 'c', 0}},
        {"leave", BuildLeaveGame({kLeaveReasonLost}), {0xF7, 0x21, 8, 0, 7, 0, 0, 0}},
    };
    for (const GoldenRow& row : rows)
        EXPECT_EQ(row.m_built, row.m_expected) << row.m_name;
}

TEST(GameSidePacketsTest, BuildersRefuseWhatDoesNotFitTheWire)
{
    const auto join = [](std::string name)
    {
        JoinRequestParams params;
        params.m_playerName = std::move(name);
        return BuildJoinRequest(params);
    };
    const auto chat = [](std::vector<std::uint8_t> receivers, std::string text)
    {
        ChatToHostParams params;
        params.m_receivers = std::move(receivers);
        params.m_text = std::move(text);
        return BuildChatToHost(params);
    };
    const std::pair<const char*, Bytes> rows[] = {
        {"empty name", join("")},
        {"16-character name", join(std::string(16, 'n'))},
        {"NUL in name", join(std::string("ab\0c", 4))},
        {"no receivers", chat({}, "hi")},
        {"25 receivers", chat(Bytes(25, 1), "hi")},
        {"NUL in text", chat({1}, std::string("a\0b", 3))},
        {"text past the length field",
         chat(Bytes(24, 1), std::string(kChatTextMaxLength + 1, 'x'))},
    };
    for (const auto& [name, built] : rows)
        EXPECT_TRUE(built.empty()) << name;
    ChatToHostParams longest{Bytes(24, 1), 2, ChatKind::kInGame, 0,
                             std::string(kChatTextMaxLength, 'x')};
    EXPECT_EQ(BuildChatToHost(longest).size(), kGamePacketMaxSize);
    EXPECT_EQ(ParseChatToHost(BuildChatToHost(longest)), longest);
}

// ---- builders and parsers of the game's packets: round trips ---------------------------------

TEST(GameSidePacketsTest, GameSidePacketsRoundTrip)
{
    JoinRequestParams join;
    join.m_hostCounter = 0xCAFEBABE;
    join.m_entryKey = 42;
    join.m_listenPort = 6113;
    join.m_peerKey = 7;
    join.m_playerName = std::string(15, 'Z');
    join.m_paddingCount = 2;
    join.m_internalPort = 0xABCD;
    join.m_internalIp = {10, 1, 2, 3};
    EXPECT_EQ(ParseJoinRequest(BuildJoinRequest(join)), join);
    join.m_playerName = "v";
    join.m_paddingCount = 0;
    EXPECT_EQ(ParseJoinRequest(BuildJoinRequest(join)), join);

    for (const MapReportParams report : {MapReportParams{1, 0}, MapReportParams{3, 0xFFFFFFFF}})
        EXPECT_EQ(ParseMapReport(BuildMapReport(report)), report);
    EXPECT_TRUE(IsGameLoaded(BuildGameLoaded()));
    for (const KeepaliveParams keepalive : {KeepaliveParams{0, 0}, KeepaliveParams{4, 0x80000001}})
        EXPECT_EQ(ParseKeepalive(BuildKeepalive(keepalive)), keepalive);
    EXPECT_EQ(ParseLeaveGame(BuildLeaveGame({kLeaveReasonLobby})),
              LeaveGameParams{kLeaveReasonLobby});

    const ChatToHostParams chats[] = {
        {{1}, 2, ChatKind::kLobby, 0, "/start"},
        {{1, 3, 4}, 2, ChatKind::kInGame, 3, std::string(300, 'L')},
        {{1}, 2, ChatKind::kInGame, 0, ""},
    };
    for (const ChatToHostParams& chat : chats)
        EXPECT_EQ(ParseChatToHost(BuildChatToHost(chat)), chat);
}

TEST(GameSidePacketsTest, HostReadsViewerChatOfEveryKind)
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

// ---- parsers of the host's packets ------------------------------------------------------------

TEST(GameSidePacketsTest, HostPacketsParseToTheirFields)
{
    EXPECT_EQ(ParseGameInfo(GameInfoPacket("VELT game", 10000)),
              (ParsedGameInfo{10000, 7, 0x11223344, "VELT game"}));
    EXPECT_EQ(ParseGameInfo(Bytes{0xF7, 0x30, 6, 0, 0x10, 0x27}),
              (ParsedGameInfo{10000, 0, 0, {}}));
    // A name without its NUL before the port: the port still counts, the name does not.
    EXPECT_EQ(ParseGameInfo(HostPacket(0x30, Concat({Bytes(16, 0), Text("abc"), {0x11, 0x27}}))),
              (ParsedGameInfo{10001, 0, 0, {}}));

    EXPECT_EQ(ParseTimeSlot(Bytes{0xF7, 0x0C, 6, 0, 0, 0}), (ParsedTimeSlot{0, {}, {}, 6}));
    EXPECT_EQ(ParseTimeSlot(Bytes{0xF7, 0x0C, 8, 0, 0x64, 0, 0, 0}),
              (ParsedTimeSlot{100, 0, {}, 8}));
    EXPECT_EQ(
        ParseTimeSlot(HostPacket(0x0C, {0x2C, 0x01, 0xAA, 0xBB, 3, 2, 0, 0x68, 0x01, 5, 0, 0})),
        (ParsedTimeSlot{300, 0xBBAA, {{3, {0x68, 0x01}}, {5, {}}}, 8}));

    // The host's own lobby and in-game lines for the text "abc", and a slot change.
    EXPECT_EQ(ParseChatFromHost(Bytes{0xF7, 0x0F, 12, 0, 1, 2, 1, 0x10, 'a', 'b', 'c', 0}),
              (ParsedChatFromHost{{2}, 1, 0x10, 0, 0, "abc"}));
    EXPECT_EQ(
        ParseChatFromHost(Bytes{0xF7, 0x0F, 16, 0, 1, 2, 1, 0x20, 3, 0, 0, 0, 'a', 'b', 'c', 0}),
        (ParsedChatFromHost{{2}, 1, 0x20, 3, 0, "abc"}));
    EXPECT_EQ(ParseChatFromHost(Bytes{0xF7, 0x0F, 9, 0, 1, 2, 1, 0x11, 4}),
              (ParsedChatFromHost{{2}, 1, 0x11, 0, 4, ""}));

    const Bytes head = Concat({{1, 0, 0, 0}, Text("Maps\\(2)Echo.w3x"), {0}});
    const Bytes facts = {0x39, 0x30, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
    std::array<std::uint8_t, 20> sha1;
    sha1.fill(9);
    EXPECT_EQ(ParseMapCheck(HostPacket(0x3D, head)), (ParsedMapCheck{1, "Maps\\(2)Echo.w3x", {}}));
    EXPECT_EQ(ParseMapCheck(HostPacket(0x3D, Concat({head, facts}))),
              (ParsedMapCheck{1, "Maps\\(2)Echo.w3x", ParsedMapFacts{12345, 1, 2, {}}}));
    EXPECT_EQ(ParseMapCheck(HostPacket(0x3D, Concat({head, facts, Bytes(20, 9)}))),
              (ParsedMapCheck{1, "Maps\\(2)Echo.w3x", ParsedMapFacts{12345, 1, 2, sha1}}));
}

TEST(GameSidePacketsTest, MalformedHostPacketsAreRefused)
{
    using Parse = std::function<bool(const Bytes&)>;
    const Parse slot = [](const Bytes& b) { return ParseTimeSlot(b).has_value(); };
    const Parse chat = [](const Bytes& b) { return ParseChatFromHost(b).has_value(); };
    const Parse map = [](const Bytes& b) { return ParseMapCheck(b).has_value(); };
    const Parse info = [](const Bytes& b) { return ParseGameInfo(b).has_value(); };
    const Parse ack = [](const Bytes& b) { return IsLeaveAck(b); };
    const std::tuple<const char*, Parse, Bytes> rows[] = {
        {"slot: wrong signature", slot, {0xF6, 0x0C, 6, 0, 0, 0}},
        {"slot: wrong type", slot, {0xF7, 0x48, 6, 0, 0, 0}},
        {"slot: length field too big", slot, {0xF7, 0x0C, 7, 0, 0, 0}},
        {"slot: half a checksum", slot, {0xF7, 0x0C, 7, 0, 0, 0, 0}},
        {"slot: block past the end", slot, {0xF7, 0x0C, 12, 0, 0, 0, 0, 0, 1, 2, 0, 0x68}},
        {"slot: block head cut", slot, {0xF7, 0x0C, 10, 0, 0, 0, 0, 0, 1, 2}},
        {"chat: no receivers", chat, {0xF7, 0x0F, 9, 0, 0, 1, 0x10, 'a', 0}},
        {"chat: unknown kind", chat, {0xF7, 0x0F, 10, 0, 1, 2, 1, 0x30, 'a', 0}},
        {"chat: text without NUL", chat, {0xF7, 0x0F, 10, 0, 1, 2, 1, 0x10, 'a', 'b'}},
        {"chat: bytes after the text", chat, {0xF7, 0x0F, 11, 0, 1, 2, 1, 0x10, 'a', 0, 0}},
        {"map: path without NUL", map, {0xF7, 0x3D, 10, 0, 1, 0, 0, 0, 'M', 'x'}},
        {"map: facts cut short", map, {0xF7, 0x3D, 14, 0, 1, 0, 0, 0, 'M', 0, 1, 2, 3, 4}},
        {"info: no room for the port", info, {0xF7, 0x30, 5, 0, 0}},
        {"ack: a body", ack, {0xF7, 0x1B, 5, 0, 0}},
    };
    for (const auto& [name, parse, bytes] : rows)
        EXPECT_FALSE(parse(bytes)) << name;
}

// ---- every truncation of every packet --------------------------------------------------------

// Each prefix of a packet, with its length field rewritten to the prefix's size, either parses
// (only where a shorter packet of that type is itself well formed) or is refused; none reads past
// it.
TEST(GameSidePacketsTest, TruncationSweepOverEveryParser)
{
    using Parse = std::function<bool(const Bytes&)>;
    ChatToHostParams chat{{1, 2}, 2, ChatKind::kInGame, 0, "/goto 1:00"};
    JoinRequestParams join;
    const Bytes mapHead = Concat({{1, 0, 0, 0}, Text("Maps\\a.w3x"), {0}});
    struct Row
    {
        const char* m_name;
        Parse m_parse;
        Bytes m_packet;
        std::set<std::size_t> m_wellFormedPrefixes;
    };
    const Row rows[] = {
        {"join",
         [](const Bytes& b) { return ParseJoinRequest(b).has_value(); },
         BuildJoinRequest(join),
         {}},
        {"map report",
         [](const Bytes& b) { return ParseMapReport(b).has_value(); },
         BuildMapReport({}),
         {}},
        {"loaded", [](const Bytes& b) { return IsGameLoaded(b); }, BuildGameLoaded(), {}},
        {"keepalive",
         [](const Bytes& b) { return ParseKeepalive(b).has_value(); },
         BuildKeepalive({}),
         {}},
        {"chat to host",
         [](const Bytes& b) { return ParseChatToHost(b).has_value(); },
         BuildChatToHost(chat),
         {}},
        {"leave",
         [](const Bytes& b) { return ParseLeaveGame(b).has_value(); },
         BuildLeaveGame({}),
         {}},
        {"leave ack", [](const Bytes& b) { return IsLeaveAck(b); }, {0xF7, 0x1B, 4, 0}, {}},
        {"chat from host",
         [](const Bytes& b) { return ParseChatFromHost(b).has_value(); },
         {0xF7, 0x0F, 16, 0, 1, 2, 1, 0x20, 0, 0, 0, 0, 'a', 'b', 'c', 0},
         {}},
        {"time slot",
         [](const Bytes& b) { return ParseTimeSlot(b).has_value(); },
         HostPacket(0x0C, {100, 0, 1, 2, 1, 2, 0, 0x66, 0x00, 2, 1, 0, 9}),
         {6, 8, 13}},
        {"map check",
         [](const Bytes& b) { return ParseMapCheck(b).has_value(); },
         HostPacket(0x3D, Concat({mapHead, Bytes(12, 1)})),
         {4 + mapHead.size()}},
    };
    for (const Row& row : rows)
    {
        ASSERT_TRUE(row.m_parse(row.m_packet)) << row.m_name;
        for (std::size_t size = 0; size < row.m_packet.size(); ++size)
        {
            Bytes prefix(row.m_packet.begin(),
                         row.m_packet.begin() + static_cast<std::ptrdiff_t>(size));
            if (size >= 4)
                prefix[2] = static_cast<std::uint8_t>(size);
            EXPECT_EQ(row.m_parse(prefix), row.m_wellFormedPrefixes.count(size) == 1)
                << row.m_name << " cut to " << size;
        }
    }
    // The announcement keeps its port in its last two bytes, so every cut of 6 bytes or more
    // still names a port.
    const Bytes info = GameInfoPacket("g", 10000);
    for (std::size_t size = 0; size < info.size(); ++size)
    {
        Bytes prefix(info.begin(), info.begin() + static_cast<std::ptrdiff_t>(size));
        if (size >= 4)
            prefix[2] = static_cast<std::uint8_t>(size);
        EXPECT_EQ(ParseGameInfo(prefix).has_value(), size >= 6) << "announcement cut to " << size;
    }
}
