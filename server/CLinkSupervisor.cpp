#include "server/CLinkSupervisor.h"

#include <algorithm>

namespace velt
{

LinkActions CLinkSupervisor::Look(const LinkObservation& seen)
{
    LinkActions actions;
    if (seen.m_connected && seen.m_generation != m_seenGeneration)
    {
        m_seenGeneration = seen.m_generation;
        actions.m_askAgain = true;
        if (m_gaveUp)
        {
            // The sessions that were to end go on; they count as lost until data flows.
            m_gaveUp = false;
            EnterLoss(seen.m_nowMs, true);
            actions.m_revive = true;
            return actions;
        }
    }
    const LinkActions more = seen.m_connected ? LookConnected(seen) : LookDisconnected(seen);
    actions.m_tellLost = more.m_tellLost;
    actions.m_tellBack = more.m_tellBack;
    actions.m_giveUp = more.m_giveUp;
    actions.m_drop = more.m_drop;
    actions.m_reconnectWithinMs = more.m_reconnectWithinMs;
    return actions;
}

LinkActions CLinkSupervisor::LookConnected(const LinkObservation& seen)
{
    LinkActions actions;
    if (m_phase != Phase::kLost)
    {
        m_phase = Phase::kUp;
        actions.m_drop = seen.m_needed && seen.m_silent;
        if (actions.m_drop && seen.m_unansweredSinceMs != 0)
            m_silentSinceMs = std::min(seen.m_unansweredSinceMs, seen.m_nowMs);
        return actions;
    }
    // Back only once the new connection answers: accepting is not serving.
    if (seen.m_answers > 0)
    {
        m_phase = Phase::kUp;
        actions.m_tellBack = m_told;
        return actions;
    }
    if (!seen.m_needed)
    {
        m_phase = Phase::kUp;
        return actions;
    }
    if (seen.m_nowMs - m_lostSinceMs >= m_policy.m_limitMs)
        return GiveUp(Phase::kUp);
    actions.m_drop = seen.m_silent;
    return actions;
}

LinkActions CLinkSupervisor::LookDisconnected(const LinkObservation& seen)
{
    LinkActions actions;
    if (m_phase == Phase::kLost && seen.m_generation != m_lostGeneration && seen.m_answers > 0)
    {
        // A connection came, brought data and went between two looks: that loss ended, and
        // this is a new one.
        actions.m_tellBack = m_told;
        m_phase = Phase::kUp;
    }
    if (!seen.m_needed)
    {
        // No session downloads: the server is not missed, and asked for only when wanted.
        if (!seen.m_wanted)
        {
            m_phase = Phase::kQuiet;
            m_retryMs = 0;
            return actions;
        }
        if (m_phase != Phase::kQuiet || m_retryMs == 0)
        {
            m_phase = Phase::kQuiet;
            m_retryMs = m_policy.m_firstRetryMs;
            m_nextTryMs = seen.m_nowMs;
        }
        if (seen.m_nowMs >= m_nextTryMs)
            actions.m_reconnectWithinMs = kConnectWaitMs;
        return actions;
    }
    if (m_phase == Phase::kQuiet)
    {
        // Gone while nobody needed it (an idle limit, say): a session needs it now, and one
        // try is made before the viewer hears of it.
        EnterLoss(seen.m_nowMs, false);
        m_nextTryMs = seen.m_nowMs;
    }
    else if (m_phase == Phase::kUp)
    {
        EnterLoss(std::min(m_silentSinceMs.value_or(seen.m_nowMs), seen.m_nowMs), true);
        actions.m_tellLost = true;
    }
    else if (!m_told && m_tried)
    {
        m_told = true;
        actions.m_tellLost = true;
    }
    m_lostGeneration = seen.m_generation;
    const std::uint64_t away = seen.m_nowMs - m_lostSinceMs;
    if (away >= m_policy.m_limitMs)
    {
        const bool toldNow = actions.m_tellLost;
        actions = GiveUp(Phase::kQuiet);
        actions.m_tellLost = actions.m_tellLost || toldNow;
        return actions;
    }
    if (seen.m_nowMs >= m_nextTryMs)
    {
        actions.m_reconnectWithinMs = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(kConnectWaitMs, m_policy.m_limitMs - away));
        m_tried = true;
    }
    return actions;
}

void CLinkSupervisor::EnterLoss(std::uint64_t sinceMs, bool told)
{
    m_phase = Phase::kLost;
    m_lostSinceMs = sinceMs;
    m_silentSinceMs.reset();
    m_retryMs = m_policy.m_firstRetryMs;
    m_nextTryMs = sinceMs + m_retryMs;
    m_told = told;
    m_tried = false;
}

LinkActions CLinkSupervisor::GiveUp(Phase next)
{
    LinkActions actions;
    // The viewer hears of the loss before its end, if not yet.
    actions.m_tellLost = !m_told;
    m_told = true;
    actions.m_giveUp = true;
    m_gaveUp = true;
    m_phase = next;
    m_retryMs = 0;
    return actions;
}

void CLinkSupervisor::Tried(std::uint64_t nowMs)
{
    // A connection that is taken and lost again waits as long as one that was refused.
    m_retryMs =
        std::min(std::max(m_retryMs, m_policy.m_firstRetryMs) * 2, m_policy.m_longestRetryMs);
    m_nextTryMs = nowMs + m_retryMs;
}

} // namespace velt
