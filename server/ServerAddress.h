#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velt
{

// The operator's match server, unless the user names another one.
inline constexpr const char* kDefaultServerHost = "stream.velt.tv";
inline constexpr std::uint16_t kDefaultServerPort = 999;
// Environment variable that overrides the default server, as HOST[:PORT].
inline constexpr const char* kServerEnvironmentVariable = "VELT_SERVER";

struct ServerAddress
{
    std::string m_host;
    std::uint16_t m_port = kDefaultServerPort;
};

// "HOST" or "HOST:PORT"; the port is 999 when not given. Nothing for an empty host or a port
// that is not a number from 1 to 65535.
std::optional<ServerAddress> ParseServerAddress(std::string_view text);

// The environment's VELT_SERVER when it is set and valid, else the default server.
ServerAddress DefaultServerAddress();

// VELT_SERVER as the environment holds it, so that the programs can refuse a value that is not
// an address as they refuse such a --server, instead of going to the default server.
struct EnvironmentServer
{
    std::optional<std::string> m_text;      // nothing when the variable is unset
    std::optional<ServerAddress> m_address; // nothing when unset or not HOST[:PORT]
};
EnvironmentServer ServerFromEnvironment();

} // namespace velt
