#include <cstdio>
#include <string>
#include <vector>

#include "cli/CStatusLine.h"
#include "cli/CliNotice.h"
#include "cli/CommandLine.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/HostedSessions.h"
#include "cli/TerminalText.h"
#include "cli/WatchSequence.h"
#include "host/HostTimings.h"
#include "platform/Clock.h"
#include "platform/StopSignal.h"
#include "platform/Terminal.h"
#include "server/CMatchServerClient.h"
#include "server/ServerConnection.h"
#include "tools/standins/CStandInServer.h"

namespace velt
{

namespace
{

constexpr const char* kPlayUsage = R"(Usage: velt play FILE.w3g [OPTIONS]

Hosts a recorded game, a Warcraft III replay file, as a LAN game on 127.0.0.1, the way 'velt
watch' hosts a match of a server: Warcraft III joins it, /start begins it, and every chat
command works, /back and /goto included. The file is read once and served from memory by this
program itself, on a free port of 127.0.0.1. Type /help in the game's chat for the commands.

Options:
  --sessions N           press Watch! again after each session ends, until N sessions have run
                         (default 1)
  --war3 DIR             the Warcraft III folder (default: from Wine's registry)
  --announce-port PORT   UDP port the game listens on for LAN games (default 6112)
  --port-base PORT       first local TCP port for hosted games (default 10000; 0: any free
                         port for each)
  --quiet                no status line (it is drawn only when stderr is a terminal)
  --launch               start Warcraft III (or bring a running one to the front)
  --window, --opengl     with --launch: start the game in a window / in OpenGL mode
  --help                 this text
  --                     ends the options: FILE.w3g may then begin with a dash

--live-delay is refused: a replay file is a finished game, played from its start.

Keys, when standard input is a terminal: Space pause/resume, + faster, - slower, Left/Right
10 s back/ahead, L live, q leave (as Ctrl+C, but the exit status is 0). Each sends the chat
command it stands for, as if typed in the game.

Exit status: 0 when every session ran to its end or the viewer left; 1 when the file cannot be
played (one line names it and what is wrong; nothing is hosted) or the command ended on another
failure it reported (a game port that cannot be opened, a session that broke off without its
leave acknowledgement); 2 on a usage error; 130 on Ctrl+C (SIGINT) and 143 on SIGTERM, after
the game has been sent the leave acknowledgement.
)";

bool ReadPlayOptions(const CCommandLine& line, HostOptions& options, std::string& file,
                     std::string& error)
{
    if (line.Has("live-delay"))
    {
        error = "option '--live-delay' is for live matches; a replay file is played from its start";
        return false;
    }
    if (!ReadHostOptions(line, options, error))
        return false;
    if (line.Positional().size() != 1)
    {
        error = line.Positional().empty() ? "the replay file is missing"
                                          : "only one replay file, please";
        return false;
    }
    file = line.Positional().front();
    if (file.empty())
    {
        error = "the replay file name is empty";
        return false;
    }
    return true;
}

// "Playing FILE: NAME, LENGTH, on MAP." from the catalogue of the file's server.
std::string PlayingLine(const std::string& file, const CMatchServerClient& client)
{
    std::string line = "Playing " + TerminalText(file);
    if (const auto match = client.FindMatch(CStandInServer::kReplayFileMatchId))
        line += ": " + TerminalText(match->m_matchName) + ", " + match->m_lengthText + ", on " +
                TerminalText(match->m_mapPath);
    return line + ".";
}

} // namespace

int RunPlayCommand(const std::vector<std::string>& args)
{
    return RunPlayCommandWithTimings(args, HostTimings{}, true);
}

int RunPlayCommandWithTimings(const std::vector<std::string>& args, const HostTimings& timings,
                              bool takeKeys)
{
    // --live-delay is known, so that it is refused with a reason instead of as unknown.
    const CCommandLine::Grammar grammar = WithHostOptions({{"live-delay"}, {"help"}});
    HostOptions options;
    std::string file;
    const auto ended = ParseCommand("play", kPlayUsage, args, grammar,
                                    [&](const CCommandLine& line, std::string& error)
                                    { return ReadPlayOptions(line, options, file, error); });
    if (ended)
        return *ended;
    options.m_keys = takeKeys;

    InstallStopHandlers();
    const auto interrupted = [] { return StopSignalNumber() != 0; };
    const auto server = CStandInServer::ReplayFile(file);
    if (!server->Start())
    {
        std::fprintf(stderr, "velt play: %s\n", TerminalText(server->Problem()).c_str());
        return kExitFailure;
    }
    CStatusLine statusLine(StandardErrorTerminal(), CSystemClock::Instance(), !options.m_quiet);
    CCliNotice notices(&statusLine);
    CMatchServerClient client(notices, options.m_ports);
    client.SetHostTimings(timings);
    const std::string folder = TakeWarcraftFolder(client, options);
    // The list gives the status line the match's name; the server is this program's own.
    std::string host = "127.0.0.1";
    if (!RetrieveMatchList(client, host, server->Port(), kHeaderWaitMs, interrupted))
        return interrupted() ? StopExitStatus(StopSignalNumber()) : kExitFailure;
    const std::string playing = PlayingLine(file, client);
    statusLine.PrintAround([&] { std::fprintf(stderr, "%s\n", playing.c_str()); });
    return RunHostedSessions(client, notices, statusLine, options, folder,
                             CStandInServer::kReplayFileMatchId, ReconnectPolicy{});
}

} // namespace velt
