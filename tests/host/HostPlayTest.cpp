#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kNormal = "[VELT] Now play with normal speed";
const std::string kBuffering = "[VELT] Not enough data,buffering..";
const std::string kResumed = "[VELT] Game resumed..";
const std::string kLackOfData = "Lack of data from server!";

// The real host and the game simulator over loopback.
struct SimSession
{
    SimSession(HeaderOptions header, GameSimScript script, HostTimings timings = FastTimings())
        : m_rig(std::move(header), timings), m_sim(std::move(script))
    {
    }

    void Serve(const Bytes& stream, std::size_t available, bool ended,
               std::uint16_t matchSeconds = 0)
    {
        m_rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(available), ended,
                                matchSeconds);
    }
    bool Start() { return m_sim.Start() && m_rig.Start(m_sim.AnnouncePort()); }
    CLocalGameHost& Host() { return *m_rig.m_host; }

    HostRig m_rig;
    CGameSimulator m_sim;
};

std::size_t IndexOf(const Lines& lines, const std::string& line, std::size_t from = 0)
{
    const auto it = std::find(lines.begin() + std::min(from, lines.size()), lines.end(), line);
    return static_cast<std::size_t>(it - lines.begin());
}

bool Contains(const Lines& lines, const std::string& line)
{
    return IndexOf(lines, line) < lines.size();
}

std::uint32_t InFlight(const GameSimRecord& record)
{
    return record.m_timeSlots - record.m_keepalivesSent;
}

struct SpeedRow
{
    const char* m_name;
    std::vector<GameSimChat> m_chat;
    std::string m_lastReply;
    std::uint32_t m_inFlight;
};

TEST(HostPlay, EachSpeedKeepsItsNumberOfTimeSlotsInFlight)
{
    const SpeedRow rows[] = {
        {"normal", {{500, "/speed"}}, "[VELT] Current Speed is  1.0", 1},
        {"2x", {{500, "/speed 2"}}, "[VELT] Speed set to 2x!", 3},
        {"faster", {{500, "/faster"}}, "[VELT] Current Speed is  2.0", 3},
        {"3x", {{500, "/speed 3"}}, "[VELT] Speed set to 3x!", 4},
        {"4x", {{500, "/sp 4"}}, "[VELT] Speed set to 4x!", 5},
        {"4x then 2x", {{500, "/sp 4"}, {3000, "/sp 2"}}, "[VELT] Speed set to 2x!", 3},
        {"4x then slower", {{500, "/sp 4"}, {3000, "/slower"}}, "[VELT] Current Speed is  3.0", 4},
        {"3x then normal", {{500, "/sp 3"}, {3000, "/sp 1"}}, "[VELT] Speed set to normal!", 1},
    };
    const Bytes stream = CStreamBuilder().Slots(3000).Take();
    // Each row has its own host, ports and game.
    SideBySide(std::size(rows), std::size(rows),
               [&](std::size_t i)
               {
                   const auto& row = rows[i];
                   GameSimScript script;
                   script.m_slotDelayMs = 10;
                   script.m_gameChat = row.m_chat;
                   SimSession session({}, script);
                   session.Serve(stream, stream.size(), true);
                   ASSERT_TRUE(session.Start()) << row.m_name;
                   // From the reply on, sample every change of the record over 40 answered slots.
                   std::uint32_t maxInFlight = 0;
                   std::uint32_t answeredAtReply = 0;
                   bool replied = false;
                   const bool done = session.m_sim.WaitFor(
                       [&](const GameSimRecord& record)
                       {
                           if (!replied)
                           {
                               replied = Contains(record.m_gameLines, row.m_lastReply);
                               answeredAtReply = record.m_keepalivesSent;
                               return false;
                           }
                           if (record.m_keepalivesSent > answeredAtReply + 2)
                               maxInFlight = std::max(maxInFlight, InFlight(record));
                           return record.m_keepalivesSent > answeredAtReply + 40;
                       },
                       kWaitMs);
                   ASSERT_TRUE(done) << row.m_name;
                   EXPECT_EQ(maxInFlight, row.m_inFlight) << row.m_name;
                   EXPECT_EQ(session.m_sim.Record().m_checksumErrors, 0u);
               });
}

// The viewer goes to 4x where the next packets are not time slots, so fewer slots are in
// flight than the speed says; going back to normal then has fewer keepalives to absorb than it
// asks for, and the read stalls until the feed's rescue step gives the game a slot.
TEST(HostPlay, AnAbsorbThatStallsIsRescuedAndPlayGoesOn)
{
    constexpr int kRounds = 3;
    constexpr int kBlockSlots = 10;
    CStreamBuilder builder;
    for (int round = 0; round < kRounds; ++round)
    {
        builder.Slots(kBlockSlots);
        for (int i = 0; i < 4; ++i)
            builder.Add(PlayerLeft(2));
    }
    builder.Slots(60);
    const Bytes stream = builder.Take();
    HostRig rig;
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    ChatToHostParams chat;
    chat.m_kind = ChatKind::kInGame;
    const auto type = [&](const std::string& text) {
        chat.m_text = text;
        return game.Send(BuildChatToHost(chat));
    };
    const auto readSlot = [&]() -> bool {
        while (auto packet = game.Read())
            if (IsType(*packet, GamePacketType::kIncomingAction))
                return true;
        return false;
    };
    int slot = 0; // slots received; all but the last answered
    for (int round = 0; round < kRounds; ++round)
    {
        while (slot < (round + 1) * kBlockSlots)
        {
            if (slot > 0)
            {
                ASSERT_TRUE(game.Keepalive());
            }
            ASSERT_TRUE(readSlot());
            ++slot;
        }
        // The whole match is near its end: 4x is allowed only once the server has marked
        // that end, which a loaded machine may not have read yet.
        const auto markedBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!rig.m_host->StreamEnded() && std::chrono::steady_clock::now() < markedBy)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(rig.m_host->StreamEnded());
        // At the end of a block: 4x forwards the four 0x07 packets, no time slot.
        ASSERT_TRUE(type("/sp 4"));
        auto packets = game.ReadThrough(GamePacketType::kChatFromHost);
        ASSERT_TRUE(packets);
        EXPECT_EQ(std::count_if(packets->begin(), packets->end(),
                                [](const Bytes& p) { return IsType(p, GamePacketType::kPlayerLeaveOthers); }),
                  4);
        EXPECT_EQ(ChatText(packets->back()), "[VELT] Speed set to 4x!");
        ASSERT_TRUE(game.Keepalive());
        ASSERT_TRUE(readSlot());
        ++slot;
        // Back to normal: one keepalive to absorb where four are asked for.
        ASSERT_TRUE(type("/sp 1"));
        ASSERT_TRUE(game.Keepalive());
        packets = game.ReadThrough(GamePacketType::kIncomingAction);
        ASSERT_TRUE(packets) << "the stalled read got no time slot";
        EXPECT_TRUE(ChatTexts(*packets).empty()) << "the reply came before the stall ended";
        ++slot;
        ASSERT_TRUE(game.Keepalive());
        packets = game.ReadThrough(GamePacketType::kIncomingAction);
        ASSERT_TRUE(packets) << "play did not go on after the stalled absorb";
        ++slot;
        EXPECT_EQ(ChatTexts(*packets), Lines{"[VELT] Speed set to normal!"});
    }
    // Normal pacing afterwards: nothing follows a slot before its keepalive.
    for (;;)
    {
        EXPECT_TRUE(game.Quiet(50));
        ASSERT_TRUE(game.Keepalive());
        const auto packet = game.Read();
        ASSERT_TRUE(packet);
        if (IsLeaveAck(*packet))
            break;
    }
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    EXPECT_EQ(rig.m_host->ReadPos(), stream.size());
}

TEST(HostPlay, BufferingHaltsTheGameWithEmptySlotsUntilDataArrives)
{
    const Bytes stream = CStreamBuilder().Slots(300).Take();
    const std::size_t slotSize = ActionSlot(100, 1, {1}).size();
    GameSimScript script;
    SimSession session({}, script);
    // The server has 40 slots and half of the next one.
    session.Serve(stream, 40 * slotSize + slotSize / 2, false);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(session.m_sim.WaitFor(
        [](const GameSimRecord& record) { return record.m_emptyTimeSlots >= 10; }, kWaitMs));
    const GameSimRecord halted = session.m_sim.Record();
    EXPECT_EQ(halted.m_gameTimeMs, 4000u) << "empty slots add no game time";
    EXPECT_TRUE(Contains(halted.m_gameLines, kBuffering));
    EXPECT_FALSE(Contains(halted.m_gameLines, kResumed));
    session.m_rig.m_owner.SetAvailable(static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(session.m_sim.WaitFinished(kWaitMs));
    const auto finished = std::chrono::steady_clock::now();

    const GameSimRecord record = session.m_sim.Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, 30000u);
    EXPECT_EQ(record.m_timeSlots, 300u + record.m_emptyTimeSlots);
    const std::size_t buffering = IndexOf(record.m_gameLines, kBuffering);
    ASSERT_LT(buffering, record.m_gameLines.size());
    EXPECT_LT(IndexOf(record.m_gameLines, kLackOfData, buffering),
              IndexOf(record.m_gameLines, kResumed, buffering));
    EXPECT_LT(IndexOf(record.m_gameLines, kResumed, buffering), record.m_gameLines.size());
    EXPECT_LE(session.m_rig.m_owner.MaxOutstanding(), 1u);
    // The receive thread's lines and the session's slots went out whole, never interleaved.
    EXPECT_FALSE(record.m_streamCorrupt);
    EXPECT_EQ(record.m_malformedPackets, 0u);
    // One empty slot per halt period at most, whenever the game is held (a slow start on a
    // loaded machine holds it too): a halt that does not pause floods the game.
    const auto session_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(finished - began).count();
    EXPECT_LE(record.m_emptyTimeSlots,
              static_cast<std::uint32_t>(session_ms / FastTimings().m_haltPeriodMs + 3));
}

TEST(HostPlay, ALiveMatchCatchesUpAtFourTimesAndIsThenHeldAtNormalSpeed)
{
    const Bytes stream = CStreamBuilder().Slots(700).Take();
    const std::size_t slotSize = ActionSlot(100, 1, {1}).size();
    HeaderOptions header;
    header.m_live = true;
    header.m_matchSeconds = 65;
    GameSimScript script;
    script.m_slotDelayMs = 2;
    script.m_gameChat = {{55000, "/sp 4"}};
    SimSession session(header, script);
    session.Serve(stream, 400 * slotSize, false, 65);
    ASSERT_TRUE(session.Start());
    std::uint32_t maxInFlight = 0;
    ASSERT_TRUE(session.m_sim.WaitFor(
        [&](const GameSimRecord& record) {
            maxInFlight = std::max(maxInFlight, InFlight(record));
            return Contains(record.m_gameLines, kNormal);
        },
        kWaitMs));
    EXPECT_EQ(maxInFlight, 5u) << "catch-up runs at 4x";
    // The match goes on live; the viewer asks for 4x and is held at normal speed.
    session.m_rig.m_owner.SetAvailable(static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(session.m_sim.WaitFinished(kWaitMs));
    const Lines lines = session.m_sim.Record().m_gameLines;
    const std::size_t behind = IndexOf(lines, "[VELT]You are 1 min 5 sec behind, fast forward now");
    ASSERT_LT(behind, lines.size());
    const std::size_t caughtUp = IndexOf(lines, kNormal, behind);
    ASSERT_LT(caughtUp, lines.size());
    // The first step of the speed change itself meets the limit, before the reply goes out.
    EXPECT_LT(IndexOf(lines, "[VELT] Speed set to 4x!", caughtUp), lines.size());
    EXPECT_LT(IndexOf(lines, kNormal, caughtUp + 1), lines.size())
        << "the live speed limit did not hold";
    EXPECT_TRUE(session.m_sim.Record().m_leaveAckReceived);
}

TEST(HostPlay, ANotLiveMatchGetsNoCatchUpAndNoSpeedLimit)
{
    const Bytes stream = CStreamBuilder().Slots(400).Take();
    GameSimScript script;
    script.m_gameChat = {{1000, "/sp 4"}};
    SimSession session({}, script);
    session.Serve(stream, stream.size(), true);
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(session.m_sim.WaitFinished(kWaitMs));
    const Lines lines = session.m_sim.Record().m_gameLines;
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.find("behind") != l.npos; }));
    const std::size_t asked = IndexOf(lines, "[VELT] Speed set to 4x!");
    ASSERT_LT(asked, lines.size());
    // Only the end of the data cancels the fast speed.
    EXPECT_EQ(IndexOf(lines, kNormal, asked), lines.size());
    EXPECT_LT(IndexOf(lines, "[VELT] Not enough data remaining, cancel fast forward", asked),
              lines.size());
}

struct StallRow
{
    const char* m_name;
    bool m_live;
    bool m_midPacket; // the server's data ends inside a packet
    std::uint32_t m_emptyChunkHoldMs;
};

// A live match whose server has nothing new for a long time (here 12 of its empty answers,
// 6 times the silence that ends a session) and then goes on.
TEST(HostPlay, AServerStallKeepsTheViewerWithOneRequestOutstanding)
{
    const StallRow rows[] = {
        {"at a packet boundary", false, false, 100},
        {"inside a packet", false, true, 100},
        {"live, after catch-up", true, false, 100},
        // As with the real timings: the receive thread holds an empty answer exactly as long as
        // the silence that ends a session.
        {"empty answers held as long as the data wait", true, false, 200},
    };
    const Bytes stream = CStreamBuilder().Slots(400).Take();
    const std::size_t slotSize = ActionSlot(100, 1, {1}).size();
    // Each row has its own host, ports and game.
    SideBySide(
        std::size(rows), std::size(rows),
        [&](std::size_t i)
        {
            const auto& row = rows[i];
            HostTimings timings = FastTimings();
            timings.m_dataWaitMs = 200;
            timings.m_emptyChunkHoldMs = row.m_emptyChunkHoldMs;
            const std::uint32_t stallMs = 12 * timings.m_emptyChunkHoldMs;
            HeaderOptions header;
            header.m_live = row.m_live;
            GameSimScript script;
            script.m_slotDelayMs = 2;
            SimSession session(header, script, timings);
            session.Serve(stream, 150 * slotSize + (row.m_midPacket ? 5 : 0), false);
            ASSERT_TRUE(session.Start());
            // Stalled once the feed has used up what there is.
            ASSERT_TRUE(session.m_sim.WaitFor([](const GameSimRecord& record)
                                              { return Contains(record.m_gameLines, kLackOfData); },
                                              kWaitMs))
                << row.m_name;
            const auto stallEnd =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
            while (std::chrono::steady_clock::now() < stallEnd)
            {
                ASSERT_FALSE(session.m_sim.WaitFinished(50)) << row.m_name << ": viewer dropped";
            }
            const GameSimRecord stalled = session.m_sim.Record();
            EXPECT_FALSE(stalled.m_leaveAckReceived) << row.m_name;
            EXPECT_GE(
                std::count(stalled.m_gameLines.begin(), stalled.m_gameLines.end(), kLackOfData), 5)
                << row.m_name;
            session.m_rig.m_owner.SetAvailable(static_cast<std::uint32_t>(stream.size()), true);
            ASSERT_TRUE(session.m_sim.WaitFinished(kWaitMs)) << row.m_name;
            const GameSimRecord record = session.m_sim.Record();
            EXPECT_TRUE(record.m_leaveAckReceived) << row.m_name;
            EXPECT_EQ(record.m_gameTimeMs, 40000u) << row.m_name << ": play did not resume";
            EXPECT_LE(session.m_rig.m_owner.MaxOutstanding(), 1u) << row.m_name;
            EXPECT_FALSE(record.m_streamCorrupt) << row.m_name;
        });
}

struct FilterRow
{
    const char* m_name;
    std::vector<std::string> m_lobbyChat;
    Lines m_present;
    Lines m_absent;
};

TEST(HostPlay, RecordedChatFiltersAndNotices)
{
    const std::string playerSays = "Alice: gl hf";
    const std::string observerSays = "Watcher: nice";
    const std::string observerPing = "[VELT] Map Ping by Watcher";
    const std::string skill = "[VELT] Bob has learnt a new skill";
    const FilterRow rows[] = {
        {"all shown", {}, {playerSays, observerSays, observerPing, skill}, {"[VELT] Map Ping by Alice"}},
        {"observer chat hidden", {"/obmsg off"}, {playerSays, observerPing}, {observerSays}},
        {"player chat hidden", {"/pmsg off"}, {observerSays, skill}, {playerSays}},
        {"pings hidden", {"/pingmsg off"}, {playerSays, skill}, {observerPing}},
        {"hidden, shown again", {"/obmsg off", "/obmsg on"}, {observerSays}, {}},
    };
    const Bytes stream = CStreamBuilder()
                             .Slots(3)
                             .Add(RecordedChat(1, playerSays))
                             .Add(RecordedChat(3, observerSays))
                             .Add(PingSlot(100, 3))
                             .Add(PingSlot(100, 1))
                             .Add(ActionSlot(100, 2, {0x66}))
                             .Slots(3)
                             .Take();
    for (const auto& row : rows)
    {
        GameSimScript script;
        script.m_lobbyChat = row.m_lobbyChat;
        SimSession session({}, script);
        session.Serve(stream, stream.size(), true);
        ASSERT_TRUE(session.Start());
        ASSERT_TRUE(session.m_sim.WaitFinished(kWaitMs)) << row.m_name;
        const Lines lines = session.m_sim.Record().m_gameLines;
        for (const auto& line : row.m_present)
            EXPECT_TRUE(Contains(lines, line)) << row.m_name << ": missing " << line;
        for (const auto& line : row.m_absent)
            EXPECT_FALSE(Contains(lines, line)) << row.m_name << ": has " << line;
        // A loaded machine may see empty holding slots while the data is on its way.
        const GameSimRecord record = session.m_sim.Record();
        EXPECT_EQ(record.m_timeSlots - record.m_emptyTimeSlots, 9u)
            << row.m_name << ": time slots are never filtered";
    }
}

TEST(HostPlay, ARatingIsSentOncePerHostAcrossSessions)
{
    const Bytes stream = CStreamBuilder().Slots(80).Take();
    HostRig rig;
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    for (const std::string rating : {"/rate 4", "/rate 5"})
    {
        GameSimScript script;
        script.m_gameChat = {{1000, rating}};
        CGameSimulator sim(script);
        ASSERT_TRUE(sim.Start());
        ASSERT_TRUE(rig.Start(sim.AnnouncePort()));
        ASSERT_TRUE(sim.WaitFinished(kWaitMs));
        ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
        const Lines lines = sim.Record().m_gameLines;
        if (rating == "/rate 4")
            EXPECT_TRUE(Contains(lines, "[VELT] You have rated  4 for this match"));
        else
            EXPECT_TRUE(Contains(lines, "[VELT] You have already rated this match!"));
    }
    const auto ratings = rig.m_owner.Ratings();
    ASSERT_EQ(ratings.size(), 1u);
    EXPECT_EQ(ratings[0], (Bytes{0x0A, 0, 0, 0, 0x4C, 7, 0, 0, 0, 42, 0, 0, 0, 4}));
    // The second session replayed the buffer without asking for it again.
    const auto requests = rig.m_owner.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const CTestOwner::Request& r) { return r.m_offset == 0; }),
              1);
}

} // namespace
} // namespace velt::test
