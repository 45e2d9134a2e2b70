#include <cstdio>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/MatchdOptions.h"
#include "tools/matchd/ReplayFolder.h"
#include "tools/matchd/StopSignal.h"

int main(int argc, char** argv)
{
    using namespace velt;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ParseMatchdOptions(args, error);
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
    ReplayFolderLoad served = CollectServedMatches(*options, [] { return PendingStopSignal() != 0; });
    if (const int signal = PendingStopSignal(); signal != 0)
        return 128 + signal;
    for (const std::string& problem : served.m_problems)
        std::fprintf(stderr, "velt-matchd: %s\n", problem.c_str());
    if (!served.m_listed)
        return 1;
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
    return 0;
}
