#include "host/CHostFeed.h"

#include <algorithm>

// The feed's holds and halts: the game kept waiting with empty time slots while the viewer
// pauses, while play is held behind live, while data is short or the server is awaited, and
// for /syncdown; and the wait for the last keepalives at the end of the stream. Steps, speeds
// and the play loop are in CHostFeed.cpp.

namespace velt
{

namespace
{

// Buffering waits until this much more data has arrived.
constexpr std::uint32_t kBufferingTarget = 2000;
// The viewer's lines answered at one empty time slot of a halt; more wait for the next one, so
// that a game that floods a halt cannot hold up its pace.
constexpr std::size_t kLinesPerHaltTick = 16;

} // namespace

HostResult CHostFeed::HoldWhilePaused()
{
    return Hold([this] { return Paused(); });
}

HostResult CHostFeed::Hold(const std::function<bool()>& holding)
{
    m_holding.store(true);
    const HostResult result = HoldTicks(holding);
    m_holding.store(false);
    if (EndsSession(result) || Paused() || m_levelAfterPause == ShownLevel())
        return result;
    return SetSpeed(m_levelAfterPause);
}

HostResult CHostFeed::HoldBehindLive(const std::function<bool()>& holding)
{
    // Held behind live, the game comes back at normal speed unless the viewer chooses a level.
    m_levelAfterPause = 1;
    return Hold(holding);
}

HostResult CHostFeed::RunUnheld(const std::function<HostResult()>& run)
{
    const bool held = m_holding.exchange(false);
    const HostResult result = run();
    m_holding.store(held);
    return result;
}

HostResult CHostFeed::HoldTicks(const std::function<bool()>& holding)
{
    while (holding())
    {
        // Held by choice, an empty answer is no lack of data for the viewer.
        m_session.TellServerNews(true);
        if (Stopping())
            return HostResult::kSessionOver;
        // The download goes on meanwhile, the live edge included.
        m_stream.RequestWhileWaiting();
        if (!SendEmptySlot(true))
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
            const HostResult result = m_session.HandleHeldPacket(read);
            if (EndsSession(result))
                return result;
        }
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::Halt(const std::function<HostResult()>& halt)
{
    if (!Held())
        m_levelAfterPause = ShownLevel();
    m_halts.fetch_add(1);
    HostResult result = halt();
    if (!EndsSession(result))
        result = HaltGame(0); // the rest of a /syncdown typed meanwhile
    m_halts.fetch_sub(1);
    if (EndsSession(result) || Halted())
        return result;
    m_haltUntilMs = 0;
    // Held on (paused before the halt, or behind live): that hold applies the level at its end.
    if (m_holding.load())
        return HostResult::kContinue;
    if (Paused())
    {
        // Paused during the halt: held at normal speed from here on, as /pause does.
        result = Speed() != 1 ? ShiftSpeed(1) : HostResult::kContinue;
        return EndsSession(result) ? result : HostResult::kSpeedChanged;
    }
    if (m_levelAfterPause == ShownLevel())
        return HostResult::kContinue;
    result = ShiftSpeed(m_levelAfterPause);
    return EndsSession(result) ? result : HostResult::kSpeedChanged;
}

HostResult CHostFeed::HaltFor(std::uint32_t ms)
{
    if (!Halted())
        return Halt([this, ms] { return HaltGame(ms); });
    // Typed during a halt: that halt lasts at least this long from now.
    m_haltUntilMs = std::max(m_haltUntilMs, m_clock.NowMs() + ms);
    return HostResult::kContinue;
}

HostResult CHostFeed::HaltGame(std::uint32_t ms)
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

HostResult CHostFeed::HaltTick()
{
    m_session.TellServerNews(EmptyAnswersUntold());
    if (Stopping())
        return HostResult::kSessionOver;
    if (!SendEmptySlot(true))
        return m_session.LoseConnection();
    switch (m_connection.Pump(SlotsInFlight()))
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
        const HostResult result = m_session.HandleHeldPacket({GameRead::Status::kPacket, line});
        if (EndsSession(result))
            return result;
    }
    return HostResult::kContinue;
}

bool CHostFeed::WaitHaltPeriod(bool orData)
{
    // A whole period even when less of the halt is left, so that the game's slots keep their
    // pace; an ended session cuts it short at once.
    const std::uint32_t period = std::max<std::uint32_t>(1, m_timings.m_haltPeriodMs);
    CEvent* const events[] = {&m_stop, &m_stream.DataArrived()};
    return m_clock.WaitMs(std::span<CEvent* const>(events, orData ? 2 : 1), period) != kWaitTimeout;
}

HostResult CHostFeed::HaltWhileWaiting(const std::function<bool()>& waiting)
{
    return Halt(
        [&]
        {
            while (waiting())
            {
                m_stream.RequestWhileWaiting();
                const HostResult result = HaltTick();
                if (result != HostResult::kContinue)
                    return result;
                WaitHaltPeriod(true);
            }
            return HostResult::kContinue;
        });
}

HostResult CHostFeed::Buffer()
{
    m_stream.MarkLowData();
    m_buffering.store(true);
    m_session.SendGameChat("[VELT] Not enough data,buffering..");
    const std::uint32_t target = m_stream.Size() + kBufferingTarget;
    const HostResult result = Halt(
        [this, target]
        {
            while (!m_stream.Ended() && m_stream.Size() < target)
            {
                m_stream.RequestWhileWaiting();
                const HostResult halted = HaltGame(m_timings.m_bufferingHaltMs);
                if (halted != HostResult::kContinue)
                    return halted;
            }
            return HostResult::kContinue;
        });
    m_buffering.store(false);
    if (EndsSession(result))
        return result;
    m_session.SendGameChat("[VELT] Game resumed..");
    return result;
}

HostResult CHostFeed::WaitAtBoundary()
{
    m_buffering.store(true);
    const HostResult result = Halt([this] { return WaitForMoreData(); });
    m_buffering.store(false);
    return result;
}

HostResult CHostFeed::WaitForMoreData()
{
    std::uint32_t answers = m_stream.AnswersArrived();
    std::uint64_t quietSince = m_clock.NowMs();
    for (;;)
    {
        m_session.TellServerNews(false);
        if (Stopping())
            return HostResult::kSessionOver;
        if (m_stream.Ended())
        {
            const HostResult result = AwaitLastKeepalives();
            if (EndsSession(result))
                return result;
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        if (m_readPos < m_stream.Size())
            return HostResult::kContinue;
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

HostResult CHostFeed::AwaitLastKeepalives()
{
    // At 4x up to four time slots are still unanswered; the leave acknowledgement would end
    // the game before it has played them.
    const std::uint64_t start = m_clock.NowMs();
    const std::uint32_t waitMs = m_timings.m_lastKeepalivesWaitMs;
    while (SlotsInFlight() > 0)
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
