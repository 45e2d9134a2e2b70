#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "host/mdns/CMdnsZone.h"
#include "host/mdns/IMdnsPublisher.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "platform/UserNotice.h"

namespace velt
{

struct MdnsSettings
{
    std::uint16_t m_port = kMdnsPort;
    // The interface that announcements, goodbyes and answers to the group go out on (so also
    // their source address), and the first on which the group is joined. Loopback only: the
    // game on this machine hears it, the LAN does not.
    std::string m_sendInterface = "127.0.0.1";
    // Also join the group on this machine's other interfaces, to hear the game on this machine
    // ask through one of them; it is answered by unicast.
    bool m_hearOtherInterfaces = true;
    MdnsTimings m_timings;
    // How often the responder's thread looks at its schedule and at a stop.
    std::uint32_t m_pollMs = 50;
    // Unix seconds, for the game's creation time; the system's clock unless a test sets one.
    std::function<std::uint64_t()> m_unixSeconds;
};

// The multicast DNS responder that shows the games of a client's hosts to Warcraft III 1.30
// and later (one responder for all the hosts of one client: one socket on port 5353, one join
// of the group, and one notice if that fails).
//
// The socket opens with the first game to show; if it cannot be opened or cannot join the
// group on the send interface, the user is told once (as information, not as a failure) why a
// newer game will not see the match, and hosts go on with their UDP announcement alone.
//
// Threads: hosts publish and withdraw from their own threads; the first announcement and the
// goodbye go out at once on the caller's thread, so a goodbye has left when Withdraw returns.
// The responder's own thread answers queries and sends the second announcements and the
// refreshes. Stop (and the destructor) says goodbye for every game still shown and joins it.
class CMdnsResponder final : public IMdnsPublisher
{
public:
    explicit CMdnsResponder(IUserNotice& notices, IClock& clock = CSystemClock::Instance(),
                            MdnsSettings settings = {});
    ~CMdnsResponder() override;
    CMdnsResponder(const CMdnsResponder&) = delete;
    CMdnsResponder& operator=(const CMdnsResponder&) = delete;

    void Publish(const void* host, std::span<const std::uint8_t> announcement) override;
    void Withdraw(const void* host) override;
    // Goodbye for every game, then the thread ends and the socket closes. Publishing again
    // opens them anew.
    void Stop();

    // Whether the socket is open and its thread runs.
    bool Running() const;
    // Whether the key's game is shown, and under which instance name.
    bool Shows(const void* host) const;
    std::optional<DnsName> InstanceOf(const void* host) const;

private:
    // With m_mutex held: opens the socket and starts the thread unless they run; false (after
    // telling the user, once) when multicast DNS cannot work here.
    bool EnsureOpenLocked();
    void Run();
    void Send(const std::vector<MdnsDatagram>& datagrams);
    MdnsAsker Classify(const DatagramSource& source) const;

    IUserNotice& m_notices;
    IClock& m_clock;
    const MdnsSettings m_settings;

    mutable std::mutex m_mutex; // the zone, the addresses, opening and closing
    CMdnsZone m_zone;
    std::vector<std::string> m_ownAddresses; // this machine's, when the socket opened
    bool m_told = false;

    CMulticastSocket m_socket;
    std::atomic<bool> m_stopping{false};
    CThread m_thread;
};

} // namespace velt
