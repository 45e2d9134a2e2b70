#include "server/CHostTable.h"

#include <chrono>

#include "host/CLocalGameHost.h"
#include "host/ReplayHeaderCheck.h"
#include "platform/Clock.h"

namespace velt
{

CHostTable::CHostTable(IHostOwner& owner, IUserNotice& notices, LocalPortSettings ports)
    : m_owner(owner), m_ports(ports), m_mdns(notices)
{
}

CHostTable::~CHostTable()
{
    CloseAll();
}

void CHostTable::NoteHeaderRequested(std::uint32_t matchId)
{
    std::lock_guard lock(m_mutex);
    m_headersRequested.insert(matchId);
}

CHostTable::HeaderOutcome CHostTable::TakeHeader(std::uint32_t matchId,
                                                 std::span<const std::uint8_t> header)
{
    // Only the answer to a request of ours makes a host: a server that sends headers unasked
    // would otherwise start a listener and two threads for each.
    {
        std::lock_guard lock(m_mutex);
        if (m_headersRequested.erase(matchId) == 0)
            return HeaderOutcome::kUnasked;
        m_headerProblems.erase(matchId);
    }
    // A header whose packets the game cannot take would make a host that the game never sees,
    // or one that sends it bytes that are no packet: refused as a header of the wrong size is.
    if (auto problem = ReplayHeaderProblem(header))
    {
        std::lock_guard lock(m_mutex);
        m_headerProblems.insert_or_assign(matchId, std::move(*problem));
        return HeaderOutcome::kRefused;
    }
    Create(matchId, header);
    return HeaderOutcome::kHosted;
}

void CHostTable::Create(std::uint32_t matchId, std::span<const std::uint8_t> header)
{
    std::lock_guard control(m_controlMutex);
    // A host watching the same match gives way first.
    CloseLocked(matchId);

    HostTimings timings;
    std::uint32_t liveDelay = 0;
    {
        std::lock_guard lock(m_mutex);
        timings = m_timings;
        liveDelay = m_liveDelaySeconds;
    }
    auto host = std::make_shared<CLocalGameHost>(m_owner, CSystemClock::Instance(), timings);
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
        std::lock_guard lock(m_mutex);
        m_hosts.insert_or_assign(matchId, std::move(host));
    }
    m_changed.notify_all();
}

std::uint32_t CHostTable::TakeNextPort()
{
    std::lock_guard lock(m_mutex);
    const std::uint32_t count = m_hostsStarted++;
    return m_ports.m_firstGamePort == 0 ? 0 : m_ports.m_firstGamePort + count;
}

void CHostTable::RefuseHeader(std::uint32_t matchId, std::string problem)
{
    std::lock_guard lock(m_mutex);
    if (m_headersRequested.count(matchId) != 0)
        m_headerProblems.insert_or_assign(matchId, std::move(problem));
}

std::optional<std::string> CHostTable::HeaderProblem(std::uint32_t matchId) const
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_headerProblems.find(matchId); found != m_headerProblems.end())
        return found->second;
    return std::nullopt;
}

std::shared_ptr<CLocalGameHost> CHostTable::Find(std::uint32_t matchId) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_hosts.find(matchId);
    return found == m_hosts.end() ? nullptr : found->second;
}

std::uint32_t CHostTable::HostsStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_hostsStarted;
}

void CHostTable::SetLiveDelay(std::uint32_t seconds)
{
    std::lock_guard lock(m_mutex);
    m_liveDelaySeconds = seconds;
}

std::uint32_t CHostTable::LiveDelay() const
{
    std::lock_guard lock(m_mutex);
    return m_liveDelaySeconds;
}

void CHostTable::SetTimings(HostTimings timings)
{
    std::lock_guard lock(m_mutex);
    m_timings = timings;
}

bool CHostTable::Resume(std::uint32_t matchId)
{
    std::lock_guard control(m_controlMutex);
    const std::shared_ptr<CLocalGameHost> host = Find(matchId);
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

void CHostTable::Close(std::uint32_t matchId)
{
    std::lock_guard control(m_controlMutex);
    CloseLocked(matchId);
}

void CHostTable::CloseLocked(std::uint32_t matchId)
{
    std::shared_ptr<CLocalGameHost> host;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_hosts.find(matchId);
        if (found == m_hosts.end())
            return;
        host = std::move(found->second);
        m_hosts.erase(found);
    }
    m_changed.notify_all();
    // Joins the host's threads; a chunk being written into it keeps the object until it ends.
    host->Stop();
    host->SetMdnsPublisher(nullptr);
}

void CHostTable::CloseAll()
{
    std::lock_guard control(m_controlMutex);
    std::unordered_map<std::uint32_t, std::shared_ptr<CLocalGameHost>> hosts;
    {
        std::lock_guard lock(m_mutex);
        hosts.swap(m_hosts);
    }
    for (auto& [matchId, host] : hosts)
    {
        host->Stop();
        host->SetMdnsPublisher(nullptr);
    }
}

bool CHostTable::WaitForHost(std::uint32_t matchId, std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_hosts.contains(matchId); });
}

std::vector<std::shared_ptr<CLocalGameHost>> CHostTable::All() const
{
    std::vector<std::shared_ptr<CLocalGameHost>> all;
    std::lock_guard lock(m_mutex);
    for (const auto& [matchId, host] : m_hosts)
        all.push_back(host);
    return all;
}

std::vector<std::shared_ptr<CLocalGameHost>> CHostTable::ActiveSessions() const
{
    std::vector<std::shared_ptr<CLocalGameHost>> active;
    std::lock_guard lock(m_mutex);
    for (const auto& [matchId, host] : m_hosts)
        if (host->SessionActive())
            active.push_back(host);
    return active;
}

std::vector<std::shared_ptr<CLocalGameHost>> CHostTable::DownloadingSessions() const
{
    std::vector<std::shared_ptr<CLocalGameHost>> downloading;
    std::lock_guard lock(m_mutex);
    for (const auto& [matchId, host] : m_hosts)
        if (host->SessionActive() && !host->HoldsWholeMatch() && !host->EndingForLostServer())
            downloading.push_back(host);
    return downloading;
}

} // namespace velt
