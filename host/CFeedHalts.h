#pragma once

#include <cstdint>
#include <functional>

#include "host/CGameConnection.h"
#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/HostTimings.h"
#include "host/IFeedSession.h"
#include "host/IHostOwner.h"
#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

class CHostFeed;

// The waits of a feed that keep the game waiting with empty time slots, one every halt period:
// holds (the viewer's pause, the live delay), halts (data short, the server awaited,
// /syncdown), and the wait for the last keepalives at the end of the stream. While the game
// waits, the viewer's lines are answered and the download goes on. Which state the feed is in,
// and what the viewer chose meanwhile, is the feed's; these are the loops. Session thread only.
class CFeedHalts
{
public:
    CFeedHalts(CHostFeed& feed, IFeedSession& session, CStreamBuffer& stream,
               CGameConnection& connection, CEvent& stop, IClock& clock, const HostTimings& timings,
               IHostOwner& owner)
        : m_feed(feed), m_session(session), m_stream(stream), m_connection(connection),
          m_stop(stop), m_clock(clock), m_timings(timings), m_owner(owner)
    {
    }
    CFeedHalts(const CFeedHalts&) = delete;
    CFeedHalts& operator=(const CFeedHalts&) = delete;

    void Reset() { m_haltUntilMs = 0; }

    // Empty time slots while holding() is true; the viewer's lines are answered as they come,
    // and whatever the game sends does not hurry the slots.
    HostResult HoldTicks(const std::function<bool()>& holding);
    // Keeps the game waiting for ms milliseconds, and to the end of a /syncdown typed meanwhile.
    HostResult HaltGame(std::uint32_t ms);
    // A /syncdown typed during a halt: that halt lasts at least ms from now.
    void ExtendHalt(std::uint32_t ms);
    // The end of a halt: a /syncdown typed during it has been served.
    void HaltOver() { m_haltUntilMs = 0; }
    // Buffering: halts, asking the server for more, until the data reaches target or ends.
    HostResult BufferTo(std::uint32_t target);
    // Halts, asking the server for more each halt period, while waiting() is true.
    HostResult HaltWhile(const std::function<bool()>& waiting);
    // At the end of the data held: waits for more, and ends the session when the stream has
    // ended or the server has gone silent (unless the owner supervises the link).
    HostResult WaitForMoreData();
    // The end of the stream: waits, bounded, for the keepalives of the slots in flight.
    HostResult AwaitLastKeepalives();

private:
    // One empty time slot of a halt; notices a viewer who leaves meanwhile.
    HostResult HaltTick();
    // The one wait between the empty slots of a halt: a halt period on the clock, cut short
    // when the session stops or, with orData, when the server's data arrives. True when cut
    // short.
    bool WaitHaltPeriod(bool orData);
    bool Stopping() const { return m_stop.IsSet(); }

    CHostFeed& m_feed;
    IFeedSession& m_session;
    CStreamBuffer& m_stream;
    CGameConnection& m_connection;
    CEvent& m_stop;
    IClock& m_clock;
    const HostTimings& m_timings;
    IHostOwner& m_owner;

    std::uint64_t m_haltUntilMs = 0; // a /syncdown typed during a halt holds it to this
};

} // namespace velt
