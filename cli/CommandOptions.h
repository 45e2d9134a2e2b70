#pragma once

#include <cstdint>
#include <string>

#include "cli/CommandLine.h"
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

} // namespace velt
