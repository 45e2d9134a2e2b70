#pragma once

#include "host/IHostOwner.h"
#include "server/ServerAddress.h"

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace velt
{

extern const char* const kPlayerUsage;

// What the veltplayer command line asks for.
struct PlayerOptions
{
    // "--server HOST[:PORT]", else VELT_SERVER in the environment, else the operator's server.
    ServerAddress m_server;
    // "--announce-port P": where hosts announce their games (the game's LAN port, 6112).
    // "--port-base P": the first game port (10000); 0 gives every host a free port.
    LocalPortSettings m_ports;
    // "--demo": a stand-in match server with made-up matches, in the program itself.
    bool m_demo = false;
    bool m_help = false;
    // Replay files to open at start-up: every argument that is not an option.
    std::vector<std::string> m_files;
};

// Reads the arguments after the program name; each option also takes the "--option=value"
// form. Nothing, with a reason in error, for an unknown argument, a missing or bad value, or
// --demo together with --server.
std::optional<PlayerOptions> ParsePlayerArguments(const QStringList& arguments, std::string* error);

} // namespace velt
