#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/DataChunk.h"
#include "platform/UserNotice.h"

namespace velt
{

// The three display switches that the viewer's chat commands change. They belong to the
// owning match server client and so hold for every match that client shows. Safe from any thread.
class ChatDisplaySwitches
{
public:
    // In the order of the commands' rows and texts.
    enum class Kind : std::uint8_t
    {
        kObserverChat,
        kPlayerChat,
        kMapPings,
    };
    static constexpr std::size_t kKinds = 3;

    bool Shown(Kind kind) const { return m_shown[Index(kind)].load(); }
    void Show(Kind kind, bool shown) { m_shown[Index(kind)].store(shown); }

private:
    static std::size_t Index(Kind kind) { return static_cast<std::size_t>(kind); }

    // Any session of the client's sets and reads them.
    std::array<std::atomic<bool>, kKinds> m_shown{true, true, true};
};

// Local ports a client's hosts use. Configurable so that tests can run side by side.
struct LocalPortSettings
{
    std::uint16_t m_announcePort = 6112;   // UDP port the game listens on for LAN games
    std::uint16_t m_firstGamePort = 10000; // first TCP port handed to a host
    // Show games of 1.30 and later over multicast DNS too (UDP 5353); tests outside a network
    // namespace of their own turn it off, so that no multicast leaves them.
    bool m_mdns = true;
};

// What a local game host needs from its owner (the match server client). Narrow on purpose,
// so that the host can be run against a small owner of a test's own.
class IHostOwner
{
public:
    virtual ~IHostOwner() = default;

    // Asks the server for stream data of a match from an offset. Sent only while connected.
    virtual void RequestGameData(std::uint32_t matchId, std::uint32_t offset) = 0;
    // Whether the Warcraft III folder followed by the relative map path names an existing file.
    virtual bool MapFileExists(const std::string& relativePath) = 0;
    // Sends the viewer's rating (1 to 5) of a match to the server; no answer comes back.
    virtual void SubmitRating(std::uint32_t matchId, std::uint8_t rating) = 0;
    virtual ChatDisplaySwitches& DisplaySwitches() = 0;
    // Where the host's message boxes go (listener failures).
    virtual IUserNotice& Notices() = 0;
    // Whether the owner watches the server connection during a session and reconnects by
    // itself. Then a silent server does not end a session at the end of the data: the owner
    // tells the game and, if the server does not come back, ends the session itself.
    virtual bool SupervisesServerLink() const { return false; }
};

} // namespace velt
