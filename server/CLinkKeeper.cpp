#include "server/CLinkKeeper.h"

#include <utility>

#include "host/CLocalGameHost.h"
#include "platform/Clock.h"
#include "server/CHostTable.h"
#include "server/CMatchServerConnection.h"

namespace velt
{

CLinkKeeper::CLinkKeeper(CMatchServerConnection& connection, CHostTable& hosts,
                         IUserNotice& notices, RatingSender sendRating)
    : m_connection(connection), m_hosts(hosts), m_notices(notices),
      m_sendRating(std::move(sendRating))
{
}

CLinkKeeper::~CLinkKeeper()
{
    Stop();
}

void CLinkKeeper::Start(ReconnectPolicy policy)
{
    if (m_started.exchange(true))
        return;
    m_thread.Start([this, policy] { Loop(policy); });
}

void CLinkKeeper::Stop()
{
    m_stop.Set();
    m_thread.Join();
}

bool CLinkKeeper::Started() const
{
    return m_started.load();
}

bool CLinkKeeper::GivenUp() const
{
    return m_givenUp.load();
}

void CLinkKeeper::WantRequest()
{
    m_requestWanted.store(true);
}

void CLinkKeeper::Loop(ReconnectPolicy policy)
{
    IClock& clock = CSystemClock::Instance();
    CLinkSupervisor supervisor(policy, m_connection.State().m_generation);
    while (!m_stop.Wait(policy.m_tickMs))
    {
        const LinkObservation seen = Observe(policy, clock.NowMs());
        if (!Act(supervisor.Look(seen), seen.m_connected, seen.m_needed))
            supervisor.Tried(clock.NowMs());
    }
}

LinkObservation CLinkKeeper::Observe(const ReconnectPolicy& policy, std::uint64_t nowMs) const
{
    LinkObservation seen;
    seen.m_nowMs = nowMs;
    const LinkState link = m_connection.State();
    seen.m_connected = link.m_connected;
    seen.m_generation = link.m_generation;
    seen.m_answers = link.m_answers;
    seen.m_needed = !m_hosts.DownloadingSessions().empty();
    {
        std::lock_guard lock(m_ratingsMutex);
        seen.m_wanted = m_requestWanted.load() || !m_waitingRatings.empty();
    }
    const std::uint64_t pending = m_connection.RequestPendingSince();
    seen.m_silent = pending != 0 && nowMs > pending && nowMs - pending >= policy.SilenceMs();
    seen.m_unansweredSinceMs = pending;
    return seen;
}

bool CLinkKeeper::Act(const LinkActions& actions, bool connected, bool needed)
{
    if (!connected && !needed)
        m_connection.ForgetLoss(); // a loss nobody misses is never told
    // A return first: a loss told in the same look is a new one.
    if (actions.m_tellBack)
        TellServerBack();
    if (actions.m_tellLost)
        TellLost();
    if (actions.m_revive)
        Revive();
    if (actions.m_askAgain)
    {
        m_requestWanted.store(false);
        // Play goes on from where each buffer ends; nothing is asked for twice.
        for (const auto& host : m_hosts.ActiveSessions())
            host->RequestAgainFromEnd();
        SendWaitingRatings();
    }
    if (actions.m_giveUp)
        GiveUp();
    if (actions.m_drop)
        m_connection.Drop();
    if (!actions.m_reconnectWithinMs)
        return true;
    const auto [ip, port] = m_connection.LastAddress();
    m_connection.Connect(ip, port, *actions.m_reconnectWithinMs, [this] { return m_stop.IsSet(); });
    return false;
}

void CLinkKeeper::TellLost()
{
    if (m_connection.TakeLoss())
        m_notices.Notify("Disconnected from server!");
    std::lock_guard lock(m_toldLostMutex);
    m_toldLost.clear();
    for (const auto& host : m_hosts.DownloadingSessions())
    {
        host->SetServerLinkLost(true);
        host->PostServerLine(kServerLostLine);
        m_toldLost.push_back(host);
    }
}

void CLinkKeeper::Revive()
{
    m_givenUp.store(false);
    std::lock_guard lock(m_toldLostMutex);
    m_toldLost.clear();
    for (const auto& host : m_hosts.ActiveSessions())
        if (host->EndingForLostServer())
        {
            host->CancelEndForLostServer();
            m_toldLost.push_back(host);
        }
}

void CLinkKeeper::GiveUp()
{
    m_givenUp.store(true);
    {
        std::lock_guard lock(m_toldLostMutex);
        m_toldLost.clear();
    }
    for (const auto& host : m_hosts.DownloadingSessions())
    {
        host->PostServerLine(kServerGoneLine);
        host->EndForLostServer();
    }
}

void CLinkKeeper::TellServerBack()
{
    // Those told of the loss hear of the return, whether or not they still download.
    std::lock_guard lock(m_toldLostMutex);
    for (const auto& told : m_toldLost)
    {
        const auto host = told.lock();
        if (!host)
            continue;
        host->SetServerLinkLost(false);
        if (host->SessionActive())
            host->PostServerLine(kServerBackLine);
    }
    m_toldLost.clear();
}

void CLinkKeeper::KeepRating(std::uint32_t matchId, std::uint8_t rating)
{
    std::lock_guard lock(m_ratingsMutex);
    if (m_waitingRatings.size() < kMaxWaitingRatings)
        m_waitingRatings.push_back({matchId, rating});
}

void CLinkKeeper::SendWaitingRatings()
{
    std::vector<WaitingRating> waiting;
    {
        std::lock_guard lock(m_ratingsMutex);
        waiting.swap(m_waitingRatings);
    }
    for (std::size_t i = 0; i < waiting.size(); ++i)
    {
        if (m_sendRating(waiting[i].m_matchId, waiting[i].m_rating))
            continue;
        std::lock_guard lock(m_ratingsMutex);
        m_waitingRatings.insert(m_waitingRatings.end(),
                                waiting.begin() + static_cast<std::ptrdiff_t>(i), waiting.end());
        return;
    }
}

} // namespace velt
