#include "cli/CommandOptions.h"

namespace velt
{

bool ReadServerOptions(const CCommandLine& line, ServerOptions& options, std::string& error)
{
    if (const auto server = line.Value("server"))
    {
        const auto address = ParseServerAddress(*server);
        if (!address)
        {
            error = "option '--server' needs HOST or HOST:PORT with a port from 1 to 65535, not '" +
                    *server + "'";
            return false;
        }
        options.m_server = *address;
    }
    else if (const EnvironmentServer environment = ServerFromEnvironment();
             environment.m_text && !environment.m_address)
    {
        // As a bad --server is: going to the default server instead would hide the mistake.
        error = std::string("the environment variable ") + kServerEnvironmentVariable +
                " needs HOST or HOST:PORT with a port from 1 to 65535, not '" +
                *environment.m_text + "'";
        return false;
    }
    if (line.Value("channel"))
    {
        const auto channel = line.Number("channel", 0, 0xFFFFFFFFLL, error);
        if (!channel)
            return false;
        options.m_channel = static_cast<std::uint32_t>(*channel);
    }
    return true;
}

} // namespace velt
