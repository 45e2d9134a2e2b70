#include "host/CFeedHalts.h"

#include <algorithm>

#include "host/CHostFeed.h"

namespace velt
{

namespace
{

// The viewer's lines answered at one empty time slot of a halt; more wait for the next one, so
// that a game that floods a halt cannot hold up its pace.
constexpr std::size_t kLinesPerHaltTick = 16;

} // namespace

HostResult CFeedHalts::HoldTicks(const std::function<bool()>& holding)
{
    while (holding())
    {
        // Held by choice, an empty answer is no lack of data for the viewer.
        m_session.TellServerNews(true);
        if (Stopping())
            return HostResult::kSessionOver;
        // The download goes on meanwhile, the live edge included.
        m_stream.RequestWhileWaiting();
        if (!m_feed.SendEmptySlot(true))
            return m_session.LoseConnection();
        // Until the next empty slot is due, the viewer's lines are answered as they come; none
        // of them waits for a keepalive, and whatever the game sends does not hurry the slots.
        const std::uint64_t due = m_clock.NowMs() + m_timings.m_haltPeriodMs;
        for (std::uint64_t now = m_clock.NowMs(); now < due && holding(); now = m_clock.NowMs())
        {
            const GameRead read =
                m_connection.NextWaiting(m_clock, static_cast<std::uint32_t>(due - now));
            if (read.TimedOut())
                break;
            if (read.Closed())
                return m_session.LoseConnection();
            const HostResult result = m_session.HandleGamePacket(read).m_result;
            if (EndsSession(result))
                return result;
        }
    }
    return HostResult::kContinue;
}

void CFeedHalts::ExtendHalt(std::uint32_t ms)
{
    m_haltUntilMs = std::max(m_haltUntilMs, m_clock.NowMs() + ms);
}

HostResult CFeedHalts::HaltGame(std::uint32_t ms)
{
    const std::uint64_t until = m_clock.NowMs() + ms;
    // A /syncdown typed meanwhile holds the game on to its own end.
    while (m_clock.NowMs() < std::max(until, m_haltUntilMs))
    {
        const HostResult result = HaltTick();
        if (result != HostResult::kContinue)
            return result;
        if (WaitHaltPeriod(false))
            return HostResult::kSessionOver;
    }
    return HostResult::kContinue;
}

HostResult CFeedHalts::HaltTick()
{
    m_session.TellServerNews(m_feed.EmptyAnswersUntold());
    if (Stopping())
        return HostResult::kSessionOver;
    if (!m_feed.SendEmptySlot(true))
        return m_session.LoseConnection();
    switch (m_connection.Pump(m_feed.SlotsInFlight()))
    {
    case CGameConnection::PumpResult::kLeavePending:
        m_session.SendLeaveAck();
        return HostResult::kSessionOver;
    case CGameConnection::PumpResult::kClosed:
        return m_session.LoseConnection();
    case CGameConnection::PumpResult::kNothing:
        break;
    }
    // The viewer's lines are answered as they come, within a halt period; what they change in
    // play waits for the end of the halt. The keepalives that slots in flight owe stay unread.
    for (const auto& line : m_connection.TakeViewerLines(kLinesPerHaltTick))
    {
        const HostResult result =
            m_session.HandleGamePacket({GameRead::Status::kPacket, line}).m_result;
        if (EndsSession(result))
            return result;
    }
    return HostResult::kContinue;
}

bool CFeedHalts::WaitHaltPeriod(bool orData)
{
    // A whole period even when less of the halt is left, so that the game's slots keep their
    // pace; an ended session cuts it short at once.
    const std::uint32_t period = std::max<std::uint32_t>(1, m_timings.m_haltPeriodMs);
    CEvent* const events[] = {&m_stop, &m_stream.DataArrived()};
    return m_clock.WaitMs(std::span<CEvent* const>(events, orData ? 2 : 1), period) != kWaitTimeout;
}

HostResult CFeedHalts::BufferTo(std::uint32_t target)
{
    while (!m_stream.Ended() && m_stream.Size() < target)
    {
        m_feed.SetState(m_feed.DataWaitState());
        m_stream.RequestWhileWaiting();
        const HostResult halted = HaltGame(m_timings.m_bufferingHaltMs);
        if (halted != HostResult::kContinue)
            return halted;
    }
    return HostResult::kContinue;
}

HostResult CFeedHalts::HaltWhile(const std::function<bool()>& waiting)
{
    while (waiting())
    {
        m_feed.SetState(m_feed.DataWaitState());
        m_stream.RequestWhileWaiting();
        const HostResult result = HaltTick();
        if (result != HostResult::kContinue)
            return result;
        WaitHaltPeriod(true);
    }
    return HostResult::kContinue;
}

HostResult CFeedHalts::WaitForMoreData()
{
    std::uint32_t answers = m_stream.AnswersArrived();
    std::uint64_t quietSince = m_clock.NowMs();
    for (;;)
    {
        m_feed.SetState(m_feed.DataWaitState());
        m_session.TellServerNews(false);
        if (Stopping())
            return HostResult::kSessionOver;
        // Data that came with the end of the stream is fed before the end is.
        if (m_feed.ReadPos() < m_stream.Size())
            return HostResult::kContinue;
        if (m_stream.Ended())
        {
            const HostResult result = AwaitLastKeepalives();
            if (EndsSession(result))
                return result;
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        // An answer, even an empty one, shows that the server is there.
        const std::uint64_t now = m_clock.NowMs();
        if (const std::uint32_t seen = m_stream.AnswersArrived(); seen != answers)
        {
            answers = seen;
            quietSince = std::max(now, m_stream.NextRequestAllowedMs());
        }
        // Asked first, and silence counted from the last request too: a request that a busy
        // machine sent late has not had its time to be answered.
        m_stream.RequestWhileWaiting();
        const std::uint64_t since = std::max(quietSince, m_stream.LastRequestSentMs());
        if (now >= since && now - since >= m_timings.m_dataWaitMs &&
            !m_owner.SupervisesServerLink())
        {
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        if (WaitHaltPeriod(true))
        {
            // After an empty answer the silence that ends a session starts only when the next
            // request can go out.
            quietSince = std::max(m_clock.NowMs(), m_stream.NextRequestAllowedMs());
            continue;
        }
        const HostResult result = HaltTick();
        if (result != HostResult::kContinue)
            return result;
    }
}

HostResult CFeedHalts::AwaitLastKeepalives()
{
    m_feed.SetState(FeedState::kEndOfData);
    // At 4x up to four time slots are still unanswered; the leave acknowledgement would end
    // the game before it has played them.
    const std::uint64_t start = m_clock.NowMs();
    const std::uint32_t waitMs = m_timings.m_lastKeepalivesWaitMs;
    while (m_feed.SlotsInFlight() > 0)
    {
        const std::uint64_t elapsed = m_clock.NowMs() - start;
        if (elapsed >= waitMs)
            break;
        const GameRead read =
            m_connection.NextWithin(m_clock, static_cast<std::uint32_t>(waitMs - elapsed));
        if (read.TimedOut())
            break;
        if (read.Closed())
            return m_session.LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
    }
    return HostResult::kContinue;
}

} // namespace velt
