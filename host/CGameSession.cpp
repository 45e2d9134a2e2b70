#include "host/CGameSession.h"

#include <algorithm>
#include <cstring>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

CGameSession::CGameSession(ISessionHost& host, IHostOwner& owner, CStreamBuffer& stream,
                           const ReplayHeader& header, IClock& clock, const HostTimings& timings)
    : m_host(host), m_owner(owner), m_stream(stream), m_header(header), m_clock(clock),
      m_timings(timings)
{
}

void CGameSession::Begin(std::uint32_t liveDelaySeconds)
{
    m_stopEvent.Reset();
    m_active.store(1);
    m_inGame.store(0);
    m_serverGone.store(0);
    m_leaveAckSent.store(false);
    m_startTarget = TakeReplayTarget();
    m_stream.ResetProgress();
    // Empty answers that came after the last session stopped telling them are old news.
    m_stream.TakeEmptyAnswers();
    m_stream.SetChaining(true);
    // A speed chosen in the lobby of an earlier session does not carry over.
    m_feed.Reset(liveDelaySeconds);
    std::lock_guard lock(m_serverLinesMutex);
    m_serverLines.clear();
}

void CGameSession::Abandon()
{
    m_active.store(0);
    m_stream.SetChaining(false);
    // The game that asked to watch again has not come yet: the next session takes the target.
    if (m_startTarget && !ReplayPending())
        RequestReplayFrom(*m_startTarget);
    m_startTarget.reset();
}

GameRead CGameSession::AwaitJoinRequest()
{
    const std::uint64_t start = m_clock.NowMs();
    for (;;)
    {
        const std::uint64_t elapsed = m_clock.NowMs() - start;
        if (elapsed >= m_timings.m_joinWaitMs)
            return {GameRead::Status::kTimedOut, {}};
        const GameRead read = m_connection.NextWithin(
            m_clock, static_cast<std::uint32_t>(m_timings.m_joinWaitMs - elapsed));
        if (read.Closed() || read.TimedOut() || read.Is(GamePacketType::kReqJoin))
            return read;
    }
}

void CGameSession::End()
{
    SignalStop();
    m_connection.DrainUntilClosed(m_clock, m_timings.m_stopWaitMs);
}

void CGameSession::SignalStop()
{
    m_host.SessionStopping();
    m_stopEvent.Set();
    m_active.store(0);
    m_stream.SetChaining(false);
}

HostResult CGameSession::Run(const GameRead& join)
{
    if (!join.Is(GamePacketType::kReqJoin))
        return LoseConnection();
    if (!SendToGame(m_header.JoinReply()))
        return LoseConnection();
    BuildLoadedBatch();
    // The player packets and the map check go out in one send.
    std::vector<std::uint8_t> batch;
    for (std::size_t id = 1; id <= m_header.PlayerCount(); ++id)
    {
        const auto packet = m_header.PlayerPacket(id);
        batch.insert(batch.end(), packet.begin(), packet.end());
    }
    const auto mapCheck = m_header.MapCheck();
    batch.insert(batch.end(), mapCheck.begin(), mapCheck.end());
    if (!SendToGame(batch))
        return LoseConnection();

    const GameRead read = ReadUntil(GamePacketType::kMapSize, GamePacketType::kLeaveGame);
    if (read.Closed())
        return LoseConnection();
    if (read.Is(GamePacketType::kLeaveGame))
    {
        SendLeaveAck();
        return HostResult::kSessionOver;
    }
    SendLobbyWelcome();
    HostResult result = RunLobby();
    if (EndsSession(result))
        return result;
    result = StartGame();
    if (EndsSession(result))
        return result;
    return m_feed.Play(m_startTarget);
}

GameRead CGameSession::ReadUntil(GamePacketType first, GamePacketType second)
{
    for (;;)
    {
        const GameRead read = m_connection.Next();
        if (read.Closed() || read.Is(first) || read.Is(second))
            return read;
    }
}

void CGameSession::SendLobbyWelcome()
{
    SendLobbyChat("[VELT] Welcome to VELT!");
    SendLobbyChat(OperatorWebAddressLine());
    SendLobbyChat("[VELT] Live match presented by Zeno Gaming Platform and  " +
                  m_header.Text(ReplayHeader::kPresenterOffset, ReplayHeader::kPresenterSize) +
                  "!");
    SendLobbyChat("[VELT] Type /start to start, /help for command list!");
    if (!MapPresent())
        SendLobbyChat("[VELT]" + MapPath() + " may not be found! ");
}

HostResult CGameSession::RunLobby()
{
    for (;;)
    {
        // Between the viewer's lines the lobby tells what the server's answers brought.
        TellServerNews();
        if (m_stopEvent.IsSet())
            return HostResult::kSessionOver;
        const GameRead read = m_connection.NextWaiting(m_clock, m_timings.m_haltPeriodMs);
        if (read.TimedOut())
            continue;
        if (read.Closed())
            return LoseConnection();
        const HostResult result = m_commands.Handle(read).m_result;
        if (result == HostResult::kForceStart)
            return result;
        if (result == HostResult::kStartRequested)
        {
            if (MapPresent())
                return result;
            SendLobbyChat("[VELT] Map can't be found, copy this map to corresponding place and "
                          "enter this game again!");
            SendLobbyChat("[VELT] You can also use /fs or /forcestart to force game start!");
        }
        if (EndsSession(result))
        {
            SignalStop();
            return result;
        }
    }
}

HostResult CGameSession::StartGame()
{
    SendLobbyChat("[VELT] Let's begin......!");
    m_clock.SleepMs(m_timings.m_startPauseMs);
    if (!SendToGame(m_header.SlotTable()) || !SendToGame(m_header.Countdown()))
        return LoseConnection();
    // The game's answer to the countdown.
    const HostResult result = DiscardNextPacket();
    if (EndsSession(result))
        return result;
    if (!SendToGame(std::span<const std::uint8_t>(m_loadedBatch.data(), m_loadedBatchLength)))
        return LoseConnection();
    SendGameChat(m_header.Text(ReplayHeader::kSloganOffset, ReplayHeader::kSloganSize));
    m_inGame.store(1);
    return HostResult::kContinue;
}

void CGameSession::BuildLoadedBatch()
{
    std::size_t length = 0;
    for (std::size_t id = 1; id <= m_header.PlayerCount(); ++id)
    {
        const auto loaded = BuildPlayerLoaded(static_cast<std::uint8_t>(id));
        if (length + loaded.size() > m_loadedBatch.size())
            break;
        std::memcpy(m_loadedBatch.data() + length, loaded.data(), loaded.size());
        length += loaded.size();
    }
    m_loadedBatchLength = static_cast<std::uint8_t>(length);
}

bool CGameSession::SendToGame(std::span<const std::uint8_t> bytes)
{
    return bytes.empty() || m_connection.Send(bytes);
}

HostResult CGameSession::LoseConnection()
{
    m_connection.Shutdown();
    SignalStop();
    return HostResult::kConnectionLost;
}

HostResult CGameSession::DiscardNextPacket(bool keepViewerLines)
{
    for (;;)
    {
        const GameRead read = keepViewerLines ? m_connection.NextFromWire() : m_connection.Next();
        if (read.Closed())
            return LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            SendLeaveAck();
            return HostResult::kSessionOver;
        }
        if (!keepViewerLines || !read.Is(GamePacketType::kChatToHost))
            return HostResult::kContinue;
        // A line is no keepalive: kept while there is room, dropped beyond it.
        m_connection.SetAside(read.m_bytes);
    }
}

void CGameSession::SendChat(ChatKind kind, std::string_view text)
{
    for (const std::string_view piece : SplitChatText(text, MaxChatText(kind)))
        SendToGame(BuildHostChat({kind, piece}));
}

void CGameSession::SendLobbyChat(std::string_view text) { SendChat(ChatKind::kLobby, text); }

void CGameSession::SendGameChat(std::string_view text) { SendChat(ChatKind::kInGame, text); }

void CGameSession::SendStageChat(std::string_view text)
{
    SendChat(InGame() ? ChatKind::kInGame : ChatKind::kLobby, text);
}

void CGameSession::SendLeaveAck()
{
    static const std::vector<std::uint8_t> kLeaveAck = BuildLeaveAck();
    m_leaveAckSent.store(true);
    SendToGame(kLeaveAck);
    SignalStop();
}

PacketOutcome CGameSession::HandleGamePacket(const GameRead& read)
{
    return m_commands.Handle(read);
}

bool CGameSession::Steer(std::string_view command)
{
    if (!Active())
        return false;
    ChatToHostParams chat;
    chat.m_kind = InGame() ? ChatKind::kInGame : ChatKind::kLobby;
    chat.m_text = std::string(command);
    return m_connection.Inject(BuildChatToHost(chat));
}

void CGameSession::PostServerLine(std::string line)
{
    std::lock_guard lock(m_serverLinesMutex);
    m_serverLines.push_back(std::move(line));
}

void CGameSession::TellServerNews(bool quietEmpty)
{
    if (m_stream.TakeTooLong())
        SendGameChat("[VELT] Sorry, this match is too long to continue!");
    const std::uint32_t empty = m_stream.TakeEmptyAnswers();
    for (std::uint32_t n = quietEmpty ? 0 : empty; n > 0; --n)
        SendGameChat("Lack of data from server!");
    std::vector<std::string> lines;
    {
        std::lock_guard lock(m_serverLinesMutex);
        lines.swap(m_serverLines);
    }
    for (const std::string& line : lines)
        SendStageChat(line);
    // Kept set until the session has ended, so that the owner never takes it for one that
    // still waits on the server.
    if (m_serverGone.load() != 0 && !Stopping())
        SendLeaveAck();
}

std::string CGameSession::MapPath() const
{
    return m_header.Text(ReplayHeader::kMapPathOffset, kMapPathCapacity - 1);
}

bool CGameSession::MapPresent() { return m_owner.MapFileExists(MapPath()); }

void CGameSession::RequestReplayFrom(std::uint64_t targetMs) { m_replayFromMs.store(targetMs); }

std::optional<std::uint64_t> CGameSession::TakeReplayTarget()
{
    const std::uint64_t target = m_replayFromMs.exchange(kNoReplay);
    if (target == kNoReplay)
        return std::nullopt;
    return target;
}

HostStatus CGameSession::Status() const
{
    HostStatus status;
    status.m_sessionActive = Active();
    status.m_inGame = InGame();
    status.m_gameTimeMs = m_feed.GameTimeMs();
    status.m_speed = m_feed.ShownLevel();
    status.m_state = m_feed.State();
    status.m_paused = m_feed.Paused();
    status.m_buffering = WaitsForData(status.m_state);
    status.m_bufferedAheadMs = m_feed.HeldAheadMs();
    status.m_liveDelaySeconds = m_feed.LiveDelay();
    return status;
}

} // namespace velt
