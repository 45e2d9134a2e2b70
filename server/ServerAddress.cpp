#include "server/ServerAddress.h"

#include <charconv>
#include <cstdlib>

namespace velt
{

std::optional<ServerAddress> ParseServerAddress(std::string_view text)
{
    ServerAddress address;
    const auto colon = text.rfind(':');
    std::string_view host = text;
    if (colon != std::string_view::npos)
    {
        host = text.substr(0, colon);
        const std::string_view port = text.substr(colon + 1);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() ||
            value == 0 || value > 65535)
            return std::nullopt;
        address.m_port = static_cast<std::uint16_t>(value);
    }
    if (host.empty())
        return std::nullopt;
    address.m_host = std::string(host);
    return address;
}

ServerAddress DefaultServerAddress()
{
    if (auto address = ServerFromEnvironment().m_address)
        return *address;
    return ServerAddress{kDefaultServerHost, kDefaultServerPort};
}

EnvironmentServer ServerFromEnvironment()
{
    EnvironmentServer server;
    if (const char* value = std::getenv(kServerEnvironmentVariable); value != nullptr)
    {
        server.m_text = value;
        server.m_address = ParseServerAddress(value);
    }
    return server;
}

} // namespace velt
