#include <cstdio>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/OpenFilesLimit.h"
#include "platform/Socket.h"
#include "platform/StopSignalWait.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/MatchdOptions.h"
#include "tools/matchd/ReplayFolder.h"

namespace
{

// Descriptors that the server holds besides its clients' sockets: the listener, the event
// loop's own, the statistics file with its log, the standard streams.
constexpr std::size_t kReservedDescriptors = 64;

} // namespace

int main(int argc, char** argv)
{
    using namespace velt;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = ParseMatchdOptions(args, error);
    if (!options)
    {
        std::fprintf(stderr, "velt-matchd: %s\n%s", error.c_str(), kMatchdUsage);
        return 2;
    }
    if (options->m_help)
    {
        std::fputs(kMatchdUsage, stdout);
        return 0;
    }
    BlockStopSignals();
    SocketLayerStart();

    CStatsStore stats;
    if (!stats.Open(options->m_statePath))
    {
        std::fprintf(stderr, "velt-matchd: %s\n", stats.LastError().c_str());
        return 1;
    }
    ReplayFolderLoad served =
        CollectServedMatches(*options, [] { return PendingStopSignal() != 0; });
    if (const int signal = PendingStopSignal(); signal != 0)
        return 128 + signal;
    for (const std::string& problem : served.m_problems)
        std::fprintf(stderr, "velt-matchd: %s\n", problem.c_str());
    if (!served.m_listed)
        return 1;
    // Every client is a descriptor: a limit below what --max-clients needs would fail accepts
    // at random instead of refusing clients plainly.
    std::size_t& maxClients = options->m_server.m_maxClients;
    const std::size_t limit = RaiseOpenFilesLimit(maxClients + kReservedDescriptors);
    if (limit < maxClients + kReservedDescriptors)
    {
        const std::size_t fits =
            limit > kReservedDescriptors + 1 ? limit - kReservedDescriptors : 1;
        std::fprintf(stderr,
                     "velt-matchd: the open-files limit is %zu, too low for %zu clients; serving "
                     "at most %zu (raise it with ulimit -n, or lower --max-clients)\n",
                     limit, maxClients, fits);
        maxClients = fits;
    }
    options->m_server.m_report = [](const std::string& line)
    { std::fprintf(stderr, "velt-matchd: %s\n", line.c_str()); };
    CMatchArchive archive(std::move(served.m_matches), CSystemClock::Instance());
    CMatchServer server(archive, stats, options->m_server);
    if (!server.Start())
    {
        std::fprintf(stderr, "velt-matchd: %s\n", server.LastError().c_str());
        return 1;
    }
    std::printf("listening on %s\n", server.ListenAddress().c_str());
    std::fflush(stdout);
    WaitForStopSignal();
    server.Stop();
    // Counts that could not be written have been named; the stop is then no success.
    return stats.Finish() ? 0 : 1;
}
