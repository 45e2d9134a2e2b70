#include "host/CLocalGameHost.h"

#include <algorithm>

#include "host/CTcpGameLink.h"

namespace velt
{

namespace
{

constexpr const char* kLoopback = "127.0.0.1";
constexpr int kListenBacklog = 5;

// The host whose thread the calling thread is, if any.
thread_local const CLocalGameHost* t_threadHost = nullptr;

} // namespace

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
    m_stream.SetMatchSeconds(m_header.U16(ReplayHeader::kMatchSecondsOffset));
    m_stream.SetMatchFinished(m_header.U8(ReplayHeader::kNotLiveOffset) != 0);
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

HostStatus CLocalGameHost::Status() const
{
    HostStatus status = m_session.Status();
    status.m_matchId = m_stream.MatchId();
    status.m_bytesHeld = m_stream.Size();
    status.m_matchSeconds = m_stream.MatchSeconds();
    // A finished match is never live, however much of it is still to download.
    bool liveMatch = false;
    {
        std::lock_guard lock(m_headerMutex);
        liveMatch = m_header.U8(ReplayHeader::kNotLiveOffset) == 0;
    }
    status.m_live = liveMatch && !m_stream.Ended();
    if (!status.m_sessionActive)
        status.m_liveDelaySeconds = m_liveDelaySeconds.load();
    return status;
}

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
    if (!m_announceThread.Start([this] { AnnounceThread(); }) ||
        !m_acceptThread.Start([this] { AcceptThread(); }))
        return false;
    ShowOnMdns();
    return true;
}

void CLocalGameHost::Stop()
{
    m_stopEvent.Set();
    HideFromMdns();
    m_session.SignalStop();
    {
        std::lock_guard lock(m_wakeMutex);
        m_listener.Shutdown();
        m_session.ShutdownGame();
    }
    if (OnHostThread())
        return;
    m_acceptThread.Join();
    m_announceThread.Join();
}

bool CLocalGameHost::CanResume() const
{
    if (m_session.Active())
        return false;
    // After /back the host is listening for the game again by itself.
    if (m_session.ReplayPending() && !m_stopEvent.IsSet())
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

bool CLocalGameHost::RateOnce(std::uint8_t rating)
{
    if (m_rated.exchange(1) != 0)
        return false;
    m_owner.SubmitRating(m_stream.MatchId(), std::clamp<std::uint8_t>(rating, 1, 5));
    return true;
}

void CLocalGameHost::SessionStopping()
{
    // The announcer and the listener end with the session, unless the viewer asked to watch
    // again: then the game is to find the match on its LAN screen at once.
    if (!m_session.ReplayPending())
        m_stopEvent.Set();
}

void CLocalGameHost::AnnounceThread()
{
    EnterHostThread();
    CUdpSocket socket;
    if (!socket.Open())
        return;
    while (!m_stopEvent.Wait(m_timings.m_announceIntervalMs))
    {
        if (m_session.Active())
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

void CLocalGameHost::ShowOnMdns()
{
    IMdnsPublisher* publisher = m_mdns.load();
    if (publisher == nullptr)
        return;
    std::vector<std::uint8_t> announcement;
    {
        std::lock_guard lock(m_headerMutex);
        const auto bytes = m_header.Announcement();
        announcement.assign(bytes.begin(), bytes.end());
    }
    // A stopped host shows nothing, whichever of the two threads comes first.
    std::lock_guard lock(m_mdnsMutex);
    if (!m_stopEvent.IsSet())
        publisher->Publish(this, announcement);
}

void CLocalGameHost::HideFromMdns()
{
    std::lock_guard lock(m_mdnsMutex);
    if (IMdnsPublisher* publisher = m_mdns.load())
        publisher->Withdraw(this);
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
        if (!RunSessionOn(std::make_unique<CTcpGameLink>(std::move(game))))
            continue; // a connection that never asked to join: the host listens and announces on
        if (m_stopEvent.IsSet())
            break;
        // The viewer asked to watch again: the next game to join gets that session.
    }
    // A second game needs a new StartListener.
    std::lock_guard lock(m_wakeMutex);
    m_listener.Close();
}

bool CLocalGameHost::RunSessionOn(std::unique_ptr<IGameLink> link)
{
    const std::uint32_t ranBefore = m_sessionRan.load();
    // Active before the first request, so that the first full chunk chains.
    m_session.Begin(m_liveDelaySeconds.load());
    if (!AttachGame(std::move(link)))
    {
        m_session.Abandon();
        return true;
    }
    m_sessionRan.store(1);
    if (m_stream.Size() == 0)
        m_stream.RequestData(0);
    const GameRead join = m_session.AwaitJoinRequest();
    if (join.TimedOut() && !m_stopEvent.IsSet())
    {
        m_session.Abandon();
        m_sessionRan.store(ranBefore);
        m_session.ShutdownGame();
        DetachGame();
        return false;
    }
    // The game has joined (or gone): like the UDP announcement, the game is no longer shown.
    HideFromMdns();
    m_session.Run(join);
    m_session.End();
    DetachGame();
    const bool goesOn = m_session.ReplayPending() && !m_stopEvent.IsSet();
    SessionEnded(goesOn);
    if (goesOn)
        ShowOnMdns(); // the viewer watches again: the game finds the match anew
    return true;
}

bool CLocalGameHost::AttachGame(std::unique_ptr<IGameLink> link)
{
    std::lock_guard lock(m_wakeMutex);
    if (m_stopEvent.IsSet())
        return false;
    m_session.AttachGame(std::move(link));
    return true;
}

void CLocalGameHost::DetachGame()
{
    std::lock_guard lock(m_wakeMutex);
    m_session.DetachGame();
}

void CLocalGameHost::SessionEnded(bool goesOn)
{
    if (goesOn)
        return;
    m_lastEndedCleanly.store(m_session.LeaveAckSent());
    m_sessionsEnded.fetch_add(1);
    m_sessionEnded.Set();
}

bool CLocalGameHost::WaitSessionEnded(std::uint32_t timeoutMs)
{
    return m_sessionEnded.Wait(timeoutMs);
}

std::uint32_t CLocalGameHost::SessionsEnded() const { return m_sessionsEnded.load(); }

void CLocalGameHost::AppendStreamChunk(std::uint32_t offset, const std::uint8_t* data,
                                       std::uint32_t length, std::uint16_t matchSeconds)
{
    m_stream.Append(offset, data, length, matchSeconds);
}

std::string CLocalGameHost::MapPath() const
{
    std::lock_guard lock(m_headerMutex);
    return m_mapPath;
}

ReplayHeader CLocalGameHost::HeaderCopy() const
{
    std::lock_guard lock(m_headerMutex);
    return m_header;
}

} // namespace velt
