#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"
#include "platform/ByteWriter.h"
#include "platform/Event.h"
#include "tests/doubles/CManualClock.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/w3gs/TimeSlotChecksum.h"

using namespace velt;
using Bytes = std::vector<std::uint8_t>;

namespace
{

constexpr std::uint32_t kWaitMs = 10000; // generous: only a broken simulator takes this long
constexpr std::uint32_t kQuietMs = 150;  // how long "nothing more arrives" is watched
constexpr std::uint32_t kEntryKey = 0x5EED1234;

Bytes Packet(std::uint8_t type, const Bytes& body)
{
    CByteWriter writer;
    writer.U8(0xF7).U8(type).U16(0).Bytes(body);
    writer.PatchU16(2, static_cast<std::uint16_t>(writer.Size()));
    return writer.Take();
}

Bytes Chat(ChatKind kind, const std::string& text)
{
    CByteWriter body;
    body.U8(1).U8(2).U8(1).U8(static_cast<std::uint8_t>(kind));
    if (kind == ChatKind::kInGame)
        body.U32(0);
    body.CString(text);
    return Packet(0x0F, body.View());
}

// A time slot with one action block, its checksum right unless told otherwise.
Bytes Slot(std::uint16_t intervalMs, const Bytes& actions = {}, bool goodChecksum = true)
{
    if (actions.empty())
        return Packet(0x0C, {static_cast<std::uint8_t>(intervalMs),
                             static_cast<std::uint8_t>(intervalMs >> 8)});
    CByteWriter blocks;
    blocks.U8(1).U16(static_cast<std::uint16_t>(actions.size())).Bytes(actions);
    CByteWriter body;
    body.U16(intervalMs)
        .U16(static_cast<std::uint16_t>(TimeSlotChecksum(blocks.View()) + (goodChecksum ? 0 : 1)));
    body.Bytes(blocks.View());
    return Packet(0x0C, body.View());
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The host's side of one session, driven step by step from the test: announces, accepts, sends
// what the test says and cuts what the game sends into packets, noting how the reads fell.
class CFakeHost
{
public:
    CFakeHost() { EXPECT_EQ(m_listener.Open("127.0.0.1", 0), CTcpListener::Error::kNone); }

    bool AnnounceAndAccept(std::uint16_t announcePort)
    {
        return Announce(announcePort, m_listener.Port()) && AcceptsWithin(kWaitMs);
    }

    // One announcement naming a game port, this host's or another.
    static bool Announce(std::uint16_t announcePort, std::uint16_t gamePort)
    {
        CByteWriter body;
        body.U32(0x57335850)
            .U32(26)
            .U32(1)
            .U32(kEntryKey)
            .CString("Fake game")
            .U8(0)
            .CString("\x01\x03");
        body.U32(12).U32(1).U32(1).U32(12).U32(0).U16(gamePort);
        CUdpSocket udp;
        const Bytes announcement = Packet(0x30, body.View());
        return udp.Open() &&
               udp.SendTo("127.0.0.1", announcePort, announcement.data(), announcement.size()) >= 0;
    }

    // Whether a game connects within ms (it is then taken as this host's game).
    bool AcceptsWithin(std::uint32_t ms)
    {
        CEvent accepted;
        CThread acceptor;
        acceptor.Start(
            [&]
            {
                m_game = m_listener.Accept();
                accepted.Set();
            });
        if (!accepted.Wait(ms))
            m_listener.Shutdown();
        acceptor.Join();
        return m_game.IsValid();
    }

    std::uint16_t Port() const { return m_listener.Port(); }

    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(m_game.Send(bytes.data(), bytes.size()), static_cast<int>(bytes.size()));
    }

    // The next whole packet from the game, or an empty one when none came in time or the game
    // closed the connection.
    Bytes Next(std::uint32_t timeoutMs = kWaitMs)
    {
        for (;;)
        {
            const auto frame = FrameGamePacket(m_inbox);
            if (frame.m_kind == GameFrame::Kind::kWhole)
            {
                Bytes packet(m_inbox.begin(),
                             m_inbox.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
                m_inbox.erase(m_inbox.begin(),
                              m_inbox.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
                m_sameReadAsPrevious = m_readsSeen == m_readOfPrevious;
                m_readOfPrevious = m_readsSeen;
                return packet;
            }
            EXPECT_NE(frame.m_kind, GameFrame::Kind::kMalformed);
            if (frame.m_kind == GameFrame::Kind::kMalformed ||
                !m_game.WaitReadable(static_cast<int>(timeoutMs)))
                return {};
            std::uint8_t chunk[4096];
            const int size = m_game.Recv(chunk, sizeof chunk);
            if (size <= 0)
            {
                m_closed = true;
                return {};
            }
            ++m_readsSeen;
            m_inbox.insert(m_inbox.end(), chunk, chunk + size);
            if (FrameGamePacket(m_inbox).m_kind == GameFrame::Kind::kNeedMore)
                ++m_readsEndingMidPacket;
        }
    }

    // Only a type is asked for; the packet is handed back for a closer look.
    Bytes Expect(GamePacketType type)
    {
        Bytes packet = Next();
        EXPECT_TRUE(packet.size() >= 2 && packet[1] == static_cast<std::uint8_t>(type))
            << "expected type " << static_cast<int>(type) << ", got "
            << (packet.size() >= 2 ? packet[1] : -1);
        return packet;
    }

    std::string ExpectChat(ChatKind kind)
    {
        const auto chat = ParseChatToHost(Expect(GamePacketType::kChatToHost));
        EXPECT_TRUE(chat && chat->m_kind == kind);
        return chat ? chat->m_text : std::string();
    }

    bool QuietFor(std::uint32_t ms)
    {
        return m_inbox.empty() && !m_game.WaitReadable(static_cast<int>(ms));
    }

    CTcpSocket m_game;
    bool m_closed = false;
    bool m_sameReadAsPrevious = false;
    int m_readsEndingMidPacket = 0;

private:
    CTcpListener m_listener;
    Bytes m_inbox;
    int m_readsSeen = 0;
    int m_readOfPrevious = -1;
};

// The join request, echoing the announcement's key, answered by the join reply and the map check
// in one send.
void JoinAndMapCheck(CFakeHost& host, CGameSimulator& sim)
{
    ASSERT_TRUE(host.AnnounceAndAccept(sim.AnnouncePort()));
    const auto join = ParseJoinRequest(host.Expect(GamePacketType::kReqJoin));
    ASSERT_TRUE(join);
    EXPECT_EQ(join->m_entryKey, kEntryKey);
    const Bytes mapCheck = Packet(
        0x3D, Join({{1, 0, 0, 0}, {'M', '.', 'w', '3', 'x', 0}, {0x39, 0x30, 0, 0}, Bytes(8, 0)}));
    host.Send(Join({Packet(0x04, Bytes(10, 0)), mapCheck}));
}

// The lobby welcome in the ways a host may deliver it: two lines in one send, one long line split
// over two sends.
void SendWelcome(CFakeHost& host)
{
    host.Send(Join({Chat(ChatKind::kLobby, "[VELT] Welcome to VELT!"),
                    Chat(ChatKind::kLobby, "[VELT] WWW.VELT.TV!")}));
    const Bytes long_line = Chat(ChatKind::kLobby, "[VELT] " + std::string(200, 'w'));
    host.Send(Bytes(long_line.begin(), long_line.begin() + 50));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.Send(Bytes(long_line.begin() + 50, long_line.end()));
    host.Send(Chat(ChatKind::kLobby, "[VELT] Type /start to start, /help for command list!"));
}

void StartGame(CFakeHost& host)
{
    host.Send(Join({Chat(ChatKind::kLobby, "[VELT] Let's begin......!"), Packet(0x09, Bytes(10, 0)),
                    Packet(0x0A, {}), Packet(0x0B, {})}));
    host.Expect(GamePacketType::kGameLoadedSelf);
    host.Send(Join({Packet(0x08, {1}), Chat(ChatKind::kInGame, "By gamers, for gamers.")}));
}

} // namespace

// ---- a whole session, in each way the game may put its packets on the wire --------------------

struct SendMode
{
    bool m_coalesce;
    bool m_split;
};

class GameSimulatorSessionTest : public ::testing::TestWithParam<SendMode>
{
};

TEST_P(GameSimulatorSessionTest, JoinsChatsAnswersEverySlotOnceAndLeaves)
{
    GameSimScript script;
    script.m_lobbyChat = {"/help"};
    script.m_gameChat = {{250, "/faster"}, {250, "/time"}};
    script.m_leaveAtGameTimeMs = 500;
    script.m_coalesce = GetParam().m_coalesce;
    script.m_splitPackets = GetParam().m_split;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    EXPECT_EQ(ParseMapReport(host.Expect(GamePacketType::kMapSize))->m_mapSize, 12345u);
    SendWelcome(host);

    EXPECT_EQ(host.ExpectChat(ChatKind::kLobby), "/help");
    host.Send(Chat(ChatKind::kLobby, "[VELT] Usage: /help <command>"));
    EXPECT_EQ(host.ExpectChat(ChatKind::kLobby), "/start");
    StartGame(host);

    // One slot at a time, and two slots in one send: exactly one keepalive each, nothing more.
    host.Send(Slot(100, {0x68, 1, 2}));
    host.Expect(GamePacketType::kOutgoingKeepalive);
    EXPECT_TRUE(host.QuietFor(kQuietMs));
    host.Send(Join({Slot(0), Slot(300, {0x66})}));
    host.Expect(GamePacketType::kOutgoingKeepalive);
    host.Expect(GamePacketType::kOutgoingKeepalive);
    // Game time 400 has passed 250: both lines follow that keepalive, in one send when coalescing.
    EXPECT_EQ(host.ExpectChat(ChatKind::kInGame), "/faster");
    const bool wholeSends = GetParam().m_coalesce && !GetParam().m_split;
    EXPECT_TRUE(host.m_sameReadAsPrevious || !wholeSends);
    EXPECT_EQ(host.ExpectChat(ChatKind::kInGame), "/time");
    EXPECT_TRUE(host.QuietFor(kQuietMs));
    host.Send(Slot(100));
    host.Expect(GamePacketType::kOutgoingKeepalive);
    EXPECT_EQ(ParseLeaveGame(host.Expect(GamePacketType::kLeaveGame))->m_reason, kLeaveReasonLost);
    host.Send(Packet(0x1B, {}));

    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
    EXPECT_TRUE(host.Next().empty() && host.m_closed);
    EXPECT_TRUE(host.m_readsEndingMidPacket > 0 || !GetParam().m_split);
    const GameSimRecord record = sim.Record();
    EXPECT_EQ(record.m_lobbyLines.size(), 6u);
    EXPECT_EQ(record.m_lobbyLines[2], "[VELT] " + std::string(200, 'w'));
    EXPECT_EQ(record.m_gameLines, std::vector<std::string>{"By gamers, for gamers."});
    EXPECT_EQ(record.m_timeSlots, 4u);
    EXPECT_EQ(record.m_emptyTimeSlots, 1u);
    EXPECT_EQ(record.m_gameTimeMs, 500u);
    EXPECT_EQ(record.m_keepalivesSent, 4u);
    EXPECT_EQ(record.m_checksumErrors, 0u);
    EXPECT_EQ(record.m_packets.size(), 2u + 4u + 1u + 4u + 2u + 4u + 1u);
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_FALSE(record.m_connectionClosedByHost);
}

INSTANTIATE_TEST_SUITE_P(SendModes, GameSimulatorSessionTest,
                         ::testing::Values(SendMode{false, false}, SendMode{true, false},
                                           SendMode{false, true}, SendMode{true, true}));

// ---- the ways a session ends -------------------------------------------------------------------

TEST(GameSimulatorTest, LeavesInTheLobbyInsteadOfTheMapReport)
{
    GameSimScript script;
    script.m_leaveInLobby = true;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    EXPECT_EQ(ParseLeaveGame(host.Expect(GamePacketType::kLeaveGame))->m_reason, kLeaveReasonLobby);
    host.Send(Packet(0x1B, {}));
    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
    EXPECT_TRUE(sim.Record().m_leaveAckReceived);
}

// A clock that moves on at every read, as a busy machine's may between two reads.
class CTickingClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return ++m_now; }
    void SleepMs(std::uint32_t ms) override { CSystemClock::Instance().SleepMs(ms); }

private:
    std::atomic<std::uint64_t> m_now{1000};
};

TEST(GameSimulatorTest, LeavesAfterTheLobbyChatWithoutStarting)
{
    // The leave is sent a tick after the timers read the clock; it still waits for the answer.
    CTickingClock clock;
    GameSimScript script;
    script.m_lobbyChat = {"/obmsg", "/bet"};
    script.m_leaveAfterLobbyChat = true;
    CGameSimulator sim(script, clock);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    SendWelcome(host);
    EXPECT_EQ(host.ExpectChat(ChatKind::kLobby), "/obmsg");
    // No answer to the first line: the next one follows anyway.
    EXPECT_EQ(host.ExpectChat(ChatKind::kLobby), "/bet");
    host.Send(Chat(ChatKind::kLobby, "Bet is not available yet"));
    host.Expect(GamePacketType::kLeaveGame);
    host.m_game.Close();
    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
    EXPECT_TRUE(sim.Record().m_connectionClosedByHost);
}

TEST(GameSimulatorTest, VanishesMidStepWithoutAnsweringTheSlot)
{
    GameSimScript script;
    script.m_startAfterLobbyChat = false;
    script.m_leaveAtGameTimeMs = 200;
    script.m_vanishAtGameTimeMs = true;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    StartGame(host);
    host.Send(Slot(100));
    host.Expect(GamePacketType::kOutgoingKeepalive);
    host.Send(Slot(100));
    EXPECT_TRUE(host.Next().empty());
    EXPECT_TRUE(host.m_closed);
    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
    EXPECT_FALSE(sim.Record().m_leaveSent);
}

TEST(GameSimulatorTest, TypedLinesTakeTheKindOfTheirMomentAndLeaveIsAnswered)
{
    GameSimScript script;
    script.m_startAfterLobbyChat = false;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    sim.TypeChat("/speed 3");
    EXPECT_EQ(host.ExpectChat(ChatKind::kLobby), "/speed 3");
    StartGame(host);
    ASSERT_TRUE(sim.WaitFor([](const GameSimRecord& r) { return r.m_gameStarted; }, kWaitMs));
    sim.TypeChat("/time");
    EXPECT_EQ(host.ExpectChat(ChatKind::kInGame), "/time");
    sim.Leave();
    EXPECT_EQ(ParseLeaveGame(host.Expect(GamePacketType::kLeaveGame))->m_reason, kLeaveReasonLost);
    host.m_game.Close();
    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
}

// A host that sends bytes which cannot start a packet is dropped; bad checksums are counted.
TEST(GameSimulatorTest, CorruptStreamEndsTheSessionAndBadChecksumsAreCounted)
{
    GameSimScript script;
    script.m_startAfterLobbyChat = false;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    StartGame(host);
    host.Send(Slot(100, {0x68}, false));
    host.Expect(GamePacketType::kOutgoingKeepalive);
    host.Send({0x80, 0x0C, 6, 0});
    EXPECT_TRUE(host.Next().empty());
    ASSERT_TRUE(sim.WaitFinished(kWaitMs));
    const GameSimRecord record = sim.Record();
    EXPECT_TRUE(record.m_streamCorrupt);
    EXPECT_EQ(record.m_checksumErrors, 1u);
}

// ---- pace and lifetime --------------------------------------------------------------------------

TEST(GameSimulatorTest, SlotDelayHoldsEachKeepaliveOnTheInjectedClock)
{
    CManualClock clock;
    GameSimScript script;
    script.m_slotDelayMs = 1000;
    CGameSimulator sim(script, clock);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    host.Send(Packet(0x0B, {}));
    host.Expect(GamePacketType::kGameLoadedSelf);
    host.Send(Join({Slot(100), Slot(100)}));
    ASSERT_TRUE(sim.WaitFor([](const GameSimRecord& r) { return r.m_timeSlots == 2; }, kWaitMs));
    EXPECT_EQ(sim.Record().m_slotsInFlight, 2u);
    EXPECT_TRUE(host.QuietFor(kQuietMs));
    clock.Advance(999);
    EXPECT_TRUE(host.QuietFor(kQuietMs));
    clock.Advance(1);
    host.Expect(GamePacketType::kOutgoingKeepalive);
    EXPECT_TRUE(host.QuietFor(kQuietMs)); // the second slot is simulated after the first
    clock.Advance(1000);
    host.Expect(GamePacketType::kOutgoingKeepalive);
    const GameSimRecord record = sim.Record();
    EXPECT_EQ(record.m_slotsInFlight, 0u);
    EXPECT_EQ(record.m_maxSlotsInFlight, 2u);
}

TEST(GameSimulatorTest, StopEndsEveryWaitPromptly)
{
    {
        CGameSimulator waitingForAnnouncement(GameSimScript{});
        ASSERT_TRUE(waitingForAnnouncement.Start());
        waitingForAnnouncement.Stop();
        EXPECT_TRUE(waitingForAnnouncement.Finished());
    }
    CGameSimulator connected(GameSimScript{});
    ASSERT_TRUE(connected.Start());
    CFakeHost host;
    ASSERT_TRUE(host.AnnounceAndAccept(connected.AnnouncePort()));
    host.Expect(GamePacketType::kReqJoin);
    connected.Stop();
    EXPECT_TRUE(connected.Finished());
    EXPECT_FALSE(connected.Record().m_connectionClosedByHost);
    EXPECT_TRUE(host.Next().empty() && host.m_closed);
}

// ---- joining again, and what tests read from the record ---------------------------------------

struct RejoinCase
{
    const char* m_name;
    bool m_hostAcknowledges; // the first session ends with a leave acknowledgement, else a close
    bool m_automatic;        // m_rejoins, else Rejoin()
};

class GameSimulatorRejoinTest : public ::testing::TestWithParam<RejoinCase>
{
};

// After the host ends the game, the viewer goes back to the LAN screen and joins the latest
// game announced there; the lobby script runs again, the game chat does not.
TEST_P(GameSimulatorRejoinTest, JoinsTheLatestAnnouncementAgain)
{
    const RejoinCase& c = GetParam();
    GameSimScript script;
    script.m_lobbyChat = {"/help"};
    script.m_gameChat = {{100, "/time"}};
    script.m_rejoins = c.m_automatic ? 1 : 0;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    {
        CFakeHost first;
        JoinAndMapCheck(first, sim);
        first.Expect(GamePacketType::kMapSize);
        EXPECT_EQ(first.ExpectChat(ChatKind::kLobby), "/help");
        EXPECT_EQ(first.ExpectChat(ChatKind::kLobby), "/start");
        StartGame(first);
        first.Send(Slot(100));
        first.Expect(GamePacketType::kOutgoingKeepalive);
        EXPECT_EQ(first.ExpectChat(ChatKind::kInGame), "/time");
        if (c.m_hostAcknowledges)
            first.Send(Packet(0x1B, {}));
        first.m_game.Close();
        ASSERT_TRUE(
            sim.WaitFor([](const GameSimRecord& r) { return r.m_sessionsEnded == 1; }, kWaitMs));
    }
    std::uint16_t stalePort = 0;
    {
        CFakeHost gone;
        stalePort = gone.Port();
    }
    CFakeHost second;
    if (!c.m_automatic)
    {
        // Not told to: the announcement is not followed.
        ASSERT_TRUE(CFakeHost::Announce(sim.AnnouncePort(), second.Port()));
        EXPECT_FALSE(second.AcceptsWithin(kQuietMs));
        CFakeHost third; // the listener above is spent
        ASSERT_TRUE(CFakeHost::Announce(sim.AnnouncePort(), stalePort));
        ASSERT_TRUE(CFakeHost::Announce(sim.AnnouncePort(), third.Port()));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sim.Rejoin();
        EXPECT_FALSE(sim.Finished());
        ASSERT_TRUE(third.AcceptsWithin(kWaitMs));
        third.Expect(GamePacketType::kReqJoin);
    }
    else
    {
        ASSERT_TRUE(second.AnnounceAndAccept(sim.AnnouncePort()));
        second.Expect(GamePacketType::kReqJoin);
    }
    ASSERT_TRUE(
        sim.WaitFor([](const GameSimRecord& r) { return r.m_sessionsJoined == 2; }, kWaitMs));
    const GameSimRecord record = sim.Record();
    EXPECT_FALSE(record.m_connectFailed); // a stale announcement queued is passed over
    EXPECT_FALSE(record.m_leaveAckReceived);
    EXPECT_FALSE(record.m_gameStarted);
    EXPECT_EQ(record.m_gameTimeMs, 0u);
    EXPECT_EQ(record.m_timeSlots, 1u); // counts run on over sessions
    ASSERT_EQ(record.m_sessionFirstPacket.size(), 2u);
    EXPECT_EQ(record.m_sessionFirstPacket[0], 0u);
    EXPECT_EQ(record.m_sessionFirstPacket[1], record.m_packets.size());
    const auto firstGame = SessionPackets(record, 1);
    EXPECT_EQ(firstGame.size(), record.m_packets.size());
    if (c.m_hostAcknowledges)
    {
        EXPECT_EQ(firstGame.back(), Packet(0x1B, {})); // the acknowledgement ends the first game
    }
    EXPECT_TRUE(SessionPackets(record, 2).empty() && SessionPackets(record, 3).empty());
    sim.Stop();
    EXPECT_TRUE(sim.Finished());
}

INSTANTIATE_TEST_SUITE_P(Endings, GameSimulatorRejoinTest,
                         ::testing::Values(RejoinCase{"ackThenTold", true, false},
                                           RejoinCase{"closeThenTold", false, false},
                                           RejoinCase{"ackThenByItself", true, true},
                                           RejoinCase{"closeThenByItself", false, true}),
                         [](const auto& info) { return std::string(info.param.m_name); });

// Paced by interval, a slot takes its interval divided by the slots waiting when it begins; the
// log holds each slot with its time, and the lines by their text.
TEST(GameSimulatorTest, PaceByIntervalAndTheSlotAndLineLogs)
{
    CManualClock clock;
    GameSimScript script;
    script.m_paceByInterval = true;
    script.m_startAfterLobbyChat = false;
    CGameSimulator sim(script, clock);
    ASSERT_TRUE(sim.Start());
    CFakeHost host;
    JoinAndMapCheck(host, sim);
    host.Expect(GamePacketType::kMapSize);
    StartGame(host);
    const std::uint64_t t0 = clock.NowMs();

    host.Send(Slot(300, {0x68}));
    ASSERT_TRUE(sim.WaitFor([](const GameSimRecord& r) { return r.m_timeSlots == 1; }, kWaitMs));
    clock.Advance(299);
    EXPECT_TRUE(host.QuietFor(kQuietMs));
    clock.Advance(1);
    host.Expect(GamePacketType::kOutgoingKeepalive);

    // Four at once: 300/4, then 300/3, then 300/2 ms, and the empty one costs nothing.
    host.Send(Join({Slot(300), Slot(300), Slot(300), Slot(0)}));
    host.Send(Join({Chat(ChatKind::kInGame, "[VELT] Not enough data,buffering.."),
                    Chat(ChatKind::kInGame, "[VELT] Not enough data,buffering.."),
                    Chat(ChatKind::kInGame, "[VELT] Game resumed..")}));
    // The lines too, before the clock moves: their times are the test's subject.
    ASSERT_TRUE(sim.WaitFor(
        [](const GameSimRecord& r) { return r.m_timeSlots == 5 && r.m_lineLog.size() == 5; },
        kWaitMs));
    for (const std::uint32_t step : {75u, 100u, 150u})
    {
        clock.Advance(step - 1);
        EXPECT_TRUE(host.QuietFor(kQuietMs)) << step;
        clock.Advance(1);
        host.Expect(GamePacketType::kOutgoingKeepalive);
    }
    host.Expect(GamePacketType::kOutgoingKeepalive); // the empty one at once
    EXPECT_TRUE(host.QuietFor(kQuietMs));

    const GameSimRecord record = sim.Record();
    ASSERT_EQ(record.m_slotLog.size(), 5u);
    EXPECT_EQ(record.m_slotLog[0].m_atMs, t0);
    EXPECT_EQ(record.m_slotLog[0].m_bytes, Slot(300, {0x68}).size());
    EXPECT_EQ(record.m_slotLog[1].m_atMs, t0 + 300);
    EXPECT_EQ(record.m_slotLog[3].m_gameTimeMs, 1200u);
    EXPECT_EQ(record.m_slotLog[4].m_intervalMs, 0u);
    EXPECT_EQ(record.m_slotLog[4].m_session, 1u);
    EXPECT_EQ(SlotsWithTimeBetween(record, t0, t0 + 299), 1u);
    EXPECT_EQ(SlotsWithTimeBetween(record, t0 + 1, t0 + 300), 3u); // the empty slot not counted
    EXPECT_EQ(SlotsWithTimeBetween(record, t0 + 301, t0 + 10000), 0u);
    EXPECT_EQ(GameTimeAt(record, t0 - 1), 0u);
    EXPECT_EQ(GameTimeAt(record, t0 + 299), 300u);
    EXPECT_EQ(GameTimeAt(record, t0 + 300), 1200u);
    EXPECT_EQ(LinesStartingWith(record, "[VELT] Not enough data,buffering.."), 2u);
    EXPECT_EQ(LinesStartingWith(record, "[VELT] Game resumed"), 1u);
    EXPECT_EQ(LinesStartingWith(record, "By gamers"), 1u);
    ASSERT_EQ(record.m_lineLog.size(), 5u); // the start's lobby line and greeting first
    EXPECT_FALSE(record.m_lineLog[0].m_inGame);
    EXPECT_EQ(record.m_lineLog[2].m_atMs, t0 + 300);
    EXPECT_TRUE(record.m_lineLog[2].m_inGame);
}
