#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"

namespace velt
{

struct GameSimChat                   // a chat line the viewer types
{
    std::uint32_t m_atGameTimeMs = 0;  // in game: typed once game time reaches this (ignored in lobby)
    std::string m_text;                // e.g. "/faster"
};

struct GameSimScript
{
    std::uint16_t m_announcePort = 0;        // UDP port to listen on for announcements; 0 = pick a free one
    std::uint32_t m_slotDelayMs = 0;         // delay before answering each time slot (the game's real pace)
    std::vector<std::string> m_lobbyChat;    // typed in the lobby, in order, after the lobby welcome
                                             // (each after the previous one was answered, or ~200 ms)
    bool m_startAfterLobbyChat = true;       // type "/start" after m_lobbyChat unless it already contains a start word
    std::vector<GameSimChat> m_gameChat;     // typed in the game at their game times
    std::optional<std::uint32_t> m_leaveAtGameTimeMs; // leave (0x21) once game time reaches this
    bool m_leaveInLobby = false;             // leave right after the map check (before the map report)
    bool m_leaveAfterLobbyChat = false;      // leave in the lobby after typing m_lobbyChat
    bool m_coalesce = false;                 // send keepalive + following chat in one TCP send
    bool m_splitPackets = false;             // split each packet it sends over two sends (with a short pause)
    bool m_vanishAtGameTimeMs = false;       // with m_leaveAtGameTimeMs: close the socket instead of leaving

    // Additions beyond the agreed API.
    std::string m_playerName = "Viewer";     // name in the join request
    std::uint32_t m_splitPauseMs = 20;       // pause between the two halves of a split send
    bool m_keepPackets = true;               // fill GameSimRecord::m_packets (long benchmarks turn it off)
};

struct GameSimRecord
{
    std::vector<std::string> m_lobbyLines;   // texts of received chat packets of kind 0x10
    std::vector<std::string> m_gameLines;    // texts of received chat packets of kind 0x20 (host lines and recorded chat)
    std::uint32_t m_timeSlots = 0;           // 0x0C received (including empty ones)
    std::uint32_t m_emptyTimeSlots = 0;      // 0x0C with interval 0 and no actions
    std::uint64_t m_gameTimeMs = 0;          // sum of the full 16-bit intervals
    std::vector<std::vector<std::uint8_t>> m_packets; // every packet received, in order
    bool m_leaveAckReceived = false;         // F7 1B 04 00 seen
    bool m_connectionClosedByHost = false;
    std::uint16_t m_joinedPort = 0;          // TCP port taken from the announcement

    // Additions beyond the agreed API.
    std::uint32_t m_keepalivesSent = 0;
    std::uint32_t m_checksumErrors = 0;      // time slots whose 16-bit checksum does not match their actions
    std::uint32_t m_malformedPackets = 0;    // packets of a known type that did not parse
    bool m_streamCorrupt = false;            // bytes that cannot start a packet; the game drops the host
    bool m_gameStarted = false;              // countdown end seen and the loaded packet sent
    bool m_leaveSent = false;
    bool m_connectFailed = false;
};

class CGameSimulator
{
public:
    explicit CGameSimulator(GameSimScript script, IClock& clock = CSystemClock::Instance());
    ~CGameSimulator();                          // stops and joins
    CGameSimulator(const CGameSimulator&) = delete;
    CGameSimulator& operator=(const CGameSimulator&) = delete;

    bool Start();                               // binds the UDP port, starts the thread
    std::uint16_t AnnouncePort() const;         // the bound UDP port
    bool WaitFinished(std::uint32_t timeoutMs); // the session with the host is over (ack, close, or own leave)
    // Waits until a predicate over the record holds (polling the record under its lock), for tests
    bool WaitFor(const std::function<bool(const GameSimRecord&)>& predicate, std::uint32_t timeoutMs);
    GameSimRecord Record() const;               // a copy, under the lock
    void TypeChat(std::string text);            // types a line now (lobby kind before start, in-game after)
    void Leave();                               // sends 0x21 now
    void Stop();

    bool Finished() const;
    // Called on the simulator's thread for every chat line received (in game or lobby), before
    // it is recorded. Set before Start.
    void SetLineObserver(std::function<void(bool inGame, const std::string& text)> observer);

private:
    enum class Phase
    {
        kAwaitingMapCheck,  // join request sent
        kLobbyWelcome,      // map report sent; the welcome lines are arriving
        kLobbyChat,         // typing the scripted lobby lines
        kLobby,             // script done, waiting for the start
        kInGame,            // countdown ended, loaded packet sent
        kLeaving,           // leave sent, waiting for the acknowledgement
    };

    struct PendingSlot       // a time slot still being "simulated"
    {
        std::uint64_t m_dueMs = 0;
        std::uint64_t m_gameTimeMs = 0;  // game time once this slot has been processed
    };

    struct Command           // typed or left from another thread
    {
        bool m_leave = false;
        std::string m_text;
    };

    void Run();
    bool WaitForAnnouncement();
    void Session();
    bool ReadFromHost();
    bool HandlePacket(std::span<const std::uint8_t> packet);
    void HandleTimeSlot(std::span<const std::uint8_t> packet);
    void HandleChat(std::span<const std::uint8_t> packet);
    bool HandleMapCheck(std::span<const std::uint8_t> packet);
    bool RunTimers();
    bool AnswerDueSlots(std::uint64_t now);
    bool TypeLobbyScript(std::uint64_t now);
    bool RunCommands();
    bool SendUnit(const std::vector<std::uint8_t>& bytes);
    bool SendPacket(const std::vector<std::uint8_t>& packet);
    bool SendChat(const std::string& text);
    bool SendLeave();
    void BuildLobbyQueue();
    std::uint32_t NextWaitMs(std::uint64_t now) const;
    void Finish();
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
    std::mutex m_socketMutex;                // guards replacing and closing m_game against Stop
    CTcpSocket m_game;
    CThread m_thread;
    std::atomic<bool> m_stopping{false};
    CEvent m_stopEvent{CEvent::Kind::kManualReset};

    mutable std::mutex m_recordMutex;
    std::condition_variable m_recordChanged;
    GameSimRecord m_record;
    bool m_finished = false;                 // under m_recordMutex

    std::mutex m_commandMutex;
    std::vector<Command> m_commands;

    std::function<void(bool, const std::string&)> m_lineObserver;

    // Session state, touched by the simulator's thread only.
    Phase m_phase = Phase::kAwaitingMapCheck;
    std::vector<std::uint8_t> m_inbox;
    std::deque<PendingSlot> m_pendingSlots;
    std::uint64_t m_lastSlotDueMs = 0;
    std::uint64_t m_slotGameTimeMs = 0;
    std::vector<bool> m_gameChatSent;
    std::vector<std::string> m_lobbyQueue;
    std::size_t m_lobbyNext = 0;
    bool m_leaveAfterLobbyQueue = false;
    std::uint64_t m_lastPacketMs = 0;        // when the latest packet arrived (welcome quiet time)
    std::uint64_t m_lastTypedMs = 0;         // when the latest scripted lobby line went out
    bool m_answerSinceTyped = false;
    std::uint64_t m_leaveSentMs = 0;
    std::uint32_t m_slotsAnswered = 0;
};

} // namespace velt
