#include "host/CLiveEdge.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace velt
{

namespace
{

// With a live delay, how often the server is asked where the match stands.
constexpr std::uint32_t kLiveEdgePollMs = 1000;
// The live edge is taken to move on by at most this much past the last length reported.
constexpr std::uint32_t kLiveEdgeExtrapolationMs = 1500;

constexpr std::string_view kNormalSpeedLine = "[VELT] Now play with normal speed";

} // namespace

void CLiveEdge::Reset(std::uint32_t liveDelaySeconds)
{
    m_liveDelaySeconds.store(std::min(liveDelaySeconds, IPlayControl::kMaxLiveDelaySeconds));
    m_jumpAfterHalt.reset();
    m_nextEdgePollMs = 0;
}

void CLiveEdge::PollLiveEdge()
{
    // Behind live by choice, the data held reaches far ahead of the feed, so nothing near its
    // end asks the server for more; the match length it reports must stay fresh all the same.
    if (LiveDelay() == 0 || !m_header.LiveMatch() || m_stream.Ended())
        return;
    const std::uint64_t now = m_clock.NowMs();
    if (now < m_nextEdgePollMs)
        return;
    m_stream.RequestWhileWaiting();
    m_nextEdgePollMs = now + kLiveEdgePollMs;
}

bool CLiveEdge::TooCloseToLive() const
{
    const std::uint32_t delay = LiveDelay();
    if (delay == 0 || !m_header.LiveMatch() || m_stream.Ended())
        return false;
    return std::uint64_t{m_pacing.GameTimeMs()} + std::uint64_t{delay} * 1000 > LiveEdgeMs();
}

std::uint64_t CLiveEdge::LiveEdgeMs() const
{
    // The length the last answer reported, moved on by the time since (the match plays on), but
    // by no more than the polls leave between two answers: a server that has stalled does not
    // pull the feed closer than that.
    const CStreamBuffer& stream = m_stream;
    const std::uint64_t reportedMs = std::uint64_t{stream.MatchSeconds()} * 1000;
    const std::uint64_t now = m_clock.NowMs();
    const std::uint64_t at = stream.MatchSecondsAtMs();
    const std::uint64_t age = now > at ? now - at : 0;
    return reportedMs + std::min<std::uint64_t>(age, kLiveEdgeExtrapolationMs);
}

HostResult CLiveEdge::HoldForDelay()
{
    if (m_pacing.Speed() != 1)
    {
        m_session.SendGameChat(kNormalSpeedLine);
        const HostResult result = m_pacing.SetSpeed(1);
        if (EndsSession(result))
            return result;
    }
    return m_pacing.HoldBehindLive(
        [this] { return !m_pacing.Paused() && !m_jumpAfterHalt && TooCloseToLive(); });
}

HostResult CLiveEdge::LimitLiveSpeed()
{
    if (!m_stream.CaughtUp() || m_pacing.Speed() == 1 || !m_header.LiveMatch())
        return HostResult::kContinue;
    m_session.SendGameChat(kNormalSpeedLine);
    return m_pacing.SetSpeed(1);
}

HostResult CLiveEdge::JumpAfterHalt()
{
    const std::uint64_t target = *m_jumpAfterHalt;
    m_jumpAfterHalt.reset();
    return FastForwardToTime(target, false);
}

HostResult CLiveEdge::FastForwardToTime(std::uint64_t targetMs, bool quiet)
{
    if (targetMs < m_pacing.GameTimeMs())
        return HostResult::kContinue;
    return FastForward([this, targetMs] { return targetMs >= m_pacing.GameTimeMs(); }, quiet);
}

HostResult CLiveEdge::FastForwardToPosition(std::uint32_t target, bool quiet)
{
    if (target < m_pacing.ReadPos())
        return HostResult::kContinue;
    const std::uint32_t limit = std::min(target, m_stream.Size());
    return FastForward([this, limit] { return m_pacing.ReadPos() < limit; }, quiet);
}

HostResult CLiveEdge::FastForward(const std::function<bool()>& shortOfTarget, bool quiet)
{
    // Asked for while play holds behind live, the fast-forward runs as in play; the hold goes on
    // after it if play is still too close to the edge.
    return m_pacing.RunUnheld([&] { return FastForwardUnheld(shortOfTarget, quiet); });
}

HostResult CLiveEdge::FastForwardUnheld(const std::function<bool()>& shortOfTarget, bool quiet)
{
    m_overruled = false;
    HostResult result = m_pacing.SetSpeed(IPacing::kFastestLevel);
    if (EndsSession(result))
        return result;
    std::uint32_t choices = m_pacing.ViewerChoices();
    while (shortOfTarget())
    {
        if (m_pacing.Paused())
        {
            // Held where the viewer paused it; /resume brings back the level of the pause.
            result = m_pacing.HoldWhilePaused();
            if (EndsSession(result))
            {
                m_session.SignalStop();
                return result;
            }
            choices = m_pacing.ViewerChoices();
            if (m_pacing.ShownLevel() != IPacing::kFastestLevel)
                return Overruled(); // the viewer chose a speed meanwhile
            continue;
        }
        result = m_pacing.Step();
        if (EndsSession(result))
        {
            m_session.SignalStop();
            return result;
        }
        if (m_pacing.ViewerChoices() != choices && !m_pacing.Paused())
            return Overruled(); // the viewer has chosen a speed
    }
    result = m_pacing.SetSpeed(1);
    if (EndsSession(result))
        return result;
    if (!quiet)
        m_session.SendGameChat(kNormalSpeedLine);
    return HostResult::kContinue;
}

HostResult CLiveEdge::Overruled()
{
    m_overruled = true;
    return HostResult::kContinue;
}

HostResult CLiveEdge::CatchUpLive()
{
    if (!m_header.LiveMatch())
        return HostResult::kContinue;
    const std::uint32_t delay = LiveDelay();
    const std::uint32_t matchSeconds = m_stream.MatchSeconds();
    const std::uint32_t behind = matchSeconds > delay ? matchSeconds - delay : 0;
    char line[96];
    std::snprintf(line, sizeof line, "[VELT]You are %u min %u sec behind, fast forward now",
                  behind / 60, behind % 60);
    m_session.SendGameChat(line);
    if (delay != 0)
        return CatchUpToDelay();
    while (!Stopping())
    {
        const std::uint32_t size = m_stream.Size();
        if (size == 0)
        {
            m_session.SendGameChat(kNormalSpeedLine);
            break;
        }
        // Everything held is fed and the server's word on more is still to come: a fast-forward
        // now would have nothing to feed and halt the game as buffering. The game waits for the
        // answer instead.
        const HostResult result = m_pacing.ReadPos() >= size ? AwaitFreshEdge()
                                                             : FastForwardToPosition(size, true);
        if (EndsSession(result))
            return result;
        // The match ended before a live edge was met: nothing newer will come to catch up to.
        if (m_stream.CaughtUp() || (m_stream.Ended() && m_pacing.ReadPos() >= m_stream.Size()))
        {
            m_session.SendGameChat(kNormalSpeedLine);
            break;
        }
    }
    return HostResult::kContinue;
}

HostResult CLiveEdge::CatchUpToDelay()
{
    // Up to the chosen distance behind the match length the server reports; that length grows
    // while the feed runs, so the target is taken again until it is reached. The length the
    // last answer brought may be old (the data held reaches far ahead of the feed, so nothing
    // was asked for meanwhile): once reached, the server is asked where the match stands, and
    // the catch-up ends only on a target that an answer given since confirms.
    bool confirmed = false;
    while (!Stopping())
    {
        const std::uint64_t edgeMs = LiveEdgeMs();
        const std::uint64_t delayMs = std::uint64_t{LiveDelay()} * 1000;
        if (m_stream.Ended() || edgeMs <= delayMs + m_pacing.GameTimeMs())
        {
            if (confirmed || m_stream.Ended())
                break;
            const HostResult result = AwaitFreshEdge();
            if (EndsSession(result))
                return result;
            confirmed = true;
            continue;
        }
        confirmed = false;
        const HostResult result = FastForwardToTime(edgeMs - delayMs, true);
        if (EndsSession(result))
            return result;
        if (m_overruled)
            return HostResult::kContinue; // the viewer has chosen a speed
    }
    if (!m_pacing.Paused())
        m_session.SendGameChat(kNormalSpeedLine);
    return HostResult::kContinue;
}

HostResult CLiveEdge::AwaitFreshEdge()
{
    const std::uint32_t answers = m_stream.AnswersArrived();
    const std::uint64_t start = m_clock.NowMs();
    // Bounded: after an empty answer the server may not be asked again for a while.
    const std::uint64_t waitMs =
        std::uint64_t{m_timings.m_emptyChunkHoldMs} + m_timings.m_dataWaitMs;
    return m_pacing.HaltWhileWaiting(
        [&]
        {
            return m_stream.AnswersArrived() == answers && !m_stream.Ended() &&
                   m_clock.NowMs() - start < waitMs;
        });
}

} // namespace velt
