#include <cstdio>

#include "cli/CliNotice.h"
#include "cli/CommandLine.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/MatchTable.h"
#include "platform/StopSignal.h"
#include "server/CMatchServerClient.h"
#include "server/ServerConnection.h"

namespace velt
{

namespace
{

constexpr const char* kListUsage = R"(Usage: velt list [--server HOST[:PORT]] [--channel N] [--tsv]

Connects to the match server and prints the channel's match list, newest start time first.

Options:
  --server HOST[:PORT]  the match server (default: $VELT_SERVER, else stream.velt.tv; port 999)
  --channel N           the channel to list (default 1)
  --tsv                 tab-separated lines with a header line, for programs
  --help                this text
)";

} // namespace

int RunListCommand(const std::vector<std::string>& args)
{
    CCommandLine::Grammar grammar{{"server", "channel"}, {"tsv", "help"}};
    ServerOptions options;
    bool tsv = false;
    const auto ended =
        ParseCommand("list", kListUsage, args, grammar,
                     [&](const CCommandLine& line, std::string& error)
                     {
                         if (!ReadServerOptions(line, options, error))
                             return false;
                         if (!line.Positional().empty())
                         {
                             error = "unexpected argument '" + line.Positional().front() + "'";
                             return false;
                         }
                         tsv = line.Has("tsv");
                         return true;
                     });
    if (ended)
        return *ended;

    InstallStopHandlers();
    CCliNotice notices;
    CMatchServerClient client(notices);
    client.SetChannelId(options.m_channel);
    client.QueryWarcraftInstallPath();
    std::string host = options.m_server.m_host;
    if (!RetrieveMatchList(client, host, options.m_server.m_port, kListWaitMs,
                           [] { return StopSignalNumber() != 0; }))
        return StopSignalNumber() != 0 ? StopExitStatus(StopSignalNumber()) : kExitFailure;
    const auto rows = MatchRows(client);
    const std::string text = tsv ? FormatTsv(rows) : FormatTable(rows);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
}

} // namespace velt
