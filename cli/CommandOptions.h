#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/CommandLine.h"
#include "host/IHostOwner.h"
#include "server/ServerAddress.h"

namespace velt
{

// Options that every command that talks to a match server takes.
struct ServerOptions
{
    ServerAddress m_server = DefaultServerAddress();
    std::uint32_t m_channel = 1;
};

// Reads --server and --channel; false with an error text on a bad value.
bool ReadServerOptions(const CCommandLine& line, ServerOptions& options, std::string& error);

// Options of the commands that host a match for the game (watch, play): how many sessions, the
// Warcraft III folder and its launch, the local ports, the status line.
struct HostOptions
{
    std::uint32_t m_sessions = 1;
    std::optional<std::string> m_war3;
    LocalPortSettings m_ports;
    bool m_quiet = false;
    bool m_launch = false;
    bool m_window = false;
    bool m_openGl = false;
};

// A command's grammar with the words of HostOptions added.
CCommandLine::Grammar WithHostOptions(CCommandLine::Grammar grammar);

// Reads the words of HostOptions; false with an error text on a bad value.
bool ReadHostOptions(const CCommandLine& line, HostOptions& options, std::string& error);

} // namespace velt
