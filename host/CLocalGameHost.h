#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/CFeedGate.h"
#include "host/CGameConnection.h"
#include "host/CHostCommands.h"
#include "host/CHostFeed.h"
#include "host/HostResult.h"
#include "host/HostStatus.h"
#include "host/HostTimings.h"
#include "host/IGameLink.h"
#include "host/IHostOwner.h"
#include "host/ReplayHeader.h"
#include "host/packets/GamePacket.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace velt
{

// The operator's web address, shown in capitals in the welcome lines.
constexpr std::string_view kOperatorWebAddress = "www.velt.tv";
// "[VELT] WWW.VELT.TV!", the welcome line that gives it.
std::string OperatorWebAddressLine();

// The local LAN game host behind one watched match: the replay header, the stream buffer that
// the owner fills chunk by chunk, the listener on 127.0.0.1 that Warcraft III joins, and the
// session that replays the stream into the game.
//
// Threads: the owner's threads call the public operations (AppendStreamChunk on the server's
// receive thread); per StartListener an announcement thread and an accept thread, which runs
// the session; per session a read-watch thread (CHostFeed). Stop wakes them all; the
// destructor joins them, so none outlives the host.
class CLocalGameHost
{
public:
    static constexpr std::uint32_t kStreamCapacity = 2097152;
    static constexpr std::uint32_t kFullChunk = 2000;
    static constexpr std::size_t kMapPathCapacity = 256; // with its NUL
    static constexpr std::size_t kLoadedBatchCapacity = 128;
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
    // Opens the listener and starts announcing and accepting. False (after a notice) when the
    // listener cannot be opened, or when the previous session is still running.
    bool StartListener();
    // Signals every host thread to end, wakes blocked accepts and reads, and joins the threads
    // (unless called from one of them).
    void Stop();

    // One game-data chunk from the server (the receive thread).
    void AppendStreamChunk(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                           std::uint16_t matchSeconds);

    // Chat lines to the game: lobby kind from player 1 to player 2, and in-game kind. Texts
    // longer than one packet holds go out as several lines.
    void SendLobbyChat(std::string_view text);
    void SendGameChat(std::string_view text);
    // F7 1B 04 00, then the session ends.
    void SendLeaveAck();

    // The owner's news of the server connection, for a session that waits on it. The session's
    // own thread tells them at its next pause (the lobby, a halt, buffering), so the owner's
    // thread never talks to the game.
    // A line for the viewer, of lobby or in-game kind as the session stands.
    void PostServerLine(std::string line);
    // The server has not come back: the session ends with the leave acknowledgement.
    void EndForLostServer();
    // The server connection was replaced: a request outstanding on the old one is lost, so the
    // server is asked again from the end of the data held.
    void RequestAgainFromEnd();

    // Whether a session has ended since the last StartListener.
    bool WaitSessionEnded(std::uint32_t timeoutMs);
    std::uint32_t SessionsEnded() const;

    // Runs one session on a connection the caller brings, on the calling thread: what the
    // accept thread does once the game has connected. For harnesses without a listener.
    // False when the connection never asked to join within the join wait and was dropped.
    bool RunSessionOn(std::unique_ptr<IGameLink> link);

    // Lookups in the header.
    bool IsPlayerSlot(std::uint8_t playerId) const;
    std::string PlayerName(std::uint8_t playerId) const;
    bool MapPresent();

    ReplayHeader HeaderCopy() const;
    std::string MapPath() const;
    std::uint16_t MatchSeconds() const { return m_matchSeconds.load(std::memory_order_relaxed); }
    std::uint32_t StreamSize() const { return m_streamSize.load(std::memory_order_acquire); }
    // Chunks handed in so far (counted as each arrives, before an empty one is held).
    std::uint32_t AnswersArrived() const { return m_answersArrived.load(); }
    std::vector<std::uint8_t> LoadedBatch() const;
    // Feed state; meaningful between sessions (after WaitSessionEnded).
    std::uint32_t ReadPos() const { return m_readPos; }
    std::uint32_t GameTimeMs() const { return m_gameTimeMs; }
    std::uint8_t Speed() const { return m_speed; }
    // Feed steps run by a thread that did not hold the feed gate; stays 0.
    std::uint32_t OverlappingSteps() const { return m_gate.Overlaps(); }

    // The match the host shows; set by the owner before the listener starts.
    void SetMatchId(std::uint32_t matchId) { m_matchId.store(matchId); }
    std::uint32_t MatchId() const { return m_matchId.load(); }
    std::uint32_t Port() const { return m_port.load(); }
    // A session is active (a game is connected); the announcement is suppressed meanwhile.
    bool SessionActive() const { return m_streaming.load() != 0; }
    // A session has started since the listener was last started.
    bool SessionRan() const { return m_sessionRan.load() != 0; }
    // The server has marked the end of the match's stream.
    bool StreamEnded() const { return m_endOfStream.load() != 0; }
    // A short or empty answer came while the feed was low on data.
    bool CaughtUp() const { return m_caughtUp.load() != 0; }
    bool Rated() const { return m_rated.load() != 0; }

    // What a status display shows; any thread.
    HostStatus Status() const;
    // Seconds of game time to stay behind the live edge of a live match; 0 plays at the edge.
    void SetLiveDelay(std::uint32_t seconds) { m_liveDelaySeconds.store(seconds); }
    std::uint32_t LiveDelay() const { return m_liveDelaySeconds.load(); }

    // Whether Resume would start the host again: its game has come and gone, or its listener
    // never opened (or has closed) without a game.
    bool CanResume() const;
    // Starts listening again for the next session, which replays the buffer from its start.
    // False when CanResume is false or the listener does not open (the host stays resumable).
    bool Resume();

private:
    friend class CHostFeed;
    friend class CHostCommands;

    void AnnounceThread();
    void AcceptThread();
    // Marks the calling thread as one of this host's, which Stop must not join.
    void EnterHostThread() const;
    bool OnHostThread() const;
    // Sets the stop event and clears the streaming flag; what every end of a session does.
    void SignalStop();
    bool AttachGame(std::unique_ptr<IGameLink> link);
    void BeginSession();
    HostResult RunSession(const GameRead& join);
    // The game's join request, read within the join wait.
    GameRead AwaitJoinRequest();
    HostResult RunLobby();
    HostResult StartGame();
    void EndSession();
    void SendLobbyWelcome();
    void BuildLoadedBatch();
    bool SendToGame(std::span<const std::uint8_t> bytes);
    // A failed send or read: wakes everything on the connection and ends the session.
    HostResult LoseConnection();
    // Reads until a packet of one of the two types arrives; kClosed when the game went away.
    GameRead ReadUntil(GamePacketType first, GamePacketType second);
    // Reads one packet whose content does not matter, except that a leave is acknowledged.
    // With keepViewerLines, a viewer's line read instead is set aside and the read repeated.
    HostResult DiscardNextPacket(bool keepViewerLines = false);
    void SendChat(ChatKind kind, std::string_view text);

    // Data requests. At most one is outstanding at any time; a request unanswered for the
    // retry time counts as lost.
    void RequestData(std::uint32_t offset);
    // Takes the one outstanding request slot for offset; false while a request is outstanding
    // or an empty answer's hold is not over.
    bool ClaimRequest(std::uint32_t offset);
    // Near the end of the data: only with the permit that the previous chunk returned.
    void RequestIfPermitted();
    // While the feed waits for data.
    void RequestWhileWaiting();
    // Bookkeeping of an answer: the offset to chain a request for, if any.
    std::optional<std::uint32_t> AnswerReceived(std::uint32_t offset, std::uint32_t length);
    // When, after an empty answer, the server may be asked again.
    std::uint64_t NextRequestAllowedMs();
    // Session thread: the lines that the receive thread's answers owe the viewer.
    void TellServerNews();

    IHostOwner& m_owner;
    IClock& m_clock;
    const HostTimings m_timings;

    // Written whole by one thread, read by others.
    std::atomic<std::uint32_t> m_matchId{0};
    std::atomic<std::uint32_t> m_port{0};
    std::atomic<std::uint32_t> m_streaming{0};       // a session is active
    std::atomic<std::uint32_t> m_sessionRan{0};      // a session started since StartListener
    std::atomic<std::uint32_t> m_endOfStream{0};     // the server marked the end of the stream
    std::atomic<std::uint32_t> m_inGame{0};          // the game started and the feed runs
    std::atomic<std::uint32_t> m_caughtUp{0};        // a short or empty chunk came while low on data
    std::atomic<std::uint32_t> m_rated{0};           // the viewer rated this match
    std::atomic<std::uint32_t> m_lowData{0};         // the feed neared the end of the data
    std::atomic<std::uint32_t> m_beforeFirstSlot{0}; // no time slot fed yet this session
    std::atomic<std::uint32_t> m_readStalled{0};     // the watch thread fed during a watched read
    std::atomic<std::uint32_t> m_liveDelaySeconds{0};

    // Stream buffer: bytes below m_streamSize are published (release) after they are written.
    std::array<std::uint8_t, kStreamCapacity> m_stream;
    std::atomic<std::uint32_t> m_streamSize{0};

    // Feed state, touched only by the thread that holds m_gate.
    std::uint32_t m_readPos = 0;
    std::uint8_t m_stepCount = 1;
    std::uint8_t m_speed = 1;
    std::uint32_t m_gameTimeMs = 0;

    CEvent m_dataArrived{CEvent::Kind::kAutoReset};
    CEvent m_requestPermit{CEvent::Kind::kAutoReset};
    CEvent m_stopEvent{CEvent::Kind::kManualReset};
    CEvent m_readWatch{CEvent::Kind::kAutoReset};
    CEvent m_sessionEnded{CEvent::Kind::kManualReset};

    std::array<std::uint8_t, kLoadedBatchCapacity> m_loadedBatch{};
    std::uint8_t m_loadedBatchLength = 0;

    mutable std::mutex m_headerMutex; // guards m_header and m_mapPath against the announcer
    ReplayHeader m_header;
    std::string m_mapPath;
    std::atomic<std::uint16_t> m_matchSeconds{0};
    std::atomic<std::uint16_t> m_announcePort{kDefaultAnnouncePort};

    CTcpListener m_listener;
    // Stop's wake-ups against the accept thread: a game attaches only while the host is not
    // stopped, and the listener is not closed while Stop shuts it down.
    std::mutex m_wakeMutex;
    CGameConnection m_connection;
    CFeedGate m_gate;

    std::mutex m_requestMutex; // guards the request slot below
    bool m_requestOutstanding = false;
    std::uint32_t m_requestedOffset = 0;
    std::uint64_t m_requestSentMs = 0;
    std::uint64_t m_requestNotBeforeMs = 0;
    // Stream bytes below this are never written again (the receive thread's).
    std::atomic<std::uint32_t> m_heldEnd{0};
    std::atomic<std::uint32_t> m_emptyAnswersUntold{0};
    std::atomic<std::uint32_t> m_tooLong{0};
    std::mutex m_serverLinesMutex; // guards m_serverLines
    std::vector<std::string> m_serverLines;
    std::atomic<std::uint32_t> m_serverGone{0};
    std::atomic<std::uint32_t> m_answersArrived{0};
    std::atomic<std::uint32_t> m_sessionsEnded{0};

    CHostFeed m_feed{*this};
    CHostCommands m_commands{*this};

    CThread m_announceThread;
    CThread m_acceptThread;
};

} // namespace velt
