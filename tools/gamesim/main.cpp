// velt-gamesim: plays Warcraft III's part against a local game host for one session (and the
// sessions it joins again with --rejoins) and prints what the host sent.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/gamesim/GameSimArguments.h"

using namespace velt;

namespace
{

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr std::uint32_t kWaitStepMs = 1000;

std::mutex g_outputMutex;

void PrintLine(const char* prefix, const std::string& text)
{
    std::lock_guard lock(g_outputMutex);
    std::printf("%s%s\n", prefix, text.c_str());
    std::fflush(stdout);
}

bool WaitForSession(CGameSimulator& simulator, const GameSimOptions& options)
{
    const std::uint32_t sessions = options.m_script.m_rejoins + 1;
    const auto allEnded = [sessions](const GameSimRecord& record)
    { return record.m_sessionsEnded >= sessions; };
    if (options.m_timeoutSeconds)
        return simulator.WaitFor(allEnded, *options.m_timeoutSeconds * 1000u);
    while (!simulator.WaitFor(allEnded, kWaitStepMs))
    {
    }
    return true;
}

void PrintSummary(const GameSimRecord& record, bool finished)
{
    std::lock_guard lock(g_outputMutex);
    std::printf("joined port: %u\n", record.m_joinedPort);
    if (!record.m_foundGameName.empty())
        std::printf("found over multicast DNS: %s\n", record.m_foundGameName.c_str());
    std::printf("lobby lines: %zu, game lines: %zu\n", record.m_lobbyLines.size(),
                record.m_gameLines.size());
    std::printf("time slots: %u (empty: %u), keepalives sent: %u\n", record.m_timeSlots,
                record.m_emptyTimeSlots, record.m_keepalivesSent);
    std::printf("game time: %llu ms\n", static_cast<unsigned long long>(record.m_gameTimeMs));
    if (record.m_checksumErrors != 0 || record.m_malformedPackets != 0 || record.m_streamCorrupt)
        std::printf("faults: %u checksum errors, %u malformed packets%s\n", record.m_checksumErrors,
                    record.m_malformedPackets, record.m_streamCorrupt ? ", corrupt stream" : "");
    std::printf("leave ack: %s\n", record.m_leaveAckReceived ? "yes" : "no");
    std::printf("closed by host: %s\n", record.m_connectionClosedByHost ? "yes" : "no");
    if (!finished)
        std::printf("session did not end in time\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options =
        ParseGameSimArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options)
    {
        std::fprintf(stderr, "velt-gamesim: %s\n%s", error.c_str(), kGameSimUsage);
        return kExitUsage;
    }
    if (options->m_help)
    {
        std::fputs(kGameSimUsage, stdout);
        return 0;
    }
    SocketLayerStart();
    CGameSimulator simulator(options->m_script);
    if (!options->m_quiet || !options->m_answers.empty())
    {
        const std::uint64_t startMs = CSystemClock::Instance().NowMs();
        simulator.SetLineObserver(
            [&simulator, &options = *options, startMs](bool inGame, const std::string& text)
            {
                if (inGame)
                    for (const auto& [seen, answer] : options.m_answers)
                        if (text.find(seen) != std::string::npos)
                            simulator.TypeChat(answer);
                if (options.m_quiet)
                    return;
                std::string shown = text;
                if (options.m_stampLines)
                    shown = "@" + std::to_string(CSystemClock::Instance().NowMs() - startMs) +
                            " +" + std::to_string(simulator.GameTimeMs()) + " " + text;
                PrintLine(inGame ? "game:  " : "lobby: ", shown);
            });
    }
    const bool mdns = options->m_script.m_mdnsVersion != 0;
    if (!simulator.Start())
    {
        std::fprintf(stderr, "velt-gamesim: cannot listen on UDP port %u\n",
                     mdns ? 5353u : options->m_script.m_announcePort);
        return kExitFailure;
    }
    if (mdns)
        PrintLine("looking for games over multicast DNS on loopback, as version ",
                  std::to_string(options->m_script.m_mdnsVersion));
    else
        PrintLine("listening for announcements on UDP port ",
                  std::to_string(simulator.AnnouncePort()));
    const bool finished = WaitForSession(simulator, *options);
    simulator.Stop();
    const GameSimRecord record = simulator.Record();
    PrintSummary(record, finished);
    const bool ended =
        record.m_leaveAckReceived || record.m_connectionClosedByHost || record.m_leaveSent;
    return finished && ended ? 0 : kExitFailure;
}
