#include "server/CMatchServerClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>

#include "host/CLocalGameHost.h"
#include "host/ReplayHeaderCheck.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CFrameAssembler.h"
#include "server/MatchServerMessages.h"
#include "server/MessageCode.h"

namespace velt
{

// One connection to the server and the thread that reads it. The socket is shared with the
// senders, which may still hold it for a moment after the connection has been replaced.
struct CMatchServerClient::Connection
{
    std::shared_ptr<CTcpSocket> m_socket;
    std::uint64_t m_generation = 0;
    std::uint64_t m_answers = 0; // game-data answers on it (under m_connectionMutex)
    CThread m_thread;            // last, so that it is joined before the socket goes
};

const CMatchServerClient::DispatchRow CMatchServerClient::kDispatchTable[] = {
    {CodeByte(MessageCode::MSG_GAME_DATA), CodeByte(MessageCode::MSG_GAME_DATA),
     &CMatchServerClient::OnGameData},
    {CodeByte(MessageCode::MSG_MATCH_INFO), CodeByte(MessageCode::MSG_MATCH_INFO),
     &CMatchServerClient::OnMatchRecord},
    {CodeByte(MessageCode::MSG_REPLAY_HEADER), CodeByte(MessageCode::MSG_REPLAY_HEADER),
     &CMatchServerClient::OnReplayHeader},
    {CodeByte(MessageCode::MSG_IGNORED_FIRST), CodeByte(MessageCode::MSG_IGNORED_LAST),
     &CMatchServerClient::OnIgnored},
    {CodeByte(MessageCode::MSG_CHANNEL_INVALID_47), CodeByte(MessageCode::MSG_CHANNEL_INVALID_48),
     &CMatchServerClient::OnChannelInvalid},
    {CodeByte(MessageCode::MSG_LIST_END), CodeByte(MessageCode::MSG_LIST_END),
     &CMatchServerClient::OnListEnd},
    {CodeByte(MessageCode::MSG_CHANNEL_INVALID), CodeByte(MessageCode::MSG_CHANNEL_INVALID),
     &CMatchServerClient::OnChannelInvalid},
    {CodeByte(MessageCode::MSG_MATCH_STATS), CodeByte(MessageCode::MSG_MATCH_STATS),
     &CMatchServerClient::OnMatchStats},
};

CMatchServerClient::CMatchServerClient(IUserNotice& notices, LocalPortSettings ports)
    : m_notices(notices), m_ports(ports)
{
}

CMatchServerClient::~CMatchServerClient()
{
    // The supervisor first: it connects and talks to hosts.
    m_supervisorStop.Set();
    m_supervisor.Join();

    // Wake every receive thread and wait for it before the tables and events go away.
    std::vector<std::unique_ptr<Connection>> ending;
    {
        std::lock_guard connectLock(m_connectMutex);
        std::lock_guard lock(m_connectionMutex);
        if (m_current)
            ending.push_back(std::move(m_current));
        for (auto& connection : m_retired)
            ending.push_back(std::move(connection));
        m_retired.clear();
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        m_connected.store(false, std::memory_order_release);
    }
    for (auto& connection : ending)
        connection->m_socket->Shutdown();
    ending.clear();

    // No receive thread is left to route chunks; stop every host while the client they call
    // back into is still whole.
    std::lock_guard control(m_hostControlMutex);
    std::unordered_map<std::uint32_t, std::shared_ptr<CLocalGameHost>> hosts;
    {
        std::lock_guard lock(m_hostMutex);
        hosts.swap(m_hosts);
    }
    for (auto& [matchId, host] : hosts)
    {
        host->Stop();
        host->SetMdnsPublisher(nullptr);
    }
}

void CMatchServerClient::SetChannelId(std::uint32_t channelId)
{
    m_channelId.store(channelId, std::memory_order_relaxed);
}

std::uint32_t CMatchServerClient::GetChannelId() const
{
    return m_channelId.load(std::memory_order_relaxed);
}

bool CMatchServerClient::IsConnected() const
{
    return m_connected.load(std::memory_order_acquire);
}

bool CMatchServerClient::Connect(const std::string& dottedIp, std::uint16_t port,
                                 std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    std::lock_guard connectLock(m_connectMutex);

    // Close the current connection first, whatever its state; its receive thread ends on the
    // shut-down socket and is joined later, so that a thread busy in a handler does not hold
    // up the caller.
    {
        std::lock_guard lock(m_connectionMutex);
        if (m_current)
        {
            m_current->m_socket->Shutdown();
            m_retired.push_back(std::move(m_current));
        }
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        m_connected.store(false, std::memory_order_release);
    }
    ReapEndedConnections();

    auto socket =
        std::make_shared<CTcpSocket>(CTcpSocket::Connect(dottedIp, port, timeoutMs, cancelled));
    if (!socket->IsValid())
        return false;

    auto connection = std::make_unique<Connection>();
    connection->m_socket = socket;
    Connection* started = connection.get();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_connectionMutex);
        generation = m_generation.fetch_add(1, std::memory_order_acq_rel) + 1;
        connection->m_generation = generation;
        m_current = std::move(connection);
        m_serverIp = dottedIp;
        m_serverPort = port;
        m_requestPendingSince.store(0);
        m_connected.store(true, std::memory_order_release);
        m_connectionLost.store(false, std::memory_order_release);
    }
    if (!started->m_thread.Start([this, socket, generation] { ReceiveLoop(socket, generation); }))
    {
        ClearConnected(generation);
        return false;
    }
    return true;
}

void CMatchServerClient::ReapEndedConnections()
{
    std::erase_if(m_retired, [](const std::unique_ptr<Connection>& connection)
                  { return connection->m_thread.Finished(); });
}

void CMatchServerClient::ReceiveLoop(std::shared_ptr<CTcpSocket> socket, std::uint64_t generation)
{
    auto assembler = std::make_unique<CFrameAssembler>();
    for (;;)
    {
        const std::span<std::uint8_t> space = assembler->FreeSpace();
        const int received = socket->Recv(space.data(), space.size());
        if (received <= 0)
            break;
        assembler->Commit(static_cast<std::size_t>(received));
        bool stale = false;
        while (auto body = assembler->Next())
        {
            // Frames still buffered from a replaced connection are not the new one's business.
            if (m_generation.load(std::memory_order_acquire) != generation)
            {
                stale = true;
                break;
            }
            Dispatch(*body, generation);
        }
        if (stale)
            break;
        if (assembler->Broken())
        {
            // A frame too large even to skip: the stream cannot be trusted any more.
            socket->Shutdown();
            break;
        }
    }
    // The server or the network ended the connection (unless it was replaced or torn down).
    ClearConnected(generation, true);
}

void CMatchServerClient::DispatchFrame(std::span<const std::uint8_t> body)
{
    Dispatch(body, m_generation.load(std::memory_order_acquire));
}

void CMatchServerClient::Dispatch(std::span<const std::uint8_t> body, std::uint64_t generation)
{
    if (!body.empty())
    {
        const std::uint8_t code = body[0];
        const auto row = std::find_if(std::begin(kDispatchTable), std::end(kDispatchTable),
                                      [code](const DispatchRow& r)
                                      { return code >= r.m_first && code <= r.m_last; });
        if (row != std::end(kDispatchTable))
            (this->*row->m_handler)(body.subspan(1), generation);
    }
    // Counted once handled, so that whoever watches the count sees the frame's effects.
    m_framesDispatched.fetch_add(1, std::memory_order_acq_rel);
}

void CMatchServerClient::OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation)
{
    const std::optional<GameDataChunk> chunk = ParseGameDataChunk(payload);
    if (!chunk)
        return;
    // Any answer, an empty one too, shows that the server is there.
    m_requestPendingSince.store(0);
    bool first = false;
    {
        std::lock_guard lock(m_connectionMutex);
        if (m_current && m_current->m_generation == generation)
            first = m_current->m_answers++ == 0;
    }
    // The first answer on a new connection ends a loss: the viewer hears of it before the data
    // it brings can reach the game.
    if (first)
        TellServerBack();
    std::shared_ptr<CLocalGameHost> host = FindHost(chunk->m_matchId);
    if (!host)
    {
        m_notices.Notify("Invalid replay!");
        return;
    }
    // Without the table lock: an empty chunk holds this thread inside the host for a while.
    host->AppendStreamChunk(chunk->m_offset, chunk->m_data.data(), chunk->m_count,
                            chunk->m_matchSeconds);
    if (chunk->m_count >= 1 && chunk->m_count <= kFullChunkSize)
        UpdateMatchLength(chunk->m_matchId, chunk->m_matchSeconds);
}

void CMatchServerClient::UpdateMatchLength(std::uint32_t matchId, std::uint16_t seconds)
{
    std::lock_guard lock(m_tableMutex);
    if (const auto found = m_catalogue.find(matchId); found != m_catalogue.end())
    {
        found->second.m_length = seconds;
        found->second.m_lengthText = LengthText(seconds);
    }
}

void CMatchServerClient::OnReplayHeader(std::span<const std::uint8_t> payload, std::uint64_t)
{
    const std::optional<ReplayHeaderReply> reply = ParseReplayHeaderReply(payload);
    if (!reply)
    {
        m_notices.Notify("Erro Getting replay header, please update to latest version of VELT");
        return;
    }
    // Only the answer to a request of ours makes a host: a server that sends headers unasked
    // would otherwise start a listener and two threads for each.
    {
        std::lock_guard lock(m_hostMutex);
        if (m_headersRequested.erase(reply->m_matchId) == 0)
            return;
        m_headerProblems.erase(reply->m_matchId);
    }
    // A header whose packets the game cannot take would make a host that the game never sees,
    // or one that sends it bytes that are no packet: refused as a header of the wrong size is.
    if (auto problem = ReplayHeaderProblem(reply->m_header))
    {
        {
            std::lock_guard lock(m_hostMutex);
            m_headerProblems.insert_or_assign(reply->m_matchId, std::move(*problem));
        }
        m_notices.Notify("Erro Getting replay header, please update to latest version of VELT");
        return;
    }
    CreateHost(reply->m_matchId, reply->m_header);
}

void CMatchServerClient::CreateHost(std::uint32_t matchId, std::span<const std::uint8_t> header)
{
    std::lock_guard control(m_hostControlMutex);
    // A host watching the same match gives way first.
    CloseHostLocked(matchId);

    HostTimings timings;
    std::uint32_t liveDelay = 0;
    {
        std::lock_guard lock(m_hostMutex);
        timings = m_hostTimings;
        liveDelay = m_liveDelaySeconds;
    }
    auto host = std::make_shared<CLocalGameHost>(*this, CSystemClock::Instance(), timings);
    host->SetMatchId(matchId);
    // Before the listener starts, so that the first session already keeps its distance.
    host->SetLiveDelay(liveDelay);
    host->SetHeader(header);
    host->SetAnnouncePort(m_ports.m_announcePort);
    if (m_ports.m_mdns)
        host->SetMdnsPublisher(&m_mdns);
    // The port is used up whether or not the listener starts; a failure has told the user.
    host->SetListenPort(TakeNextPort());
    host->StartListener();
    {
        std::lock_guard lock(m_hostMutex);
        m_hosts.insert_or_assign(matchId, std::move(host));
    }
    m_hostsChanged.notify_all();
}

std::uint32_t CMatchServerClient::TakeNextPort()
{
    std::lock_guard lock(m_hostMutex);
    const std::uint32_t count = m_hostsStarted++;
    return m_ports.m_firstGamePort == 0 ? 0 : m_ports.m_firstGamePort + count;
}

std::optional<std::string> CMatchServerClient::HeaderProblem(std::uint32_t matchId) const
{
    std::lock_guard lock(m_hostMutex);
    if (const auto found = m_headerProblems.find(matchId); found != m_headerProblems.end())
        return found->second;
    return std::nullopt;
}

bool CMatchServerClient::HasHost(std::uint32_t matchId) const
{
    return FindHost(matchId) != nullptr;
}

std::shared_ptr<CLocalGameHost> CMatchServerClient::FindHost(std::uint32_t matchId) const
{
    std::lock_guard lock(m_hostMutex);
    const auto found = m_hosts.find(matchId);
    return found == m_hosts.end() ? nullptr : found->second;
}

std::optional<std::uint16_t> CMatchServerClient::HostPort(std::uint32_t matchId) const
{
    const std::shared_ptr<CLocalGameHost> host = FindHost(matchId);
    if (!host)
        return std::nullopt;
    return static_cast<std::uint16_t>(host->Port());
}

std::uint32_t CMatchServerClient::HostsStarted() const
{
    std::lock_guard lock(m_hostMutex);
    return m_hostsStarted;
}

void CMatchServerClient::SetLiveDelay(std::uint32_t seconds)
{
    std::lock_guard lock(m_hostMutex);
    m_liveDelaySeconds = seconds;
}

std::uint32_t CMatchServerClient::LiveDelay() const
{
    std::lock_guard lock(m_hostMutex);
    return m_liveDelaySeconds;
}

void CMatchServerClient::SetHostTimings(HostTimings timings)
{
    std::lock_guard lock(m_hostMutex);
    m_hostTimings = timings;
}

bool CMatchServerClient::ResumeHost(std::uint32_t matchId)
{
    std::lock_guard control(m_hostControlMutex);
    const std::shared_ptr<CLocalGameHost> host = FindHost(matchId);
    if (!host)
        return false;
    // Only a host whose game has come and gone, or whose listener never opened; a running or
    // still waiting one stays as it is.
    if (!host->CanResume())
        return false;
    if (host->Port() == 0)
        host->SetListenPort(TakeNextPort());
    // A listener that does not open (the user has been told) leaves the host resumable, so
    // that the next Watch! tries again.
    return host->Resume();
}

void CMatchServerClient::CloseHost(std::uint32_t matchId)
{
    std::lock_guard control(m_hostControlMutex);
    CloseHostLocked(matchId);
}

void CMatchServerClient::CloseHostLocked(std::uint32_t matchId)
{
    std::shared_ptr<CLocalGameHost> host;
    {
        std::lock_guard lock(m_hostMutex);
        const auto found = m_hosts.find(matchId);
        if (found == m_hosts.end())
            return;
        host = std::move(found->second);
        m_hosts.erase(found);
    }
    m_hostsChanged.notify_all();
    // Joins the host's threads; a chunk being written into it keeps the object until it ends.
    host->Stop();
    host->SetMdnsPublisher(nullptr);
}

bool CMatchServerClient::WaitForHost(std::uint32_t matchId, std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_hostMutex);
    return m_hostsChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return m_hosts.contains(matchId); });
}

bool CMatchServerClient::WaitSessionEnded(std::uint32_t matchId, std::uint32_t timeoutMs)
{
    const std::shared_ptr<CLocalGameHost> host = FindHost(matchId);
    return host && host->WaitSessionEnded(timeoutMs);
}

void CMatchServerClient::OnIgnored(std::span<const std::uint8_t>, std::uint64_t) {}

void CMatchServerClient::OnMatchRecord(std::span<const std::uint8_t> payload, std::uint64_t)
{
    std::optional<CMatchInfo> info = ParseMatchRecord(payload);
    if (!info)
    {
        char text[64];
        std::snprintf(text, sizeof text, "error information %zu %zu", MatchRecordExtent(payload),
                      payload.size());
        m_notices.Notify(text);
        return;
    }
    info->m_lengthText = LengthText(info->m_length);
    const std::uint32_t matchId = info->m_matchId;
    std::lock_guard lock(m_tableMutex);
    m_catalogue.insert_or_assign(matchId, std::move(*info));
}

void CMatchServerClient::OnMatchStats(std::span<const std::uint8_t> payload, std::uint64_t)
{
    const std::optional<MatchStats> stats = ParseMatchStats(payload);
    if (!stats)
        return;
    std::lock_guard lock(m_tableMutex);
    m_stats.insert_or_assign(stats->m_matchId, *stats);
}

void CMatchServerClient::OnChannelInvalid(std::span<const std::uint8_t>, std::uint64_t generation)
{
    ClearConnected(generation);
    m_channelInvalidEvent.Set();
}

void CMatchServerClient::OnListEnd(std::span<const std::uint8_t>, std::uint64_t)
{
    m_listEndEvent.Set();
}

void CMatchServerClient::ClearConnected(std::uint64_t generation, bool lost)
{
    std::lock_guard lock(m_connectionMutex);
    if (m_generation.load(std::memory_order_acquire) != generation)
        return;
    if (lost && m_connected.load(std::memory_order_acquire))
        m_connectionLost.store(true, std::memory_order_release);
    m_connected.store(false, std::memory_order_release);
}

std::pair<std::shared_ptr<CTcpSocket>, std::uint64_t> CMatchServerClient::CurrentSocket() const
{
    std::lock_guard lock(m_connectionMutex);
    if (!m_current)
        return {nullptr, m_generation.load(std::memory_order_acquire)};
    return {m_current->m_socket, m_current->m_generation};
}

bool CMatchServerClient::SendRequest(std::span<const std::uint8_t> frame)
{
    const auto [socket, generation] = CurrentSocket();
    if (socket && socket->Send(frame.data(), frame.size()) == static_cast<int>(frame.size()))
        return true;
    ClearConnected(generation);
    return false;
}

bool CMatchServerClient::RequestMatchList()
{
    return SendRequest(BuildMatchListRequest({GetChannelId()}));
}

bool CMatchServerClient::RequestReplayHeader(std::uint32_t matchId)
{
    {
        std::lock_guard lock(m_hostMutex);
        m_headersRequested.insert(matchId);
    }
    return SendRequest(BuildReplayHeaderRequest({matchId}));
}

void CMatchServerClient::RequestGameData(std::uint32_t matchId, std::uint32_t offset)
{
    if (!IsConnected())
    {
        if (SupervisesServerLink())
        {
            // The supervisor reconnects, and the host is asked again from its buffer's end; it
            // tells the viewer only when a session still downloading has lost its server.
            m_requestWanted.store(true);
            return;
        }
        // A connection that the server dropped would otherwise leave the viewer buffering
        // without a word; the first request after the loss says so, once.
        if (m_connectionLost.exchange(false, std::memory_order_acq_rel))
            m_notices.Notify("Disconnected from server!");
        return;
    }
    if (!SendRequest(BuildGameDataRequest({matchId, offset})))
    {
        m_notices.Notify("Disconnected from server!");
        return;
    }
    std::uint64_t none = 0;
    m_requestPendingSince.compare_exchange_strong(
        none, std::max<std::uint64_t>(1, CSystemClock::Instance().NowMs()));
}

void CMatchServerClient::SuperviseServerLink(ReconnectPolicy policy)
{
    if (m_supervised.exchange(true))
        return;
    m_supervisor.Start([this, policy] { SuperviseLoop(policy); });
}

bool CMatchServerClient::SupervisesServerLink() const
{
    return m_supervised.load();
}

bool CMatchServerClient::ServerGivenUp() const
{
    return m_givenUp.load();
}

CMatchServerClient::LinkState CMatchServerClient::CurrentLinkState() const
{
    std::lock_guard lock(m_connectionMutex);
    if (!m_current)
        return {};
    return {m_connected.load(std::memory_order_acquire), m_current->m_generation,
            m_current->m_answers};
}

void CMatchServerClient::SuperviseLoop(ReconnectPolicy policy)
{
    IClock& clock = CSystemClock::Instance();
    CLinkSupervisor supervisor(policy, CurrentLinkState().m_generation);
    while (!m_supervisorStop.Wait(policy.m_tickMs))
    {
        const LinkObservation seen = ObserveLink(policy, clock.NowMs());
        if (!ActOnLink(supervisor.Look(seen), seen.m_connected, seen.m_needed))
            supervisor.Tried(clock.NowMs());
    }
}

LinkObservation CMatchServerClient::ObserveLink(const ReconnectPolicy& policy,
                                                std::uint64_t nowMs) const
{
    LinkObservation seen;
    seen.m_nowMs = nowMs;
    const LinkState link = CurrentLinkState();
    seen.m_connected = link.m_connected;
    seen.m_generation = link.m_generation;
    seen.m_answers = link.m_answers;
    seen.m_needed = !DownloadingSessions().empty();
    {
        std::lock_guard lock(m_ratingsMutex);
        seen.m_wanted = m_requestWanted.load() || !m_waitingRatings.empty();
    }
    const std::uint64_t pending = m_requestPendingSince.load();
    seen.m_silent = pending != 0 && nowMs > pending && nowMs - pending >= policy.m_silenceMs;
    return seen;
}

bool CMatchServerClient::ActOnLink(const LinkActions& actions, bool connected, bool needed)
{
    if (!connected && !needed)
        m_connectionLost.store(false); // a loss nobody misses is never told
    // A return first: a loss told in the same look is a new one.
    if (actions.m_tellBack)
        TellServerBack();
    if (actions.m_tellLost)
    {
        if (m_connectionLost.exchange(false))
            m_notices.Notify("Disconnected from server!");
        std::lock_guard lock(m_toldLostMutex);
        m_toldLost.clear();
        for (const auto& host : DownloadingSessions())
        {
            host->PostServerLine(kServerLostLine);
            m_toldLost.push_back(host);
        }
    }
    if (actions.m_revive)
    {
        m_givenUp.store(false);
        std::lock_guard lock(m_toldLostMutex);
        m_toldLost.clear();
        for (const auto& host : ActiveSessions())
            if (host->EndingForLostServer())
            {
                host->CancelEndForLostServer();
                m_toldLost.push_back(host);
            }
    }
    if (actions.m_askAgain)
    {
        m_requestWanted.store(false);
        // Play goes on from where each buffer ends; nothing is asked for twice.
        for (const auto& host : ActiveSessions())
            host->RequestAgainFromEnd();
        SendWaitingRatings();
    }
    if (actions.m_giveUp)
    {
        m_givenUp.store(true);
        {
            std::lock_guard lock(m_toldLostMutex);
            m_toldLost.clear();
        }
        for (const auto& host : DownloadingSessions())
        {
            host->PostServerLine(kServerGoneLine);
            host->EndForLostServer();
        }
    }
    if (actions.m_drop)
        DropConnection();
    if (!actions.m_reconnectWithinMs)
        return true;
    std::string ip;
    std::uint16_t port = 0;
    {
        std::lock_guard lock(m_connectionMutex);
        ip = m_serverIp;
        port = m_serverPort;
    }
    Connect(ip, port, *actions.m_reconnectWithinMs, [this] { return m_supervisorStop.IsSet(); });
    return false;
}

void CMatchServerClient::TellServerBack()
{
    // Those told of the loss hear of the return, whether or not they still download.
    std::lock_guard lock(m_toldLostMutex);
    for (const auto& told : m_toldLost)
        if (const auto host = told.lock(); host && host->SessionActive())
            host->PostServerLine(kServerBackLine);
    m_toldLost.clear();
}

std::vector<std::shared_ptr<CLocalGameHost>> CMatchServerClient::ActiveSessions() const
{
    std::vector<std::shared_ptr<CLocalGameHost>> active;
    std::lock_guard lock(m_hostMutex);
    for (const auto& [matchId, host] : m_hosts)
        if (host->SessionActive())
            active.push_back(host);
    return active;
}

std::vector<std::shared_ptr<CLocalGameHost>> CMatchServerClient::DownloadingSessions() const
{
    std::vector<std::shared_ptr<CLocalGameHost>> downloading;
    std::lock_guard lock(m_hostMutex);
    for (const auto& [matchId, host] : m_hosts)
        if (host->SessionActive() && !host->HoldsWholeMatch() && !host->EndingForLostServer())
            downloading.push_back(host);
    return downloading;
}

void CMatchServerClient::DropConnection()
{
    std::lock_guard lock(m_connectionMutex);
    if (m_current)
        m_current->m_socket->Shutdown();
}

void CMatchServerClient::SubmitRating(std::uint32_t matchId, std::uint8_t rating)
{
    // The send's result is not looked at: the server sends nothing back.
    const auto message = BuildRateMessage({GetChannelId(), matchId, ClampRating(rating)});
    if (!SupervisesServerLink())
    {
        SendRaw(message.data(), message.size());
        return;
    }
    // With a supervisor, a rating typed while the connection is down waits for the next one.
    if (IsConnected() && SendRequest(message))
        return;
    std::lock_guard lock(m_ratingsMutex);
    if (m_waitingRatings.size() < kMaxWaitingRatings)
        m_waitingRatings.push_back({matchId, rating});
}

void CMatchServerClient::SendWaitingRatings()
{
    std::vector<WaitingRating> waiting;
    {
        std::lock_guard lock(m_ratingsMutex);
        waiting.swap(m_waitingRatings);
    }
    for (std::size_t i = 0; i < waiting.size(); ++i)
    {
        const WaitingRating& rating = waiting[i];
        if (SendRequest(
                BuildRateMessage({GetChannelId(), rating.m_matchId, ClampRating(rating.m_rating)})))
            continue;
        std::lock_guard lock(m_ratingsMutex);
        m_waitingRatings.insert(m_waitingRatings.end(),
                                waiting.begin() + static_cast<std::ptrdiff_t>(i), waiting.end());
        return;
    }
}

int CMatchServerClient::SendRaw(const std::uint8_t* data, std::size_t size)
{
    const auto socket = CurrentSocket().first;
    if (!socket)
        return -1;
    return socket->Send(data, size);
}

CMatchServerClient::ListOutcome
CMatchServerClient::FetchMatchList(std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    m_listEndEvent.Reset();
    RequestMatchList();
    const auto start = std::chrono::steady_clock::now();
    for (;;)
    {
        const auto waited =
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start)
                                           .count());
        const std::uint32_t slice = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(kListWaitSliceMs, timeoutMs > waited ? timeoutMs - waited : 0));
        // The receive thread dispatches what arrived before it clears the flag, so a list that
        // ends just before the connection is still seen here.
        const bool connected = IsConnected();
        switch (WaitAny({&m_channelInvalidEvent, &m_listEndEvent}, slice))
        {
        case 0:
            return ListOutcome::kChannelInvalid;
        case 1:
            return ListOutcome::kListEnd;
        default:
            break;
        }
        if (!connected)
            return ListOutcome::kConnectionLost;
        if (cancelled && cancelled())
            return ListOutcome::kCancelled;
        if (waited + slice >= timeoutMs)
            return ListOutcome::kTimeOut;
    }
}

std::vector<CatalogueEntry> CMatchServerClient::CatalogueSnapshot() const
{
    std::lock_guard lock(m_tableMutex);
    std::vector<CatalogueEntry> entries;
    entries.reserve(m_catalogue.size());
    for (const auto& [matchId, info] : m_catalogue)
    {
        CatalogueEntry& entry = entries.emplace_back();
        entry.m_info = info;
        if (const auto stats = m_stats.find(matchId); stats != m_stats.end())
            entry.m_stats = stats->second;
    }
    return entries;
}

std::optional<CMatchInfo> CMatchServerClient::FindMatch(std::uint32_t matchId) const
{
    std::lock_guard lock(m_tableMutex);
    if (const auto found = m_catalogue.find(matchId); found != m_catalogue.end())
        return found->second;
    return std::nullopt;
}

std::optional<MatchStats> CMatchServerClient::FindStats(std::uint32_t matchId) const
{
    std::lock_guard lock(m_tableMutex);
    if (const auto found = m_stats.find(matchId); found != m_stats.end())
        return found->second;
    return std::nullopt;
}

void CMatchServerClient::SetWarcraftPath(const std::string& folder)
{
    std::lock_guard lock(m_folderMutex);
    m_warcraftPath = folder.substr(0, kMaxWarcraftPathLength);
}

std::string CMatchServerClient::GetWarcraftPath() const
{
    std::lock_guard lock(m_folderMutex);
    return m_warcraftPath;
}

bool CMatchServerClient::MapFileExists(const std::string& relativePath)
{
    // Folder and map path meet at exactly one separator, whether or not the folder ends in one,
    // and a folder typed in Windows form is looked up where Wine keeps that drive.
    return FindFileNoCase(LocalFolderPath(GetWarcraftPath()), relativePath).has_value();
}

std::string CMatchServerClient::QueryWarcraftInstallPath()
{
    const std::optional<std::string> value = ReadUserRegistryString(
        "Software\\Blizzard Entertainment\\Warcraft III", "InstallPathX", kInstallPathBytes);
    if (!value)
        return {};
    const std::optional<std::string> local = WindowsPathToLocal(WinePrefix(), *value);
    if (!local || local->empty())
        return {};
    std::string folder = *local;
    if (folder.back() != kPathSeparator)
        folder.push_back(kPathSeparator);
    SetWarcraftPath(folder);
    return GetWarcraftPath();
}

std::uint64_t CMatchServerClient::FramesDispatched() const
{
    return m_framesDispatched.load(std::memory_order_acquire);
}

std::size_t CMatchServerClient::ReceiveThreadsRunning() const
{
    std::lock_guard connectLock(m_connectMutex);
    std::size_t running = 0;
    if (m_current && !m_current->m_thread.Finished())
        ++running;
    for (const auto& connection : m_retired)
        running += connection->m_thread.Finished() ? 0 : 1;
    return running;
}

} // namespace velt
