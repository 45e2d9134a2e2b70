// How many clients streaming at once the stand-in match server sustains on this machine, and
// the bytes per second it serves in total. Each client is a thread that asks for chunk after
// chunk, as the program's client does while a game watches, until the end marker.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/MatchServerMessages.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CRawMatchClient.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace
{

using namespace velt;

constexpr int kTimeoutMs = 30000;
constexpr std::uint32_t kMatches = 8;

struct ServerUnderTest
{
    CStatsStore m_stats;
    std::unique_ptr<CMatchArchive> m_archive;
    std::unique_ptr<CMatchServer> m_server;

    explicit ServerUnderTest(std::size_t maxClients)
    {
        SocketLayerStart();
        m_stats.Open("");
        SyntheticSettings synthetic;
        synthetic.m_seed = 42;
        synthetic.m_count = kMatches;
        synthetic.m_minSeconds = 600;
        synthetic.m_maxSeconds = 900;
        m_archive = std::make_unique<CMatchArchive>(GenerateSyntheticMatches(synthetic),
                                                    CSystemClock::Instance());
        MatchServerSettings settings;
        settings.m_listenPort = 0;
        settings.m_maxClients = maxClients;
        m_server = std::make_unique<CMatchServer>(*m_archive, m_stats, settings);
        m_server->Start();
    }
};

struct StreamTally
{
    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<std::uint64_t> m_chunks{0};
    std::atomic<std::uint64_t> m_failed{0};
};

void StreamWholeMatch(std::uint16_t port, std::uint32_t matchId, std::size_t expected,
                      StreamTally& tally)
{
    CRawMatchClient client;
    if (!client.Connect("127.0.0.1", port))
    {
        ++tally.m_failed;
        return;
    }
    std::vector<std::uint8_t> body;
    std::uint32_t offset = 0;
    std::uint64_t chunks = 0;
    for (;;)
    {
        const auto chunk = client.RequestChunk(matchId, offset, body, kTimeoutMs);
        if (!chunk || chunk->m_count == 0)
        {
            ++tally.m_failed;
            return;
        }
        ++chunks;
        if (chunk->m_count > kFullChunkSize)
            break;
        offset += chunk->m_count;
    }
    if (offset != expected)
        ++tally.m_failed;
    tally.m_bytes += offset;
    tally.m_chunks += chunks;
}

void BM_ConcurrentStreams(benchmark::State& state)
{
    const auto clients = static_cast<std::size_t>(state.range(0));
    ServerUnderTest server(clients + 16);
    StreamTally tally;
    for (auto _ : state)
    {
        std::vector<std::unique_ptr<CThread>> threads;
        threads.reserve(clients);
        for (std::size_t i = 0; i < clients; ++i)
        {
            const auto matchId = static_cast<std::uint32_t>(kFirstSyntheticMatchId + i % kMatches);
            const std::size_t size = server.m_archive->Find(matchId)->m_stream.size();
            threads.push_back(std::make_unique<CThread>());
            threads.back()->Start(
                [&, matchId, size]
                { StreamWholeMatch(server.m_server->Port(), matchId, size, tally); });
        }
        threads.clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(tally.m_bytes.load()));
    state.counters["clients"] = static_cast<double>(clients);
    state.counters["chunks/s"] =
        benchmark::Counter(static_cast<double>(tally.m_chunks.load()), benchmark::Counter::kIsRate);
    state.counters["failed"] = static_cast<double>(tally.m_failed.load());
}
BENCHMARK(BM_ConcurrentStreams)
    ->Arg(1)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Arg(400)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A list request with its answer: the records and statistics of every match, then the end.
void BM_ListRequest(benchmark::State& state)
{
    ServerUnderTest server(16);
    CRawMatchClient client;
    client.Connect("127.0.0.1", server.m_server->Port());
    const auto request = BuildMatchListRequest({1});
    for (auto _ : state)
    {
        client.Send(request);
        for (std::uint32_t i = 0; i < 2 * kMatches + 1; ++i)
            benchmark::DoNotOptimize(client.ReadFrame(kTimeoutMs));
    }
}
BENCHMARK(BM_ListRequest)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
