#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "host/CGameConnection.h"
#include "host/CTcpGameLink.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tests/PollUntil.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// Long enough that a frozen game is told from a slow machine, short enough for a failing run.
constexpr std::uint32_t kFrozenMs = 5000;

bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs = kWaitMs)
{
    return PollUntil(condition, timeoutMs);
}

// A scripted game that counts the stream's time slots it has been sent.
struct PacedGame
{
    explicit PacedGame(HostRig& rig) : m_rig(rig) {}

    bool Start() { return m_rig.Start() && m_rig.JoinAndStart(m_game); }
    // Reads until the next stream slot; the packets before it (and it) are kept in m_seen.
    bool NextSlot(std::uint32_t timeoutMs = kWaitMs)
    {
        while (auto packet = m_game.Read(timeoutMs))
        {
            m_seen.push_back(*packet);
            if (IsStreamSlot(*packet))
            {
                ++m_slots;
                return true;
            }
        }
        return false;
    }
    // Plays up to slot n at normal pace, answering all slots but the last.
    bool PlayTo(std::uint32_t n)
    {
        while (m_slots < n)
        {
            if (m_slots > 0 && !m_game.Keepalive())
                return false;
            if (!NextSlot())
                return false;
        }
        return true;
    }
    // The next slot of any kind (a stream slot or an empty one).
    bool AnySlot(std::uint32_t timeoutMs)
    {
        while (auto packet = m_game.Read(timeoutMs))
        {
            m_seen.push_back(*packet);
            m_slots += IsStreamSlot(*packet) ? 1 : 0;
            if (IsType(*packet, GamePacketType::kIncomingAction))
                return true;
        }
        return false;
    }
    bool Chat(const std::string& text) { return m_game.Chat(ChatKind::kInGame, text); }
    // 4x is allowed near the end only once the server has marked it.
    bool WaitStreamEnded()
    {
        return WaitUntil([this] { return m_rig.m_host->StreamEnded(); });
    }
    Lines SeenLines() const { return ChatTexts(m_seen); }

    HostRig& m_rig;
    CScriptedGame m_game;
    std::vector<Bytes> m_seen;
    std::uint32_t m_slots = 0;
};

void Serve(HostRig& rig, const Bytes& stream)
{
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
}

struct AbsorbRow
{
    const char* m_name;
    Bytes m_afterSlot11;   // what the stream holds right after slot 11
    std::uint32_t m_extra; // keepalives sent with "/sp 1" beyond the one slot 11 is owed
};

// The viewer slows down at a block of 0x07 packets, so that fewer slots are in flight than the
// speed says. Going back to normal then reads keepalives that the game may not owe.
//  - a stalled read is rescued by one step of the feed's own, which must give the game a
//    time slot to answer, whatever the stream holds next (a leave, a corrupt byte);
//  - a game that sends more keepalives than slots in flight leaves none in flight, not ~0.
TEST(HostFaults, ReadsThatTakeKeepalivesNeverFreezeTheGame)
{
    const AbsorbRow rows[] = {
        {"the rescue step meets a leave", PlayerLeft(3), 0},
        {"the rescue step meets a corrupt byte", Bytes{0x80}, 0},
        {"more keepalives than slots in flight", {}, 3},
    };
    for (const auto& row : rows)
    {
        CStreamBuilder builder;
        builder.Slots(10);
        for (int i = 0; i < 4; ++i)
            builder.Add(PlayerLeft(2));
        builder.Slots(1).Add(row.m_afterSlot11).Slots(20);
        const Bytes stream = builder.Take();
        HostRig rig;
        Serve(rig, stream);
        PacedGame game(rig);
        ASSERT_TRUE(game.Start()) << row.m_name;
        ASSERT_TRUE(game.PlayTo(10)) << row.m_name;
        ASSERT_TRUE(game.WaitStreamEnded()) << row.m_name;
        // 4x forwards the four 0x07 packets and no time slot.
        ASSERT_TRUE(game.Chat("/sp 4")) << row.m_name;
        ASSERT_TRUE(game.m_game.ReadThrough(GamePacketType::kChatFromHost)) << row.m_name;
        ASSERT_TRUE(game.PlayTo(11)) << row.m_name;
        ASSERT_TRUE(game.Chat("/sp 1")) << row.m_name;
        for (std::uint32_t i = 0; i <= row.m_extra; ++i)
        {
            ASSERT_TRUE(game.m_game.Keepalive()) << row.m_name;
        }
        EXPECT_TRUE(game.AnySlot(kFrozenMs)) << row.m_name << ": the game was left frozen";
        // Play goes on at normal pace to the end.
        for (std::uint32_t slot = game.m_slots; game.m_slots < 31;)
        {
            ASSERT_TRUE(game.m_game.Keepalive()) << row.m_name;
            ASSERT_TRUE(game.NextSlot(kFrozenMs)) << row.m_name << " after slot " << slot;
            slot = game.m_slots;
        }
        EXPECT_TRUE(std::find(game.SeenLines().begin(), game.SeenLines().end(),
                              "[VELT] Speed set to normal!") != game.SeenLines().end())
            << row.m_name;
    }
}

// More lines typed during one absorbing read than can be set aside: the first 16 are answered
// afterwards, the rest are dropped, and none of them counts as a keepalive (which would let a
// time slot out ahead of the game's answer).
TEST(HostFaults, LinesBeyondTheSetAsideLimitAreDroppedNotCountedAsKeepalives)
{
    const Bytes stream = CStreamBuilder().Slots(60).Take();
    HostRig rig;
    Serve(rig, stream);
    PacedGame game(rig);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(game.PlayTo(10));
    ASSERT_TRUE(game.WaitStreamEnded());
    ASSERT_TRUE(game.Chat("/sp 4"));
    ASSERT_TRUE(game.m_game.Keepalive()); // slot 10
    ASSERT_TRUE(game.NextSlot());          // 11 to 14 came with the speed change, then 15
    ASSERT_TRUE(game.NextSlot() && game.NextSlot() && game.NextSlot() && game.NextSlot());
    ASSERT_EQ(game.m_slots, 15u);
    // Slots 11 to 15 are in flight; slowing down absorbs four of their keepalives.
    std::vector<Bytes> burst;
    ChatToHostParams chat;
    chat.m_kind = ChatKind::kInGame;
    chat.m_text = "/sp 1";
    burst.push_back(BuildChatToHost(chat));
    chat.m_text = "/time";
    for (std::size_t i = 0; i < CGameConnection::kMaxSetAside + 4; ++i)
        burst.push_back(BuildChatToHost(chat));
    for (int i = 0; i < 5; ++i)
        burst.push_back(BuildKeepalive({}));
    ASSERT_TRUE(game.m_game.SendTogether(burst));
    ASSERT_TRUE(game.NextSlot());
    EXPECT_TRUE(game.m_game.Quiet(500)) << "a slot went out before its keepalive";
    const Lines lines = game.SeenLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("[VELT] The current game time is", 0) == 0;
                            }),
              static_cast<long>(CGameConnection::kMaxSetAside));
}

struct EndRow
{
    const char* m_name;
    bool m_answerLate; // the game sends the withheld keepalives once it has seen quiet
};

// At 4x up to four slots are unanswered when the stream ends: the leave acknowledgement waits
// for their keepalives (bounded), so the game plays the match's last moments.
TEST(HostFaults, TheEndWaitsForTheKeepalivesOfSlotsInFlight)
{
    const EndRow rows[] = {
        {"the game answers late", true},
        {"the game never answers", false},
    };
    constexpr std::uint32_t kSlots = 40;
    constexpr std::uint32_t kWithheld = 4;
    const Bytes stream = CStreamBuilder().Slots(kSlots).Take();
    // Each row has its own host, ports and game.
    SideBySide(std::size(rows), std::size(rows),
               [&](std::size_t i)
               {
                   const auto& row = rows[i];
                   HostRig rig;
                   Serve(rig, stream);
                   PacedGame game(rig);
                   ASSERT_TRUE(game.Start()) << row.m_name;
                   ASSERT_TRUE(game.PlayTo(5)) << row.m_name;
                   ASSERT_TRUE(game.WaitStreamEnded()) << row.m_name;
                   ASSERT_TRUE(game.Chat("/sp 4")) << row.m_name;
                   while (game.m_slots < kSlots)
                   {
                       if (game.m_slots <= kSlots - kWithheld)
                       {
                           ASSERT_TRUE(game.m_game.Keepalive()) << row.m_name;
                       }
                       ASSERT_TRUE(game.NextSlot()) << row.m_name;
                   }
                   EXPECT_TRUE(game.m_game.Quiet(500))
                       << row.m_name << ": acknowledged with slots in flight";
                   if (row.m_answerLate)
                   {
                       for (std::uint32_t i = 0; i < kWithheld; ++i)
                       {
                           ASSERT_TRUE(game.m_game.Keepalive()) << row.m_name;
                       }
                   }
                   bool acknowledged = false;
                   while (auto packet = game.m_game.Read())
                   {
                       if ((acknowledged = IsLeaveAck(*packet)))
                           break;
                   }
                   EXPECT_TRUE(acknowledged) << row.m_name;
                   ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs)) << row.m_name;
                   EXPECT_EQ(rig.m_host->ReadPos(), stream.size()) << row.m_name;
               });
}

// A speed typed in the lobby of a session that never starts does not carry into the next one.
TEST(HostFaults, ALobbySpeedEndsWithItsSession)
{
    const Bytes stream = CStreamBuilder().Slots(30).Take();
    HostRig rig;
    Serve(rig, stream);
    ASSERT_TRUE(rig.Start());
    {
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
        game.LobbyLines();
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, "/sp 4"));
        ASSERT_TRUE(game.ReadThrough(GamePacketType::kChatFromHost));
        ASSERT_TRUE(game.Leave());
        ASSERT_TRUE(game.ReadThrough(GamePacketType::kLeaveAck));
    }
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    ASSERT_TRUE(rig.m_host->Resume());
    PacedGame game(rig);
    ASSERT_TRUE(rig.JoinAndStart(game.m_game));
    ASSERT_TRUE(game.NextSlot());
    while (auto packet = game.m_game.Read(500))
        game.m_seen.push_back(*packet);
    EXPECT_EQ(std::count_if(game.m_seen.begin(), game.m_seen.end(), IsStreamSlot), 1)
        << "time slots in flight at normal speed";
}

// A local connection that never asks to join is dropped after the join wait; the host goes on
// announcing, and the game that comes next plays.
TEST(HostFaults, AConnectionThatNeverJoinsIsDroppedAndTheHostAnnouncesAgain)
{
    HostTimings timings = FastTimings();
    timings.m_joinWaitMs = 300;
    HostRig rig({}, timings);
    const Bytes stream = CStreamBuilder().Slots(10).Take();
    Serve(rig, stream);
    ASSERT_TRUE(rig.Start());
    CTcpSocket stranger = CTcpSocket::Connect("127.0.0.1", rig.Port());
    ASSERT_TRUE(stranger.IsValid());
    ASSERT_TRUE(stranger.WaitReadable(static_cast<int>(kWaitMs)));
    std::uint8_t byte;
    EXPECT_LE(stranger.Recv(&byte, 1), 0) << "the stranger was sent something";
    EXPECT_FALSE(rig.m_host->SessionRan());
    // Announcements go on: drain the ones from before, then one more comes.
    std::uint8_t packet[512];
    while (rig.m_sink.RecvFrom(packet, sizeof packet, 0) > 0)
    {
    }
    EXPECT_GT(rig.m_sink.RecvFrom(packet, sizeof packet, static_cast<int>(kWaitMs)), 0);
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    EXPECT_TRUE(rig.m_host->SessionActive());
}

// ---- the download: one request stream, held bytes untouched -------------------------------

// The server is silent long enough for the feed to retry its request, then answers both the
// first request and the retry with full chunks: only one of them may chain, or the rest of
// the match downloads twice.
TEST(HostFaults, ASlowAnswerAndItsRetryStartOneRequestStream)
{
    HostTimings timings = FastTimings();
    timings.m_requestRetryMs = 300;
    HostRig rig({}, timings);
    const Bytes stream = CStreamBuilder().Slots(2000).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
    GameSimScript script;
    CGameSimulator sim(script);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(rig.Start(sim.AnnouncePort()));
    ASSERT_TRUE(WaitUntil([&] {
        const auto requests = rig.m_owner.Requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const CTestOwner::Request& r) { return r.m_offset == 0; }) >= 2;
    })) << "the feed never retried";
    rig.m_owner.SetAnswering(CTestOwner::Answering::kAnswer);
    ASSERT_TRUE(sim.WaitFinished(kWaitMs * 3));
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    std::map<std::uint32_t, int> asked;
    for (const auto& request : rig.m_owner.Requests())
        ++asked[request.m_offset];
    const auto twice = std::count_if(asked.begin(), asked.end(),
                                     [](const auto& entry) { return entry.first > 0 && entry.second > 1; });
    // A retry of its own on a loaded machine may ask an offset twice; a second stream asks all.
    EXPECT_LE(twice, 2) << "of " << asked.size() << " offsets";
    EXPECT_EQ(rig.m_host->StreamSize(), stream.size());
    EXPECT_FALSE(sim.Record().m_streamCorrupt);
}

// A chunk over bytes the host holds already (the feed may be sending them) leaves them as they
// are: the game sees the stream as recorded.
TEST(HostFaults, AChunkOverHeldBytesLeavesThemAsTheyAre)
{
    const Bytes stream = CStreamBuilder().Slots(400).Take();
    HostRig rig;
    Serve(rig, stream);
    PacedGame game(rig);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(game.PlayTo(3));
    ASSERT_TRUE(WaitUntil([&] { return rig.m_host->StreamSize() == stream.size(); }));
    // Junk over data held but not fed yet, as a confused server might send.
    const Bytes junk(2000, 0x80);
    rig.m_host->AppendStreamChunk(2000, junk.data(), 2000, 0);
    bool ended = false;
    while (!ended)
    {
        ASSERT_TRUE(game.m_game.Keepalive());
        for (bool slot = false; !slot && !ended;)
        {
            const auto packet = game.m_game.Read();
            ASSERT_TRUE(packet) << "play stopped";
            game.m_seen.push_back(*packet);
            ended = IsLeaveAck(*packet);
            // Empty holding slots (a loaded machine's late keepalive) want answers too.
            slot = IsType(*packet, GamePacketType::kIncomingAction);
        }
    }
    for (const std::string& line : game.SeenLines())
        EXPECT_NE(line.rfind("invalid", 0), 0u) << line;
}

// ---- the game connection over loopback -----------------------------------------------------

struct LinkedPair
{
    LinkedPair()
    {
        listener.Open("127.0.0.1", 0);
        game = CTcpSocket::Connect("127.0.0.1", listener.Port());
        CTcpSocket host = listener.Accept();
        raw = host.IsValid();
        host.SetSendTimeout(300);
        connection.Attach(std::make_unique<CTcpGameLink>(std::move(host)));
    }
    CTcpListener listener;
    CTcpSocket game;
    CGameConnection connection;
    bool raw = false;
};

// A halt of an hour: the keepalives of its empty slots are taken as they come, so the buffer
// never fills and a leave typed at its end is still seen.
TEST(HostFaults, AHaltOfAnyLengthStillSeesTheLeave)
{
    LinkedPair pair;
    ASSERT_TRUE(pair.raw);
    // More keepalives than the receive buffer holds at once (an hour of 300 ms halts).
    constexpr std::size_t kHaltSlots = 20000;
    const Bytes keepalive = BuildKeepalive({});
    static_assert(kHaltSlots * 9 > CGameConnection::kReceiveCapacity);
    Bytes all;
    for (std::size_t i = 0; i < 1000; ++i)
        all.insert(all.end(), keepalive.begin(), keepalive.end());
    CGameConnection::PumpResult result = CGameConnection::PumpResult::kNothing;
    for (std::size_t sent = 0; sent < kHaltSlots; sent += 1000)
    {
        for (std::size_t i = 0; i < 1000; ++i)
            pair.connection.OweKeepalive();
        ASSERT_EQ(pair.game.Send(all.data(), all.size()), static_cast<int>(all.size()));
        // The halt's pace: one look per batch.
        for (int round = 0; round < 50 && result == CGameConnection::PumpResult::kNothing; ++round)
        {
            result = pair.connection.Pump();
            if (pair.connection.KeepalivesOwed() == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    const Bytes leave = BuildLeaveGame({});
    ASSERT_EQ(pair.game.Send(leave.data(), leave.size()), static_cast<int>(leave.size()));
    EXPECT_TRUE(WaitUntil([&] {
        return pair.connection.Pump() == CGameConnection::PumpResult::kLeavePending;
    }));
}

// A game that stops reading: a send fails after its time-out instead of blocking for ever.
TEST(HostFaults, ASendToAGameThatStopsReadingTimesOut)
{
    LinkedPair pair;
    ASSERT_TRUE(pair.raw);
    const Bytes block(1 << 20, 0xF7);
    bool failed = false;
    // Far more than any socket buffer holds; the game reads nothing.
    for (int i = 0; i < 256 && !failed; ++i)
        failed = !pair.connection.Send(block);
    EXPECT_TRUE(failed);
}

} // namespace
} // namespace velt::test
