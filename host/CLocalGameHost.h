#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/CGameSession.h"
#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/HostStatus.h"
#include "host/HostTimings.h"
#include "host/IGameLink.h"
#include "host/IHostOwner.h"
#include "host/ReplayHeader.h"
#include "host/mdns/IMdnsPublisher.h"
#include "host/packets/GamePacket.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace velt
{

// The local LAN game host behind one watched match: the replay header, the stream buffer that
// the owner fills chunk by chunk, the listener on 127.0.0.1 that Warcraft III joins, the
// announcements, and the lifecycle of the sessions (CGameSession) that replay the stream into
// the game.
//
// Threads: the owner's threads call the public operations (AppendStreamChunk on the server's
// receive thread); per StartListener an announcement thread and an accept thread, which runs
// the sessions, each on that one thread. Stop wakes them all; the destructor joins them, so
// none outlives the host.
class CLocalGameHost : private ISessionHost
{
public:
    static constexpr std::uint32_t kStreamCapacity = CStreamBuffer::kCapacity;
    static constexpr std::uint32_t kFullChunk = CStreamBuffer::kFullChunk;
    static constexpr std::size_t kMapPathCapacity = CGameSession::kMapPathCapacity;
    static constexpr std::size_t kLoadedBatchCapacity = CGameSession::kLoadedBatchCapacity;
    static constexpr std::uint16_t kDefaultAnnouncePort = 6112;

    explicit CLocalGameHost(IHostOwner& owner, IClock& clock = CSystemClock::Instance(),
                            HostTimings timings = {});
    // Stops, wakes everything and joins all the host's threads.
    virtual ~CLocalGameHost();
    CLocalGameHost(const CLocalGameHost&) = delete;
    CLocalGameHost& operator=(const CLocalGameHost&) = delete;

    // The 1752 header bytes; also copies the map path at 1418, bounded, into the map path.
    void SetHeader(std::span<const std::uint8_t> header);
    // Stores the port and writes it into the last two bytes of the announcement. Port 0 lets
    // StartListener take a free port (and store that one).
    void SetListenPort(std::uint32_t port);
    // The UDP port that announcements go to.
    void SetAnnouncePort(std::uint16_t port);
    // Where the game is shown to Warcraft III 1.30 and later besides the UDP announcement: from
    // each listener start until a game joins, again when the viewer asked to watch again, and
    // withdrawn when the host stops. Set before the listener starts; whoever owns the publisher
    // sets nullptr here before it goes.
    void SetMdnsPublisher(IMdnsPublisher* publisher) { m_mdns.store(publisher); }
    // Opens the listener and starts announcing and accepting. False (after a notice) when the
    // listener cannot be opened, or when the previous session is still running.
    bool StartListener();
    // Signals every host thread to end, wakes blocked accepts and reads, and joins the threads
    // (unless called from one of them).
    void Stop();

    // One game-data chunk from the server (the receive thread).
    void AppendStreamChunk(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                           std::uint16_t matchSeconds);

    // F7 1B 04 00, then the session ends.
    void SendLeaveAck() { m_session.SendLeaveAck(); }

    // A viewer's command from outside the game ("/pause", "/sp 2", "/goto 12:30"), any thread:
    // the session handles it as if typed in the game's chat, with the same replies and effect.
    // False when no game is connected, or too many commands wait already.
    bool Steer(std::string_view command) { return m_session.Steer(command); }

    // The owner's news of the server connection, for a session that waits on it. The session's
    // own thread tells them at its next pause (the lobby, a halt, buffering), so the owner's
    // thread never talks to the game.
    // A line for the viewer, of lobby or in-game kind as the session stands.
    void PostServerLine(std::string line) { m_session.PostServerLine(std::move(line)); }
    // The server has not come back: the session ends with the leave acknowledgement.
    void EndForLostServer() { m_session.EndForLostServer(); }
    // Whether the session has been told so and has not ended yet; the server came back after
    // all: it goes on.
    bool EndingForLostServer() const { return m_session.EndingForLostServer(); }
    void CancelEndForLostServer() { m_session.CancelEndForLostServer(); }
    // The server's link is lost and being restored (true), or back (false): a session that
    // waits for data meanwhile is reconnecting, not buffering.
    void SetServerLinkLost(bool lost) { m_session.SetServerLinkLost(lost); }
    // The server connection was replaced: a request outstanding on the old one is lost, so the
    // server is asked again from the end of the data held.
    void RequestAgainFromEnd() { m_stream.RequestAgainFromEnd(); }

    // Whether a session has ended since the last StartListener. A session that ends because
    // the viewer asked to watch again is not counted: the host lets the game join again.
    bool WaitSessionEnded(std::uint32_t timeoutMs);
    std::uint32_t SessionsEnded() const;
    // Whether the latest session that ended was sent the leave acknowledgement, as every proper
    // end is; one that was not broke off (the game's connection, or a stream cut in a packet).
    bool LastSessionEndedCleanly() const { return m_lastEndedCleanly.load(); }

    // Runs one session on a connection the caller brings, on the calling thread: what the
    // accept thread does once the game has connected. For harnesses without a listener.
    // False when the connection never asked to join within the join wait and was dropped.
    bool RunSessionOn(std::unique_ptr<IGameLink> link);

    ReplayHeader HeaderCopy() const;
    std::string MapPath() const;
    std::uint16_t MatchSeconds() const { return m_stream.MatchSeconds(); }
    std::uint32_t StreamSize() const { return m_stream.Size(); }
    // Feed state; meaningful between sessions (after WaitSessionEnded).
    std::uint32_t ReadPos() const { return m_session.ReadPos(); }
    std::uint32_t GameTimeMs() const { return m_session.GameTimeMs(); }
    std::uint8_t Speed() const { return m_session.Speed(); }

    // The match the host shows; set by the owner before the listener starts.
    void SetMatchId(std::uint32_t matchId) { m_stream.SetMatchId(matchId); }
    std::uint32_t MatchId() const { return m_stream.MatchId(); }
    std::uint32_t Port() const { return m_port.load(); }
    // A session is active (a game is connected); the announcement is suppressed meanwhile.
    bool SessionActive() const { return m_session.Active(); }
    // A session has started since the listener was last started.
    bool SessionRan() const { return m_sessionRan.load() != 0; }
    // The server has marked the end of the match's stream.
    bool StreamEnded() const { return m_stream.Ended(); }
    // The whole match is held: a session needs the server no more.
    bool HoldsWholeMatch() const { return m_stream.HoldsWholeMatch(); }
    // A short or empty answer came while the feed was low on data.
    bool CaughtUp() const { return m_stream.CaughtUp(); }

    // What a status display shows; any thread.
    HostStatus Status() const;
    // Seconds of game time to stay behind the live edge of a live match; 0 plays at the edge.
    // Taken by every session at its start (the viewer may change it for the session).
    void SetLiveDelay(std::uint32_t seconds) { m_liveDelaySeconds.store(seconds); }
    std::uint32_t LiveDelay() const { return m_liveDelaySeconds.load(); }

    // Whether Resume would start the host again: its game has come and gone, or its listener
    // never opened (or has closed) without a game.
    bool CanResume() const;
    // Starts listening again for the next session, which replays the buffer from its start.
    // False when CanResume is false or the listener does not open (the host stays resumable).
    bool Resume();

private:
    // ISessionHost
    bool RateOnce(std::uint8_t rating) override;
    void SessionStopping() override;

    // Marks the calling thread as one of the host's, which Stop must not join.
    void EnterHostThread() const;
    bool OnHostThread() const;
    void AnnounceThread();
    void AcceptThread();
    void ShowOnMdns();
    void HideFromMdns();
    bool AttachGame(std::unique_ptr<IGameLink> link);
    void DetachGame();
    // After a session: counts it, and lets the owner know unless the host goes on listening.
    void SessionEnded(bool goesOn);

    IHostOwner& m_owner;
    IClock& m_clock;
    const HostTimings m_timings;

    // Set by the owner's threads and the accept thread, read by any.
    std::atomic<std::uint32_t> m_port{0};
    std::atomic<std::uint32_t> m_sessionRan{0}; // a session started since StartListener
    std::atomic<std::uint32_t> m_rated{0};      // the viewer rated this match
    std::atomic<std::uint32_t> m_liveDelaySeconds{0};
    std::atomic<std::uint32_t> m_sessionsEnded{0};
    std::atomic<bool> m_lastEndedCleanly{true};

    CStreamBuffer m_stream{m_owner, m_clock, m_timings};

    // Guards m_header and m_mapPath: the owner's thread sets them, the announcer and the
    // session read them.
    mutable std::mutex m_headerMutex;
    ReplayHeader m_header;
    std::string m_mapPath;
    std::atomic<std::uint16_t> m_announcePort{kDefaultAnnouncePort};
    std::atomic<IMdnsPublisher*> m_mdns{nullptr};
    std::mutex m_mdnsMutex; // orders showing (accept thread, StartListener) against Stop's withdrawal

    CEvent m_stopEvent{CEvent::Kind::kManualReset}; // the listener and announcer end
    CEvent m_sessionEnded{CEvent::Kind::kManualReset};
    CTcpListener m_listener;
    // Stop's wake-ups (any thread) against the accept thread: a game attaches only while the
    // host is not stopped, and the listener is not closed while Stop shuts it down.
    std::mutex m_wakeMutex;

    CGameSession m_session{*this, m_owner, m_stream, m_header, m_clock, m_timings};

    CThread m_announceThread;
    CThread m_acceptThread;
};

} // namespace velt
