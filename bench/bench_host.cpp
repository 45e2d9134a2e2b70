// What a local game host costs while nothing happens, and what it keeps in memory.
//
// BM_HostIdleCpu/0: a host that announces its game for 10 s with no game joined.
// BM_HostIdleCpu/1: a host whose game waits in the lobby for 10 s.
// Both with the real timings; the figure is the process's CPU time over those 10 s, in which
// every other thread (the client's receive thread, the scripted server) is blocked.
//
// BM_HostMemory/N/K: resident memory per host with N hosts: listening (nothing buffered) and
// with a stream of K KiB each.

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "host/CLocalGameHost.h"
#include "host/packets/GameToHostPackets.h"
#include "platform/Socket.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kIdleTime{10};
constexpr double kMaxIdleCpuMs = 10;
constexpr std::uint32_t kLongMatch = 2 * 1024 * 1024;
constexpr std::uint32_t kWaitMs = 60000;

class CDiscardNotice final : public velt::IUserNotice
{
public:
    void Notify(std::string_view) override {}
};

double ProcessCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

double ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

bool WaitFor(const std::function<bool()>& condition)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!condition())
    {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The game's side of the join up to the lobby: join request and map report.
std::optional<velt::CTcpSocket> JoinLobby(std::uint16_t port)
{
    velt::CTcpSocket game = velt::CTcpSocket::Connect("127.0.0.1", port);
    const Bytes join = velt::BuildJoinRequest({});
    const Bytes report = velt::BuildMapReport({});
    if (game.Send(join.data(), join.size()) < 0 || game.Send(report.data(), report.size()) < 0)
        return std::nullopt;
    return game;
}

// A scripted server with matches 1..count, each a 2 MiB stream, and a client connected to it.
class CHostBench
{
public:
    explicit CHostBench(std::uint32_t matches, const velt::HostTimings& timings = {},
                        std::uint32_t streamSize = kLongMatch)
        : m_streamSize(streamSize)
    {
        velt::SocketLayerStart();
        m_announcements.Open();
        m_announcements.Bind("127.0.0.1", 0);
        Bytes stream(streamSize);
        for (std::size_t i = 0; i < stream.size(); ++i)
            stream[i] = static_cast<std::uint8_t>(i * 31);
        for (std::uint32_t id = 1; id <= matches; ++id)
        {
            velt::CScriptedMatchServer::ScriptedMatch match;
            match.m_matchId = id;
            match.m_header = Header();
            match.m_stream = stream;
            match.m_available = streamSize;
            m_server.AddMatch(std::move(match));
        }
        m_server.Start();
        m_client.emplace(m_notices, velt::LocalPortSettings{m_announcements.LocalPort(), 0});
        m_client->SetHostTimings(timings);
        m_client->Connect("127.0.0.1", m_server.Port());
    }

    // A header of real LAN packets, which announces a game: the client hosts only a header
    // that a game can join, and the announcement thread has work.
    static Bytes Header()
    {
        velt::SyntheticSettings settings;
        settings.m_count = 1;
        return velt::GenerateSyntheticMatch(settings, 0).m_header;
    }

    bool OpenHosts(std::uint32_t count)
    {
        for (std::uint32_t id = 1; id <= count; ++id)
            m_client->RequestReplayHeader(id);
        return WaitFor([&] { return m_client->HostsStarted() == count; });
    }

    // A game per host that joins its lobby starts the session, so that the whole stream chains
    // in.
    bool FillHosts(std::uint32_t count)
    {
        for (std::uint32_t id = 1; id <= count; ++id)
        {
            auto game = JoinLobby(*m_client->HostPort(id));
            if (!game)
                return false;
            m_games.push_back(std::move(*game));
        }
        return WaitFor(
            [&]
            {
                for (std::uint32_t id = 1; id <= count; ++id)
                {
                    const auto host = m_client->FindHost(id);
                    if (!host || host->StreamSize() != m_streamSize)
                        return false;
                }
                return true;
            });
    }

    velt::CMatchServerClient& Client() { return *m_client; }

private:
    std::uint32_t m_streamSize;
    CDiscardNotice m_notices;
    velt::CUdpSocket m_announcements;
    velt::CScriptedMatchServer m_server;
    std::optional<velt::CMatchServerClient> m_client;
    std::vector<velt::CTcpSocket> m_games;
};

void BM_HostIdleCpu(benchmark::State& state)
{
    const bool inLobby = state.range(0) == 1;
    CHostBench bench(1);
    if (!bench.OpenHosts(1))
    {
        state.SkipWithError("no host");
        return;
    }
    std::optional<velt::CTcpSocket> game;
    if (inLobby)
    {
        game = JoinLobby(*bench.Client().HostPort(1));
        // Let the handshake, the lobby welcome and the first chunks go by.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    double cpuMs = 0;
    for (auto _ : state)
    {
        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(kIdleTime);
        cpuMs = ProcessCpuMs() - before;
    }
    state.counters["cpu_ms"] = cpuMs;
    state.counters["cpu_ms_max"] = kMaxIdleCpuMs;
}
BENCHMARK(BM_HostIdleCpu)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

void BM_HostMemory(benchmark::State& state)
{
    const auto hosts = static_cast<std::uint32_t>(state.range(0));
    const auto streamSize = static_cast<std::uint32_t>(state.range(1) * 1024);
    double listening = 0;
    double filled = 0;
    for (auto _ : state)
    {
        CHostBench bench(hosts, {}, streamSize);
        const double before = ResidentBytes();
        if (!bench.OpenHosts(hosts))
        {
            state.SkipWithError("hosts did not start");
            return;
        }
        const double opened = ResidentBytes();
        if (!bench.FillHosts(hosts))
        {
            state.SkipWithError("streams did not arrive");
            return;
        }
        listening = (opened - before) / hosts;
        filled = (ResidentBytes() - before) / hosts;
    }
    state.counters["listening_kib_per_host"] = listening / 1024;
    state.counters["filled_kib_per_host"] = filled / 1024;
}
// A typical 1v1 (27 minutes on 1.32: about 600 KB) and a long team game (2 MiB).
BENCHMARK(BM_HostMemory)
    ->Args({1, 2048})
    ->Args({20, 2048})
    ->Args({20, 600})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
