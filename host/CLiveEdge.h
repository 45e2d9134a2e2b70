#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/HostTimings.h"
#include "host/IFeedSession.h"
#include "host/IPacing.h"
#include "host/IPlayControl.h"
#include "host/ReplayHeader.h"
#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

// Play at the live edge, driven through the pacing: the catch-up of a live match, the hold
// behind it with a live delay, and the fast-forwards that jumps and the catch-up run. Used on
// the session thread, except the live delay, which any thread may read and set.
class CLiveEdge
{
public:
    CLiveEdge(IPacing& pacing, IFeedSession& session, CStreamBuffer& stream, CEvent& stop,
              IClock& clock, const HostTimings& timings, const ReplayHeader& header)
        : m_pacing(pacing), m_session(session), m_stream(stream), m_stop(stop), m_clock(clock),
          m_timings(timings), m_header(header)
    {
    }
    CLiveEdge(const CLiveEdge&) = delete;
    CLiveEdge& operator=(const CLiveEdge&) = delete;

    // A session stays liveDelaySeconds (at most kMaxLiveDelaySeconds) behind the live edge.
    void Reset(std::uint32_t liveDelaySeconds);
    std::uint32_t LiveDelay() const { return m_liveDelaySeconds.load(); }
    void SetLiveDelay(std::uint32_t seconds) { m_liveDelaySeconds.store(seconds); }

    // The opening fast-forward of a live match, to the live edge or the live delay behind it.
    HostResult CatchUpLive();
    HostResult FastForwardToTime(std::uint64_t targetMs, bool quiet);
    // A /goto or /syncup typed during a halt: the play loop runs it once the halt is over.
    void JumpWhenHaltEnds(std::uint64_t targetMs) { m_jumpAfterHalt = targetMs; }
    bool JumpPending() const { return m_jumpAfterHalt.has_value(); }
    HostResult JumpAfterHalt();

    // With a live delay: asks the server where the match stands, about once a second.
    void PollLiveEdge();
    // A live match with a delay: play is closer to the reported live edge than the delay.
    bool TooCloseToLive() const;
    HostResult HoldForDelay();
    // Play has caught up with a live match at a faster speed: back to normal speed.
    HostResult LimitLiveSpeed();

private:
    HostResult FastForwardToPosition(std::uint32_t target, bool quiet);
    HostResult FastForward(const std::function<bool()>& shortOfTarget, bool quiet);
    HostResult FastForwardUnheld(const std::function<bool()>& shortOfTarget, bool quiet);
    // A fast-forward ends early: the viewer chose a speed.
    HostResult Overruled();
    HostResult CatchUpToDelay();
    // Asks the server for more and holds the game until an answer comes (bounded).
    HostResult AwaitFreshEdge();
    // Where the live match stands now, as far as the server's answers tell.
    std::uint64_t LiveEdgeMs() const;
    bool Stopping() const { return m_stop.IsSet(); }

    IPacing& m_pacing;
    IFeedSession& m_session;
    CStreamBuffer& m_stream;
    CEvent& m_stop;
    IClock& m_clock;
    const HostTimings& m_timings;
    const ReplayHeader& m_header;

    std::atomic<std::uint32_t> m_liveDelaySeconds{0}; // the session sets it, any thread reads it
    std::optional<std::uint64_t> m_jumpAfterHalt;
    std::uint64_t m_nextEdgePollMs = 0;
    bool m_overruled = false; // the last fast-forward ended early, at the viewer's choice
};

} // namespace velt
