#pragma once

#include <cstdint>
#include <optional>
#include <set>
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

// The words of HostOptions, for a command's grammar.
inline const std::set<std::string> kHostValueOptions = {"sessions", "war3", "announce-port",
                                                        "port-base"};
inline const std::set<std::string> kHostFlags = {"launch", "window", "opengl", "quiet"};

// Reads the words of HostOptions; false with an error text on a bad value.
bool ReadHostOptions(const CCommandLine& line, HostOptions& options, std::string& error);

} // namespace velt
