#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/CStatusLine.h"
#include "cli/CliNotice.h"
#include "cli/CommandLine.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/MatchTable.h"
#include "cli/TerminalText.h"
#include "cli/WatchSequence.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "platform/Terminal.h"
#include "platform/Thread.h"
#include "server/CMatchServerClient.h"
#include "server/ServerConnection.h"
#include "tools/standins/CStandInGame.h"
#include "tools/standins/CStandInServer.h"

namespace velt
{

namespace
{

constexpr const char* kDemoUsage =
    R"(Usage: velt demo [--seed S] [--seconds N] [--live-delay S] [--quiet]

Runs everything on this machine, with nothing to set up: a stand-in match server with synthetic
matches (one of them live), the match list as 'velt list' prints it, and the live match watched
by a simulated Warcraft III that types a few chat commands. Prints what the viewer would see.

Options:
  --seed S      which synthetic matches (default 7)
  --seconds N   how long, in real seconds, the live match takes to play out (default 25)
  --live-delay S  watch the live match S seconds of game time (0 to 600) behind its edge
  --quiet       no status line (it is drawn only when stderr is a terminal)
  --help        this text
)";

// Runs the live match's clock faster than real time, so that a match of many minutes plays out
// in a demo of a few seconds.
class CFastClock final : public IClock
{
public:
    explicit CFastClock(double factor) : m_factor(factor), m_start(CSystemClock::Instance().NowMs())
    {
    }
    std::uint64_t NowMs() override
    {
        const auto real = CSystemClock::Instance().NowMs() - m_start;
        return m_start + static_cast<std::uint64_t>(static_cast<double>(real) * m_factor);
    }
    void SleepMs(std::uint32_t ms) override { CSystemClock::Instance().SleepMs(RealMs(ms)); }
    std::uint32_t RealMs(std::uint32_t ms) override
    {
        return static_cast<std::uint32_t>(ms / m_factor);
    }

private:
    const double m_factor;
    const std::uint64_t m_start;
};

// The viewer's chat commands in the game, at game times relative to the live match's length.
struct DemoCommand
{
    double m_atFraction; // of the match's game time
    const char* m_text;
    const char* m_reply; // how the answer begins
};

// How often the command script looks whether the session has ended.
constexpr std::uint32_t kCommandPollMs = 100;

constexpr DemoCommand kGameCommands[] = {
    {0.10, "/faster", "[VELT] Current Speed is"},
    {0.15, "/time", "[VELT] The current game time is"},
    {0.20, nullptr /* goto */, "[VELT] Now fast forward to"},
    {0.45, "/obmsg off", "[VELT] Hide observer chat message!"},
    {0.50, "/rate 5", "[VELT] You have rated"},
};

// Lines on stdout, printed around the status line on stderr (both may be the same terminal).
class CDemoPrinter
{
public:
    explicit CDemoPrinter(CStatusLine& statusLine) : m_statusLine(statusLine) {}

    void Line(const char* where, const std::string& text)
    {
        Print("  " + std::string(where) +
              std::string(5 - std::min<std::size_t>(5, std::strlen(where)), ' ') + " | " +
              TerminalText(text));
    }
    void Typed(const std::string& text) { Print("  you   > " + text); }
    void Say(const std::string& text) { Print(text); }
    void Print(const std::string& text)
    {
        m_statusLine.PrintAround(
            [&]
            {
                std::printf("%s\n", text.c_str());
                std::fflush(stdout);
            });
    }

private:
    CStatusLine& m_statusLine;
};

// A stand-in Warcraft III folder holding the catalogue's map files, so that the list shows
// every map as installed and /start finds the map. Removed again when the demo ends.
class CDemoWarcraftFolder
{
public:
    CDemoWarcraftFolder() : m_path(MakeFreshTempFolder("velt-demo-war3-")) {}
    ~CDemoWarcraftFolder()
    {
        std::error_code error;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, error);
    }
    void AddMap(const std::string& windowsPath)
    {
        if (m_path.empty())
            return; // no folder of our own: the maps show as missing, nothing is written elsewhere
        std::filesystem::path file = m_path;
        std::string part;
        for (char c : windowsPath + "\\")
        {
            if (c != '\\' && c != '/')
            {
                part.push_back(c);
                continue;
            }
            if (!part.empty() && part != "." && part != "..")
                file /= part;
            part.clear();
        }
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        std::ofstream(file) << "map";
    }
    std::string Folder() const { return JoinPath(PathToUtf8(m_path), ""); }

private:
    std::filesystem::path m_path;
};

std::string GotoArgument(std::uint32_t durationMs)
{
    const std::uint32_t target = durationMs * 4 / 10 / 60000;
    return "/goto " + std::to_string(std::max<std::uint32_t>(target, 1)) + ":00";
}

struct DemoOptions
{
    std::optional<long long> m_seed = 7;
    std::optional<long long> m_seconds = 25;
    std::optional<long long> m_liveDelay = 0;
    bool m_quiet = false;
};

// The demo's words; the exit status when the command ends here (help, a usage error).
std::optional<int> ReadDemoOptions(const std::vector<std::string>& args, DemoOptions& options)
{
    const CCommandLine::Grammar grammar{{"seed", "seconds", "live-delay"}, {"quiet", "help"}};
    return ParseCommand("demo", kDemoUsage, args, grammar,
                        [&](const CCommandLine& line, std::string& error)
                        {
                            if (line.Value("seed"))
                                options.m_seed = line.Number("seed", 0, 0x7FFFFFFFLL, error);
                            if (options.m_seed && line.Value("seconds"))
                                options.m_seconds = line.Number("seconds", 5, 3600, error);
                            if (options.m_seed && options.m_seconds && line.Value("live-delay"))
                                options.m_liveDelay =
                                    line.Number("live-delay", 0,
                                                CMatchServerClient::kMaxLiveDelaySeconds, error);
                            if (!options.m_seed || !options.m_seconds || !options.m_liveDelay)
                                return false;
                            if (!line.Positional().empty())
                            {
                                error = "unexpected argument";
                                return false;
                            }
                            options.m_quiet = line.Has("quiet");
                            return true;
                        });
}

// The simulated viewer's commands in the game, each at its point of the match and each after
// the answer to the one before, until the list ends or stop is set.
void TypeDemoCommands(CStandInGame& game, CDemoPrinter& out, std::uint32_t durationMs,
                      const std::atomic<bool>& stop)
{
    for (const auto& command : kGameCommands)
    {
        const auto at = static_cast<std::uint64_t>(command.m_atFraction * durationMs);
        // Short waits, so that a session that ends before this point never keeps the demo.
        while (!game.WaitGameTime(at, kCommandPollMs))
        {
            if (stop.load())
                return;
        }
        if (stop.load())
            return;
        const std::string text =
            command.m_text != nullptr ? command.m_text : GotoArgument(durationMs);
        const std::size_t before = game.GameLinesStartingWith(command.m_reply);
        out.Typed(text);
        game.TypeChat(text);
        // The next command follows this one's answer, so that the output reads in order.
        while (!game.WaitGameLinesStartingWith(command.m_reply, before, kCommandPollMs))
        {
            if (stop.load())
                return;
        }
    }
}

// The simulated Warcraft III asks for help and starts the game from the lobby.
const std::vector<std::string> kDemoLobbyChat = {"/help", "/start"};

std::string SessionSummary(const CStandInGame::Summary& record)
{
    return "\nThe match is over and the session has ended: " + std::to_string(record.m_timeSlots) +
           " time slots, " + std::to_string(record.m_gameTimeMs / 1000) + " s of game time, " +
           (record.m_leaveAckReceived ? "leave acknowledged." : "connection closed.");
}

// Prints the match list as velt list does, with every map shown installed in the demo's folder.
void ShowDemoList(CMatchServerClient& client, CDemoWarcraftFolder& war3, CDemoPrinter& out)
{
    for (const auto& entry : client.CatalogueSnapshot())
        war3.AddMap(entry.m_info.m_mapPath);
    client.SetWarcraftPath(war3.Folder());
    out.Say("\n$ velt list");
    const std::string table = FormatTable(MatchRows(client));
    std::fwrite(table.data(), 1, table.size(), stdout);
}

} // namespace

int RunDemoCommand(const std::vector<std::string>& args)
{
    DemoOptions options;
    if (const auto ended = ReadDemoOptions(args, options))
        return *ended;
    const long long seed = *options.m_seed;
    const long long seconds = *options.m_seconds;

    InstallStopHandlers();
    const auto interrupted = [] { return StopSignalNumber() != 0; };
    CStatusLine statusLine(StandardErrorTerminal(), CSystemClock::Instance(), !options.m_quiet);
    CDemoPrinter out(statusLine);
    SyntheticServerSettings settings;
    settings.m_seed = static_cast<std::uint64_t>(seed);
    settings.m_count = 6;
    settings.m_liveCount = 1;
    // The clock outlives the server that plays the live match on it; its speed comes from the
    // match that the server makes up.
    std::optional<CFastClock> fastClock;
    const auto server = CStandInServer::Synthetic(settings);
    const std::uint32_t liveId = server->FirstMatchId();
    const std::uint32_t durationMs = server->FirstMatchDurationMs();
    CFastClock& matchClock = fastClock.emplace(static_cast<double>(durationMs) /
                                               (static_cast<double>(seconds) * 1000.0));

    if (!server->Start(matchClock))
    {
        std::fprintf(stderr, "velt demo: the stand-in match server did not start: %s\n",
                     server->Problem().c_str());
        return kExitFailure;
    }
    out.Say("Stand-in match server listening on " + server->ListenAddress() + ".");

    CStandInGame game(kDemoLobbyChat, matchClock);
    game.SetLineObserver([&out](bool inGame, const std::string& text)
                         { out.Line(inGame ? "game" : "lobby", text); });
    if (!game.Start())
    {
        std::fprintf(stderr, "velt demo: the simulated game could not listen for LAN games\n");
        return kExitFailure;
    }

    CCliNotice notices(&statusLine);
    LocalPortSettings ports;
    ports.m_announcePort = game.AnnouncePort();
    ports.m_firstGamePort = 0; // each hosted game takes a free port
    CMatchServerClient client(notices, ports);
    client.SetLiveDelay(static_cast<std::uint32_t>(*options.m_liveDelay));
    std::string host = "127.0.0.1";
    if (!RetrieveMatchList(client, host, server->Port(), kListWaitMs, interrupted))
        return interrupted() ? StopExitStatus(StopSignalNumber()) : kExitFailure;
    CDemoWarcraftFolder war3;
    ShowDemoList(client, war3, out);

    out.Say("\n$ velt watch " + std::to_string(liveId) +
            "   (a simulated Warcraft III joins and types /help, /start, then commands in game)");
    std::atomic<bool> stop{false};
    CThread commands;
    commands.Start([&] { TypeDemoCommands(game, out, durationMs, stop); });

    WatchSequence sequence(client, notices);
    sequence.m_interrupted = interrupted;
    sequence.m_statusLine = &statusLine;
    const auto outcome = sequence.Run(liveId);
    stop.store(true);
    game.Stop();
    commands.Join();
    if (outcome == WatchOutcome::kInterrupted)
        return StopExitStatus(StopSignalNumber());
    if (outcome != WatchOutcome::kSessionEnded)
        return kExitFailure;
    out.Say(SessionSummary(game.Summarize()));
    server->Stop();
    return kExitOk;
}

} // namespace velt
