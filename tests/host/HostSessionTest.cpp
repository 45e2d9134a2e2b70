#include <gtest/gtest.h>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/doubles/HostRig.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Packets = std::vector<Bytes>;

Bytes Concat(const Packets& packets, std::size_t from = 0)
{
    Bytes all;
    for (std::size_t i = from; i < packets.size(); ++i)
        all.insert(all.end(), packets[i].begin(), packets[i].end());
    return all;
}

Bytes Span(std::span<const std::uint8_t> bytes) { return Bytes(bytes.begin(), bytes.end()); }

// Reads game packets, answering every time slot with a keepalive, until pred holds for a
// packet; the packets read so far (the last one included).
std::optional<Packets> PlayUntil(CScriptedGame& game, const std::function<bool(const Bytes&)>& pred)
{
    Packets packets;
    while (auto packet = game.Read())
    {
        packets.push_back(*packet);
        if (pred(*packet))
            return packets;
        if (IsType(*packet, GamePacketType::kIncomingAction) && !game.Keepalive())
            return std::nullopt;
    }
    return std::nullopt;
}

std::function<bool(const Bytes&)> LineIs(const std::string& text)
{
    return [text](const Bytes& packet) { return ChatText(packet) == text; };
}

struct HandshakeRow
{
    const char* m_name;
    std::vector<TestPlayer> m_players;
};

TEST(HostSession, JoinHandshakeSendsTheHeaderPacketsAsTheyStand)
{
    const HandshakeRow rows[] = {
        {"three players", {{"Alice", 0}, {"Bob", 1}, {"Watcher", 12}}},
        {"no players", {}},
        {"empty record in the middle", {{"Alice", 0}, {"", 1}, {"Carol", 2}}},
    };
    for (const auto& row : rows)
    {
        HeaderOptions options;
        options.m_players = row.m_players;
        HostRig rig(options);
        ASSERT_TRUE(rig.Start()) << row.m_name;
        const ReplayHeader header = rig.m_host->HeaderCopy();
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()));
        const auto joined = game.Join();
        ASSERT_TRUE(joined) << row.m_name;
        EXPECT_EQ((*joined)[0], Span(header.JoinReply())) << row.m_name;
        Bytes batch;
        for (std::size_t id = 1; id <= row.m_players.size(); ++id)
        {
            const auto packet = header.PlayerPacket(id);
            batch.insert(batch.end(), packet.begin(), packet.end());
        }
        const auto mapCheck = header.MapCheck();
        batch.insert(batch.end(), mapCheck.begin(), mapCheck.end());
        EXPECT_EQ(Concat(*joined, 1), batch) << row.m_name;

        // Start: slot table, countdown, then after the game's answer one loaded packet per id.
        ASSERT_TRUE(game.MapReport());
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, "/fs"));
        const auto start = game.ReadThrough(GamePacketType::kCountdownEnd);
        ASSERT_TRUE(start);
        const std::size_t n = start->size();
        ASSERT_GE(n, 3u);
        EXPECT_EQ((*start)[n - 3], Span(header.SlotTable()));
        EXPECT_EQ(Concat(*start, n - 2), Span(header.Countdown()));
        ASSERT_TRUE(game.Send(BuildGameLoaded()));
        const auto loaded = game.ReadThrough(GamePacketType::kChatFromHost);
        ASSERT_TRUE(loaded);
        Bytes expectedLoaded;
        for (std::uint8_t id = 1; id <= row.m_players.size(); ++id)
            expectedLoaded.insert(expectedLoaded.end(), {0xF7, 0x08, 0x05, 0x00, id});
        EXPECT_EQ(Concat(Packets(loaded->begin(), loaded->end() - 1)), expectedLoaded);
        EXPECT_EQ(ChatText(loaded->back()), "Watch and learn.");
    }
}

TEST(HostSession, AnnouncesItsPortUntilAGameConnectsAndNotAfterTheSession)
{
    CUdpSocket listener;
    ASSERT_TRUE(listener.Bind("127.0.0.1", 0));
    HostRig rig;
    ASSERT_TRUE(rig.Start(listener.LocalPort()));
    std::uint8_t datagram[512];
    const int size = listener.RecvFrom(datagram, sizeof datagram, kWaitMs);
    ASSERT_GT(size, 2);
    const Bytes announcement(datagram, datagram + size);
    EXPECT_EQ(announcement, Span(rig.m_host->HeaderCopy().Announcement()));
    EXPECT_EQ(announcement[size - 2] | (announcement[size - 1] << 8), rig.Port());

    CScriptedGame game;
    ASSERT_TRUE(game.Connect(rig.Port()));
    ASSERT_TRUE(game.Join());
    // Announcements sent before the session began may still be queued.
    while (listener.RecvFrom(datagram, sizeof datagram, 0) > 0)
    {
    }
    EXPECT_LT(listener.RecvFrom(datagram, sizeof datagram, 200), 0) << "announced during a session";
    ASSERT_TRUE(game.Leave());
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    EXPECT_LT(listener.RecvFrom(datagram, sizeof datagram, 200), 0) << "announced after the session";
}

TEST(HostSession, LobbyWelcomeDependsOnTheMap)
{
    const std::vector<std::string> welcome = {
        "[VELT] Welcome to VELT!", "[VELT] WWW.VELT.TV!",
        "[VELT] Live match presented by Zeno Gaming Platform and  Tester!",
        "[VELT] Type /start to start, /help for command list!"};
    for (const bool present : {true, false})
    {
        HostRig rig;
        rig.m_owner.SetMapExists(present);
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
        auto expected = welcome;
        if (!present)
            expected.push_back("[VELT]Maps\\Test\\Arena.w3x may not be found! ");
        EXPECT_EQ(game.LobbyLines(), expected) << "map present: " << present;
        EXPECT_EQ(rig.m_owner.LastMapQuery(), "Maps\\Test\\Arena.w3x");
    }
}

struct StartRow
{
    bool m_mapPresent;
    const char* m_command;
    bool m_starts;
};

TEST(HostSession, StartWordsCheckTheMapAndForceStartDoesNot)
{
    const StartRow rows[] = {
        {true, "/start", true},       {true, "/s", true},          {true, "/kaishi", true},
        {true, "/GO", true},          {true, "/forcestart", true}, {false, "/start", false},
        {false, "/S", false},         {false, "/fs", true},        {false, "/FORCESTART", true},
    };
    // Each row has its own host, ports and game.
    SideBySide(
        std::size(rows), std::size(rows),
        [&](std::size_t i)
        {
            const auto& row = rows[i];
            HostRig rig;
            rig.m_owner.SetMapExists(row.m_mapPresent);
            ASSERT_TRUE(rig.Start());
            CScriptedGame game;
            ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
            game.LobbyLines();
            ASSERT_TRUE(game.Chat(ChatKind::kLobby, row.m_command));
            Packets packets;
            while (auto packet = game.Read(300))
                packets.push_back(*packet);
            const auto lines = ChatTexts(packets);
            if (row.m_starts)
            {
                EXPECT_EQ(lines, std::vector<std::string>{"[VELT] Let's begin......!"})
                    << row.m_command;
                ASSERT_FALSE(packets.empty());
                EXPECT_TRUE(IsType(packets.back(), GamePacketType::kCountdownEnd)) << row.m_command;
            }
            else
            {
                EXPECT_EQ(lines,
                          (std::vector<std::string>{
                              "[VELT] Map can't be found, copy this map to corresponding "
                              "place and enter this game again!",
                              "[VELT] You can also use /fs or /forcestart to force game start!"}))
                    << row.m_command;
            }
        });
}

TEST(HostSession, LeavesAreAcknowledgedBeforeTheMapReportAndInTheLobby)
{
    for (const bool inLobby : {false, true})
    {
        HostRig rig;
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()) && game.Join());
        if (inLobby)
        {
            ASSERT_TRUE(game.MapReport());
            EXPECT_EQ(game.LobbyLines().size(), 4u);
        }
        ASSERT_TRUE(game.Leave());
        const auto ack = game.Read();
        ASSERT_TRUE(ack);
        EXPECT_TRUE(IsLeaveAck(*ack));
        EXPECT_FALSE(game.Read()) << "nothing after the acknowledgement";
        EXPECT_TRUE(game.Closed());
        EXPECT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
        EXPECT_FALSE(rig.m_host->SessionActive());
        EXPECT_TRUE(rig.m_host->SessionRan());
    }
}

TEST(HostSession, PlayerLeftPacketsBeforeTheFirstTimeSlotAreNotForwarded)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder()
                             .Add(PlayerLeft(3))
                             .Add(PlayerLeft(2))
                             .Add(Slot(100))
                             .Add(PlayerLeft(1))
                             .Slots(3)
                             .Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    const auto played = PlayUntil(game, [](const Bytes& p) { return IsLeaveAck(p); });
    ASSERT_TRUE(played);
    Packets stream07;
    for (const auto& packet : *played)
        if (IsType(packet, GamePacketType::kPlayerLeaveOthers) || IsStreamSlot(packet))
            stream07.push_back(packet);
    ASSERT_EQ(stream07.size(), 5u);
    EXPECT_EQ(stream07[0], Slot(100));
    EXPECT_EQ(stream07[1], PlayerLeft(1));
}

TEST(HostSession, CorruptStreamBytesAreSkippedOneByOne)
{
    HostRig rig;
    CStreamBuilder builder;
    builder.Slots(2).Add({0x80}).Add({0xF7, 0x0C, 0x02, 0x00}).Slots(2);
    const Bytes stream = builder.Take();
    const std::uint32_t size = static_cast<std::uint32_t>(stream.size());
    rig.m_owner.SetStream(stream, size, true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    const auto played = PlayUntil(game, [](const Bytes& p) { return IsLeaveAck(p); });
    ASSERT_TRUE(played);
    std::vector<std::string> invalid;
    std::size_t slots = 0;
    for (const auto& packet : *played)
    {
        if (IsStreamSlot(packet))
            ++slots;
        if (auto text = ChatText(packet); text && text->rfind("invalid", 0) == 0)
            invalid.push_back(*text);
    }
    const std::uint32_t bad = static_cast<std::uint32_t>(2 * ActionSlot(100, 1, {1}).size());
    const auto line = [&](int byte, std::uint32_t pos) {
        return "invalid " + std::to_string(byte) + " " + std::to_string(pos) + " " +
               std::to_string(size);
    };
    EXPECT_EQ(invalid, (std::vector<std::string>{line(-128, bad), line(-9, bad + 1),
                                                 line(12, bad + 2), line(2, bad + 3),
                                                 line(0, bad + 4)}));
    EXPECT_EQ(slots, 4u);
}

TEST(HostSession, StreamEndingAtAPacketBoundaryEndsWithAnAcknowledgementAndClose)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(30).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    const auto played = PlayUntil(game, [](const Bytes& p) { return IsLeaveAck(p); });
    ASSERT_TRUE(played);
    EXPECT_FALSE(game.Read());
    EXPECT_TRUE(game.Closed());
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    EXPECT_EQ(rig.m_host->ReadPos(), stream.size());
    EXPECT_EQ(rig.m_host->GameTimeMs(), 3000u);
}

TEST(HostSession, AGameThatVanishesMidStepEndsTheSession)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(100).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    int slots = 0;
    ASSERT_TRUE(PlayUntil(game, [&](const Bytes& p) {
        return IsType(p, GamePacketType::kIncomingAction) && ++slots == 5;
    }));
    game.Close();
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    EXPECT_EQ(rig.m_host->SessionsEnded(), 1u);
    EXPECT_FALSE(rig.m_host->SessionActive());
}

TEST(HostSession, CoalescedSplitAndLongPacketsFromTheGameAreAllHandled)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(400).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    ASSERT_TRUE(game.ReadThrough(GamePacketType::kIncomingAction));

    const auto chat = [](const std::string& text) {
        ChatToHostParams params;
        params.m_kind = ChatKind::kInGame;
        params.m_text = text;
        return BuildChatToHost(params);
    };
    // A keepalive and two commands in one send.
    ASSERT_TRUE(game.SendTogether({BuildKeepalive({}), chat("/pmsg"), chat("/bet")}));
    auto played = PlayUntil(game, LineIs("[VELT] Bet is not avilable!"));
    ASSERT_TRUE(played);
    const auto lines = ChatTexts(*played);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[VELT] Player chat message is  ON!"),
              lines.end());

    // A command split over two sends, then one longer than 127 bytes.
    ASSERT_TRUE(PlayUntil(game, [](const Bytes& p) { return IsType(p, GamePacketType::kIncomingAction); }));
    ASSERT_TRUE(game.SendTogether({BuildKeepalive({})}));
    ASSERT_TRUE(game.SendSplit(chat("/obmsg"), 3));
    ASSERT_TRUE(PlayUntil(game, LineIs("[VELT] Observer chat message is  ON!")));
    ASSERT_TRUE(PlayUntil(game, [](const Bytes& p) { return IsType(p, GamePacketType::kIncomingAction); }));
    ASSERT_TRUE(game.SendTogether({BuildKeepalive({}), chat("/" + std::string(200, 'x'))}));
    ASSERT_TRUE(PlayUntil(game, LineIs("[VELT] Bad Arugment or invalid command!")));

    // A line longer than one chat packet arrives as several, none longer than 128 bytes.
    const std::string longLine(300, 'L');
    rig.m_host->PostServerLine(longLine);
    std::string joined;
    played = PlayUntil(game, [&](const Bytes& p) {
        if (auto text = ChatText(p); text && text->find('L') == 0)
        {
            EXPECT_LE(p.size(), 128u);
            joined += *text;
        }
        return joined.size() == longLine.size();
    });
    ASSERT_TRUE(played);
    EXPECT_EQ(joined, longLine);
}

TEST(HostSession, AtNormalSpeedNothingFollowsATimeSlotBeforeItsKeepalive)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(15).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    int slots = 0;
    while (auto packet = game.Read())
    {
        if (IsLeaveAck(*packet))
            break;
        if (!IsType(*packet, GamePacketType::kIncomingAction))
            continue;
        if (IsEmptySlot(*packet))
        {
            // Held at the end while the end marker is on its way; answered like any slot.
            ASSERT_TRUE(game.Keepalive());
            continue;
        }
        ++slots;
        EXPECT_TRUE(game.Quiet(100)) << "a packet followed time slot " << slots
                                     << " before its keepalive";
        ASSERT_TRUE(game.Keepalive());
    }
    EXPECT_EQ(slots, 15);
}

TEST(HostSession, ASpeedChosenInTheLobbyMakesTheFirstStepForwardThatManyPackets)
{
    struct Row
    {
        const char* m_command;
        int m_firstStep;
    };
    for (const Row row : {Row{"/speed", 1}, Row{"/sp 2", 3}, Row{"/faster", 3}, Row{"/sp 4", 5}})
    {
        HostRig rig;
        const Bytes stream = CStreamBuilder().Slots(40).Take();
        rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, row.m_command));
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, "/fs"));
        ASSERT_TRUE(game.ReadThrough(GamePacketType::kCountdownEnd));
        ASSERT_TRUE(game.Send(BuildGameLoaded()));
        int slots = 0;
        while (auto packet = game.Read(300))
            slots += IsStreamSlot(*packet) ? 1 : 0;
        EXPECT_EQ(slots, row.m_firstStep) << row.m_command;
    }
}

} // namespace
} // namespace velt::test
