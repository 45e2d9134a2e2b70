#include <cstdio>

#include "cli/CStatusLine.h"
#include "cli/CliNotice.h"
#include "cli/CommandLine.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/HostedSessions.h"
#include "cli/WatchSequence.h"
#include "host/HostTimings.h"
#include "platform/Clock.h"
#include "platform/StopSignal.h"
#include "platform/Terminal.h"
#include "server/CMatchServerClient.h"
#include "server/ServerConnection.h"

namespace velt
{

namespace
{

constexpr const char* kWatchUsage = R"(Usage: velt watch MATCH_ID [OPTIONS]

Connects to the match server and runs the Watch! sequence for one match: the client becomes a
LAN game host on 127.0.0.1 that Warcraft III joins, and replays the match into the game while it
downloads it. Type /help in the game's chat for the viewer's commands.

Options:
  --server HOST[:PORT]   the match server (default: $VELT_SERVER, else stream.velt.tv; port 999)
  --channel N            the match's channel (default 1)
  --sessions N           press Watch! again after each session ends, until N sessions have run
                         (default 1); later sessions replay the kept data without downloading
  --war3 DIR             the Warcraft III folder (default: from Wine's registry)
  --announce-port PORT   UDP port the game listens on for LAN games (default 6112)
  --port-base PORT       first local TCP port for hosted games (default 10000; 0: any free
                         port for each)
  --reconnect-limit S    when the match server drops or goes silent during a session, try to
                         reconnect for at most S seconds (default 120), counted from the drop or
                         from the first request left unanswered, then end the session
  --live-delay S         watch a live match S seconds (0 to 600) behind its live edge, so that
                         play does not run into the end of the data (default 0: at the edge)
  --quiet                no status line (it is drawn only when stderr is a terminal)
  --launch               start Warcraft III (or bring a running one to the front)
  --window, --opengl     with --launch: start the game in a window / in OpenGL mode
  --help                 this text

Keys, when standard input is a terminal: Space pause/resume, + faster, - slower, Left/Right
10 s back/ahead, L live, q leave (as Ctrl+C, but the exit status is 0). Each sends the chat
command it stands for, as if typed in the game.

Exit status: 0 when every session ran to its end or the viewer left; 1 when the command
ended on a failure it reported (no server, no header or one that cannot be hosted, a game port
that cannot be opened, a server that did not come back, a session that broke off without its
leave acknowledgement); 2 on a usage error; 130 on Ctrl+C (SIGINT) and 143 on SIGTERM,
after the game has been sent the leave acknowledgement.
)";

struct WatchOptions
{
    ServerOptions m_server;
    std::uint32_t m_matchId = 0;
    HostOptions m_host;
    ReconnectPolicy m_reconnect;
    std::uint32_t m_liveDelaySeconds = 0;
};

bool ReadWatchOptions(const CCommandLine& line, WatchOptions& options, std::string& error)
{
    if (!ReadServerOptions(line, options.m_server, error) ||
        !ReadHostOptions(line, options.m_host, error))
        return false;
    if (line.Positional().size() != 1)
    {
        error = line.Positional().empty() ? "the match id is missing" : "only one match id, please";
        return false;
    }
    const auto matchId = ParseWholeNumber(line.Positional().front(), 1, 0xFFFFFFFFLL);
    if (!matchId)
    {
        error = "the match id must be a whole number from 1 to 4294967295, not '" +
                line.Positional().front() + "'";
        return false;
    }
    options.m_matchId = static_cast<std::uint32_t>(*matchId);
    if (line.Value("reconnect-limit"))
    {
        const auto seconds = line.Number("reconnect-limit", 1, 86400, error);
        if (!seconds)
            return false;
        options.m_reconnect.m_limitMs = static_cast<std::uint32_t>(*seconds) * 1000;
    }
    if (line.Value("live-delay"))
    {
        const auto seconds =
            line.Number("live-delay", 0, CMatchServerClient::kMaxLiveDelaySeconds, error);
        if (!seconds)
            return false;
        options.m_liveDelaySeconds = static_cast<std::uint32_t>(*seconds);
    }
    return true;
}

} // namespace

int RunWatchCommand(const std::vector<std::string>& args)
{
    return RunWatchCommandWithTimings(args, HostTimings{}, true);
}

int RunWatchCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings,
                               bool takeKeys)
{
    const CCommandLine::Grammar grammar =
        WithHostOptions({{"server", "channel", "reconnect-limit", "live-delay"}, {"help"}});
    WatchOptions options;
    const auto ended = ParseCommand("watch", kWatchUsage, args, grammar,
                                    [&](const CCommandLine& line, std::string& error)
                                    { return ReadWatchOptions(line, options, error); });
    if (ended)
        return *ended;
    options.m_host.m_keys = takeKeys;

    InstallStopHandlers();
    const auto interrupted = [] { return StopSignalNumber() != 0; };
    CStatusLine statusLine(StandardErrorTerminal(), CSystemClock::Instance(),
                           !options.m_host.m_quiet);
    CCliNotice notices(&statusLine);
    CMatchServerClient client(notices, options.m_host.m_ports);
    client.SetHostTimings(timings);
    client.SetChannelId(options.m_server.m_channel);
    client.SetLiveDelay(options.m_liveDelaySeconds);
    const std::string folder = TakeWarcraftFolder(client, options.m_host);
    std::string host = options.m_server.m_server.m_host;
    if (!ConnectToServer(client, host, options.m_server.m_server.m_port, kHeaderWaitMs,
                         interrupted))
        return interrupted() ? StopExitStatus(StopSignalNumber()) : kExitFailure;
    return RunHostedSessions(client, notices, statusLine, options.m_host, folder, options.m_matchId,
                             options.m_reconnect);
}

} // namespace velt
