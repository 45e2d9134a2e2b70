#pragma once

#include <cstdint>
#include <span>

namespace velt
{

// Where a local game host shows its game to Warcraft III 1.30 and later, besides the UDP
// announcement. Keyed by the host; callable from any thread.
class IMdnsPublisher
{
public:
    virtual ~IMdnsPublisher() = default;
    // Shows the game of the host's announcement (0x30, its port patched in) and announces it,
    // or announces it again; nothing when the announcement's game version finds LAN games
    // otherwise.
    virtual void Publish(const void* host, std::span<const std::uint8_t> announcement) = 0;
    // Sends the game's goodbye and no longer shows it; nothing when it is not shown.
    virtual void Withdraw(const void* host) = 0;
};

} // namespace velt
