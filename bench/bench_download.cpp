// The download pipeline: a 2 MiB match streamed from a server that answers at once, through the
// match server client into a local game host's stream buffer, side by side with a plain loopback
// request/response loop of the same sizes (a 13-byte request, a 2019-byte answer) against the
// same server. The server is a bare thread per connection, so that both sides pay the same for it.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchTime.h"
#include "host/CLocalGameHost.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CMatchServerClient.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMatch = 1;
constexpr std::uint32_t kStreamSize = 2 * 1024 * 1024;
// The request after the last full chunk: the round trips measured end with its arrival.
constexpr std::uint32_t kLastOffset = kStreamSize / velt::kFullChunkSize * velt::kFullChunkSize;
constexpr std::uint32_t kRoundTrips = kLastOffset / velt::kFullChunkSize;
// The goal: the pipeline takes at most this many times the plain loop.
constexpr double kMaxRatio = 1.10;
constexpr std::uint32_t kWaitMs = 30000;
// Where a chunk's data starts in its frame: length field, code, match id, offset, count.
constexpr std::size_t kDataAt = velt::kFrameLengthBytes + 1 + 12;

class CDiscardNotice final : public velt::IUserNotice
{
public:
    void Notify(std::string_view) override {}
};

// Every answer of the match, built once: chunk i starts at offset 2000 i.
std::vector<Bytes> ChunkFrames()
{
    Bytes stream(kStreamSize);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<std::uint8_t>(i * 13);
    std::vector<Bytes> frames;
    for (std::uint32_t offset = 0; offset < kStreamSize; offset += velt::kFullChunkSize)
    {
        const std::uint32_t count = std::min(velt::kFullChunkSize, kStreamSize - offset);
        frames.push_back(velt::BuildGameDataChunk(
            {kMatch, offset, count, std::span(stream).subspan(offset, count), 600}));
    }
    return frames;
}

// When the server saw the first and the last measured request of one download.
class CRequestClock
{
public:
    void Reset()
    {
        std::lock_guard lock(m_mutex);
        m_first.reset();
        m_last.reset();
    }
    // Wakes the waiter only at the end, so that waiting costs the measured loop nothing.
    void Saw(std::uint32_t offset)
    {
        if (offset != 0 && offset != kLastOffset)
            return;
        const auto now = Clock::now();
        std::lock_guard lock(m_mutex);
        if (offset == 0)
        {
            m_first = now;
            return;
        }
        m_last = now;
        m_changed.notify_all();
    }
    // Seconds between the two, once both have been seen.
    std::optional<double> Wait()
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                [&] { return m_first && m_last; }))
            return std::nullopt;
        return std::chrono::duration<double>(*m_last - *m_first).count();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Clock::time_point> m_first;
    std::optional<Clock::time_point> m_last;
};

// A header of real LAN packets: the client hosts only a header that a game can join.
Bytes HostableHeader()
{
    velt::SyntheticSettings settings;
    settings.m_count = 1;
    return velt::GenerateSyntheticMatch(settings, 0).m_header;
}

// A match server that answers at once: a thread per connection that takes what has arrived,
// cuts the requests and answers each from the prebuilt frames (or with the header).
class CInstantServer
{
public:
    CInstantServer(const std::vector<Bytes>& frames, CRequestClock& clock)
        : m_frames(frames), m_clock(clock),
          m_header(velt::BuildReplayHeaderReply({kMatch, HostableHeader()}))
    {
        m_listener.Open("127.0.0.1", 0, 16);
        m_acceptThread.Start([this] { AcceptLoop(); });
    }
    ~CInstantServer()
    {
        m_listener.Shutdown();
        m_acceptThread.Join();
        for (auto& connection : m_connections)
            connection->m_socket.Shutdown();
        m_connections.clear();
    }
    CInstantServer(const CInstantServer&) = delete;
    CInstantServer& operator=(const CInstantServer&) = delete;

    std::uint16_t Port() const { return m_listener.Port(); }

private:
    struct Connection
    {
        velt::CTcpSocket m_socket;
        velt::CThread m_thread; // last, so that it is joined first
    };

    void AcceptLoop()
    {
        for (;;)
        {
            velt::CTcpSocket socket = m_listener.Accept();
            if (!socket.IsValid())
                return;
            socket.SetNoDelay(true);
            auto connection = std::make_unique<Connection>();
            connection->m_socket = std::move(socket);
            Connection& started = *connection;
            m_connections.push_back(std::move(connection));
            started.m_thread.Start([this, &started] { Serve(started.m_socket); });
        }
    }

    void Serve(velt::CTcpSocket& socket)
    {
        Bytes buffer(4096);
        std::size_t held = 0;
        for (;;)
        {
            const int received = socket.Recv(buffer.data() + held, buffer.size() - held);
            if (received <= 0)
                return;
            held += static_cast<std::size_t>(received);
            std::size_t at = 0;
            for (;;)
            {
                const velt::FrameCut cut =
                    velt::CutFrame(std::span(buffer).subspan(at, held - at));
                if (cut.m_status != velt::FrameStatus::kFrame)
                    break;
                if (!cut.m_discard && !Answer(socket, cut.m_body))
                    return;
                at += cut.m_frameSize;
            }
            std::memmove(buffer.data(), buffer.data() + at, held - at);
            held -= at;
        }
    }

    bool Answer(velt::CTcpSocket& socket, std::span<const std::uint8_t> body)
    {
        if (body.empty())
            return true;
        if (body[0] == velt::CodeByte(velt::MessageCode::MSG_REPLAY_HEADER))
            return socket.Send(m_header.data(), m_header.size()) >= 0;
        const auto request = velt::ParseGameDataRequest(body.subspan(1));
        if (body[0] != velt::CodeByte(velt::MessageCode::MSG_GAME_DATA) || !request ||
            request->m_offset >= kStreamSize)
            return true;
        m_clock.Saw(request->m_offset);
        const Bytes& frame = m_frames[request->m_offset / velt::kFullChunkSize];
        return socket.Send(frame.data(), frame.size()) >= 0;
    }

    const std::vector<Bytes>& m_frames;
    CRequestClock& m_clock;
    const Bytes m_header;
    velt::CTcpListener m_listener;
    std::vector<std::unique_ptr<Connection>> m_connections; // touched by the accept thread
    velt::CThread m_acceptThread;
};

// Asks for every chunk in turn and reads each answer whole; with a stream buffer, copies each
// chunk's data to its offset there, as the host does.
bool RequestLoop(velt::CTcpSocket& socket, const std::vector<Bytes>& frames,
                 std::uint8_t* stream = nullptr)
{
    Bytes answer(velt::kMaxFrameLength + velt::kFrameLengthBytes);
    for (std::uint32_t i = 0; i < frames.size(); ++i)
    {
        const Bytes request = velt::BuildGameDataRequest({kMatch, i * velt::kFullChunkSize});
        if (socket.Send(request.data(), request.size()) != static_cast<int>(request.size()) ||
            !socket.RecvExact(answer.data(), frames[i].size()))
            return false;
        if (stream != nullptr)
            std::memcpy(stream + i * velt::kFullChunkSize, answer.data() + kDataAt,
                        frames[i].size() - kDataAt - 2);
    }
    return true;
}

class CDownloadBench
{
public:
    CDownloadBench() : m_frames(ChunkFrames()), m_server(m_frames, m_clock)
    {
        velt::SocketLayerStart();
        m_announceSink.Open();
        m_announceSink.Bind("127.0.0.1", 0);
        m_client.emplace(m_notices, velt::LocalPortSettings{m_announceSink.LocalPort(), 0});
        m_client->Connect("127.0.0.1", m_server.Port());
    }

    // Through the client into a fresh host, whose session a bare connection starts, so that
    // full chunks chain.
    std::optional<double> Pipeline()
    {
        m_clock.Reset();
        const std::uint32_t started = m_client->HostsStarted();
        m_client->RequestReplayHeader(kMatch);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
        while (m_client->HostsStarted() == started || !m_client->HasHost(kMatch))
        {
            if (Clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        velt::CTcpSocket game =
            velt::CTcpSocket::Connect("127.0.0.1", m_client->HostPort(kMatch).value_or(0));
        return m_clock.Wait();
    }

    // The plain loop; copying: its data also goes into a fresh 2 MiB buffer, the one copy the
    // host makes.
    std::optional<double> PlainLoop(bool copying)
    {
        m_clock.Reset();
        const auto stream = std::make_unique_for_overwrite<std::uint8_t[]>(kStreamSize);
        velt::CTcpSocket socket = velt::CTcpSocket::Connect("127.0.0.1", m_server.Port());
        socket.SetNoDelay(true);
        if (!RequestLoop(socket, m_frames, copying ? stream.get() : nullptr))
            return std::nullopt;
        return m_clock.Wait();
    }

private:
    const std::vector<Bytes> m_frames;
    CDiscardNotice m_notices;
    CRequestClock m_clock; // before the server, whose threads use it
    CInstantServer m_server;
    velt::CUdpSocket m_announceSink;
    std::optional<velt::CMatchServerClient> m_client;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// A download through the pipeline, a plain loop and a copying plain loop per iteration, back to
// back, so that the machine's load falls on all alike; the ratios are the medians of the
// iterations' ratios.
void BM_DownloadPipelineVsPlainLoop(benchmark::State& state)
{
    CDownloadBench bench;
    std::vector<double> piped;
    std::vector<double> plain;
    std::vector<double> copying;
    std::vector<double> ratios;
    std::vector<double> copyingRatios;
    for (auto _ : state)
    {
        const auto pipedOnce = bench.Pipeline();
        const auto plainOnce = bench.PlainLoop(false);
        const auto copyingOnce = bench.PlainLoop(true);
        if (!pipedOnce || !plainOnce || !copyingOnce)
        {
            state.SkipWithError("a download did not finish");
            return;
        }
        piped.push_back(*pipedOnce);
        plain.push_back(*plainOnce);
        copying.push_back(*copyingOnce);
        ratios.push_back(*pipedOnce / *plainOnce);
        copyingRatios.push_back(*pipedOnce / *copyingOnce);
        state.SetIterationTime(*pipedOnce);
    }
    state.counters["pipeline_ms"] = Median(piped) * 1000;
    state.counters["plain_ms"] = Median(plain) * 1000;
    state.counters["ratio"] = Median(ratios);
    state.counters["ratio_max"] = kMaxRatio;
    // Against the plain loop that also copies into a fresh buffer: what the client and the
    // host add beyond the one copy.
    state.counters["copying_ms"] = Median(copying) * 1000;
    state.counters["copying_ratio"] = Median(copyingRatios);
    state.counters["round_trips"] = kRoundTrips;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kLastOffset);
}
BENCHMARK(BM_DownloadPipelineVsPlainLoop)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->MinTime(MinTimeSeconds(3));

} // namespace

BENCHMARK_MAIN();
