#include "server/CMatchServerClient.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "host/CLocalGameHost.h"
#include "platform/Clock.h"
#include "server/MatchServerMessages.h"

namespace velt
{

CMatchServerClient::CMatchServerClient(IUserNotice& notices, LocalPortSettings ports)
    : m_notices(notices), m_ports(ports), m_hosts(*this, notices, ports), m_connection(*this),
      m_keeper(m_connection, m_hosts, notices,
               [this](std::uint32_t matchId, std::uint8_t rating)
               { return SendRating(matchId, rating); })
{
}

CMatchServerClient::~CMatchServerClient()
{
    // The keeper first: it connects and talks to hosts. Then the receive threads, so that no
    // chunk is routed any more; then the hosts, while the client they call back into is whole.
    m_keeper.Stop();
    m_connection.Close();
    m_hosts.CloseAll();
}

void CMatchServerClient::SetChannelId(std::uint32_t channelId)
{
    m_channelId.store(channelId, std::memory_order_relaxed);
}

std::uint32_t CMatchServerClient::GetChannelId() const
{
    return m_channelId.load(std::memory_order_relaxed);
}

bool CMatchServerClient::Connect(const std::string& dottedIp, std::uint16_t port,
                                 std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    return m_connection.Connect(dottedIp, port, timeoutMs, cancelled);
}

bool CMatchServerClient::IsConnected() const
{
    return m_connection.IsConnected();
}

void CMatchServerClient::OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation)
{
    const std::optional<GameDataChunk> chunk = ParseGameDataChunk(payload);
    if (!chunk)
        return;
    // Any answer, an empty one too, shows that the server is there.
    m_connection.NoteAnswer();
    // The first answer on a new connection ends a loss: the viewer hears of it before the data
    // it brings can reach the game.
    if (m_connection.CountAnswer(generation))
        m_keeper.TellServerBack();
    std::shared_ptr<CLocalGameHost> host = FindHost(chunk->m_matchId);
    if (!host)
    {
        m_notices.Notify("Invalid replay!");
        return;
    }
    // Without the table lock: a full chunk asks for the next one from inside the host, which
    // sends on the connection; the tables need not wait for that.
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

void CMatchServerClient::OnReplayHeader(std::span<const std::uint8_t> payload)
{
    const std::optional<ReplayHeaderReply> reply = ParseReplayHeaderReply(payload);
    if (!reply)
    {
        // A header of the wrong size still begins with the match id: the refusal can name it,
        // as it names the match of a header that the game cannot take.
        if (const auto matchId = ReplayHeaderReplyMatchId(payload))
            m_hosts.RefuseHeader(*matchId, "it is " + std::to_string(payload.size() - 4) +
                                               " bytes long instead of " +
                                               std::to_string(kReplayHeaderSize));
    }
    if (!reply || m_hosts.TakeHeader(reply->m_matchId, reply->m_header) ==
                      CHostTable::HeaderOutcome::kRefused)
        m_notices.Notify("Erro Getting replay header, please update to latest version of VELT");
}

void CMatchServerClient::OnMatchRecord(std::span<const std::uint8_t> payload)
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

void CMatchServerClient::OnMatchStats(std::span<const std::uint8_t> payload)
{
    const std::optional<MatchStats> stats = ParseMatchStats(payload);
    if (!stats)
        return;
    std::lock_guard lock(m_tableMutex);
    m_stats.insert_or_assign(stats->m_matchId, *stats);
}

std::optional<std::string> CMatchServerClient::HeaderProblem(std::uint32_t matchId) const
{
    return m_hosts.HeaderProblem(matchId);
}

bool CMatchServerClient::HasHost(std::uint32_t matchId) const
{
    return FindHost(matchId) != nullptr;
}

std::shared_ptr<CLocalGameHost> CMatchServerClient::FindHost(std::uint32_t matchId) const
{
    return m_hosts.Find(matchId);
}

std::vector<std::shared_ptr<CLocalGameHost>> CMatchServerClient::Hosts() const
{
    return m_hosts.All();
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
    return m_hosts.HostsStarted();
}

void CMatchServerClient::SetLiveDelay(std::uint32_t seconds)
{
    m_hosts.SetLiveDelay(seconds);
}

std::uint32_t CMatchServerClient::LiveDelay() const
{
    return m_hosts.LiveDelay();
}

void CMatchServerClient::SetHostTimings(HostTimings timings)
{
    m_hosts.SetTimings(timings);
}

bool CMatchServerClient::ResumeHost(std::uint32_t matchId)
{
    return m_hosts.Resume(matchId);
}

void CMatchServerClient::CloseHost(std::uint32_t matchId)
{
    m_hosts.Close(matchId);
}

bool CMatchServerClient::WaitForHost(std::uint32_t matchId, std::uint32_t timeoutMs)
{
    return m_hosts.WaitForHost(matchId, timeoutMs);
}

bool CMatchServerClient::WaitSessionEnded(std::uint32_t matchId, std::uint32_t timeoutMs)
{
    const std::shared_ptr<CLocalGameHost> host = FindHost(matchId);
    return host && host->WaitSessionEnded(timeoutMs);
}

bool CMatchServerClient::RequestMatchList()
{
    return m_connection.Send(BuildMatchListRequest({GetChannelId()}));
}

bool CMatchServerClient::RequestReplayHeader(std::uint32_t matchId)
{
    m_hosts.NoteHeaderRequested(matchId);
    return m_connection.Send(BuildReplayHeaderRequest({matchId}));
}

void CMatchServerClient::RequestGameData(std::uint32_t matchId, std::uint32_t offset)
{
    if (!IsConnected())
    {
        if (SupervisesServerLink())
        {
            // The keeper reconnects, and the host is asked again from its buffer's end; it
            // tells the viewer only when a session still downloading has lost its server.
            m_keeper.WantRequest();
            return;
        }
        // A connection that the server dropped would otherwise leave the viewer buffering
        // without a word; the first request after the loss says so, once.
        if (m_connection.TakeLoss())
            m_notices.Notify("Disconnected from server!");
        return;
    }
    if (!m_connection.Send(BuildGameDataRequest({matchId, offset})))
    {
        m_notices.Notify("Disconnected from server!");
        return;
    }
    m_connection.NoteRequestSent(CSystemClock::Instance().NowMs());
}

void CMatchServerClient::SuperviseServerLink(ReconnectPolicy policy)
{
    m_keeper.Start(policy);
}

bool CMatchServerClient::SupervisesServerLink() const
{
    return m_keeper.Started();
}

bool CMatchServerClient::ServerGivenUp() const
{
    return m_keeper.GivenUp();
}

void CMatchServerClient::SubmitRating(std::uint32_t matchId, std::uint8_t rating)
{
    // The send's result is not looked at: the server sends nothing back.
    if (!SupervisesServerLink())
    {
        const auto message = RateMessage(matchId, rating);
        m_connection.SendRaw(message.data(), message.size());
        return;
    }
    // With a keeper, a rating typed while the connection is down waits for the next one.
    if (IsConnected() && SendRating(matchId, rating))
        return;
    m_keeper.KeepRating(matchId, rating);
}

std::vector<std::uint8_t> CMatchServerClient::RateMessage(std::uint32_t matchId,
                                                          std::uint8_t rating) const
{
    return BuildRateMessage({GetChannelId(), matchId, ClampRating(rating)});
}

bool CMatchServerClient::SendRating(std::uint32_t matchId, std::uint8_t rating)
{
    return m_connection.Send(RateMessage(matchId, rating));
}

CMatchServerClient::ListOutcome
CMatchServerClient::FetchMatchList(std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    ListEndEvent().Reset();
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
        switch (WaitAny({&ChannelInvalidEvent(), &ListEndEvent()}, slice))
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

bool CMatchServerClient::MapFileExists(const std::string& relativePath)
{
    return m_warcraft.MapFileExists(relativePath);
}

} // namespace velt
