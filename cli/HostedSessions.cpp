#include "cli/HostedSessions.h"

#include <cstdio>

#include "cli/Commands.h"
#include "cli/WatchSequence.h"
#include "host/CLocalGameHost.h"
#include "platform/FileSystem.h"
#include "platform/GameLauncher.h"
#include "platform/RawKeyboard.h"
#include "platform/StopSignal.h"

namespace velt
{

std::string TakeWarcraftFolder(CMatchServerClient& client, const HostOptions& options)
{
    if (!options.m_war3)
        return client.QueryWarcraftInstallPath();
    const std::string folder = JoinPath(*options.m_war3, "");
    client.SetWarcraftPath(folder);
    return folder;
}

int RunHostedSessions(CMatchServerClient& client, CCliNotice& notices, CStatusLine& statusLine,
                      const HostOptions& options, const std::string& warcraftFolder,
                      std::uint32_t matchId, const ReconnectPolicy& reconnect)
{
    const auto say = [&statusLine](const std::string& text)
    { statusLine.PrintAround([&] { std::fprintf(stderr, "%s\n", text.c_str()); }); };
    client.SuperviseServerLink(reconnect);
    WatchSequence sequence(client, notices);
    sequence.m_launch = options.m_launch;
    sequence.m_game = WarcraftLaunch{warcraftFolder, options.m_window, options.m_openGl};
    sequence.m_interrupted = [] { return StopSignalNumber() != 0; };
    sequence.m_statusLine = &statusLine;
    // Keys only on a terminal: scripts and pipes behave as without them.
    CRawKeyboard keys;
    if (options.m_keys && keys.Open())
        sequence.m_keys = &keys;
    bool corrupt = false;
    for (std::uint32_t session = 1; session <= options.m_sessions; ++session)
    {
        const unsigned reportedBefore = notices.Reported();
        const auto outcome = sequence.Run(matchId);
        if (outcome == WatchOutcome::kInterrupted)
            return StopExitStatus(StopSignalNumber());
        if (outcome == WatchOutcome::kLeft)
            return kExitOk;
        if (outcome == WatchOutcome::kFailed)
            return kExitFailure;
        if (client.ServerGivenUp())
        {
            say("The match server did not come back within " +
                std::to_string(reconnect.m_limitMs / 1000) + " s; session " +
                std::to_string(session) + " has ended.");
            return kExitFailure;
        }
        // Every proper end sends the game the leave acknowledgement; a session without it
        // broke off, and the viewer did not see the match to its end.
        if (const auto host = client.FindHost(matchId); host && !host->LastSessionEndedCleanly())
        {
            say("Session " + std::to_string(session) + " of " + std::to_string(options.m_sessions) +
                " broke off: the game's connection ended without a leave, or the match's data "
                "ended inside a packet.");
            return kExitFailure;
        }
        say("Session " + std::to_string(session) + " of " + std::to_string(options.m_sessions) +
            " has ended.");
        // The session ran to its end, but the match it showed was not whole.
        corrupt = corrupt || notices.Reported() != reportedBefore;
    }
    return corrupt ? kExitFailure : kExitOk;
}

} // namespace velt
