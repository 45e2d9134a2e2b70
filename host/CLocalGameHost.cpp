#include "host/CLocalGameHost.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "host/CTcpGameLink.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

namespace
{

constexpr const char* kLoopback = "127.0.0.1";
constexpr int kListenBacklog = 5;

// The host whose thread the calling thread is, if any.
thread_local const CLocalGameHost* t_threadHost = nullptr;

} // namespace

std::string OperatorWebAddressLine()
{
    std::string address(kOperatorWebAddress);
    std::transform(address.begin(), address.end(), address.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "[VELT] " + address + "!";
}

CLocalGameHost::CLocalGameHost(IHostOwner& owner, IClock& clock, HostTimings timings)
    : m_owner(owner), m_clock(clock), m_timings(timings)
{
}

CLocalGameHost::~CLocalGameHost() { Stop(); }

void CLocalGameHost::SetHeader(std::span<const std::uint8_t> header)
{
    std::lock_guard lock(m_headerMutex);
    m_header.Assign(header);
    m_mapPath = m_header.Text(ReplayHeader::kMapPathOffset, kMapPathCapacity - 1);
    m_matchSeconds.store(m_header.U16(ReplayHeader::kMatchSecondsOffset));
    const std::uint32_t port = m_port.load();
    if (port != 0)
    {
        const std::size_t length = m_header.Announcement().size();
        if (length >= 2)
            m_header.SetU16(ReplayHeader::kAnnouncementOffset + length - 2,
                            static_cast<std::uint16_t>(port));
    }
}

void CLocalGameHost::SetListenPort(std::uint32_t port)
{
    m_port.store(port);
    std::lock_guard lock(m_headerMutex);
    const std::size_t length = m_header.Announcement().size();
    if (length >= 2)
        m_header.SetU16(ReplayHeader::kAnnouncementOffset + length - 2,
                        static_cast<std::uint16_t>(port));
}

HostStatus CLocalGameHost::Status() const
{
    HostStatus status;
    status.m_matchId = m_matchId.load();
    status.m_bytesHeld = StreamSize();
    status.m_matchSeconds = MatchSeconds();
    status.m_liveDelaySeconds = m_liveDelaySeconds.load();
    status.m_sessionActive = SessionActive();
    status.m_inGame = m_inGame.load() != 0;
    status.m_live = !StreamEnded();
    return status;
}

void CLocalGameHost::SetAnnouncePort(std::uint16_t port) { m_announcePort.store(port); }

bool CLocalGameHost::StartListener()
{
    if ((m_acceptThread.IsRunning() || m_announceThread.IsRunning()) && !m_stopEvent.IsSet())
        return false;
    // A session that has just ended may still be closing its connection.
    m_acceptThread.Join();
    m_announceThread.Join();
    m_stopEvent.Reset();
    m_sessionEnded.Reset();

    const auto error =
        m_listener.Open(kLoopback, static_cast<std::uint16_t>(m_port.load()), kListenBacklog);
    switch (error)
    {
    case CTcpListener::Error::kNone:
        break;
    case CTcpListener::Error::kCreate:
        m_owner.Notices().Notify("local stream socket create error");
        return false;
    case CTcpListener::Error::kConfigure:
        m_owner.Notices().Notify("Can't config stream socket!");
        return false;
    case CTcpListener::Error::kBind:
        m_owner.Notices().Notify("Stream socket bind error");
        return false;
    case CTcpListener::Error::kListen:
        m_owner.Notices().Notify("Stream socket listen error");
        return false;
    }
    if (m_port.load() == 0)
        SetListenPort(m_listener.Port());
    if (!m_announceThread.Start([this] { AnnounceThread(); }))
        return false;
    return m_acceptThread.Start([this] { AcceptThread(); });
}

void CLocalGameHost::Stop()
{
    SignalStop();
    {
        std::lock_guard lock(m_wakeMutex);
        m_listener.Shutdown();
        m_connection.Shutdown();
    }
    if (OnHostThread())
        return;
    // The accept thread first: it joins the read-watch thread of its session.
    m_acceptThread.Join();
    m_announceThread.Join();
    m_feed.JoinReadWatch();
}

bool CLocalGameHost::CanResume() const
{
    if (m_streaming.load())
        return false;
    if (m_sessionRan.load())
        return true;
    // No game yet: only a host whose listener is not up needs starting again.
    return m_stopEvent.IsSet() || !m_acceptThread.IsRunning();
}

bool CLocalGameHost::Resume()
{
    if (!CanResume())
        return false;
    const std::uint32_t ran = m_sessionRan.exchange(0);
    if (StartListener())
        return true;
    m_sessionRan.store(ran);
    return false;
}

void CLocalGameHost::EnterHostThread() const { t_threadHost = this; }

bool CLocalGameHost::OnHostThread() const { return t_threadHost == this; }

void CLocalGameHost::SignalStop()
{
    m_stopEvent.Set();
    m_streaming.store(0);
}

void CLocalGameHost::AnnounceThread()
{
    EnterHostThread();
    CUdpSocket socket;
    if (!socket.Open())
        return;
    while (!m_stopEvent.Wait(m_timings.m_announceIntervalMs))
    {
        if (m_streaming.load())
            continue;
        std::array<std::uint8_t, ReplayHeader::kAnnouncementSize> packet;
        std::size_t length;
        {
            std::lock_guard lock(m_headerMutex);
            const auto announcement = m_header.Announcement();
            length = announcement.size();
            std::copy(announcement.begin(), announcement.end(), packet.begin());
        }
        if (length != 0)
            socket.SendTo(kLoopback, m_announcePort.load(), packet.data(), length);
    }
}

void CLocalGameHost::AcceptThread()
{
    EnterHostThread();
    for (;;)
    {
        CTcpSocket game = m_listener.Accept();
        if (!game.IsValid())
            break;
        game.SetNoDelay(true);
        // A game that stops reading must not hold a sender for ever.
        game.SetSendTimeout(static_cast<int>(m_timings.m_gameSendTimeoutMs));
        if (RunSessionOn(std::make_unique<CTcpGameLink>(std::move(game))))
            break;
        // A connection that never asked to join: the host listens and announces on.
    }
    // A second game needs a new StartListener.
    std::lock_guard lock(m_wakeMutex);
    m_listener.Close();
}

bool CLocalGameHost::RunSessionOn(std::unique_ptr<IGameLink> link)
{
    if (!AttachGame(std::move(link)))
        return true;
    const std::uint32_t ranBefore = m_sessionRan.load();
    // Streaming before the first request, so that the first full chunk chains.
    BeginSession();
    if (m_streamSize.load(std::memory_order_acquire) == 0)
        RequestData(0);
    const GameRead join = AwaitJoinRequest();
    if (join.TimedOut() && !m_stopEvent.IsSet())
    {
        m_streaming.store(0);
        m_sessionRan.store(ranBefore);
        m_connection.Shutdown();
        std::lock_guard lock(m_wakeMutex);
        m_connection.Detach();
        return false;
    }
    RunSession(join);
    EndSession();
    return true;
}

GameRead CLocalGameHost::AwaitJoinRequest()
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

bool CLocalGameHost::AttachGame(std::unique_ptr<IGameLink> link)
{
    std::lock_guard lock(m_wakeMutex);
    if (m_stopEvent.IsSet())
        return false;
    m_connection.Attach(std::move(link));
    return true;
}

void CLocalGameHost::BeginSession()
{
    m_beforeFirstSlot.store(1);
    m_sessionRan.store(1);
    m_streaming.store(1);
    m_inGame.store(0);
    m_caughtUp.store(0);
    m_lowData.store(0);
    m_readPos = 0;
    m_gameTimeMs = 0;
    // A speed chosen in the lobby of an earlier session does not carry over.
    m_speed = 1;
    m_stepCount = 1;
    m_serverGone.store(0);
    std::lock_guard lock(m_serverLinesMutex);
    m_serverLines.clear();
}

void CLocalGameHost::EndSession()
{
    SignalStop();
    m_gate.Release();
    m_feed.JoinReadWatch();
    m_connection.DrainUntilClosed(m_clock, m_timings.m_stopWaitMs);
    {
        std::lock_guard lock(m_wakeMutex);
        m_connection.Detach();
    }
    m_sessionsEnded.fetch_add(1);
    m_sessionEnded.Set();
}

HostResult CLocalGameHost::RunSession(const GameRead& join)
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
    return m_feed.Play();
}

GameRead CLocalGameHost::ReadUntil(GamePacketType first, GamePacketType second)
{
    for (;;)
    {
        const GameRead read = m_connection.Next();
        if (read.Closed() || read.Is(first) || read.Is(second))
            return read;
    }
}

void CLocalGameHost::SendLobbyWelcome()
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

HostResult CLocalGameHost::RunLobby()
{
    for (;;)
    {
        // Between the viewer's lines the lobby tells what the server's answers brought.
        TellServerNews();
        if (m_stopEvent.IsSet())
            return HostResult::kSessionOver;
        const GameRead read = m_connection.NextWithin(m_clock, m_timings.m_haltPeriodMs);
        if (read.TimedOut())
            continue;
        if (read.Closed())
            return LoseConnection();
        const HostResult result = m_commands.HandleGamePacket(read);
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

HostResult CLocalGameHost::StartGame()
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
    m_gate.Acquire();
    if (!m_feed.StartReadWatch())
        return LoseConnection();
    m_inGame.store(1);
    return HostResult::kContinue;
}

void CLocalGameHost::BuildLoadedBatch()
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

bool CLocalGameHost::SendToGame(std::span<const std::uint8_t> bytes)
{
    return bytes.empty() || m_connection.Send(bytes);
}

HostResult CLocalGameHost::LoseConnection()
{
    m_connection.Shutdown();
    SignalStop();
    return HostResult::kConnectionLost;
}

HostResult CLocalGameHost::DiscardNextPacket(bool keepViewerLines)
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

void CLocalGameHost::SendChat(ChatKind kind, std::string_view text)
{
    for (const std::string_view piece : SplitChatText(text, MaxChatText(kind)))
        SendToGame(BuildHostChat({kind, piece}));
}

void CLocalGameHost::SendLobbyChat(std::string_view text) { SendChat(ChatKind::kLobby, text); }

void CLocalGameHost::SendGameChat(std::string_view text) { SendChat(ChatKind::kInGame, text); }

void CLocalGameHost::SendLeaveAck()
{
    static const std::vector<std::uint8_t> kLeaveAck = BuildLeaveAck();
    SendToGame(kLeaveAck);
    SignalStop();
}

bool CLocalGameHost::WaitSessionEnded(std::uint32_t timeoutMs)
{
    return m_sessionEnded.Wait(timeoutMs);
}

std::uint32_t CLocalGameHost::SessionsEnded() const { return m_sessionsEnded.load(); }

void CLocalGameHost::AppendStreamChunk(std::uint32_t offset, const std::uint8_t* data,
                                       std::uint32_t length, std::uint16_t matchSeconds)
{
    m_answersArrived.fetch_add(1);
    if (length > kFullChunk)
    {
        m_endOfStream.store(1);
        AnswerReceived(offset, length);
        return;
    }
    if (offset > kStreamCapacity || length > kStreamCapacity - offset)
    {
        // The buffer is the limit of a match: refused, and the stream ends here.
        m_tooLong.store(1);
        m_endOfStream.store(1);
        AnswerReceived(offset, kFullChunk + 1);
        m_dataArrived.Set();
        m_requestPermit.Set();
        return;
    }
    if (length == 0)
    {
        if (m_lowData.load())
            m_caughtUp.store(1);
        // Told to the viewer by the session's own thread; this thread never waits.
        m_emptyAnswersUntold.fetch_add(1);
    }
    else
    {
        // Bytes already held stay as they are: the feed may be sending them right now.
        const std::uint32_t end = offset + length;
        const std::uint32_t from = std::max(offset, m_heldEnd.load(std::memory_order_relaxed));
        if (from < end)
        {
            std::memcpy(m_stream.data() + from, data + (from - offset), end - from);
            m_heldEnd.store(end, std::memory_order_relaxed);
        }
        m_streamSize.store(end, std::memory_order_release);
        m_matchSeconds.store(matchSeconds);
        if (length < kFullChunk && m_lowData.load())
            m_caughtUp.store(1);
    }
    // Full chunks chain without waiting for the feed.
    if (const auto next = AnswerReceived(offset, length))
        m_owner.RequestGameData(m_matchId.load(), *next);
    m_dataArrived.Set();
    m_requestPermit.Set();
}

std::optional<std::uint32_t> CLocalGameHost::AnswerReceived(std::uint32_t offset,
                                                             std::uint32_t length)
{
    std::lock_guard lock(m_requestMutex);
    const std::uint64_t now = m_clock.NowMs();
    // An answer to a request that a retry has replaced changes nothing: only the latest
    // request's answer chains or frees the slot, so a slow answer never starts a second stream.
    const bool latest = m_requestOutstanding && offset == m_requestedOffset;
    if (length > kFullChunk)
    {
        m_requestOutstanding = false;
        return std::nullopt;
    }
    if (!latest)
        return std::nullopt;
    if (length == 0)
        m_requestNotBeforeMs = now + m_timings.m_emptyChunkHoldMs;
    if (length == kFullChunk && m_streaming.load())
    {
        // The slot passes straight to the chained request: no moment in which it is free.
        m_requestedOffset = offset + length;
        m_requestSentMs = now;
        return m_requestedOffset;
    }
    m_requestOutstanding = false;
    return std::nullopt;
}

void CLocalGameHost::RequestData(std::uint32_t offset)
{
    {
        std::lock_guard lock(m_requestMutex);
        m_requestOutstanding = true;
        m_requestedOffset = offset;
        m_requestSentMs = m_clock.NowMs();
    }
    m_owner.RequestGameData(m_matchId.load(), offset);
}

bool CLocalGameHost::ClaimRequest(std::uint32_t offset)
{
    std::lock_guard lock(m_requestMutex);
    const std::uint64_t now = m_clock.NowMs();
    // After an empty answer the server is asked again only once the hold is over.
    if (now < m_requestNotBeforeMs)
        return false;
    // The request that is outstanding may have been lost (sent while disconnected).
    if (m_requestOutstanding && now - m_requestSentMs < m_timings.m_requestRetryMs)
        return false;
    m_requestOutstanding = true;
    m_requestedOffset = offset;
    m_requestSentMs = now;
    return true;
}

std::uint64_t CLocalGameHost::NextRequestAllowedMs()
{
    std::lock_guard lock(m_requestMutex);
    return m_requestNotBeforeMs;
}

void CLocalGameHost::RequestIfPermitted()
{
    const std::uint32_t offset = m_streamSize.load(std::memory_order_acquire);
    if (m_requestPermit.TryConsume() && ClaimRequest(offset))
        m_owner.RequestGameData(m_matchId.load(), offset);
}

void CLocalGameHost::RequestWhileWaiting()
{
    m_requestPermit.TryConsume();
    const std::uint32_t offset = m_streamSize.load(std::memory_order_acquire);
    if (ClaimRequest(offset))
        m_owner.RequestGameData(m_matchId.load(), offset);
}

void CLocalGameHost::TellServerNews()
{
    if (m_tooLong.exchange(0))
        SendGameChat("[VELT] Sorry, this match is too long to continue!");
    for (std::uint32_t n = m_emptyAnswersUntold.exchange(0); n > 0; --n)
        SendGameChat("Lack of data from server!");
    std::vector<std::string> lines;
    {
        std::lock_guard lock(m_serverLinesMutex);
        lines.swap(m_serverLines);
    }
    for (const std::string& line : lines)
    {
        if (m_inGame.load())
            SendGameChat(line);
        else
            SendLobbyChat(line);
    }
    if (m_serverGone.exchange(0))
        SendLeaveAck();
}

void CLocalGameHost::PostServerLine(std::string line)
{
    std::lock_guard lock(m_serverLinesMutex);
    m_serverLines.push_back(std::move(line));
}

void CLocalGameHost::EndForLostServer() { m_serverGone.store(1); }

void CLocalGameHost::RequestAgainFromEnd()
{
    if (m_endOfStream.load() == 0)
        RequestData(m_streamSize.load(std::memory_order_acquire));
}

bool CLocalGameHost::IsPlayerSlot(std::uint8_t playerId) const
{
    for (std::size_t j = 0; j < ReplayHeader::kSlotRecordsRead; ++j)
    {
        const std::size_t record = ReplayHeader::kSlotTableOffset +
                                   ReplayHeader::kSlotRecordsOffset +
                                   ReplayHeader::kSlotRecordSize * j;
        if (m_header.U8(record) == playerId)
            return m_header.U8(record + ReplayHeader::kSlotTeamOffset) !=
                   ReplayHeader::kObserverTeam;
    }
    return true;
}

std::string CLocalGameHost::PlayerName(std::uint8_t playerId) const
{
    if (m_header.PlayerPacket(playerId).empty())
        return "UNKNOWN";
    const std::size_t record = ReplayHeader::PlayerRecordOffset(playerId);
    return m_header.Text(record + ReplayHeader::kPlayerNameOffset,
                         ReplayHeader::kPlayerRecordSize - ReplayHeader::kPlayerNameOffset);
}

bool CLocalGameHost::MapPresent() { return m_owner.MapFileExists(MapPath()); }

ReplayHeader CLocalGameHost::HeaderCopy() const
{
    std::lock_guard lock(m_headerMutex);
    return m_header;
}

std::string CLocalGameHost::MapPath() const
{
    std::lock_guard lock(m_headerMutex);
    return m_mapPath;
}

std::vector<std::uint8_t> CLocalGameHost::LoadedBatch() const
{
    return std::vector<std::uint8_t>(m_loadedBatch.begin(),
                                     m_loadedBatch.begin() + m_loadedBatchLength);
}

} // namespace velt
