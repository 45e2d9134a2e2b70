// A live match watched at its edge, on a clock of the test's: the match grows in steps that the
// test makes, and a game that answers at once shows where the host lets play go. The catch-up
// ends at the edge, or at the chosen distance behind it; play then follows the edge as the match
// grows, held behind it by a delay, which nothing runs short of; between two answers the edge is
// taken to move on, but only so far. The same runs in real time, with a game at its own pace,
// are the live-edge tests of CI's slow stage (tests/e2e/LiveEdgeTest.cpp).

#include <gtest/gtest.h>

#include <string>

#include "tests/PollUntil.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

const std::string kNormal = "[VELT] Now play with normal speed";
const std::string kLackLine = "Lack of data from server!";
const std::string kBufferingLine = "[VELT] Not enough data,buffering..";
constexpr std::uint32_t kSlotMs = 100;
// How far the host takes the edge to move on after an answer, at most; and the slot that play
// may take past the point where it is to stop.
constexpr std::uint64_t kEdgeMovesAtMostMs = 1500 + kSlotMs;

// A live match that the server releases as the test's clock runs: at the start it has been
// played for a while; each Advance moves the clock on and releases what was played meanwhile.
class CLiveMatchRig
{
public:
    CLiveMatchRig(std::uint32_t playedSeconds, std::uint32_t delaySeconds)
        : m_rig(Header(playedSeconds), FastTimings(), m_clock), m_game(Script()),
          m_playedMs(playedSeconds * 1000ULL)
    {
        m_rig.m_owner.SetStream(CStreamBuilder().Slots(6000, kSlotMs).Take(), 0, false);
        Release();
        m_rig.m_host->SetLiveDelay(delaySeconds);
    }

    bool Start() { return m_game.Start() && m_rig.Start(m_game.AnnouncePort()); }

    // The match plays on for ms, and the server has it (whether the host has asked yet or not).
    void Advance(std::uint64_t ms)
    {
        m_clock.Jump(ms);
        m_playedMs += ms;
        Release();
    }
    // The match plays on, but the server releases nothing of it, as when it stalls.
    void Stall(std::uint64_t ms)
    {
        m_clock.Jump(ms);
        m_playedMs += ms;
    }

    std::uint64_t PlayedMs() const { return m_playedMs; }
    std::uint64_t GameTimeMs() const { return m_rig.m_host->Status().m_gameTimeMs; }
    bool GameTimeReaches(std::uint64_t ms)
    {
        return PollUntil([&] { return GameTimeMs() >= ms; }, kWaitMs);
    }
    CGameSimulator& Game() { return m_game; }

private:
    static HeaderOptions Header(std::uint32_t playedSeconds)
    {
        return MatchHeader(true, static_cast<std::uint16_t>(playedSeconds));
    }
    static GameSimScript Script()
    {
        GameSimScript script;
        script.m_slotDelayMs = 0; // faster than any match: only the host holds it back
        return script;
    }
    void Release()
    {
        m_rig.m_owner.Grow(SlotBytes(static_cast<std::uint32_t>(m_playedMs / kSlotMs)),
                           static_cast<std::uint16_t>(m_playedMs / 1000));
    }

    CJumpClock m_clock;
    HostRig m_rig;
    CGameSimulator m_game;
    std::uint64_t m_playedMs;
};

struct LiveEdgeRow
{
    const char* m_name;
    std::uint32_t m_delaySeconds;
    bool m_runsShort; // a game faster than the match runs into the end of the data
};

// Where play stands once the host has taken in a step of the match: behind the edge by the
// delay, give or take the slot in hand and how far the edge is taken to have moved meanwhile.
void ExpectBehindTheEdge(CLiveMatchRig& rig, const LiveEdgeRow& row, const std::string& when)
{
    const std::uint64_t delayMs = row.m_delaySeconds * 1000ULL;
    const std::uint64_t target = rig.PlayedMs() - delayMs;
    EXPECT_TRUE(rig.GameTimeReaches(target - kSlotMs))
        << row.m_name << ", " << when << ": play stayed at " << rig.GameTimeMs() << " ms, the edge at "
        << rig.PlayedMs() << " ms";
    const std::uint64_t furthest = row.m_delaySeconds == 0 ? rig.PlayedMs() : target + kEdgeMovesAtMostMs;
    EXPECT_LE(rig.GameTimeMs(), furthest)
        << row.m_name << ", " << when << ": play went past " << furthest << " ms";
}

TEST(HostLiveEdge, PlayFollowsTheEdgeAsTheMatchGrows)
{
    const LiveEdgeRow rows[] = {
        {"at the edge", 0, true},
        {"twenty seconds behind", 20, false},
    };
    // Each row has its own host, ports and game.
    SideBySide(
        std::size(rows), std::size(rows),
        [&rows](std::size_t i)
        {
            const LiveEdgeRow& row = rows[i];
            CLiveMatchRig rig(40, row.m_delaySeconds);
            ASSERT_TRUE(rig.Start()) << row.m_name;
            // The catch-up ends where the delay puts it, and says so.
            ASSERT_TRUE(rig.Game().WaitFor(
                [](const GameSimRecord& r) { return LinesStartingWith(r, kNormal) > 0; }, kWaitMs))
                << row.m_name;
            const GameSimRecord caughtUp = rig.Game().Record();
            const auto normal =
                std::find_if(caughtUp.m_lineLog.begin(), caughtUp.m_lineLog.end(),
                             [](const GameSimLine& line) { return line.m_text == kNormal; });
            const std::uint64_t endedAt = normal->m_gameTimeMs;
            EXPECT_GE(endedAt + kSlotMs, rig.PlayedMs() - row.m_delaySeconds * 1000ULL)
                << row.m_name;
            EXPECT_LE(endedAt, rig.PlayedMs() - row.m_delaySeconds * 1000ULL + kEdgeMovesAtMostMs)
                << row.m_name;
            ExpectBehindTheEdge(rig, row, "after the catch-up");
            // The match plays on in steps; play follows each.
            for (int step = 1; step <= 8; ++step)
            {
                rig.Advance(step % 2 == 0 ? 1000 : 2500);
                ExpectBehindTheEdge(rig, row, "step " + std::to_string(step));
            }
            // The server stalls: the edge is taken to move on for a while, and no further.
            const std::uint64_t reported = rig.PlayedMs();
            rig.Stall(10000);
            if (row.m_delaySeconds != 0)
            {
                const std::uint64_t furthest =
                    reported - row.m_delaySeconds * 1000ULL + kEdgeMovesAtMostMs;
                EXPECT_TRUE(rig.GameTimeReaches(furthest - kSlotMs)) << row.m_name;
                EXPECT_TRUE(rig.Game().WaitFor(HoldingTheGame, kWaitMs)) << row.m_name;
                EXPECT_LE(rig.GameTimeMs(), furthest)
                    << row.m_name << ": a stalled server pulled play on";
            }
            // And comes back with all that was played meanwhile.
            rig.Advance(0);
            ExpectBehindTheEdge(rig, row, "after the stall");
            const GameSimRecord record = rig.Game().Record();
            const std::size_t shortLines =
                LinesStartingWith(record, kLackLine) + LinesStartingWith(record, kBufferingLine);
            if (row.m_runsShort)
            {
                EXPECT_GT(shortLines, 0u) << row.m_name << ": the game never ran into the edge";
            }
            else
            {
                EXPECT_EQ(shortLines, 0u) << row.m_name << ": with the delay, nothing runs short";
            }
            EXPECT_FALSE(rig.Game().Finished()) << row.m_name;
        });
}

} // namespace
} // namespace velt::test
