// A live match watched near its live edge: the stand-in match server releases the stream as the
// match plays, the real client and host feed it, and the game simulator answers each time slot
// after its interval, as the real game does at normal speed (or at once, as velt demo's game
// does, which runs faster than the match). Counts the lines that tell the viewer the data ran
// short, and how far behind live the game stays. VELT_LIVE_EDGE_SECONDS sets the length of a
// run (scripts/measure-live-edge.sh runs three minutes of each and prints the figures).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/UserNotice.h"
#include "server/CMatchServerClient.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{
namespace
{

constexpr std::uint32_t kDeadlineMs = 120000; // for waits that only a fault reaches
constexpr std::uint32_t kDefaultRunSeconds = 40;
// How far the live match has played when the viewer starts watching.
constexpr std::uint32_t kMatchAheadSeconds = 30;
constexpr std::uint32_t kSampleMs = 500;
constexpr const char* kLackLine = "Lack of data from server!";
constexpr const char* kBufferingLine = "[VELT] Not enough data,buffering..";
constexpr const char* kCaughtUpLine = "[VELT] Now play with normal speed";
constexpr const char* kResumedLine = "[VELT] Game resumed..";

// The system clock, read a set time later while the archive is made, so that its live match
// began that long ago.
class CBackdatedClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return CSystemClock::Instance().NowMs() - m_backMs.load(); }
    void SleepMs(std::uint32_t ms) override { CSystemClock::Instance().SleepMs(ms); }
    void SetBack(std::uint64_t ms) { m_backMs.store(ms); }

private:
    std::atomic<std::uint64_t> m_backMs{0};
};

struct LiveEdgeFigures
{
    double m_runSeconds = 0;     // from the game's start to the end of the run
    std::size_t m_lackLines = 0; // over the whole run
    std::size_t m_bufferingLines = 0;
    bool m_caughtUp = false;
    // Behind the live edge (the match's length so far) after the catch-up, sampled.
    double m_behindMinSeconds = 0;
    double m_behindMaxSeconds = 0;
    double m_behindMeanSeconds = 0;
    std::size_t m_samples = 0;
    // Inside a buffering halt, which waits for a set amount of new data however long the live
    // match takes to produce it, and the sample just after it: counted apart.
    double m_haltBehindMaxSeconds = 0;
    std::size_t m_haltSamples = 0;

    double PerMinute(std::size_t lines) const
    {
        return m_runSeconds > 0 ? lines * 60.0 / m_runSeconds : 0;
    }
};

std::uint32_t RunSeconds()
{
    const char* text = std::getenv("VELT_LIVE_EDGE_SECONDS");
    const long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return seconds >= 20 && seconds <= 3600 ? static_cast<std::uint32_t>(seconds)
                                            : kDefaultRunSeconds;
}

std::uint64_t NowMs()
{
    return CSystemClock::Instance().NowMs();
}

// One run: everything real but the two peers, which are our own stand-ins. A paced game takes
// each slot's interval of real time; an unpaced one answers at once.
LiveEdgeFigures WatchLiveEdge(std::uint32_t delaySeconds, bool paced, std::uint32_t runSeconds)
{
    LiveEdgeFigures figures;
    SocketLayerStart();
    SyntheticSettings settings;
    settings.m_seed = 14;
    settings.m_count = 1;
    settings.m_liveCount = 1;
    settings.m_minSeconds = settings.m_maxSeconds = kMatchAheadSeconds + runSeconds + 600;
    std::vector<SyntheticMatch> matches = GenerateSyntheticMatches(settings);
    CBackdatedClock clock;
    clock.SetBack(kMatchAheadSeconds * 1000ULL);
    const std::uint64_t matchStartMs = clock.NowMs();
    CMatchArchive archive(std::move(matches), clock);
    clock.SetBack(0);
    const std::uint32_t matchId = kFirstSyntheticMatchId;

    CStatsStore stats;
    EXPECT_TRUE(stats.Open(""));
    MatchServerSettings serverSettings;
    serverSettings.m_listenPort = 0;
    serverSettings.m_threads = 1;
    CMatchServer server(archive, stats, serverSettings);
    EXPECT_TRUE(server.Start());

    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    script.m_paceByInterval = paced;
    script.m_keepPackets = false;
    script.m_keepSlotLog = false;
    CGameSimulator game(script);
    EXPECT_TRUE(game.Start());

    CRecordingNotice notices;
    LocalPortSettings ports;
    ports.m_announcePort = game.AnnouncePort();
    ports.m_firstGamePort = 0;
    CMatchServerClient client(notices, ports);
    client.SetLiveDelay(delaySeconds);
    EXPECT_TRUE(client.Connect("127.0.0.1", server.Port(), kDeadlineMs));
    EXPECT_TRUE(client.RequestReplayHeader(matchId));
    EXPECT_TRUE(client.WaitForHost(matchId, kDeadlineMs));
    if (!game.WaitFor([](const GameSimRecord& r) { return r.m_gameStarted; }, kDeadlineMs))
    {
        ADD_FAILURE() << "the game did not start";
        return figures;
    }

    const std::uint64_t startMs = NowMs();
    const std::uint64_t endMs = startMs + runSeconds * 1000ULL;
    figures.m_caughtUp =
        game.WaitFor([](const GameSimRecord& r) { return LinesStartingWith(r, kCaughtUpLine) > 0; },
                     static_cast<std::uint32_t>(endMs - startMs));
    double behindSum = 0;
    std::size_t resumedBefore = 0;
    while (figures.m_caughtUp && NowMs() < endMs && !game.Finished())
    {
        const std::uint64_t edgeMs = clock.NowMs() - matchStartMs;
        const GameSimRecord sample = game.Record();
        const double behind =
            (static_cast<double>(edgeMs) - static_cast<double>(sample.m_gameTimeMs)) / 1000.0;
        const std::size_t resumed = LinesStartingWith(sample, kResumedLine);
        if (LinesStartingWith(sample, kBufferingLine) > resumed || resumed != resumedBefore)
        {
            resumedBefore = resumed;
            figures.m_haltBehindMaxSeconds = std::max(figures.m_haltBehindMaxSeconds, behind);
            ++figures.m_haltSamples;
            std::this_thread::sleep_for(std::chrono::milliseconds(kSampleMs));
            continue;
        }
        figures.m_behindMinSeconds =
            figures.m_samples == 0 ? behind : std::min(figures.m_behindMinSeconds, behind);
        figures.m_behindMaxSeconds =
            figures.m_samples == 0 ? behind : std::max(figures.m_behindMaxSeconds, behind);
        behindSum += behind;
        ++figures.m_samples;
        std::this_thread::sleep_for(std::chrono::milliseconds(kSampleMs));
    }
    EXPECT_FALSE(game.Finished()) << "the session ended before the run did";
    figures.m_runSeconds = static_cast<double>(NowMs() - startMs) / 1000.0;
    figures.m_behindMeanSeconds =
        figures.m_samples > 0 ? behindSum / static_cast<double>(figures.m_samples) : 0;
    const GameSimRecord record = game.Record();
    figures.m_lackLines = LinesStartingWith(record, kLackLine);
    figures.m_bufferingLines = LinesStartingWith(record, kBufferingLine);
    game.Leave();
    game.WaitFinished(kDeadlineMs);
    game.Stop();
    server.Stop();

    std::printf("live-edge: delay %u s, %s game, %.0f s watched: \"%s\" %zu (%.1f/min), \"%s\" %zu "
                "(%.1f/min); "
                "behind live after the catch-up %.1f to %.1f s, mean %.1f s; in %zu buffering "
                "samples at most %.1f s\n",
                delaySeconds, paced ? "paced" : "unpaced", figures.m_runSeconds, kLackLine,
                figures.m_lackLines, figures.PerMinute(figures.m_lackLines), kBufferingLine,
                figures.m_bufferingLines, figures.PerMinute(figures.m_bufferingLines),
                figures.m_behindMinSeconds, figures.m_behindMaxSeconds, figures.m_behindMeanSeconds,
                figures.m_haltSamples, figures.m_haltBehindMaxSeconds);
    std::fflush(stdout);
    return figures;
}

// A game at its own pace, at normal speed, keeps the distance the catch-up ended at: the data
// grows as fast as the game plays it, so the feed does not run dry and the session goes on.
TEST(LiveEdgeTest, GameAtItsOwnPaceKeepsItsDistance)
{
    const LiveEdgeFigures figures = WatchLiveEdge(0, true, RunSeconds());
    ASSERT_TRUE(figures.m_caughtUp);
    ASSERT_GT(figures.m_samples, 0u);
    EXPECT_GT(figures.m_behindMinSeconds, 0.0);
    // Generous for a loaded machine: each slot's round trip makes the game a little slower than
    // the match (about 1 s in 3 minutes on an idle one).
    EXPECT_LT(figures.m_behindMaxSeconds, 25.0);
    EXPECT_LT(figures.m_behindMaxSeconds - figures.m_behindMinSeconds, 6.0);
}

// A game that takes its slots faster than the match plays them (velt demo's) runs into the
// edge again and again: the host halts it and tells the viewer.
TEST(LiveEdgeTest, GameFasterThanTheMatchRunsIntoTheEdge)
{
    const LiveEdgeFigures figures = WatchLiveEdge(0, false, RunSeconds());
    ASSERT_TRUE(figures.m_caughtUp);
    EXPECT_GT(figures.m_lackLines + figures.m_bufferingLines, 0u);
    EXPECT_LT(figures.m_behindMaxSeconds, 8.0);
    // A buffering halt waits for 2000 new bytes, some seconds of this match, and ends.
    EXPECT_LT(figures.m_haltBehindMaxSeconds, 30.0);
    EXPECT_LT(figures.m_haltSamples * kSampleMs, figures.m_runSeconds * 1000 / 2);
}

// With a delay of 20 s the game keeps 20 s of data in hand: nothing runs short, whether it plays
// at its own pace or as fast as it can.
TEST(LiveEdgeTest, TwentySecondsBehindNothingRunsShort)
{
    for (const bool paced : {true, false})
    {
        const LiveEdgeFigures figures = WatchLiveEdge(20, paced, RunSeconds());
        ASSERT_TRUE(figures.m_caughtUp);
        EXPECT_EQ(figures.m_lackLines, 0u);
        EXPECT_EQ(figures.m_bufferingLines, 0u);
        EXPECT_GE(figures.m_behindMinSeconds, 17.0);
        EXPECT_LE(figures.m_behindMaxSeconds, 23.0);
    }
}

} // namespace
} // namespace velt
