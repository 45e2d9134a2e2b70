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

#include "host/CGameConnection.h"
#include "host/CHostCommands.h"
#include "host/CHostFeed.h"
#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/HostStatus.h"
#include "host/HostTimings.h"
#include "host/IGameLink.h"
#include "host/IHostOwner.h"
#include "host/ReplayHeader.h"
#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

// What a session needs from the host that runs it.
class ISessionHost
{
public:
    virtual ~ISessionHost() = default;
    // Sends the viewer's rating unless this match has been rated before (in any session);
    // false when it has.
    virtual bool RateOnce(std::uint8_t rating) = 0;
    // The session has begun to end: unless the viewer asked to watch again, the host stops
    // announcing and listening.
    virtual void SessionStopping() = 0;
};

// One game connected to a host, from its join request to its end: the connection, the lobby,
// the feed (which keeps where play stands) and the commands, the news owed to the viewer and
// the session's flags. The host keeps the stream buffer and the header; the session reads them.
//
// Threads: the host's accept thread runs the session (Run), its lobby and its feed, and nothing
// else steps the feed; the owner's threads only post news (PostServerLine, EndForLostServer,
// SetServerLinkLost), send chat lines, and read the status.
//
// The session owns and wires its parts: the feed and the commands get the parts they use, and
// report back through IFeedSession and ICommandSession; the commands act on play through the
// feed's IPlayControl.
class CGameSession final : public IFeedSession, public ICommandSession
{
public:
    static constexpr std::size_t kLoadedBatchCapacity = 128;
    static constexpr std::size_t kMapPathCapacity = 256; // with its NUL

    CGameSession(ISessionHost& host, IHostOwner& owner, CStreamBuffer& stream,
                 const ReplayHeader& header, IClock& clock, const HostTimings& timings);
    CGameSession(const CGameSession&) = delete;
    CGameSession& operator=(const CGameSession&) = delete;

    // Lifecycle, on the host's thread. Begin resets everything a session starts from; the host
    // then attaches the game's connection (under its own wake-up lock).
    void Begin(std::uint32_t liveDelaySeconds);
    // The game's join request, read within the join wait.
    GameRead AwaitJoinRequest();
    // A connection that never asked to join: the session is undone.
    void Abandon();
    HostResult Run(const GameRead& join);
    // After Run: lets the game close its side.
    void End();
    bool Active() const { return m_active.load() != 0; }

    // Sets the session's end and stops feeding; what every end of a session does.
    void SignalStop() override;
    bool Stopping() const { return m_stopEvent.IsSet(); }

    // The game's connection, under the host's wake-up lock: taken for a session, dropped after
    // it, and woken (any thread) so that a blocked read or send gives up.
    void AttachGame(std::unique_ptr<IGameLink> link) { m_connection.Attach(std::move(link)); }
    void DetachGame() { m_connection.Detach(); }
    void ShutdownGame() { m_connection.Shutdown(); }

    // Talking to the game. Chat lines: lobby kind from player 1 to player 2, and in-game kind. Texts longer than one
    // packet holds go out as several lines.
    void SendLobbyChat(std::string_view text) override;
    void SendGameChat(std::string_view text) override;
    // In the kind that fits the session's stage.
    void SendStageChat(std::string_view text);
    // F7 1B 04 00, then the session ends.
    void SendLeaveAck() override;
    // Whether this session has been sent the leave acknowledgement: every proper end sends it,
    // and one without it broke off (the game's connection failed, or the stream did).
    bool LeaveAckSent() const { return m_leaveAckSent.load(); }
    // A failed send or read: wakes everything on the connection and ends the session.
    HostResult LoseConnection() override;
    // Reads one packet whose content does not matter, except that a leave is acknowledged.
    // With keepViewerLines, a viewer's line read instead is set aside and the read repeated.
    HostResult DiscardNextPacket(bool keepViewerLines = false) override;
    // The owner's word on the server's link: lost and not back yet, or back.
    void SetServerLinkLost(bool lost) { m_serverLinkLost.store(lost); }
    bool ServerLinkLost() const override { return m_serverLinkLost.load(); }

    // A viewer's command from outside the game (a panel, a key), any thread: handled by the
    // session's thread as if typed in the game's chat, at its next read. False when no game is
    // connected, or too many commands wait already.
    bool Steer(std::string_view command);

    // News from the owner's threads, told by the session's thread at its next pause.
    void PostServerLine(std::string line);
    void EndForLostServer() { m_serverGone.store(1); }
    bool EndingForLostServer() const { return m_serverGone.load() != 0; }
    void CancelEndForLostServer() { m_serverGone.store(0); }
    // Session thread: the lines that the server's answers and link owe the viewer. With
    // quietEmpty, empty answers are not told (the feed holds the game by choice).
    void TellServerNews(bool quietEmpty = false) override;

    // What the game sends during play goes to the commands.
    PacketOutcome HandleGamePacket(const GameRead& read) override;
    bool RateOnce(std::uint8_t rating) override { return m_host.RateOnce(rating); }

    // The game has started and the feed runs.
    bool InGame() const override { return m_inGame.load() != 0; }
    std::string MapPath() const;
    bool MapPresent();

    // Watching again from an earlier game time: the host lets the game join again, and that
    // session fast-forwards to the target before play. Survives Begin; taken once.
    void RequestReplayFrom(std::uint64_t targetMs) override;
    bool ReplayPending() const { return m_replayFromMs.load() != kNoReplay; }
    std::optional<std::uint64_t> TakeReplayTarget();

    // Where the feed stands; any thread (the values of its last step).
    std::uint32_t ReadPos() const { return m_feed.ReadPos(); }
    std::uint32_t GameTimeMs() const { return m_feed.GameTimeMs(); }
    std::uint8_t Speed() const { return m_feed.Speed(); }

    // The session's part of the host's status: game time, speed, the feed's state, delay.
    HostStatus Status() const override;

private:
    static constexpr std::uint64_t kNoReplay = ~std::uint64_t{0};

    // Every packet the session itself sends (an empty one is nothing to send).
    bool SendToGame(std::span<const std::uint8_t> bytes);
    HostResult RunLobby();
    HostResult StartGame();
    void SendLobbyWelcome();
    void BuildLoadedBatch();
    // Reads until a packet of one of the two types arrives; kClosed when the game went away.
    GameRead ReadUntil(GamePacketType first, GamePacketType second);
    void SendChat(ChatKind kind, std::string_view text);

    ISessionHost& m_host;
    IHostOwner& m_owner;
    CStreamBuffer& m_stream;
    const ReplayHeader& m_header;
    IClock& m_clock;
    const HostTimings& m_timings;

    // Written by the session thread and the owner's threads (the server's news), read by any.
    std::atomic<std::uint32_t> m_active{0}; // a game is connected and the session runs
    std::atomic<std::uint32_t> m_inGame{0};
    std::atomic<std::uint32_t> m_serverGone{0};
    std::atomic<bool> m_serverLinkLost{false};
    std::atomic<bool> m_leaveAckSent{false};
    std::atomic<std::uint64_t> m_replayFromMs{kNoReplay};
    // This session's start: the game time taken from a /back at Begin, if any.
    std::optional<std::uint64_t> m_startTarget; // the session thread's

    CEvent m_stopEvent{CEvent::Kind::kManualReset};
    CGameConnection m_connection;

    std::array<std::uint8_t, kLoadedBatchCapacity> m_loadedBatch{};
    std::uint8_t m_loadedBatchLength = 0;

    std::mutex m_serverLinesMutex; // guards m_serverLines: the owner's threads add, the session takes
    std::vector<std::string> m_serverLines;

    CHostFeed m_feed{*this, m_stream, m_connection, m_stopEvent, m_clock, m_timings, m_header,
                     m_owner};
    CHostCommands m_commands{*this, m_feed, m_stream, m_header, m_owner};
};

} // namespace velt
