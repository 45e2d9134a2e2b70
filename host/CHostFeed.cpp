#include "host/CHostFeed.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

namespace
{

// Closer than this to the end of the data, the feed asks for more and gives up fast speeds.
constexpr std::uint32_t kNearEndBytes = 1500;
// Buffering waits until this much more data has arrived.
constexpr std::uint32_t kBufferingTarget = 2000;
// How long the read-watch thread sleeps between looks at the stop event when nothing happens.
constexpr std::uint32_t kWatchIdleMs = 1000;
constexpr std::uint8_t kActionMapPing = 0x68;
constexpr std::uint8_t kActionHeroSkill = 0x66;

// The viewer's lines answered at one empty time slot of a halt; more wait for the next one, so
// that a game that floods a halt cannot hold up its pace.
constexpr std::size_t kLinesPerHaltTick = 16;

} // namespace

std::string OperatorWebAddressLine()
{
    std::string address(kOperatorWebAddress);
    std::transform(address.begin(), address.end(), address.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return "[VELT] " + address + "!";
}

bool CHostFeed::Held() const
{
    return Paused() || m_holding.load() || Halted();
}

std::uint8_t CHostFeed::ShownLevel() const
{
    if (Held())
        return m_levelAfterPause; // what the end of the hold brings back
    const std::uint8_t speed = Speed();
    return speed > 1 ? static_cast<std::uint8_t>(speed - 1) : 1;
}

void CHostFeed::Reset(std::uint32_t liveDelaySeconds)
{
    m_liveEdge.Reset(liveDelaySeconds);
    m_readPos.store(0);
    m_gameTimeMs.store(0);
    m_speed.store(1);
    m_stepCount = 1;
    m_beforeFirstSlot.store(1);
    m_readStalled.store(0);
    m_paused.store(false);
    m_buffering.store(false);
    m_holding.store(false);
    m_halts.store(0);
    m_haltUntilMs = 0;
    m_levelAfterPause = 1;
}

void CHostFeed::AdvanceReadPos(std::uint32_t length)
{
    // One writer at a time (the gate holder): no read-modify-write needed.
    m_readPos.store(ReadPos() + length, std::memory_order_relaxed);
}

std::uint32_t CHostFeed::SlotsInFlight() const
{
    // A game that sends more keepalives than it was sent time slots has none in flight.
    const std::uint32_t sent = m_slotsSent.load();
    const std::uint32_t answered = m_connection.KeepalivesRead();
    return sent > answered ? sent - answered : 0;
}

HostResult CHostFeed::Play(std::optional<std::uint64_t> startTarget)
{
    m_slotsSent.store(0);
    HostResult result = FeedStep(StepKind::kPlain);
    if (EndsSession(result))
        return result;
    m_session.SendGameChat("[VELT] Welcome to VELT!");
    m_session.SendGameChat(OperatorWebAddressLine());
    // A game joined again after /back starts where the viewer asked, without the catch-up.
    if (startTarget)
        result = FastForwardToTime(*startTarget, false);
    else
        result = m_liveEdge.CatchUpLive();
    if (EndsSession(result))
        return result;
    for (;;)
    {
        m_session.TellServerNews(EmptyAnswersUntold());
        // Whichever thread ended the session, nothing more is fed.
        if (Stopping())
            return HostResult::kSessionOver;
        m_liveEdge.PollLiveEdge();
        if (Paused())
            result = HoldWhilePaused();
        else if (m_liveEdge.JumpPending())
            result = m_liveEdge.JumpAfterHalt();
        else if (m_liveEdge.TooCloseToLive())
            result = m_liveEdge.HoldForDelay();
        else if (ReadPos() < m_stream.Size())
            result = FeedStep(StepKind::kPlain);
        else
            result = WaitAtBoundary();
        if (EndsSession(result))
            return result;
    }
}

HostResult CHostFeed::Pause()
{
    if (Paused())
        return HostResult::kContinue;
    // Held on purpose, play falls behind the live edge: the limit of a feed that has caught up
    // no longer applies, so that a fast-forward can close the gap again.
    m_stream.LeaveLiveEdge();
    // Held at normal speed, so that no time slot of ours is in flight while the game waits;
    // the speed comes back with /resume. Inside a halt, which holds the game already, the speed
    // comes down when the halt ends.
    const std::uint8_t level = ShownLevel();
    const HostResult result = Held() ? HostResult::kContinue : ShiftSpeed(1);
    m_levelAfterPause = level;
    m_paused.store(true);
    return result;
}

HostResult CHostFeed::Resume()
{
    if (!Paused())
        return HostResult::kContinue;
    m_paused.store(false);
    // Inside the hold, its end brings the level back.
    return m_holding.load() ? HostResult::kContinue : SetSpeed(m_levelAfterPause);
}

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

bool CHostFeed::EmptyAnswersUntold() const
{
    // Behind live by choice with game in hand, an empty answer is no lack of data to the viewer.
    return LiveDelay() != 0 && !Buffering() && HeldAheadMs() > 0;
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

std::uint32_t CHostFeed::HeldAheadMs() const
{
    // The game time in the time slots between the read position and the end of the data.
    const CStreamBuffer& stream = m_stream;
    const std::uint32_t size = stream.Size();
    const std::uint32_t from = std::min(ReadPos(), size);
    std::span<const std::uint8_t> rest(stream.Bytes() + from, size - from);
    std::uint64_t ahead = 0;
    for (;;)
    {
        const GameFrame frame = FrameGamePacket(rest);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        const auto packet = rest.first(frame.m_length);
        if (frame.m_kind == GameFrame::Kind::kWhole &&
            HasGamePacketType(packet, GamePacketType::kIncomingAction))
            ahead += ReadTimeSlot(packet).m_intervalMs;
        rest = rest.subspan(frame.m_length);
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ahead, UINT32_MAX));
}

HostResult CHostFeed::FeedStep(StepKind kind)
{
    m_gate.NoteStep();
    bool forwardedSlot = false;
    bool forwardedOther = false;
    std::uint32_t passes = m_stepCount;
    bool lastWasSlot = false;
    for (std::uint32_t pass = 0; pass < passes; ++pass)
    {
        const Pass passKind = RunPass(kind);
        switch (passKind)
        {
        case Pass::kEnded:
            m_stepCount = 1;
            return m_passResult;
        case Pass::kForwardedSlot:
            forwardedSlot = true;
            break;
        case Pass::kForwardedOther:
            forwardedOther = true;
            break;
        case Pass::kForwardedChat:
            forwardedOther = true;
            if (kind != StepKind::kPlain)
                ++passes; // a nested step ends on a packet other than chat
            break;
        case Pass::kDroppedChat:
            if (kind == StepKind::kPlain)
            {
                m_stepCount = 1;
                return HostResult::kContinue;
            }
            ++passes;
            break;
        case Pass::kSkippedBeforeSlot:
            m_stepCount = 1;
            return EndRescue(kind, lastWasSlot);
        case Pass::kResynchronised:
            break;
        }
        lastWasSlot = passKind == Pass::kForwardedSlot;
    }
    m_stepCount = 1;
    if (kind == StepKind::kWatch)
        return EndRescue(kind, lastWasSlot);
    if (kind != StepKind::kPlain || forwardedOther || !forwardedSlot)
        return HostResult::kContinue;
    return WaitForKeepalive();
}

HostResult CHostFeed::EndRescue(StepKind kind, bool lastWasSlot)
{
    // The stalled read waits for a keepalive: the game answers only a time slot.
    if (kind != StepKind::kWatch || lastWasSlot)
        return HostResult::kContinue;
    if (!SendEmptySlot(false))
        return m_session.LoseConnection();
    m_slotsSent.fetch_add(1);
    return HostResult::kContinue;
}

CHostFeed::Pass CHostFeed::RunPass(StepKind kind)
{
    for (;;)
    {
        std::uint32_t size = m_stream.Size();
        const std::uint32_t pos = ReadPos();
        if (pos + 3 >= size)
        {
            if (const auto outcome = DataShort(kind))
                return *outcome;
            continue;
        }
        HostResult result =
            kind == StepKind::kWatch ? HostResult::kContinue : m_liveEdge.LimitLiveSpeed();
        if (EndsSession(result))
            return Ended(result);
        result = NearEnd(kind, size);
        if (EndsSession(result))
            return Ended(result);
        if (m_readPos != pos)
            continue; // a speed change above let the watch thread feed
        const std::uint8_t* packet = m_stream.Bytes() + pos;
        // No packet is longer than its length field can say, so the framer never needs to look
        // further, not even for the next packet's start after a byte that cannot start one.
        const GameFrame frame = FrameGamePacket(std::span<const std::uint8_t>(
            packet, std::min<std::size_t>(size - pos, kGamePacketMaxSize)));
        if (frame.m_kind == GameFrame::Kind::kMalformed)
        {
            // One byte at a time, each told: the viewer sees where the stream went wrong.
            char line[64];
            std::snprintf(line, sizeof line, "invalid %d %d %d",
                          static_cast<int>(static_cast<std::int8_t>(packet[0])),
                          static_cast<int>(pos), static_cast<int>(size));
            m_session.SendGameChat(line);
            AdvanceReadPos(1);
            return Pass::kResynchronised;
        }
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
        {
            if (const auto outcome = DataShort(kind))
                return *outcome;
            continue;
        }
        const std::uint32_t length = static_cast<std::uint32_t>(frame.m_length);
        const std::span<const std::uint8_t> bytes(packet, length);
        switch (static_cast<GamePacketType>(packet[1]))
        {
        case GamePacketType::kIncomingAction:
        {
            m_beforeFirstSlot.store(0);
            const TimeSlotFacts facts = ReadTimeSlot(bytes);
            m_gameTimeMs.store(m_gameTimeMs.load(std::memory_order_relaxed) + facts.m_intervalMs,
                               std::memory_order_relaxed);
            TimeSlotNotices(facts);
            result = Forward(length);
            if (EndsSession(result))
                return Ended(result);
            m_slotsSent.fetch_add(1);
            return Pass::kForwardedSlot;
        }
        case GamePacketType::kChatFromHost:
            if (!RecordedChatShown(bytes))
            {
                AdvanceReadPos(length);
                return Pass::kDroppedChat;
            }
            result = Forward(length);
            return EndsSession(result) ? Ended(result) : Pass::kForwardedChat;
        case GamePacketType::kPlayerLeaveOthers:
            if (m_beforeFirstSlot.load())
            {
                AdvanceReadPos(length);
                return Pass::kSkippedBeforeSlot;
            }
            [[fallthrough]];
        default:
            result = Forward(length);
            return EndsSession(result) ? Ended(result) : Pass::kForwardedOther;
        }
    }
}

CHostFeed::Pass CHostFeed::Ended(HostResult result)
{
    m_passResult = result;
    return Pass::kEnded;
}

std::optional<CHostFeed::Pass> CHostFeed::DataShort(StepKind kind)
{
    if (kind == StepKind::kWatch)
    {
        // The watch thread never waits: the game gets an empty slot to answer, whose keepalive
        // ends the stalled read, and the next plain step deals with the shortage.
        if (SendEmptySlot(false))
        {
            m_slotsSent.fetch_add(1);
            return Pass::kForwardedSlot;
        }
        return Ended(m_session.LoseConnection());
    }
    if (m_stream.Ended())
    {
        // Everything fed (a jump past the data ends here too): the game is told that the
        // session is over, as at the loop's packet boundary. A stream cut inside a packet is
        // not a proper end; the session is only closed.
        if (m_readPos >= m_stream.Size())
        {
            const HostResult result = AwaitLastKeepalives();
            if (EndsSession(result))
                return Ended(result);
            m_session.SendLeaveAck();
        }
        else
        {
            m_session.SignalStop();
        }
        return Ended(HostResult::kSessionOver);
    }
    const HostResult result = Buffer();
    if (result != HostResult::kContinue)
        return Ended(result);
    return std::nullopt;
}

HostResult CHostFeed::Forward(std::uint32_t length)
{
    const std::span<const std::uint8_t> bytes(m_stream.Bytes() + m_readPos, length);
    if (!m_connection.Send(bytes))
        return m_session.LoseConnection();
    AdvanceReadPos(length);
    return HostResult::kContinue;
}

bool CHostFeed::SendEmptySlot(bool owed)
{
    if (owed)
        m_connection.OweKeepalive();
    static const std::vector<std::uint8_t> kEmptyTimeSlot = BuildEmptyTimeSlot();
    return m_connection.Send(kEmptyTimeSlot);
}

HostResult CHostFeed::NearEnd(StepKind kind, std::uint32_t size)
{
    if (m_readPos + kNearEndBytes <= size || m_stream.Ended())
        return HostResult::kContinue;
    m_stream.MarkLowData();
    if (m_speed != 1 && kind != StepKind::kWatch)
    {
        m_session.SendGameChat("[VELT] Not enough data remaining, cancel fast forward");
        const HostResult result = SetSpeed(1);
        if (EndsSession(result))
            return result;
    }
    m_stream.RequestIfPermitted();
    return HostResult::kContinue;
}

void CHostFeed::TimeSlotNotices(const TimeSlotFacts& facts)
{
    if (!facts.m_firstPlayer || !facts.m_firstAction)
        return;
    const std::uint8_t player = *facts.m_firstPlayer;
    if (*facts.m_firstAction == kActionMapPing)
    {
        if (!m_header.IsPlayerSlot(player) &&
            m_owner.DisplaySwitches().Shown(ChatDisplaySwitches::Kind::kMapPings))
            m_session.SendGameChat("[VELT] Map Ping by " + m_header.PlayerName(player));
    }
    else if (*facts.m_firstAction == kActionHeroSkill)
    {
        m_session.SendGameChat("[VELT] " + m_header.PlayerName(player) + " has learnt a new skill");
    }
}

bool CHostFeed::RecordedChatShown(std::span<const std::uint8_t> chat) const
{
    const auto sender = RecordedChatSender(chat);
    if (!sender)
        return true; // names no sender: nothing to filter by
    const ChatDisplaySwitches& switches = m_owner.DisplaySwitches();
    return switches.Shown(m_header.IsPlayerSlot(*sender)
                              ? ChatDisplaySwitches::Kind::kPlayerChat
                              : ChatDisplaySwitches::Kind::kObserverChat);
}

HostResult CHostFeed::WaitForKeepalive()
{
    bool speedChanged = false;
    for (;;)
    {
        const GameRead read = m_connection.Next();
        if (read.Closed())
            return m_session.LoseConnection();
        const HostResult result = m_session.HandleGamePacket(read);
        if (EndsSession(result))
            return result;
        if (result == HostResult::kSpeedChanged)
        {
            // The keepalive the step waits for is still to come, unless an absorb that stalled
            // has taken the last one: then nothing is in flight and none will come.
            speedChanged = true;
            if (SlotsInFlight() == 0)
                return HostResult::kSpeedChanged;
            continue;
        }
        return speedChanged ? HostResult::kSpeedChanged : HostResult::kContinue;
    }
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

HostResult CHostFeed::SetSpeed(std::uint8_t level)
{
    level = std::clamp<std::uint8_t>(level, 1, kFastestLevel);
    if (Held())
    {
        // Nothing moves while the game is held: the level waits for the end of the hold.
        m_levelAfterPause = level;
        return HostResult::kContinue;
    }
    return ShiftSpeed(level);
}

HostResult CHostFeed::ShiftSpeed(std::uint8_t level)
{
    const std::uint8_t newSpeed = level == 1 ? 1 : static_cast<std::uint8_t>(level + 1);
    const std::uint8_t oldSpeed = Speed();
    m_speed = newSpeed;
    if (!m_session.InGame())
    {
        // The first step of play forwards that many packets at once.
        m_stepCount = newSpeed;
        return HostResult::kContinue;
    }
    if (newSpeed < oldSpeed)
        return Absorb(oldSpeed - newSpeed);
    for (int i = 0; i < newSpeed - oldSpeed; ++i)
    {
        if (m_speed != newSpeed)
            break; // a step above changed the speed again
        const HostResult result = FeedStep(StepKind::kNested);
        if (EndsSession(result))
            return result;
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::Absorb(std::uint32_t count)
{
    for (std::uint32_t absorbed = 0; absorbed < count;)
    {
        m_readStalled.store(0);
        m_gate.Park();
        m_readWatch.Set();
        const GameRead read = m_connection.NextFromWire();
        m_gate.Unpark();
        m_readWatch.Set();
        if (read.Closed())
            return m_session.LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        const bool stalled = m_readStalled.load() != 0;
        // The viewer's line is answered once the keepalives are in; it is no keepalive, so it
        // never counts as one. Lines beyond what can be set aside are dropped.
        if (read.Is(GamePacketType::kChatToHost))
            m_connection.SetAside(read.m_bytes);
        else
            ++absorbed;
        if (stalled)
            break; // the game had run out of time slots to answer
    }
    return HostResult::kContinue;
}

bool CHostFeed::StartReadWatch()
{
    return m_watchThread.Start([this] { ReadWatchThread(); });
}

void CHostFeed::ReadWatchThread()
{
    m_session.EnterHostThread();
    CEvent& stop = m_stop;
    std::uint64_t fedFor = 0;
    for (;;)
    {
        if (WaitAny({&stop, &m_readWatch}, kWatchIdleMs) == 0)
            return;
        // The pulses only wake this thread: two pulses that fall together count once, so the
        // gate says which watched read is under way.
        for (auto read = m_gate.ParkedRead(); read && *read != fedFor; read = m_gate.ParkedRead())
        {
            if (stop.Wait(m_timings.m_readWatchMs))
                return;
            // Still blocked in the same read: give the game a time slot to answer.
            const bool fed = m_gate.RunWhileParked(*read,
                                                   [this]
                                                   {
                                                       m_readStalled.store(1);
                                                       FeedStep(StepKind::kWatch);
                                                   });
            if (fed)
                fedFor = *read;
        }
    }
}

} // namespace velt
