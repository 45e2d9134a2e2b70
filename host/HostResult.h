#pragma once

#include <cstdint>

namespace velt
{

// What a feed step, a hold or the handling of a packet from the game tells its caller.
enum class HostResult : std::uint8_t
{
    kStartRequested = 1, // a start word was typed in the lobby
    kContinue = 2,       // nothing for the caller to do
    kSessionOver = 3,    // the game left (and was acknowledged), or the stream has ended
    kConnectionLost = 4, // sending to or reading from the game failed
    kForceStart = 6,     // a force-start word was typed in the lobby
};

// The two results after which a session does not go on.
constexpr bool EndsSession(HostResult result)
{
    return result == HostResult::kSessionOver || result == HostResult::kConnectionLost;
}

// What handling one packet from the game tells whoever read it: read on (it was not the
// packet waited for: a line, a command), or stop with a result (a keepalive, a leave, a jump
// that has taken the keepalive, a start word in the lobby).
struct PacketOutcome
{
    bool m_readOn = true;
    HostResult m_result = HostResult::kContinue;
};

} // namespace velt
