#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
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
#include "host/mdns/CMdnsResponder.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/UserNotice.h"
#include "server/CLinkSupervisor.h"
#include "server/CMatchInfo.h"
#include "server/MatchCatalogue.h"
#include "server/MatchStats.h"

namespace velt
{

class CLocalGameHost;
class CTcpSocket;

// The lines the viewer sees in the game while the server is away.
inline constexpr const char* kServerLostLine =
    "[VELT] Lost the connection to the server, reconnecting...";
inline constexpr const char* kServerBackLine = "[VELT] The server is back, the match goes on.";
inline constexpr const char* kServerGoneLine =
    "[VELT] The server did not come back, the session ends.";

// The program's side of the conversation with the match server, one per channel: the
// connection and its receive thread, the channel's catalogue and statistics, the Warcraft III
// folder, and the chat display switches that the in-game commands change.
//
// Threads: the user interface connects, requests lists and headers, reads the tables and
// resumes hosts; the receive thread writes the tables, sets the events, creates hosts and
// writes game data into them; local game hosts ask for game data and send ratings. The tables
// are guarded by locks; readers take snapshots.
//
// Hosts are shared: the table holds one reference, and whoever works on a host outside the
// table lock (chunk routing, or a waiting front end)
// holds another for that time. So the lock is only ever held for a lookup, and a host closed
// meanwhile is destroyed when its last user lets go; its threads are already stopped and joined
// by then. Starting and stopping hosts is serialised by a second lock.
class CMatchServerClient : public IHostOwner
{
public:
    // Longest Warcraft III folder text kept (a 292-byte field with its NUL).
    static constexpr std::size_t kMaxWarcraftPathLength = 291;
    // The registry value is read into a buffer of this size, its terminator included.
    static constexpr std::size_t kInstallPathBytes = 255;
    // The longest delay behind a live match's edge that a viewer may choose, in seconds.
    static constexpr std::uint32_t kMaxLiveDelaySeconds = 600;

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
    CEvent& ListEndEvent() { return m_listEndEvent; }
    CEvent& ChannelInvalidEvent() { return m_channelInvalidEvent; }

    // Asks for the channel's match list. False (and not connected) when the send fails.
    bool RequestMatchList();
    // Asks for a match's replay header. False (and not connected) when the send fails. The
    // answer creates the match's host on the receive thread; a header that answers no request
    // of this client creates nothing.
    bool RequestReplayHeader(std::uint32_t matchId);
    // Asks for stream data of a match from an offset; nothing when not connected. A failed send
    // tells the user "Disconnected from server!".
    void RequestGameData(std::uint32_t matchId, std::uint32_t offset) override;
    // Sends caller-built bytes on the connection; the send result unchanged (-1 on failure).
    int SendRaw(const std::uint8_t* data, std::size_t size);
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
    void SetWarcraftPath(const std::string& folder);
    std::string GetWarcraftPath() const;
    // Whether the folder text followed by the relative path names an existing file.
    bool MapFileExists(const std::string& relativePath) override;
    // The folder from Warcraft III's registry entry (under Wine, the prefix's user registry),
    // ending in a separator; also stored as the folder. Empty, and the folder unchanged, when
    // there is no entry.
    std::string QueryWarcraftInstallPath();

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

    // Handles one frame's code byte and payload as the receive thread does. For tools that
    // feed frames without a socket.
    void DispatchFrame(std::span<const std::uint8_t> body);

    // Frames dispatched so far on every connection, and receive threads not yet ended;
    // for tests and benchmarks that wait for the receive side.
    std::uint64_t FramesDispatched() const;
    std::size_t ReceiveThreadsRunning() const;

private:
    struct Connection;
    using Handler = void (CMatchServerClient::*)(std::span<const std::uint8_t> payload,
                                                 std::uint64_t generation);
    struct DispatchRow
    {
        std::uint8_t m_first;
        std::uint8_t m_last;
        Handler m_handler;
    };
    static const DispatchRow kDispatchTable[];

    void ReceiveLoop(std::shared_ptr<CTcpSocket> socket, std::uint64_t generation);
    void Dispatch(std::span<const std::uint8_t> body, std::uint64_t generation);

    void OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnMatchRecord(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnReplayHeader(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnIgnored(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnChannelInvalid(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnListEnd(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnMatchStats(std::span<const std::uint8_t> payload, std::uint64_t generation);

    // Creates the match's host from a well-formed header and starts its listener.
    void CreateHost(std::uint32_t matchId, std::span<const std::uint8_t> header);
    // The next port to hand out: the first port plus the hosts started, or 0 (a free port)
    // when the first port is 0. Counts the port as handed out.
    std::uint32_t TakeNextPort();
    // CloseHost with m_hostControlMutex held.
    void CloseHostLocked(std::uint32_t matchId);
    // Keeps the catalogue's length of a match in step with the data chunks.
    void UpdateMatchLength(std::uint32_t matchId, std::uint16_t seconds);

    // The current connection's socket and generation, or no socket.
    std::pair<std::shared_ptr<CTcpSocket>, std::uint64_t> CurrentSocket() const;
    // Sends on the current socket; clears the flag of that connection when the send fails.
    bool SendRequest(std::span<const std::uint8_t> frame);
    // Clears the connected flag if the connection of that generation is still the current one;
    // lost: the server or the network ended it.
    void ClearConnected(std::uint64_t generation, bool lost = false);
    void ReapEndedConnections();

    void SuperviseLoop(ReconnectPolicy policy);
    // What the supervisor looks at, taken at one moment.
    LinkObservation ObserveLink(const ReconnectPolicy& policy, std::uint64_t nowMs) const;
    // Carries out one look's decisions; false when a reconnect was tried.
    bool ActOnLink(const LinkActions& actions, bool connected, bool needed);
    // Hosts whose session runs (the game has joined).
    std::vector<std::shared_ptr<CLocalGameHost>> ActiveSessions() const;
    // Running sessions that still need the server: they do not hold their whole match, and
    // they have not been told that the server is gone.
    std::vector<std::shared_ptr<CLocalGameHost>> DownloadingSessions() const;
    // Shuts the current connection down, as a server that closed it would.
    void DropConnection();
    // Whether the current connection is up; the newest connection's number and the data answers
    // it brought, up or not; one moment's.
    struct LinkState
    {
        bool m_connected = false;
        std::uint64_t m_generation = 0;
        std::uint64_t m_answers = 0;
    };
    LinkState CurrentLinkState() const;
    // Ratings that could not go out for want of a connection, sent once one is up.
    void SendWaitingRatings();
    // The back line to the sessions told of the loss, once.
    void TellServerBack();

    IUserNotice& m_notices;
    const LocalPortSettings m_ports;

    mutable std::mutex m_tableMutex; // guards the catalogue and statistics tables
    std::unordered_map<std::uint32_t, CMatchInfo> m_catalogue;
    std::unordered_map<std::uint32_t, MatchStats> m_stats;

    std::atomic<std::uint32_t> m_channelId{1};
    CEvent m_listEndEvent{CEvent::Kind::kAutoReset};
    CEvent m_channelInvalidEvent{CEvent::Kind::kAutoReset};
    std::atomic<bool> m_connected{false};

    // Connect runs one at a time; m_connectionMutex guards the current connection and the
    // generation against the senders and the ending receive threads.
    mutable std::mutex m_connectMutex;
    mutable std::mutex m_connectionMutex;
    std::unique_ptr<Connection> m_current;
    std::atomic<std::uint64_t> m_generation{0};
    // Replaced connections whose receive threads may still run; joined once ended.
    std::vector<std::unique_ptr<Connection>> m_retired;

    mutable std::mutex m_folderMutex;
    std::string m_warcraftPath;
    // The viewer's /obmsg, /pmsg and /pingmsg: for every match this client shows.
    ChatDisplaySwitches m_displaySwitches;

    // Hosts: m_hostMutex guards the table, the count and the timings, and is held only for
    // lookups and changes of the table; m_hostControlMutex orders the creation, resumption and
    // closing of hosts, which start and join their threads.
    mutable std::mutex m_hostControlMutex;
    mutable std::mutex m_hostMutex;
    std::condition_variable m_hostsChanged;
    std::unordered_map<std::uint32_t, std::shared_ptr<CLocalGameHost>> m_hosts;
    std::uint32_t m_hostsStarted = 0;
    // Shows the hosts' games of 1.30 and later to the game on this machine (docs/architecture.md).
    CMdnsResponder m_mdns{m_notices};
    HostTimings m_hostTimings;
    std::uint32_t m_liveDelaySeconds = 0; // under m_hostMutex
    // Matches whose header this client has asked for and not yet received (under m_hostMutex).
    std::unordered_set<std::uint32_t> m_headersRequested;
    // What was wrong with the latest header asked for, per match (under m_hostMutex).
    std::unordered_map<std::uint32_t, std::string> m_headerProblems;
    // Set when the server or the network ended the current connection, until a data request
    // has told the user.
    std::atomic<bool> m_connectionLost{false};

    std::atomic<std::uint64_t> m_framesDispatched{0};

    // The address of the last successful Connect (under m_connectionMutex), for reconnecting.
    std::string m_serverIp;
    std::uint16_t m_serverPort = 0;
    // When the oldest data request still unanswered went out (0: none).
    std::atomic<std::uint64_t> m_requestPendingSince{0};
    std::atomic<bool> m_supervised{false};
    std::atomic<bool> m_givenUp{false};
    // The sessions told of the current loss, to be told of the return: by the supervisor, or
    // by the receive thread at the first answer of a new connection.
    std::mutex m_toldLostMutex;
    std::vector<std::weak_ptr<CLocalGameHost>> m_toldLost;
    // A host asked for data while no connection was up and no session downloads.
    std::atomic<bool> m_requestWanted{false};
    struct WaitingRating
    {
        std::uint32_t m_matchId = 0;
        std::uint8_t m_rating = 0;
    };
    // At most one per match (a match is rated once); bounded all the same.
    static constexpr std::size_t kMaxWaitingRatings = 64;
    mutable std::mutex m_ratingsMutex;
    std::vector<WaitingRating> m_waitingRatings;
    CEvent m_supervisorStop{CEvent::Kind::kManualReset};
    CThread m_supervisor;
};

} // namespace velt
