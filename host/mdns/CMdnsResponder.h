#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
    // The loopback address: the first interface on which the group is joined (a failure there
    // is what the user is told of), and where everything goes out with multicast TTL 255.
    std::string m_sendInterface = "127.0.0.1";
    // Also join the group on this machine's other interfaces, and send probes, announcements,
    // answers and goodbyes there with the multicast TTL below: the game on this machine may
    // ask and listen through any of them (Bonjour for Windows uses loopback only when there is
    // no other interface), and TTL 0 keeps the datagrams off the wire (docs/architecture.md).
    bool m_hearOtherInterfaces = true;
    int m_otherInterfacesTtl = 0;
    MdnsTimings m_timings;
    // The interfaces are read again this often (and at each new game, and when an asker
    // comes from an address not known as this machine's, at most once a second).
    std::uint32_t m_interfaceCheckMs = 10000;
    // 0: the thread wakes only for a datagram, a deadline or the stop. Tests that move an
    // injected clock set a poll, as nothing tells the thread that their time has moved.
    std::uint32_t m_pollMs = 0;
    // Unix seconds, for the game's creation time; the system's clock unless a test sets one.
    std::function<std::uint64_t()> m_unixSeconds;
    // Tell the user at most once in the whole process (for the process's shared responder).
    bool m_tellOncePerProcess = false;
};

// The multicast DNS responder that shows the games of a program's hosts to Warcraft III 1.30
// and later: one socket on port 5353, one join of the group per interface, one notice if that
// fails. A program has one (Shared), which every client, channel and opened file publishes to,
// so that its games never compete with each other for names and the user is told once.
//
// The socket opens with the first game to show; if it cannot be opened or cannot join the
// group on loopback, the user is told once (as information, not as a failure) why a newer game
// will not see the match, and hosts go on with their UDP announcement alone.
//
// Threads: hosts publish and withdraw from their own threads; the first probe (or announcement)
// and the goodbye go out at once on the caller's thread, so a goodbye has left when Withdraw
// returns. The responder's own thread answers queries, sends the later probes, the second
// announcements and the refreshes, and reads the interfaces again; it sleeps until a datagram,
// the next of these or the stop. Stop (and the destructor) says goodbye for every game still
// shown and joins it.
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
    // Whether the key's game is shown (probing included), and under which instance name.
    bool Shows(const void* host) const;
    // Whether the key's game has won its name and is announced.
    bool Announced(const void* host) const;
    std::optional<DnsName> InstanceOf(const void* host) const;

private:
    // With m_mutex held: opens the socket and starts the thread unless they run; false (after
    // telling the user, once) when multicast DNS cannot work here.
    bool EnsureOpenLocked();
    // With m_mutex held: reads the interfaces, joins the group on new ones, leaves it on gone
    // ones.
    void RefreshInterfacesLocked(std::uint64_t nowMs);
    void Run();
    void Send(const std::vector<MdnsDatagram>& datagrams);
    MdnsAsker Classify(const DatagramSource& source, std::uint64_t nowMs);

    struct Interface
    {
        std::string m_address;
        bool m_loopback = false;
        bool m_joined = false;
    };

    IUserNotice& m_notices;
    IClock& m_clock;
    const MdnsSettings m_settings;

    // The zone, the interfaces, opening and closing: the responder's thread and the publishing
    // hosts' threads.
    mutable std::mutex m_mutex;
    CMdnsZone m_zone;
    std::vector<Interface> m_interfaces;      // loopback first, then the others
    std::vector<std::string> m_ownAddresses; // this machine's, as last read
    std::uint64_t m_nextInterfaceCheckMs = 0;
    std::uint64_t m_lastUnknownCheckMs = 0;
    bool m_told = false;

    CMulticastSocket m_socket;
    std::atomic<bool> m_stopping{false}; // set by Stop (the last holder's thread)
    CThread m_thread;
};

// What a client holds: the program's one responder, made by the first holder and ended with
// the last. Its notice goes to the oldest holder's notices still there, once in the process.
class CSharedMdnsResponder final : public IMdnsPublisher
{
public:
    explicit CSharedMdnsResponder(IUserNotice& notices);
    ~CSharedMdnsResponder() override;
    CSharedMdnsResponder(const CSharedMdnsResponder&) = delete;
    CSharedMdnsResponder& operator=(const CSharedMdnsResponder&) = delete;

    void Publish(const void* host, std::span<const std::uint8_t> announcement) override
    {
        m_responder->Publish(host, announcement);
    }
    void Withdraw(const void* host) override { m_responder->Withdraw(host); }
    CMdnsResponder& Responder() { return *m_responder; }

private:
    IUserNotice& m_notices;
    std::shared_ptr<CMdnsResponder> m_responder;
};

} // namespace velt
