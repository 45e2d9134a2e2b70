#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "platform/Event.h"
#include "platform/UserNotice.h"
#include "server/CHostTable.h"
#include "server/CLinkKeeper.h"
#include "server/CLinkSupervisor.h"
#include "server/CMatchInfo.h"
#include "server/CMatchServerConnection.h"
#include "server/CWarcraftFolder.h"
#include "server/MatchCatalogue.h"
#include "server/MatchStats.h"

namespace velt
{

class CLocalGameHost;

// The program's side of the conversation with the match server, one per channel. It owns and
// wires the parts: the connection and its dispatch (CMatchServerConnection), the channel's
// catalogue and statistics, the local game hosts (CHostTable), the keeper of the server link
// (CLinkKeeper), the Warcraft III folder (CWarcraftFolder), and the chat display switches that
// the in-game commands change. The hosts call back into it as their owner.
//
// Threads: the user interface connects, requests lists and headers, reads the tables and
// resumes hosts; the receive thread writes the tables, sets the events, creates hosts and
// writes game data into them; local game hosts ask for game data and send ratings. The tables
// are guarded by locks; readers take snapshots.
class CMatchServerClient : public IHostOwner, private IServerMessages
{
public:
    // Longest Warcraft III folder text kept (a 292-byte field with its NUL).
    static constexpr std::size_t kMaxWarcraftPathLength = CWarcraftFolder::kMaxPathLength;
    // The longest delay behind a live match's edge that a viewer may choose, in seconds.
    static constexpr std::uint32_t kMaxLiveDelaySeconds = CHostTable::kMaxLiveDelaySeconds;

    explicit CMatchServerClient(IUserNotice& notices = CStderrNotice::Instance(),
                                LocalPortSettings ports = {});
    ~CMatchServerClient() override;
    CMatchServerClient(const CMatchServerClient&) = delete;
    CMatchServerClient& operator=(const CMatchServerClient&) = delete;

    void SetChannelId(std::uint32_t channelId);
    std::uint32_t GetChannelId() const;

    // Connects to a dotted-decimal IPv4 address and starts the receive thread; closes the
    // previous connection first. True when the connection and its thread are up. The connect
    // gives up after timeoutMs, or when cancelled() turns true.
    bool Connect(const std::string& dottedIp, std::uint16_t port,
                 std::uint32_t timeoutMs = kListWaitMs,
                 const std::function<bool()>& cancelled = {});
    bool IsConnected() const;

    // Set when the server ends a match list / refuses the channel. Auto-reset.
    CEvent& ListEndEvent() { return m_connection.ListEndEvent(); }
    CEvent& ChannelInvalidEvent() { return m_connection.ChannelInvalidEvent(); }

    // Asks for the channel's match list. False (and not connected) when the send fails.
    bool RequestMatchList();
    // Asks for a match's replay header. False (and not connected) when the send fails. The
    // answer creates the match's host on the receive thread; a header that answers no request
    // of this client creates nothing.
    bool RequestReplayHeader(std::uint32_t matchId);
    // Asks for stream data of a match from an offset; nothing when not connected. A failed send
    // tells the user "Disconnected from server!".
    void RequestGameData(std::uint32_t matchId, std::uint32_t offset) override;
    void SubmitRating(std::uint32_t matchId, std::uint8_t rating) override;

    enum class ListOutcome
    {
        kListEnd,
        kChannelInvalid,
        kTimeOut,
        kConnectionLost, // the server closed or reset the connection before the end
        kCancelled,      // cancelled() turned true
    };
    // The list exchange as a front end runs it: resets ListEndEvent, sends the request, and
    // waits for the refusal or the end, the refusal first. A connection that ends meanwhile
    // ends the wait at once. Connecting first is the caller's.
    ListOutcome FetchMatchList(std::uint32_t timeoutMs = kListWaitMs,
                               const std::function<bool()>& cancelled = {});
    // How often the list wait looks at the connection and at cancelled().
    static constexpr std::uint32_t kListWaitSliceMs = 50;

    // The catalogue with each match's statistics, taken at one moment.
    std::vector<CatalogueEntry> CatalogueSnapshot() const;
    std::optional<CMatchInfo> FindMatch(std::uint32_t matchId) const;
    std::optional<MatchStats> FindStats(std::uint32_t matchId) const;

    // The Warcraft III folder, normally ending in a separator; cut to kMaxWarcraftPathLength.
    void SetWarcraftPath(const std::string& folder) { m_warcraft.Set(folder); }
    std::string GetWarcraftPath() const { return m_warcraft.Get(); }
    // Whether the folder text followed by the relative path names an existing file.
    bool MapFileExists(const std::string& relativePath) override;
    // The folder from Warcraft III's registry entry (under Wine, the prefix's user registry),
    // ending in a separator; also stored as the folder. Empty, and the folder unchanged, when
    // there is no entry.
    std::string QueryWarcraftInstallPath() { return m_warcraft.QueryInstallPath(); }

    // Why the latest header of a match that this client asked for could not be hosted (the
    // user has been told that it could not), if it could not.
    std::optional<std::string> HeaderProblem(std::uint32_t matchId) const;

    // Local game hosts, one per watched match.
    bool HasHost(std::uint32_t matchId) const;
    // Starts the listener of a host whose game has ended, on its port, so that the game can
    // join again and replay the buffered stream. False when there is no such host, its game
    // still runs, or no game has run on it yet.
    bool ResumeHost(std::uint32_t matchId);
    // Stops the match's host, joins its threads and destroys it; nothing without a host.
    void CloseHost(std::uint32_t matchId);
    // Waits until the client holds a host for the match (its header has arrived).
    bool WaitForHost(std::uint32_t matchId, std::uint32_t timeoutMs);
    // Waits until a session of the match's host has ended since its listener last started.
    bool WaitSessionEnded(std::uint32_t matchId, std::uint32_t timeoutMs);
    // The port the match's host listens on (or was given), if the client holds a host.
    std::optional<std::uint16_t> HostPort(std::uint32_t matchId) const;
    // The match's host, shared, for front ends and tests that look at its state. Do not keep
    // it beyond the client's life.
    std::shared_ptr<CLocalGameHost> FindHost(std::uint32_t matchId) const;
    // Every host the client holds, for front ends that show them all.
    std::vector<std::shared_ptr<CLocalGameHost>> Hosts() const;
    // Ports handed out so far.
    std::uint32_t HostsStarted() const;
    // Timings of hosts created from now on; tests shorten them.
    void SetHostTimings(HostTimings timings);
    // Seconds that hosts created from now on stay behind the live edge of a live match (the
    // viewer's --live-delay or "livedelay" setting); 0 plays at the edge. Front ends keep it
    // within kMaxLiveDelaySeconds.
    void SetLiveDelay(std::uint32_t seconds);
    std::uint32_t LiveDelay() const;

    // Starts watching the connection while a host's session runs (a thread of the client's):
    // a lost or silent server is told to the viewer, reconnected to and asked again for the
    // data from where each host's buffer ends; after the policy's limit the sessions end with
    // the leave acknowledgement. Only sessions that still download count: a game whose data is
    // all held hears nothing of the server, and the server is reconnected to without a word
    // when a rating or a data request needs it. A connection made by anyone (the desktop's
    // Connect and Refresh too) is taken as the supervisor's own. Once per client.
    void SuperviseServerLink(ReconnectPolicy policy);
    bool SupervisesServerLink() const override;
    // Whether a session ended because the server did not come back in time.
    bool ServerGivenUp() const;

    ChatDisplaySwitches& DisplaySwitches() override { return m_displaySwitches; }
    IUserNotice& Notices() override { return m_notices; }
    const LocalPortSettings& PortSettings() const { return m_ports; }

private:
    // Tests, fuzz targets and benchmarks reach the connection below the front ends' calls
    // through tests/doubles/ClientTestAccess.h.
    friend struct ClientTestAccess;

    // The receive thread's messages.
    void OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation) override;
    void OnMatchRecord(std::span<const std::uint8_t> payload) override;
    void OnReplayHeader(std::span<const std::uint8_t> payload) override;
    void OnMatchStats(std::span<const std::uint8_t> payload) override;

    // Keeps the catalogue's length of a match in step with the data chunks.
    void UpdateMatchLength(std::uint32_t matchId, std::uint16_t seconds);
    // The rating message of this client's channel, the rating clamped to the server's range.
    std::vector<std::uint8_t> RateMessage(std::uint32_t matchId, std::uint8_t rating) const;
    // Sends a rating on the current connection; false when the send failed.
    bool SendRating(std::uint32_t matchId, std::uint8_t rating);

    IUserNotice& m_notices;
    const LocalPortSettings m_ports;

    // Guards the catalogue and statistics tables: the receive thread writes them, the front
    // end's thread and the hosts' session threads read them.
    mutable std::mutex m_tableMutex;
    std::unordered_map<std::uint32_t, CMatchInfo> m_catalogue;
    std::unordered_map<std::uint32_t, MatchStats> m_stats;

    // Set by the front end's thread; read by the receive thread and the hosts' session threads.
    std::atomic<std::uint32_t> m_channelId{1};
    CWarcraftFolder m_warcraft;
    // The viewer's /obmsg, /pmsg and /pingmsg: for every match this client shows.
    ChatDisplaySwitches m_displaySwitches;

    // In the order of their stopping, last first: the keeper connects and talks to hosts, the
    // receive thread routes data into hosts, and hosts call back into the client.
    CHostTable m_hosts;
    CMatchServerConnection m_connection;
    CLinkKeeper m_keeper;
};

} // namespace velt
