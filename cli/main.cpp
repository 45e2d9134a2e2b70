#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "platform/Socket.h"

namespace
{

constexpr const char* kUsage = R"(Usage: velt COMMAND [OPTIONS]

Watch Warcraft III matches that a VELT match server streams, without the desktop client.

Commands:
  list     Connect to the match server and print the channel's match list.
  watch    Watch one match: host it as a LAN game for Warcraft III on 127.0.0.1.
  demo     Run a stand-in match server and a simulated game, and watch a live match.
  play     Watch a replay file (.w3g) from disk: host it as watch hosts a match.

Run 'velt COMMAND --help' for the options of a command.

While a game runs, watch, play and demo redraw one status line on stderr when it is a terminal
(match, data downloaded, game time, behind live, speed, paused or buffering); --quiet turns it
off. watch --live-delay S keeps a live match S seconds behind its live edge.

Exit status:
  0    every session ran to its end or the viewer left (list, demo: the command did its work)
  1    a failure, which the command has reported
  2    a usage error
  130  stopped by Ctrl+C (SIGINT); a running game is sent the leave acknowledgement first
  143  stopped by SIGTERM, likewise
)";

struct Command
{
    const char* m_name;
    int (*m_run)(const std::vector<std::string>& args);
};

constexpr Command kCommands[] = {
    {"list", &velt::RunListCommand},
    {"watch", &velt::RunWatchCommand},
    {"demo", &velt::RunDemoCommand},
    {"play", &velt::RunPlayCommand},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fputs(kUsage, stderr);
        return velt::kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0)
    {
        std::fputs(kUsage, stdout);
        return velt::kExitOk;
    }
    if (!velt::SocketLayerStart())
        return velt::kExitFailure;
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& command : kCommands)
    {
        if (std::strcmp(argv[1], command.m_name) == 0)
            return command.m_run(args);
    }
    std::fprintf(stderr, "velt: unknown command '%s'\n\n%s", argv[1], kUsage);
    return velt::kExitUsage;
}
