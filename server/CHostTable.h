#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "host/IPlayControl.h"
#include "host/mdns/CMdnsResponder.h"

namespace velt
{

class CLocalGameHost;

// A client's local game hosts, one per watched match: which headers were asked for, the hosts
// they made, the ports handed out, and the settings that new hosts take.
//
// Hosts are shared: the table holds one reference, and whoever works on a host outside the
// table lock (chunk routing, or a waiting front end) holds another for that time. So the lock
// is only ever held for a lookup, and a host closed meanwhile is destroyed when its last user
// lets go; its threads are already stopped and joined by then. Starting and stopping hosts is
// serialised by a second lock.
class CHostTable
{
public:
    // The longest delay behind a live match's edge that a viewer may choose, in seconds: the
    // hosts' own limit.
    static constexpr std::uint32_t kMaxLiveDelaySeconds = IPlayControl::kMaxLiveDelaySeconds;

    // The owner is what the hosts call back into; the notices take the multicast responder's
    // failures.
    CHostTable(IHostOwner& owner, IUserNotice& notices, LocalPortSettings ports);
    ~CHostTable();
    CHostTable(const CHostTable&) = delete;
    CHostTable& operator=(const CHostTable&) = delete;

    // A header of the match has been asked for; only such a header makes a host.
    void NoteHeaderRequested(std::uint32_t matchId);
    enum class HeaderOutcome
    {
        kUnasked, // no request of ours: nothing happens
        kRefused, // the game cannot take its packets: see HeaderProblem
        kHosted,  // the match's host is made and listens
    };
    // Takes a header that the server sent, making the match's host when it was asked for and
    // the game can take it; a host watching the same match gives way.
    HeaderOutcome TakeHeader(std::uint32_t matchId, std::span<const std::uint8_t> header);
    // A header asked for that cannot even be read (of the wrong size): only its problem is
    // kept; an existing host of the match stays, and the request stays open.
    void RefuseHeader(std::uint32_t matchId, std::string problem);
    // Why the latest header asked for of the match was refused, if it was.
    std::optional<std::string> HeaderProblem(std::uint32_t matchId) const;

    std::shared_ptr<CLocalGameHost> Find(std::uint32_t matchId) const;
    // Starts the listener of a host whose game has ended, or whose listener never opened.
    bool Resume(std::uint32_t matchId);
    // Stops the match's host, joins its threads and drops it; nothing without a host.
    void Close(std::uint32_t matchId);
    // Stops every host; the table is empty after.
    void CloseAll();
    // Waits until the table holds a host for the match.
    bool WaitForHost(std::uint32_t matchId, std::uint32_t timeoutMs);
    // Ports handed out so far.
    std::uint32_t HostsStarted() const;

    // For hosts made from now on.
    void SetTimings(HostTimings timings);
    void SetLiveDelay(std::uint32_t seconds);
    std::uint32_t LiveDelay() const;

    // Every host the table holds, running or not.
    std::vector<std::shared_ptr<CLocalGameHost>> All() const;
    // Hosts whose session runs (the game has joined).
    std::vector<std::shared_ptr<CLocalGameHost>> ActiveSessions() const;
    // Running sessions that still need the server: they do not hold their whole match, and
    // they have not been told that the server is gone.
    std::vector<std::shared_ptr<CLocalGameHost>> DownloadingSessions() const;

private:
    // Makes the match's host from a well-formed header and starts its listener.
    void Create(std::uint32_t matchId, std::span<const std::uint8_t> header);
    // The next port to hand out: the first port plus the hosts started, or 0 (a free port)
    // when the first port is 0. Counts the port as handed out.
    std::uint32_t TakeNextPort();
    // Close with m_controlMutex held.
    void CloseLocked(std::uint32_t matchId);

    IHostOwner& m_owner;
    const LocalPortSettings m_ports;

    // m_mutex guards the table, the count, the settings and the header records, and is held
    // only for lookups and changes; m_controlMutex orders the creation, resumption and closing
    // of hosts, which start and join their threads. Threads: the front end's (resume, close,
    // waits), the receive thread (creates hosts from headers, finds them for data), the link
    // keeper's (walks the sessions) and the hosts' session threads (their owner's calls).
    mutable std::mutex m_controlMutex;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unordered_map<std::uint32_t, std::shared_ptr<CLocalGameHost>> m_hosts;
    std::uint32_t m_hostsStarted = 0;
    // Shows the hosts' games of 1.30 and later to the game on this machine (docs/architecture.md).
    CSharedMdnsResponder m_mdns; // the program's one responder
    HostTimings m_timings;
    std::uint32_t m_liveDelaySeconds = 0;
    // Matches whose header has been asked for and not yet received.
    std::unordered_set<std::uint32_t> m_headersRequested;
    // What was wrong with the latest header asked for, per match.
    std::unordered_map<std::uint32_t, std::string> m_headerProblems;
};

} // namespace velt
