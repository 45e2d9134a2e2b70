// The viewer's features used together, as a viewer would: a pause inside a fast-forward, a jump
// during a hold behind live, a leave after a flood, /back and what it leaves behind, and the
// download's answers that arrive late, twice or unasked.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/PollUntil.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Packets = std::vector<Bytes>;

const std::string kNormal = "[VELT] Now play with normal speed";

bool SeenLine(CGameSimulator& game, const std::string& prefix, std::uint32_t timeoutMs = kWaitMs)
{
    return game.WaitFor([&](const GameSimRecord& r) { return LinesStartingWith(r, prefix) > 0; },
                        timeoutMs);
}

// The packets of a session from the first chat line that begins with `from`.
Packets PacketsFrom(const GameSimRecord& record, std::uint32_t session, const std::string& from)
{
    const Packets all = SessionPackets(record, session);
    const auto first = std::find_if(all.begin(), all.end(),
                                    [&](const Bytes& packet)
                                    {
                                        const auto text = ChatText(packet);
                                        return text && text->rfind(from, 0) == 0;
                                    });
    return Packets(first, all.end());
}

// Ten more halt periods go by: ten more empty time slots reach the game.
bool TenHaltPeriodsGoBy(CGameSimulator& game)
{
    const std::uint32_t empty = game.Record().m_emptyTimeSlots;
    return game.WaitFor([&](const GameSimRecord& r) { return r.m_emptyTimeSlots >= empty + 10; },
                        kWaitMs);
}

std::size_t MovingSlots(const Packets& packets, const std::string& until)
{
    std::size_t moving = 0;
    for (const Bytes& packet : packets)
    {
        if (const auto text = ChatText(packet); text && text->rfind(until, 0) == 0)
            break;
        moving += IsStreamSlot(packet) ? 1 : 0;
    }
    return moving;
}

// ---- a pause inside every fast-forward ----------------------------------------------------

struct FastForwardRow
{
    const char* m_name;
    bool m_live;
    std::uint32_t m_delaySeconds;
    std::string m_trigger;             // the line that shows the fast-forward has begun
    std::vector<std::string> m_before; // typed once the game runs (the row's own fast-forward)
    std::uint32_t m_session;           // the session in which the fast-forward runs
};

// /pause typed while a fast-forward runs holds the game there (only empty time slots, game time
// standing) until /resume; then the fast-forward goes on to its end.
TEST(HostFeaturesTogether, APauseHoldsEveryFastForward)
{
    const FastForwardRow rows[] = {
        {"the opening catch-up of a live match", true, 0, "[VELT]You are", {}, 1},
        {"the catch-up to a live delay", true, 20, "[VELT]You are", {}, 1},
        {"/goto", false, 0, "[VELT] Now fast forward to", {"/goto 1:30"}, 1},
        {"/syncup", false, 0, "[VELT] Now fast forward to", {"/syncup 10:00"}, 1},
        {"the quiet fast-forward after /back",
         false,
         0,
         "[VELT] Welcome to VELT!",
         {"/goto 1:10", "/back 1:00"},
         2},
    };
    // Each row has its own host, ports and game.
    SideBySide(
        std::size(rows), std::size(rows),
        [&rows](std::size_t i)
        {
            const auto& row = rows[i];
            HostRig rig(MatchHeader(row.m_live, row.m_live ? 100 : 0));
            const Bytes stream = CStreamBuilder().Slots(1200).Take(); // 2 min
            rig.m_owner.SetStream(stream, SlotBytes(row.m_live ? 1000 : 1200), !row.m_live, 100);
            rig.m_host->SetLiveDelay(row.m_delaySeconds);
            GameSimScript script;
            script.m_slotDelayMs = 1;
            script.m_rejoins = row.m_session - 1;
            CGameSimulator game(script);
            std::atomic<std::uint32_t> triggered{0};
            game.SetLineObserver(
                [&](bool inGame, const std::string& text)
                {
                    if (inGame && text.rfind(row.m_trigger, 0) == 0 && ++triggered == row.m_session)
                        game.TypeChat("/pause");
                });
            ASSERT_TRUE(game.Start());
            ASSERT_TRUE(rig.Start(game.AnnouncePort()));
            ASSERT_TRUE(
                game.WaitFor([](const GameSimRecord& r) { return r.m_timeSlots > 0; }, kWaitMs));
            for (const std::string& text : row.m_before)
            {
                game.TypeChat(text);
                // Before /back the game goes ahead, and is not paused on the way there.
                if (row.m_session == 2 && text.rfind("/goto", 0) == 0)
                {
                    ASSERT_TRUE(SeenLine(game, kNormal)) << row.m_name;
                }
            }
            ASSERT_TRUE(SeenLine(game, "[VELT] Paused at ")) << row.m_name;
            const std::uint32_t pausedAt = rig.m_host->Status().m_gameTimeMs;
            ASSERT_TRUE(TenHaltPeriodsGoBy(game)) << row.m_name;
            EXPECT_EQ(rig.m_host->Status().m_gameTimeMs, pausedAt) << row.m_name;
            EXPECT_TRUE(rig.m_host->Status().m_paused) << row.m_name;
            game.TypeChat("/resume");
            ASSERT_TRUE(SeenLine(game, "[VELT] Resumed")) << row.m_name;
            // A live match has gone on meanwhile. The fast-forward goes on to its end, which says
            // so.
            if (row.m_live)
                rig.m_owner.Grow(SlotBytes(1200), 120);
            EXPECT_TRUE(game.WaitFor(
                [&](const GameSimRecord& r)
                {
                    const Packets after = PacketsFrom(r, row.m_session, "[VELT] Resumed");
                    return std::any_of(after.begin(), after.end(),
                                       [](const Bytes& p) { return ChatText(p) == kNormal; });
                },
                kWaitMs))
                << row.m_name << ": the fast-forward did not go on after /resume";
            game.Leave();
            ASSERT_TRUE(game.WaitFinished(kWaitMs)) << row.m_name;
            const GameSimRecord record = game.Record();
            EXPECT_EQ(MovingSlots(PacketsFrom(record, row.m_session, "[VELT] Paused at "),
                                  "[VELT] Resumed"),
                      0u)
                << row.m_name << ": time slots moved the game while it was paused";
        });
}

// ---- what the server sends --------------------------------------------------------------

struct StrayRow
{
    const char* m_name;
    std::int64_t m_fromEnd; // the stray chunk's offset, from the end of the data held
};

// A chunk that is not the next bytes of the stream (beyond the data held, late, or a duplicate
// of the first) changes nothing: the game gets the match's packets, whole and in order.
TEST(HostFeaturesTogether, OnlyTheNextBytesOfTheStreamAreTaken)
{
    const StrayRow rows[] = {
        {"20,000 bytes beyond the end", 20000},
        {"a late answer below the end", -2000},
        {"the first chunk again", INT64_MIN},
    };
    const Bytes stream = CStreamBuilder().Slots(3000).Take();
    for (const auto& row : rows)
    {
        HostRig rig;
        const std::uint32_t held = SlotBytes(400) / 2000 * 2000 + 1000;
        rig.m_owner.SetStream(stream, held, false);
        GameSimScript script;
        CGameSimulator game(script);
        ASSERT_TRUE(game.Start());
        ASSERT_TRUE(rig.Start(game.AnnouncePort()));
        ASSERT_TRUE(PollUntil([&] { return rig.m_host->StreamSize() == held; }, kWaitMs));
        const std::uint32_t offset =
            row.m_fromEnd == INT64_MIN ? 0 : static_cast<std::uint32_t>(held + row.m_fromEnd);
        const Bytes junk(2000, 0x80);
        rig.m_host->AppendStreamChunk(offset, junk.data(), 2000, 7);
        EXPECT_EQ(rig.m_host->StreamSize(), held) << row.m_name;
        rig.m_owner.SetAvailable(static_cast<std::uint32_t>(stream.size()), true);
        ASSERT_TRUE(game.WaitFinished(kWaitMs * 2)) << row.m_name;
        const GameSimRecord record = game.Record();
        EXPECT_FALSE(record.m_streamCorrupt) << row.m_name;
        EXPECT_EQ(LinesStartingWith(record, "invalid"), 0u) << row.m_name;
        Bytes received;
        for (const Bytes& packet : record.m_packets)
            if (IsStreamSlot(packet))
                received.insert(received.end(), packet.begin(), packet.end());
        EXPECT_TRUE(received == stream) << row.m_name << ": " << received.size() << " of "
                                        << stream.size() << " bytes of time slots";
    }
}

// An answer that comes after its retry's (the server answered out of order) neither shrinks
// the data held nor starts a second stream of requests: every offset is asked for once, but
// the one that was retried.
TEST(HostFeaturesTogether, ASlowAnswerOvertakenByItsRetryStartsNoSecondStream)
{
    HostTimings timings = FastTimings();
    timings.m_requestRetryMs = 300;
    HostRig rig({}, timings);
    const Bytes stream = CStreamBuilder().Slots(3000).Take();
    constexpr std::uint32_t kSlow = 8000;
    const std::uint32_t live = 24000 + 700; // the rest does not exist yet
    rig.m_owner.SetStream(stream, live, false);
    rig.m_owner.HoldAnswerAt(kSlow, 1500);
    GameSimScript script;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(rig.Start(game.AnnouncePort()));
    std::uint32_t smallest = 0;
    ASSERT_TRUE(PollUntil(
        [&]
        {
            const std::uint32_t size = rig.m_host->StreamSize();
            EXPECT_GE(size, smallest) << "the data held shrank";
            smallest = std::max(smallest, size);
            return rig.m_owner.HeldAnswersSent() > 0;
        },
        kWaitMs));
    // The late answer has come; the feed asks from its end a few more times.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_GE(rig.m_host->StreamSize(), live);
    std::map<std::uint32_t, int> asked;
    for (const auto& request : rig.m_owner.Requests())
        ++asked[request.m_offset];
    for (const auto& [offset, count] : asked)
        if (offset != kSlow && offset < live)
        {
            EXPECT_EQ(count, 1) << "offset " << offset;
        }
}

// ---- lines typed in a halt -------------------------------------------------------------------

struct HaltLineRow
{
    const char* m_name;
    std::function<std::string(std::uint64_t gameMs)> m_line;
    std::string m_reply;
    std::uint64_t m_heldOnMs; // the halt's end (20 s on) holds the game this much longer
    std::vector<std::string> m_after; // typed once the halt is over
    std::function<bool(const GameSimRecord&, const HostStatus&, std::uint64_t haltedAtMs)> m_done;
};

// A line typed during a /syncdown halt is answered at once; what it changes in play waits for
// the halt's end, and then happens: a level, a longer halt, a pause that holds on, a jump.
TEST(HostFeaturesTogether, ALineTypedInAHaltTakesEffectWhenItEnds)
{
    constexpr std::uint64_t kHaltMs = 20000;
    const HaltLineRow rows[] = {
        {"/faster", [](std::uint64_t) { return "/faster"; }, "[VELT] Current Speed is  2.0", 0, {},
         [](const GameSimRecord& r, const HostStatus& s, std::uint64_t)
         { return s.m_speed == 2 && r.m_slotsInFlight > 1; }},
        {"a longer /syncdown",
         [](std::uint64_t now) { return "/syncdown " + GameClockText(now - 30000); },
         "[VELT] Synchronising:Game is halted for  30 seconds", 10000, {},
         [](const GameSimRecord&, const HostStatus& s, std::uint64_t at)
         { return s.m_gameTimeMs > at; }},
        {"/pause", [](std::uint64_t) { return "/pause"; }, "[VELT] Paused at ", 0, {"/resume"},
         [](const GameSimRecord& r, const HostStatus& s, std::uint64_t at)
         { return LinesStartingWith(r, "[VELT] Resumed") > 0 && s.m_gameTimeMs > at; }},
        {"/goto", [](std::uint64_t now) { return "/goto " + MinutesSecondsText(now + 30000); },
         "[VELT] Now fast forward to ", 0, {},
         [](const GameSimRecord& r, const HostStatus& s, std::uint64_t at)
         { return LinesStartingWith(r, kNormal) > 0 && s.m_gameTimeMs >= at / 1000 * 1000 + 30000; }},
    };
    // Each row has its own host, ports and game.
    SideBySide(
        std::size(rows), std::size(rows),
        [&rows](std::size_t i)
        {
            const auto& row = rows[i];
            CJumpClock clock;
            HostRig rig({}, FastTimings(), clock);
            const Bytes stream = CStreamBuilder().Slots(1200).Take();
            rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
            GameSimScript script;
            script.m_slotDelayMs = 1;
            CGameSimulator game(script);
            ASSERT_TRUE(game.Start());
            ASSERT_TRUE(rig.Start(game.AnnouncePort()));
            // Far enough into the game for a longer halt too.
            ASSERT_TRUE(
                PollUntil([&] { return rig.m_host->Status().m_gameTimeMs > 31000; }, kWaitMs));
            game.TypeChat("/syncdown " +
                          GameClockText(rig.m_host->Status().m_gameTimeMs - kHaltMs));
            ASSERT_TRUE(SeenLine(game, "[VELT] Synchronising:Game is halted for  20 seconds"));
            const std::uint64_t haltedAt = rig.m_host->Status().m_gameTimeMs;
            game.TypeChat(row.m_line(haltedAt));
            EXPECT_TRUE(SeenLine(game, row.m_reply)) << row.m_name;
            // Held where it was for the halt and whatever the line adds to it.
            const auto standsStill = [&]
            {
                EXPECT_TRUE(TenHaltPeriodsGoBy(game)) << row.m_name;
                EXPECT_EQ(rig.m_host->Status().m_gameTimeMs, haltedAt) << row.m_name;
            };
            standsStill();
            clock.Jump(kHaltMs);
            if (row.m_heldOnMs != 0 || !row.m_after.empty())
                standsStill();
            clock.Jump(row.m_heldOnMs);
            for (const std::string& line : row.m_after)
                game.TypeChat(line);
            EXPECT_TRUE(PollUntil(
                [&] { return row.m_done(game.Record(), rig.m_host->Status(), haltedAt); }, kWaitMs))
                << row.m_name << ": after the halt, play stands at "
                << rig.m_host->Status().m_gameTimeMs << " ms, speed "
                << int(rig.m_host->Status().m_speed);
        });
}

// ---- leaves ----------------------------------------------------------------------------------

struct FloodRow
{
    const char* m_name;
    bool m_live;        // the data runs out (buffering) rather than being held back
    std::string m_hold; // typed to hold the game, before the flood
};

// The game sends far more keepalives than any halt owes (more than the host's read buffer
// holds), then leaves: the leave is acknowledged at once however the game is held.
TEST(HostFeaturesTogether, ALeaveAfterAFloodIsAcknowledgedAtOnce)
{
    const FloodRow rows[] = {
        {"a long /syncdown halt", false, "/syncdown 8:00"},
        {"paused", false, "/pause"},
        {"buffering", true, ""},
    };
    for (const auto& row : rows)
    {
        HostRig rig(MatchHeader(row.m_live, 30));
        const Bytes stream = CStreamBuilder().Slots(3000).Take();
        rig.m_owner.SetStream(stream, row.m_live ? SlotBytes(300) : SlotBytes(3000), !row.m_live,
                              30);
        CScriptedGame game;
        ASSERT_TRUE(rig.Start());
        ASSERT_TRUE(rig.JoinAndStart(game));
        // Play 30 s of game, answering every slot.
        std::uint32_t gameMs = 0;
        bool held = false;
        for (std::uint32_t quietSlots = 0; !held;)
        {
            const auto packet = game.Read();
            ASSERT_TRUE(packet) << row.m_name;
            if (!IsType(*packet, GamePacketType::kIncomingAction))
                continue;
            ASSERT_TRUE(game.Keepalive()) << row.m_name;
            gameMs += ParseTimeSlot(*packet) ? ParseTimeSlot(*packet)->m_intervalMs : 0;
            quietSlots = IsEmptySlot(*packet) ? quietSlots + 1 : 0;
            if (gameMs == 30000 && !row.m_hold.empty())
            {
                ASSERT_TRUE(game.Chat(ChatKind::kInGame, row.m_hold)) << row.m_name;
            }
            held = quietSlots >= 5;
        }
        Bytes flood;
        const Bytes keepalive = BuildKeepalive({});
        for (int i = 0; i < 20000; ++i)
            flood.insert(flood.end(), keepalive.begin(), keepalive.end());
        const Bytes leave = BuildLeaveGame({});
        flood.insert(flood.end(), leave.begin(), leave.end());
        ASSERT_TRUE(game.Send(flood)) << row.m_name;
        bool acknowledged = false;
        const auto start = std::chrono::steady_clock::now();
        while (!acknowledged)
        {
            const auto packet = game.Read(3000);
            if (!packet)
                break;
            acknowledged = IsLeaveAck(*packet);
        }
        EXPECT_TRUE(acknowledged) << row.m_name << ": no acknowledgement within 3 s";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << row.m_name;
    }
}

// ---- /back -----------------------------------------------------------------------------------

// The game joined again after /back gets the whole match from its start, its last time slot
// included, as the first game did: also a game that takes its time over each slot, so that
// slots are still in flight when the data ends, with a line typed just after the fast-forward.
TEST(HostFeaturesTogether, BackReplaysTheMatchToItsLastSlot)
{
    const Bytes stream = CStreamBuilder().Slots(2400).Take(); // 4 min
    HostRig rig;
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    GameSimScript script;
    script.m_gameChat = {{1000, "/goto 3:00"}, {180000, "/back 1:00"}, {60200, "/time", 2}};
    script.m_slotDelayMs = 1;
    script.m_rejoins = 1;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(rig.Start(game.AnnouncePort()));
    ASSERT_TRUE(
        game.WaitFor([](const GameSimRecord& r) { return r.m_sessionsEnded >= 2; }, kWaitMs * 2));
    const GameSimRecord record = game.Record();
    EXPECT_EQ(LinesStartingWith(record, "[VELT] Back to 1:00"), 1u);
    EXPECT_TRUE(record.m_leaveAckReceived);
    Bytes received;
    for (const Bytes& packet : SessionPackets(record, 2))
        if (IsStreamSlot(packet))
            received.insert(received.end(), packet.begin(), packet.end());
    EXPECT_TRUE(received == stream) << received.size() / SlotBytes(1) << " of 2400 time slots";
}

// A local connection that never asks to join does not use up the viewer's /back: the game that
// comes next starts at the chosen time.
TEST(HostFeaturesTogether, ABackTargetSurvivesAConnectionThatNeverJoins)
{
    HostTimings timings = FastTimings();
    timings.m_joinWaitMs = 300;
    HostRig rig({}, timings);
    const Bytes stream = CStreamBuilder().Slots(1800).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    {
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
        ASSERT_TRUE(game.Chat(ChatKind::kInGame, "/goto 2:00"));
        for (bool acknowledged = false; !acknowledged;)
        {
            const auto packet = game.Read();
            ASSERT_TRUE(packet);
            acknowledged = IsLeaveAck(*packet);
            if (ChatText(*packet) == kNormal)
            {
                ASSERT_TRUE(game.Chat(ChatKind::kInGame, "/back 1:00"));
            }
            if (IsType(*packet, GamePacketType::kIncomingAction))
            {
                ASSERT_TRUE(game.Keepalive());
            }
        }
    }
    ASSERT_FALSE(rig.m_host->WaitSessionEnded(100)) << "/back was not taken";
    CTcpSocket stranger = CTcpSocket::Connect("127.0.0.1", rig.Port());
    ASSERT_TRUE(stranger.IsValid());
    ASSERT_TRUE(stranger.WaitReadable(static_cast<int>(kWaitMs))); // dropped after the join wait
    GameSimScript script;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    rig.m_host->SetAnnouncePort(game.AnnouncePort());
    ASSERT_TRUE(SeenLine(game, kNormal))
        << "the new game did not go to 1:00: joined " << game.Record().m_sessionsJoined
        << ", game lines " << game.Record().m_gameLines.size() << ", lobby lines "
        << game.Record().m_lobbyLines.size() << ", active " << rig.m_host->SessionActive()
        << ", can resume " << rig.m_host->CanResume() << ", ended " << rig.m_host->SessionsEnded();
    const GameSimRecord record = game.Record();
    const auto normal =
        std::find_if(record.m_lineLog.begin(), record.m_lineLog.end(),
                     [](const GameSimLine& line) { return line.m_text == kNormal; });
    ASSERT_NE(normal, record.m_lineLog.end());
    EXPECT_GE(normal->m_gameTimeMs, 60000u);
    EXPECT_LE(normal->m_gameTimeMs, 61000u);
}

// ---- holds and the live edge -------------------------------------------------------------

// The catch-up has ended behind live, and play stands there: the edge is taken to move on for a
// while after the server's last answer, a while that the clock skips.
bool HoldingBehindLive(CGameSimulator& game, CJumpClock& clock)
{
    if (!SeenLine(game, kNormal))
        return false;
    clock.Jump(5000);
    return game.WaitFor(HoldingTheGame, kWaitMs);
}

// /goto or /syncup typed while play holds behind live jumps and plays on: no read waits for a
// keepalive that no time slot owes, so the game is never left without one.
TEST(HostFeaturesTogether, AJumpDuringALiveDelayHoldNeverFreezesTheGame)
{
    SideBySide(2, 2,
               [](std::size_t row)
               {
                   const bool syncUp = row == 1;
                   CJumpClock clock;
                   HostRig rig(MatchHeader(true, 60), FastTimings(), clock);
                   rig.m_host->SetLiveDelay(20);
                   const Bytes stream = CStreamBuilder().Slots(3000).Take();
                   rig.m_owner.SetStream(stream, SlotBytes(600), false, 60);
                   GameSimScript script;
                   CGameSimulator game(script);
                   ASSERT_TRUE(game.Start());
                   ASSERT_TRUE(rig.Start(game.AnnouncePort()));
                   ASSERT_TRUE(HoldingBehindLive(game, clock));
                   const std::uint64_t now = rig.m_host->Status().m_gameTimeMs;
                   const std::size_t normalLines = LinesStartingWith(game.Record(), kNormal);
                   game.TypeChat(syncUp ? "/syncup " + GameClockText(now + 6000)
                                        : "/goto " + MinutesSecondsText(now + 5000));
                   ASSERT_TRUE(SeenLine(game, "[VELT] Now fast forward to")) << syncUp;
                   EXPECT_TRUE(game.WaitFor([&](const GameSimRecord& r)
                                            { return LinesStartingWith(r, kNormal) > normalLines; },
                                            5000))
                       << (syncUp ? "/syncup" : "/goto") << ": the game was left waiting";
                   EXPECT_GE(rig.m_host->Status().m_gameTimeMs, (now + 5000) / 1000 * 1000);
               });
}

// After /pause a live match that had caught up is behind its edge: a jump closes the gap at the
// fast-forward's speed, not held to normal speed as at the edge.
TEST(HostFeaturesTogether, AfterAPauseAJumpClosesTheGapToLive)
{
    HostRig rig(MatchHeader(true, 20));
    const Bytes stream = CStreamBuilder().Slots(3000).Take();
    rig.m_owner.SetStream(stream, SlotBytes(200), false, 20);
    GameSimScript script;
    script.m_slotDelayMs = 2;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(rig.Start(game.AnnouncePort()));
    ASSERT_TRUE(SeenLine(game, kNormal));
    ASSERT_TRUE(PollUntil([&] { return rig.m_host->CaughtUp(); }, kWaitMs));
    // Typed at the edge, the pause is taken once the next data comes; a minute of match is
    // played meanwhile.
    game.TypeChat("/pause");
    rig.m_owner.Grow(SlotBytes(800), 80);
    ASSERT_TRUE(SeenLine(game, "[VELT] Paused at "));
    ASSERT_TRUE(PollUntil([&] { return rig.m_host->StreamSize() >= SlotBytes(800); }, kWaitMs));
    game.TypeChat("/resume");
    ASSERT_TRUE(SeenLine(game, "[VELT] Resumed"));
    const std::uint64_t target = rig.m_host->Status().m_gameTimeMs + 40000;
    game.TypeChat("/goto " + MinutesSecondsText(target));
    ASSERT_TRUE(SeenLine(game, "[VELT] Now fast forward to"));
    ASSERT_TRUE(game.WaitFor(
        [](const GameSimRecord& r)
        {
            const Packets after = PacketsFrom(r, 1, "[VELT] Now fast forward to");
            return std::any_of(after.begin(), after.end(),
                               [](const Bytes& p) { return ChatText(p) == kNormal; });
        },
        kWaitMs));
    // The first "normal speed" after the jump's reply comes at its target, not at its start.
    const GameSimRecord record = game.Record();
    std::uint64_t gameMs = 0;
    bool replied = false;
    for (const Bytes& packet : SessionPackets(record, 1))
    {
        if (const auto slot = ParseTimeSlot(packet))
            gameMs += slot->m_intervalMs;
        const auto text = ChatText(packet);
        replied = replied || (text && text->rfind("[VELT] Now fast forward to", 0) == 0);
        if (replied && text == kNormal)
            break;
    }
    EXPECT_GE(gameMs + 1000, target) << "held to normal speed at " << gameMs << " ms";
}

// ---- smaller ones ----------------------------------------------------------------------------

// Paused on a match that the server has ended and the host holds whole, nothing is asked for.
TEST(HostFeaturesTogether, PausedOnAnEndedStreamAsksTheServerNothing)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(600).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    GameSimScript script;
    script.m_slotDelayMs = 5;
    script.m_gameChat = {{2000, "/pause"}};
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(rig.Start(game.AnnouncePort()));
    ASSERT_TRUE(SeenLine(game, "[VELT] Paused at "));
    // The paused feed asks from the end once more and learns that the match has ended.
    ASSERT_TRUE(PollUntil([&] { return rig.m_host->StreamEnded(); }, kWaitMs));
    ASSERT_TRUE(rig.m_owner.WaitIdle(kWaitMs));
    const std::size_t before = rig.m_owner.Requests().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // twenty halt periods
    EXPECT_EQ(rig.m_owner.Requests().size(), before);
}

// Empty answers that come after a session has ended are not told in the next session's lobby.
TEST(HostFeaturesTogether, EmptyAnswersOfAnEndedSessionAreNotToldInTheNext)
{
    HostRig rig(MatchHeader(true, 20));
    const Bytes stream = CStreamBuilder().Slots(600).Take();
    rig.m_owner.SetStream(stream, SlotBytes(20), false, 2);
    ASSERT_TRUE(rig.Start());
    {
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
        ASSERT_TRUE(rig.m_owner.WaitIdle(kWaitMs));
        // The game plays to the end of the data, where the host asks a server that is silent.
        rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
        const std::size_t asked = rig.m_owner.Requests().size();
        while (rig.m_owner.Requests().size() == asked)
        {
            const auto packet = game.Read();
            ASSERT_TRUE(packet);
            if (IsType(*packet, GamePacketType::kIncomingAction))
            {
                ASSERT_TRUE(game.Keepalive());
            }
        }
        ASSERT_TRUE(game.Leave());
        ASSERT_TRUE(game.ReadThrough(GamePacketType::kLeaveAck));
    }
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    // The requests of the ended session are answered now: nothing more exists, so empty.
    rig.m_owner.SetAnswering(CTestOwner::Answering::kAnswer);
    ASSERT_TRUE(rig.m_owner.WaitIdle(kWaitMs));
    ASSERT_TRUE(rig.m_host->Resume());
    CScriptedGame game;
    ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
    for (const std::string& line : game.LobbyLines())
    {
        EXPECT_NE(line, "Lack of data from server!");
    }
}

// The status of a finished match is never live, however much of it is still to come.
TEST(HostFeaturesTogether, StatusIsLiveOnlyForALiveMatchNotEnded)
{
    struct Row
    {
        bool m_liveHeader;
        bool m_ended;
        bool m_live;
    };
    for (const Row& row : {Row{true, false, true}, Row{true, true, false}, Row{false, false, false},
                           Row{false, true, false}})
    {
        HostRig rig(MatchHeader(row.m_liveHeader, 842));
        const Bytes stream = CStreamBuilder().Slots(200).Take();
        ASSERT_GE(stream.size(), 2000u);
        rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), row.m_ended, 842);
        rig.m_host->AppendStreamChunk(0, stream.data(), 2000, 842);
        if (row.m_ended)
            rig.m_host->AppendStreamChunk(2000, nullptr, 2001, 0);
        EXPECT_EQ(rig.m_host->Status().m_live, row.m_live)
            << "live header " << row.m_liveHeader << ", ended " << row.m_ended;
    }
}

} // namespace
} // namespace velt::test
