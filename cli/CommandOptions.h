#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
    bool m_keys = false; // the viewer's keys, when standard input is a terminal
};

// Parses a command's words and reads its options with `read` (bool(const CCommandLine&,
// std::string& error)). --help prints `usage` and ends the command with kExitOk; bad words print
// the reason and `usage` and end it with kExitUsage. Nothing is returned when the command goes on.
std::optional<int> ParseCommand(const char* command, const char* usage,
                                const std::vector<std::string>& args,
                                const CCommandLine::Grammar& grammar,
                                const std::function<bool(const CCommandLine&, std::string&)>& read);

// A command's grammar with the words of HostOptions added.
CCommandLine::Grammar WithHostOptions(CCommandLine::Grammar grammar);

// Reads the words of HostOptions; false with an error text on a bad value.
bool ReadHostOptions(const CCommandLine& line, HostOptions& options, std::string& error);

} // namespace velt
