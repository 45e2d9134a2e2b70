#include "host/CLocalGameHost.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "host/CTcpGameLink.h"
#include "host/HostChatPackets.h"

namespace velt
{

namespace
{

constexpr std::uint8_t kLeaveAck[] = {0xF7, 0x1B, 0x04, 0x00};
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
    CTcpSocket game = m_listener.Accept();
    if (game.IsValid())
    {
        game.SetNoDelay(true);
        RunSessionOn(std::make_unique<CTcpGameLink>(std::move(game)));
    }
    // A second game needs a new StartListener.
    std::lock_guard lock(m_wakeMutex);
    m_listener.Close();
}

void CLocalGameHost::RunSessionOn(std::unique_ptr<IGameLink> link)
{
    if (!AttachGame(std::move(link)))
        return;
    // Streaming before the first request, so that the first full chunk chains.
    BeginSession();
    if (m_streamSize.load(std::memory_order_acquire) == 0)
        RequestData(0);
    RunSession();
    EndSession();
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
    m_speed = 1;
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

HostResult CLocalGameHost::RunSession()
{
    GameRead read = ReadUntil(GamePacketType::kReqJoin, GamePacketType::kReqJoin);
    if (read.Closed())
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

    read = ReadUntil(GamePacketType::kMapSize, GamePacketType::kLeaveGame);
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
        const GameRead read = m_connection.Next();
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
        const std::uint8_t loaded[] = {kGamePacketSignature,
                                       static_cast<std::uint8_t>(GamePacketType::kGameLoadedOthers),
                                       0x05, 0x00, static_cast<std::uint8_t>(id)};
        std::memcpy(m_loadedBatch.data() + length, loaded, sizeof loaded);
        length += sizeof loaded;
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
        if (!keepViewerLines || !read.Is(GamePacketType::kChatToHost) ||
            !m_connection.SetAside(read.m_bytes))
            return HostResult::kContinue;
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
        RequestAnswered();
        return;
    }
    if (offset > kStreamCapacity || length > kStreamCapacity - offset)
    {
        // The buffer is the limit of a match: refused, and the stream ends here.
        SendGameChat("[VELT] Sorry, this match is too long to continue!");
        m_endOfStream.store(1);
        RequestAnswered();
        m_dataArrived.Set();
        m_requestPermit.Set();
        return;
    }
    if (length == 0)
    {
        if (m_lowData.load())
            m_caughtUp.store(1);
        SendGameChat("Lack of data from server!");
        // An exhausted live match is polled no faster than this.
        m_clock.SleepMs(m_timings.m_emptyChunkHoldMs);
    }
    else
    {
        std::memcpy(m_stream.data() + offset, data, length);
        m_streamSize.store(offset + length, std::memory_order_release);
        m_matchSeconds.store(matchSeconds);
        if (length < kFullChunk && m_lowData.load())
            m_caughtUp.store(1);
    }
    RequestAnswered();
    // Full chunks chain without waiting for the feed.
    if (length == kFullChunk && m_streaming.load())
        RequestData(offset + length);
    m_dataArrived.Set();
    m_requestPermit.Set();
}

void CLocalGameHost::RequestData(std::uint32_t offset)
{
    m_requestsOutstanding.fetch_add(1);
    m_lastRequestMs.store(m_clock.NowMs());
    m_owner.RequestGameData(m_matchId.load(), offset);
}

bool CLocalGameHost::ClaimRequest()
{
    std::uint32_t idle = 0;
    if (!m_requestsOutstanding.compare_exchange_strong(idle, 1))
    {
        // The request that is outstanding may have been lost (sent while disconnected).
        if (m_clock.NowMs() - m_lastRequestMs.load() < m_timings.m_requestRetryMs)
            return false;
        m_requestsOutstanding.store(1);
    }
    m_lastRequestMs.store(m_clock.NowMs());
    return true;
}

void CLocalGameHost::RequestIfPermitted()
{
    if (m_requestPermit.TryConsume() && ClaimRequest())
        m_owner.RequestGameData(m_matchId.load(), m_streamSize.load(std::memory_order_acquire));
}

void CLocalGameHost::RequestWhileWaiting()
{
    m_requestPermit.TryConsume();
    if (ClaimRequest())
        m_owner.RequestGameData(m_matchId.load(), m_streamSize.load(std::memory_order_acquire));
}

void CLocalGameHost::RequestAnswered()
{
    std::uint32_t outstanding = m_requestsOutstanding.load();
    while (outstanding > 0 &&
           !m_requestsOutstanding.compare_exchange_weak(outstanding, outstanding - 1))
    {
    }
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
