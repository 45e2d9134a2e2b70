#pragma once

#include <cstdint>
#include <string>

#include "cli/CStatusLine.h"
#include "cli/CliNotice.h"
#include "cli/CommandOptions.h"
#include "server/CMatchServerClient.h"

namespace velt
{

// Gives the client the Warcraft III folder of --war3, else the one of Warcraft III's registry
// entry; returns it (empty when there is none).
std::string TakeWarcraftFolder(CMatchServerClient& client, const HostOptions& options);

// What velt watch and velt play do once the client is connected: the server link is
// supervised, and the Watch! sequence runs once per session (--sessions), with the launch and
// the status line, until every session has ended, a failure has been told, or the user stops
// the command. Returns the command's exit status.
int RunHostedSessions(CMatchServerClient& client, CCliNotice& notices, CStatusLine& statusLine,
                      const HostOptions& options, const std::string& warcraftFolder,
                      std::uint32_t matchId, const ReconnectPolicy& reconnect);

} // namespace velt
