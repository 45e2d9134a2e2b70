#pragma once

#include <cstdint>

namespace velt
{

// What a feed step or the handling of a packet from the game tells its caller.
enum class HostResult : std::uint8_t
{
    kStartRequested = 1, // a start word was typed in the lobby
    kContinue = 2,       // nothing for the caller to do
    kSessionOver = 3,    // the game left (and was acknowledged), or the stream has ended
    kConnectionLost = 4, // sending to or reading from the game failed
    kSpeedChanged = 5,   // a speed command was handled; the pending keepalive is still unread
    kForceStart = 6,     // a force-start word was typed in the lobby
};

// The two results after which a session does not go on.
constexpr bool EndsSession(HostResult result)
{
    return result == HostResult::kSessionOver || result == HostResult::kConnectionLost;
}

} // namespace velt
