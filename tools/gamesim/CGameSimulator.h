#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/packets/GamePacket.h"
#include "host/packets/LobbyPackets.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tools/gamesim/CMdnsGameFinder.h"

namespace velt
{

// How long the simulator's thread blocks at most before it looks at its timers and at lines
// typed from other threads.
constexpr std::uint32_t kGameSimPollSliceMs = 10;
// The lobby welcome has ended once the host has been quiet this long after the map report.
constexpr std::uint32_t kGameSimLobbyQuietMs = 200;
// A scripted lobby line that gets no answer is followed by the next one after this long.
constexpr std::uint32_t kGameSimLobbyAnswerWaitMs = 200;
// After its own leave the game waits this long for the acknowledgement before it gives up.
constexpr std::uint32_t kGameSimLeaveAckTimeoutMs = 3000;

// A chat line the viewer types.
struct GameSimChat
{
    // In game: typed once game time reaches this (ignored in the lobby).
    std::uint32_t m_atGameTimeMs = 0;
    // For example "/faster".
    std::string m_text;
    // Only in this session (1: the first joined); 0: in whichever session reaches the time.
    std::uint32_t m_session = 0;
};

// What the simulated viewer does in one session.
struct GameSimScript
{
    // UDP port to listen on for announcements; 0 picks a free one.
    std::uint16_t m_announcePort = 0;
    // Delay before answering each time slot (the game's real pace).
    std::uint32_t m_slotDelayMs = 0;
    // Instead of the slot delay, each slot takes its own interval divided by the number of
    // slots waiting when it begins: normal speed is real time, and slots that the host keeps
    // in flight make the game run faster, as the real game catches up.
    bool m_paceByInterval = false;
    // Typed in the lobby, in order, after the lobby welcome (each after the previous one was
    // answered, or after ~200 ms).
    std::vector<std::string> m_lobbyChat;
    // Type "/start" after m_lobbyChat unless it already contains a start word.
    bool m_startAfterLobbyChat = true;
    // Typed in the game at their game times, each once over all sessions (a session joined
    // again does not type them a second time; its lobby lines are typed again).
    std::vector<GameSimChat> m_gameChat;
    // Leave (0x21) once game time reaches this.
    std::optional<std::uint32_t> m_leaveAtGameTimeMs;
    // Leave right after the map check, instead of the map report.
    bool m_leaveInLobby = false;
    // Leave in the lobby after typing m_lobbyChat (no "/start" then).
    bool m_leaveAfterLobbyChat = false;
    // Send a keepalive and the chat (and leave) that follow it in one TCP send.
    bool m_coalesce = false;
    // Split each send over two sends, with a short pause between them.
    bool m_splitPackets = false;
    // With m_leaveAtGameTimeMs: close the socket instead of leaving, without answering the slot
    // that reached the time.
    bool m_vanishAtGameTimeMs = false;

    // Name in the join request.
    std::string m_playerName = "Viewer";
    // Pause between the two halves of a split send.
    std::uint32_t m_splitPauseMs = 20;
    // Fill GameSimRecord::m_packets (long benchmarks turn it off).
    bool m_keepPackets = true;
    // Fill GameSimRecord::m_slotLog.
    bool m_keepSlotLog = true;
    // Join again this many times by itself after a session ends (a leave acknowledgement or a
    // closed connection), as a viewer who goes back to the LAN screen; Rejoin asks once more.
    std::uint32_t m_rejoins = 0;
    // Find the game over multicast DNS as a game of this version does (10032 for 1.32), instead
    // of hearing the UDP announcement; 0: UDP. Such a game also joins as that version: two
    // padding bytes in its join request, three 0x59 packets after the join reply from 1.32, and
    // player packets whose padding does not fit the version count as malformed.
    std::uint32_t m_mdnsVersion = 0;
    std::uint32_t m_product = kProductFrozenThrone;
};

// One time slot as it reached the game.
struct GameSimSlot
{
    std::uint64_t m_atMs = 0; // on the simulator's clock
    std::uint16_t m_intervalMs = 0;
    std::uint16_t m_bytes = 0;      // the whole packet
    std::uint64_t m_gameTimeMs = 0; // of its session, once this slot is counted
    std::uint32_t m_session = 1;    // 1 for the first session joined
};

// A chat line as it reached the game.
struct GameSimLine
{
    std::uint64_t m_atMs = 0;
    bool m_inGame = false;
    std::uint32_t m_session = 1;
    std::string m_text;
    // Game time of the session's slots that came before it on the connection: exact, where
    // m_atMs may be shared by the slots that came after it in the same read.
    std::uint64_t m_gameTimeMs = 0;
};

// What the simulated game received and did.
struct GameSimRecord
{
    // Texts of received chat packets of kind 0x10.
    std::vector<std::string> m_lobbyLines;
    // Texts of received chat packets of kind 0x20 (host lines and recorded chat).
    std::vector<std::string> m_gameLines;
    // 0x0C received, including empty ones.
    std::uint32_t m_timeSlots = 0;
    // 0x0C with interval 0 and no actions.
    std::uint32_t m_emptyTimeSlots = 0;
    // Sum of the full 16-bit intervals.
    std::uint64_t m_gameTimeMs = 0;
    // Every packet received, in order.
    std::vector<std::vector<std::uint8_t>> m_packets;
    // F7 1B 04 00 seen.
    bool m_leaveAckReceived = false;
    bool m_connectionClosedByHost = false;
    // TCP port taken from the announcement.
    std::uint16_t m_joinedPort = 0;

    std::uint32_t m_keepalivesSent = 0;
    // Time slots received whose keepalive has not gone out yet (with a slot delay, how far the
    // host has run ahead of the game), now and at most so far.
    std::uint32_t m_slotsInFlight = 0;
    std::uint32_t m_maxSlotsInFlight = 0;
    // Time slots whose 16-bit checksum does not match their action blocks.
    std::uint32_t m_checksumErrors = 0;
    // Packets of a known type that did not parse.
    std::uint32_t m_malformedPackets = 0;
    // Bytes that cannot start a packet arrived; the game drops the host then.
    bool m_streamCorrupt = false;
    // Countdown end seen and the loaded packet sent.
    bool m_gameStarted = false;
    bool m_leaveSent = false;
    // An announced port refused the connection.
    bool m_connectFailed = false;
    // Found over multicast DNS: the game's name in its record, and the SRV record's port.
    std::string m_foundGameName;
    std::uint16_t m_foundSrvPort = 0;
    // 0x59 packets sent after join replies.
    std::uint32_t m_playerExtrasSent = 0;

    // Sessions joined and ended so far; the fields above that describe one session (game
    // time, started, leave, closed) are the latest session's, the counts and lists run on.
    std::uint32_t m_sessionsJoined = 0;
    std::uint32_t m_sessionsEnded = 0;
    // Index into m_packets where each session's packets begin.
    std::vector<std::size_t> m_sessionFirstPacket;
    // Every time slot and every chat line received, in order, with when it came.
    std::vector<GameSimSlot> m_slotLog;
    std::vector<GameSimLine> m_lineLog;
};

// Chat lines received (lobby and game) that begin with text.
std::size_t LinesStartingWith(const GameSimRecord& record, std::string_view text);
// Time slots with a non-zero interval received in [fromMs, toMs] of the simulator's clock.
std::size_t SlotsWithTimeBetween(const GameSimRecord& record, std::uint64_t fromMs,
                                 std::uint64_t toMs);
// The game time that the latest slot received at or before atMs had reached (0 before any).
std::uint64_t GameTimeAt(const GameSimRecord& record, std::uint64_t atMs);
// The packets of one session (1 for the first joined), in order; empty for one not joined.
std::vector<std::vector<std::uint8_t>> SessionPackets(const GameSimRecord& record,
                                                      std::uint32_t session);

// Plays Warcraft III's part against a local game host over loopback, on a thread of its own.
class CGameSimulator
{
public:
    explicit CGameSimulator(GameSimScript script, IClock& clock = CSystemClock::Instance());
    // Stops and joins.
    ~CGameSimulator();
    CGameSimulator(const CGameSimulator&) = delete;
    CGameSimulator& operator=(const CGameSimulator&) = delete;

    // Binds the UDP port and starts the thread.
    bool Start();
    // The bound UDP port.
    std::uint16_t AnnouncePort() const;
    // Whether the session with the host is over (acknowledged leave, closed connection, own
    // vanishing, or a leave left unacknowledged for kGameSimLeaveAckTimeoutMs).
    bool WaitFinished(std::uint32_t timeoutMs);
    // Waits until a predicate over the record holds (checked under the record's lock each time
    // the record changes), for tests.
    bool WaitFor(const std::function<bool(const GameSimRecord&)>& predicate,
                 std::uint32_t timeoutMs);
    // A copy, under the lock.
    GameSimRecord Record() const;
    // The game time reached, as Record().m_gameTimeMs, without copying the record.
    std::uint64_t GameTimeMs() const;
    // Types a line now: lobby kind before the start, in-game kind after it.
    void TypeChat(std::string text);
    // Sends 0x21 now.
    void Leave();
    // After the session has ended (or once it ends): look for the host's announcement again
    // and join it. Finished turns false at once.
    void Rejoin();
    void Stop();

    // The latest session is over (see WaitFinished); a rejoin starts a new one.
    bool Finished() const;
    // Called on the simulator's thread for every chat line received (in game or lobby), before
    // it is recorded. Set before Start.
    void SetLineObserver(std::function<void(bool inGame, const std::string& text)> observer);

private:
    enum class Phase
    {
        kAwaitingMapCheck, // join request sent
        kLobbyWelcome,     // map report sent; the welcome lines are arriving
        kLobbyChat,        // typing the scripted lobby lines
        kLobby,            // script done, waiting for the start
        kInGame,           // countdown ended, loaded packet sent
        kLeaving,          // leave sent, waiting for the acknowledgement
    };

    struct PendingSlot // a time slot still being "simulated"
    {
        std::uint64_t m_arrivedMs = 0;
        std::uint16_t m_intervalMs = 0;
        bool m_begun = false;           // its simulation has begun (it is at the queue's front)
        std::uint64_t m_dueMs = 0;      // when its simulation ends, once begun
        std::uint64_t m_gameTimeMs = 0; // game time once this slot has been processed
    };

    struct Command // typed or left from another thread
    {
        bool m_leave = false;
        std::string m_text;
    };

    void Run();
    // After a session: false when stopping, true once a rejoin is due.
    bool AwaitRejoin();
    void ResetSession();
    // Begins the simulation of the slot at the queue's front, after the previous one's end.
    void BeginFrontSlot(std::uint64_t previousDueMs);
    bool Stopping() const;
    bool WaitForAnnouncement();
    // One slice of listening for a UDP announcement: the latest one heard, if any.
    std::optional<ParsedGameInfo> HearAnnouncement(std::vector<std::uint8_t>& datagram);
    // Blocks until a game is found over multicast DNS (or the simulator stops).
    std::optional<ParsedGameInfo> FindOverMdns(std::string& address);
    bool AnswerJoinReply();
    void CheckPlayerInfo(std::span<const std::uint8_t> packet);
    void Session();
    bool ReadFromHost();
    bool HandlePacket(std::span<const std::uint8_t> packet);
    void HandleTimeSlot(std::span<const std::uint8_t> packet);
    void HandleChat(std::span<const std::uint8_t> packet);
    bool HandleMapCheck(std::span<const std::uint8_t> packet);
    bool HandleCountdownEnd();
    void CountMalformed();
    bool RunTimers();
    bool AnswerDueSlots(std::uint64_t now);
    bool TypeLobbyScript(std::uint64_t now);
    void BuildLobbyQueue();
    bool RunCommands();
    std::vector<std::uint8_t> BuildChat(const std::string& text, ChatKind kind) const;
    bool SendLeave(std::uint32_t reason);
    void MarkLeaving(std::uint64_t now);
    bool SendPackets(const std::vector<std::vector<std::uint8_t>>& packets);
    bool SendUnit(const std::vector<std::uint8_t>& bytes);
    std::uint32_t NextWaitMs(std::uint64_t now) const;
    void CloseGameSocket();

    template <typename Fn> void Update(Fn&& change)
    {
        {
            std::lock_guard lock(m_recordMutex);
            change(m_record);
        }
        m_recordChanged.notify_all();
    }

    const GameSimScript m_script;
    IClock& m_clock;

    CUdpSocket m_announceSocket;
    std::optional<CMdnsGameFinder> m_finder; // with m_mdnsVersion
    std::mutex m_socketMutex;                // guards replacing and closing m_game against Stop
    CTcpSocket m_game;
    CThread m_thread;
    std::atomic<bool> m_stopping{false};
    CEvent m_stopEvent{CEvent::Kind::kManualReset};

    mutable std::mutex m_recordMutex;
    std::condition_variable m_recordChanged;
    GameSimRecord m_record;
    bool m_finished = false;          // under m_recordMutex
    std::uint32_t m_rejoinsAsked = 0; // under m_recordMutex: Rejoin calls not yet begun

    std::mutex m_commandMutex;
    std::vector<Command> m_commands;

    std::function<void(bool, const std::string&)> m_lineObserver;

    // Session state, touched by the simulator's thread only.
    Phase m_phase = Phase::kAwaitingMapCheck;
    std::uint32_t m_hostCounter = 0; // from the announcement, echoed in the join request
    std::uint32_t m_entryKey = 0;
    std::vector<std::uint8_t> m_inbox;
    std::deque<PendingSlot> m_pendingSlots;
    std::uint64_t m_lastSlotDueMs = 0;
    std::uint64_t m_slotGameTimeMs = 0;
    std::vector<bool> m_gameChatSent;
    std::vector<std::string> m_lobbyQueue;
    std::size_t m_lobbyNext = 0;
    std::uint64_t m_lastPacketMs = 0; // when the latest packet arrived (welcome quiet time)
    std::uint64_t m_lastTypedMs = 0;  // when the latest scripted lobby line went out
    bool m_answerSinceTyped = false;
    std::uint64_t m_leaveSentMs = 0;
    std::uint32_t m_slotsAnswered = 0;
    std::uint32_t m_session = 0;     // sessions joined so far
    std::uint32_t m_rejoinsDone = 0; // automatic rejoins (m_rejoins) used
};

} // namespace velt
