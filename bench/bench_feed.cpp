// The feed at 4x: a completed match played by the real client and host into the game simulator,
// which answers every time slot at once, side by side with a plain loopback ping-pong of the
// same sizes (an average time slot out, a keepalive back).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchTime.h"
#include "host/packets/GameToHostPackets.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The goal: time slots per second at 4x, at least this share of the plain ping-pong's rate.
constexpr double kMinRatio = 0.8;
// Slots kept in the game at 4x.
constexpr std::uint32_t kSlotsInFlightAt4x = 5;
constexpr std::uint32_t kMatchSeconds = 3600;
constexpr std::uint32_t kWaitMs = 120000;

class CDiscardNotice final : public velt::IUserNotice
{
public:
    void Notify(std::string_view) override {}
};

struct FeedMatch
{
    velt::SyntheticMatch m_match;
    std::uint32_t m_slots = 0;
    std::size_t m_slotSize = 0; // the average time slot packet
};

FeedMatch MakeFeedMatch()
{
    velt::SyntheticSettings settings;
    settings.m_seed = 11;
    settings.m_count = 1;
    settings.m_minSeconds = kMatchSeconds;
    settings.m_maxSeconds = kMatchSeconds;
    FeedMatch feed{velt::GenerateSyntheticMatch(settings, 0)};
    const Bytes& stream = feed.m_match.m_stream;
    std::size_t slotBytes = 0;
    for (std::size_t at = 0; at + 4 <= stream.size();)
    {
        const std::size_t length = stream[at + 2] | stream[at + 3] << 8;
        if (length < 4)
            break;
        if (stream[at + 1] == 0x0C)
        {
            ++feed.m_slots;
            slotBytes += length;
        }
        at += length;
    }
    feed.m_slotSize = slotBytes / std::max<std::uint32_t>(1, feed.m_slots);
    return feed;
}

struct FeedRun
{
    std::uint32_t m_slots = 0;
    double m_seconds = 0;
};

// One session: the game joins, sets 4x in the lobby, starts, and plays to the end.
std::optional<FeedRun> PlayAt4x(const FeedMatch& feed, velt::CScriptedMatchServer& server,
                                const std::string& warcraftFolder)
{
    velt::GameSimScript script;
    script.m_lobbyChat = {"/sp 4"};
    script.m_keepPackets = false;
    velt::CGameSimulator game(script);
    // Play begins with the slogan, the first in-game line.
    std::mutex mutex;
    std::optional<Clock::time_point> started;
    game.SetLineObserver(
        [&](bool inGame, const std::string&)
        {
            std::lock_guard lock(mutex);
            if (inGame && !started)
                started = Clock::now();
        });
    if (!game.Start())
        return std::nullopt;

    CDiscardNotice notices;
    velt::CMatchServerClient client(notices, velt::LocalPortSettings{game.AnnouncePort(), 0});
    velt::HostTimings timings;
    timings.m_announceIntervalMs = 20;
    timings.m_startPauseMs = 20;
    timings.m_stopWaitMs = 100;
    client.SetHostTimings(timings);
    client.SetWarcraftPath(warcraftFolder);
    if (!client.Connect("127.0.0.1", server.Port()))
        return std::nullopt;
    client.RequestReplayHeader(feed.m_match.m_info.m_matchId);
    // Polled: a waiter on the simulator's record would be woken at every time slot, a thread
    // switch per slot that the measurement would pay for.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!game.Finished())
    {
        if (Clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto ended = Clock::now();
    const velt::GameSimRecord record = game.Record();
    std::lock_guard lock(mutex);
    if (!started || !record.m_leaveAckReceived)
        return std::nullopt;
    return FeedRun{record.m_timeSlots, std::chrono::duration<double>(ended - *started).count()};
}

// Messages of one size out, keepalives back, with a window of messages in flight. Returns the
// messages per second.
std::optional<double> PingPong(std::size_t messageSize, std::uint32_t messages,
                               std::uint32_t window)
{
    const Bytes keepalive = velt::BuildKeepalive({});
    velt::CTcpListener listener;
    if (listener.Open("127.0.0.1", 0) != velt::CTcpListener::Error::kNone)
        return std::nullopt;
    velt::CThread peer;
    peer.Start(
        [&]
        {
            velt::CTcpSocket socket = listener.Accept();
            socket.SetNoDelay(true);
            Bytes message(messageSize);
            for (std::uint32_t i = 0; i < messages; ++i)
                if (!socket.RecvExact(message.data(), message.size()) ||
                    socket.Send(keepalive.data(), keepalive.size()) < 0)
                    return;
        });
    velt::CTcpSocket socket = velt::CTcpSocket::Connect("127.0.0.1", listener.Port());
    socket.SetNoDelay(true);
    const Bytes message(messageSize, 0xF7);
    Bytes answer(keepalive.size());
    const auto start = Clock::now();
    std::uint32_t sent = 0;
    std::uint32_t answered = 0;
    while (answered < messages)
    {
        while (sent < messages && sent - answered < window)
        {
            if (socket.Send(message.data(), message.size()) < 0)
                return std::nullopt;
            ++sent;
        }
        if (!socket.RecvExact(answer.data(), answer.size()))
            return std::nullopt;
        ++answered;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    peer.Join();
    return messages / seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One session at 4x and the two ping-pongs per iteration, back to back; the figures are the
// medians of the iterations.
void BM_FeedAt4xVsPingPong(benchmark::State& state)
{
    velt::SocketLayerStart();
    const FeedMatch feed = MakeFeedMatch();
    velt::CScriptedMatchServer server;
    velt::CScriptedMatchServer::ScriptedMatch served;
    served.m_matchId = feed.m_match.m_info.m_matchId;
    served.m_header = feed.m_match.m_header;
    served.m_stream = feed.m_match.m_stream;
    served.m_available = static_cast<std::uint32_t>(served.m_stream.size());
    server.AddMatch(served);
    server.Start();
    // The lobby lets the game start only when the map is in the Warcraft III folder.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("velt-bench-feed-" + std::to_string(std::random_device{}()));
    std::string mapPath = feed.m_match.m_info.m_mapPath;
    std::replace(mapPath.begin(), mapPath.end(), '\\', '/');
    std::filesystem::create_directories((folder / mapPath).parent_path());
    std::ofstream(folder / mapPath) << "map";

    std::vector<double> feedRates;
    std::vector<double> plainRates;
    std::vector<double> windowRates;
    std::vector<double> ratios;
    std::vector<double> windowRatios;
    for (auto _ : state)
    {
        const auto run = PlayAt4x(feed, server, folder.string() + "/");
        const auto plain = PingPong(feed.m_slotSize, feed.m_slots, 1);
        const auto windowed = PingPong(feed.m_slotSize, feed.m_slots, kSlotsInFlightAt4x);
        if (!run || !plain || !windowed)
        {
            state.SkipWithError("a run did not finish");
            break;
        }
        const double rate = run->m_slots / run->m_seconds;
        feedRates.push_back(rate);
        plainRates.push_back(*plain);
        windowRates.push_back(*windowed);
        ratios.push_back(rate / *plain);
        windowRatios.push_back(rate / *windowed);
        state.SetIterationTime(run->m_seconds);
    }
    std::filesystem::remove_all(folder);
    state.counters["slots"] = feed.m_slots;
    state.counters["feed_slots_per_s"] = Median(feedRates);
    state.counters["pingpong_per_s"] = Median(plainRates);
    state.counters["ratio"] = Median(ratios);
    state.counters["ratio_min"] = kMinRatio;
    // Against a ping-pong that keeps as many messages in flight as 4x keeps time slots.
    state.counters["pingpong5_per_s"] = Median(windowRates);
    state.counters["ratio_vs_window5"] = Median(windowRatios);
}
BENCHMARK(BM_FeedAt4xVsPingPong)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->MinTime(MinTimeSeconds(3));

} // namespace

BENCHMARK_MAIN();
