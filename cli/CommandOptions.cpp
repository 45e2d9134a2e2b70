#include "cli/CommandOptions.h"

#include <cstdio>

#include "cli/Commands.h"

namespace velt
{

std::optional<int> ParseCommand(const char* command, const char* usage,
                                const std::vector<std::string>& args,
                                const CCommandLine::Grammar& grammar,
                                const std::function<bool(const CCommandLine&, std::string&)>& read)
{
    std::string error;
    const auto line = CCommandLine::Parse(args, grammar, error);
    if (line && line->Has("help"))
    {
        std::fputs(usage, stdout);
        return kExitOk;
    }
    if (!line || !read(*line, error))
    {
        std::fprintf(stderr, "velt %s: %s\n\n%s", command, error.c_str(), usage);
        return kExitUsage;
    }
    return std::nullopt;
}

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

CCommandLine::Grammar WithHostOptions(CCommandLine::Grammar grammar)
{
    grammar.m_valueOptions.insert({"sessions", "war3", "announce-port", "port-base"});
    grammar.m_flags.insert({"launch", "window", "opengl", "quiet"});
    return grammar;
}

bool ReadHostOptions(const CCommandLine& line, HostOptions& options, std::string& error)
{
    if (line.Value("sessions"))
    {
        const auto sessions = line.Number("sessions", 1, 1000000, error);
        if (!sessions)
            return false;
        options.m_sessions = static_cast<std::uint32_t>(*sessions);
    }
    if (line.Value("announce-port"))
    {
        const auto port = line.Number("announce-port", 1, 65535, error);
        if (!port)
            return false;
        options.m_ports.m_announcePort = static_cast<std::uint16_t>(*port);
    }
    if (line.Value("port-base"))
    {
        const auto port = line.Number("port-base", 0, 65535, error);
        if (!port)
            return false;
        options.m_ports.m_firstGamePort = static_cast<std::uint16_t>(*port);
    }
    options.m_quiet = line.Has("quiet");
    options.m_war3 = line.Value("war3");
    options.m_launch = line.Has("launch");
    options.m_window = line.Has("window");
    options.m_openGl = line.Has("opengl");
    return true;
}

} // namespace velt
