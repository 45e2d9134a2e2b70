// The load generator: thousands of clients of the match server protocol from one thread.
//
//   matchd_load --port P --load viewers|bulk --clients N --seconds S
//               [--matches K] [--interval-ms MS] [--server-pid PID]
//
// viewers: each client asks for the list once, then for the next chunk of its match every
// interval (2 s, a viewer at normal speed). bulk: each client downloads its match chunk after
// chunk as fast as the server answers, and starts over at the end. Clients connect at most
// kConnectsAtOnce at a time; the measured window opens once all are connected. With
// --server-pid the server's CPU time and resident memory are read from /proc around it.
// Prints one line of key=value results.
#include <algorithm>
#include <asio/io_context.hpp>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "bench/matchd/CLoadConnection.h"

namespace
{

using namespace velt::bench;
using Clock = CLoadConnection::Clock;

// Enough connects in flight to fill the listen queue quickly, few enough not to overflow it.
constexpr std::size_t kConnectsAtOnce = 256;
// An answer later than this is a failure; the client's own list wait is 6 s.
constexpr std::chrono::seconds kAnswerLimit{6};

struct LoadOptions
{
    std::uint16_t m_port = 0;
    CLoadConnection::Kind m_kind = CLoadConnection::Kind::kViewer;
    std::size_t m_clients = 1;
    unsigned m_seconds = 10;
    std::uint32_t m_matches = 8;
    unsigned m_intervalMs = 2000;
    long m_serverPid = 0;
};

template <class T> bool Number(const std::string& text, T& out)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool Parse(int argc, char** argv, LoadOptions& options)
{
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        bool ok = true;
        if (name == "--port")
            ok = Number(value, options.m_port);
        else if (name == "--load")
        {
            ok = value == "viewers" || value == "bulk";
            options.m_kind =
                value == "bulk" ? CLoadConnection::Kind::kBulk : CLoadConnection::Kind::kViewer;
        }
        else if (name == "--clients")
            ok = Number(value, options.m_clients);
        else if (name == "--seconds")
            ok = Number(value, options.m_seconds);
        else if (name == "--matches")
            ok = Number(value, options.m_matches) && options.m_matches > 0;
        else if (name == "--interval-ms")
            ok = Number(value, options.m_intervalMs) && options.m_intervalMs > 0;
        else if (name == "--server-pid")
            ok = Number(value, options.m_serverPid);
        else
            ok = false;
        if (!ok)
        {
            std::fprintf(stderr, "matchd_load: bad argument %s %s\n", name.c_str(), value.c_str());
            return false;
        }
    }
    return options.m_port != 0 && (argc % 2) == 1;
}

// The server's CPU seconds (user and system) and resident kilobytes.
struct ProcessSample
{
    double m_cpuSeconds = 0;
    long m_residentKiB = 0;
};

ProcessSample SampleProcess(long pid)
{
    ProcessSample sample;
    if (pid <= 0)
        return sample;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close != std::string::npos)
    {
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long utime = 0, stime = 0;
        for (int index = 3; fields >> field; ++index)
        {
            if (index == 14)
                utime = std::stoul(field);
            if (index == 15)
            {
                stime = std::stoul(field);
                break;
            }
        }
        sample.m_cpuSeconds = static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            sample.m_residentKiB = std::stol(line.substr(6));
    return sample;
}

// This process's own CPU seconds: a starved load generator shows in the answer times.
double OwnCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<std::uint32_t>& values, double share)
{
    if (values.empty())
        return 0;
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index] / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    LoadOptions options;
    if (!Parse(argc, argv, options))
    {
        std::fprintf(stderr, "usage: matchd_load --port P --load viewers|bulk --clients N "
                             "--seconds S [--matches K] [--interval-ms MS] [--server-pid PID]\n");
        return 2;
    }
    asio::io_context io(1);
    const asio::ip::tcp::endpoint server(asio::ip::make_address("127.0.0.1"), options.m_port);
    LoadTally tally;
    std::vector<std::shared_ptr<CLoadConnection>> connections;
    connections.reserve(options.m_clients);
    for (std::size_t i = 0; i < options.m_clients; ++i)
        connections.push_back(std::make_shared<CLoadConnection>(
            io, options.m_kind, static_cast<std::uint32_t>(1 + i % options.m_matches),
            std::chrono::milliseconds(options.m_intervalMs), tally));

    const ProcessSample idle = SampleProcess(options.m_serverPid);
    std::size_t started = 0;
    std::size_t settled = 0;
    std::function<void()> startNext;
    startNext = [&]
    {
        while (started < connections.size() && started - settled < kConnectsAtOnce)
            connections[started++]->Start(server,
                                          [&]
                                          {
                                              ++settled;
                                              asio::post(io, [&] { startNext(); });
                                          });
    };
    const auto connectStart = Clock::now();
    startNext();
    while (settled < connections.size())
        io.run_one();
    const double connectSeconds =
        std::chrono::duration<double>(Clock::now() - connectStart).count();

    // A second to let the list requests of the last connections settle, then the window.
    io.run_for(std::chrono::seconds(1));
    const ProcessSample before = SampleProcess(options.m_serverPid);
    const double ownBefore = OwnCpuSeconds();
    tally.m_measuring = true;
    const auto windowStart = Clock::now();
    const auto windowEnd = windowStart + std::chrono::seconds(options.m_seconds);
    while (Clock::now() < windowEnd)
    {
        io.run_for(std::chrono::milliseconds(500));
        const auto now = Clock::now();
        for (const auto& connection : connections)
            if (connection->Overdue(now, kAnswerLimit))
            {
                ++tally.m_failed;
                connection->Close();
            }
    }
    tally.m_measuring = false;
    const double window = std::chrono::duration<double>(Clock::now() - windowStart).count();
    const ProcessSample after = SampleProcess(options.m_serverPid);
    const double ownCpu = OwnCpuSeconds() - ownBefore;
    for (const auto& connection : connections)
        connection->Close();
    io.run_for(std::chrono::milliseconds(200));

    const auto requests = tally.m_answerMicros.size();
    std::printf(
        "load=%s clients=%zu connected=%zu connect_s=%.2f window_s=%.1f requests=%zu "
        "failed=%llu median_ms=%.3f p99_ms=%.3f max_ms=%.3f lists=%zu list_median_ms=%.3f "
        "list_p99_ms=%.3f data_MBps=%.1f wire_MBps=%.1f load_cpu_pct=%.1f load_late_p99_ms=%.3f",
        options.m_kind == CLoadConnection::Kind::kBulk ? "bulk" : "viewers", options.m_clients,
        tally.m_connected, connectSeconds, window, requests,
        static_cast<unsigned long long>(tally.m_failed), Percentile(tally.m_answerMicros, 0.5),
        Percentile(tally.m_answerMicros, 0.99), Percentile(tally.m_answerMicros, 1.0),
        tally.m_listMicros.size(), Percentile(tally.m_listMicros, 0.5),
        Percentile(tally.m_listMicros, 0.99), static_cast<double>(tally.m_dataBytes) / window / 1e6,
        static_cast<double>(tally.m_wireBytes) / window / 1e6, 100.0 * ownCpu / window,
        Percentile(tally.m_lateMicros, 0.99));
    if (options.m_serverPid > 0)
        std::printf(" server_cpu_pct=%.1f server_rss_kib=%ld server_rss_idle_kib=%ld "
                    "rss_per_client_kib=%.2f",
                    100.0 * (after.m_cpuSeconds - before.m_cpuSeconds) / window,
                    after.m_residentKiB, idle.m_residentKiB,
                    static_cast<double>(after.m_residentKiB - idle.m_residentKiB) /
                        static_cast<double>(std::max<std::size_t>(1, options.m_clients)));
    std::printf("\n");
    return tally.m_failed == 0 ? 0 : 1;
}
