#include "host/CHostFeed.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "host/CLocalGameHost.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

namespace
{

// Closer than this to the end of the data, the feed asks for more and gives up fast speeds.
constexpr std::uint32_t kNearEndBytes = 1500;
// Buffering waits until this much more data has arrived.
constexpr std::uint32_t kBufferingTarget = 2000;
constexpr std::uint8_t kFastestLevel = 4;
// How long the read-watch thread sleeps between looks at the stop event when nothing happens.
constexpr std::uint32_t kWatchIdleMs = 1000;
constexpr std::uint8_t kActionMapPing = 0x68;
constexpr std::uint8_t kActionHeroSkill = 0x66;

constexpr std::string_view kNormalSpeedLine = "[VELT] Now play with normal speed";

} // namespace

std::uint8_t CHostFeed::ShownLevel() const
{
    return m_host.m_speed > 1 ? static_cast<std::uint8_t>(m_host.m_speed - 1) : 1;
}

std::uint32_t CHostFeed::SlotsInFlight() const
{
    // A game that sends more keepalives than it was sent time slots has none in flight.
    const std::uint32_t sent = m_slotsSent.load();
    const std::uint32_t answered = m_host.m_connection.KeepalivesRead();
    return sent > answered ? sent - answered : 0;
}

HostResult CHostFeed::Play()
{
    m_slotsSent.store(0);
    HostResult result = FeedStep(StepKind::kPlain);
    if (EndsSession(result))
        return result;
    m_host.SendGameChat("[VELT] Welcome to VELT!");
    m_host.SendGameChat(OperatorWebAddressLine());
    result = CatchUpLive();
    if (EndsSession(result))
        return result;
    for (;;)
    {
        m_host.TellServerNews();
        // Whichever thread ended the session, nothing more is fed.
        if (m_host.m_stopEvent.IsSet())
            return HostResult::kSessionOver;
        if (m_host.m_readPos < m_host.m_streamSize.load(std::memory_order_acquire))
            result = FeedStep(StepKind::kPlain);
        else
            result = WaitAtBoundary();
        if (EndsSession(result))
            return result;
    }
}

HostResult CHostFeed::FeedStep(StepKind kind)
{
    m_host.m_gate.NoteStep();
    bool forwardedSlot = false;
    bool forwardedOther = false;
    std::uint32_t passes = m_host.m_stepCount;
    bool lastWasSlot = false;
    for (std::uint32_t pass = 0; pass < passes; ++pass)
    {
        const Pass passKind = RunPass(kind);
        switch (passKind)
        {
        case Pass::kEnded:
            m_host.m_stepCount = 1;
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
                m_host.m_stepCount = 1;
                return HostResult::kContinue;
            }
            ++passes;
            break;
        case Pass::kSkippedBeforeSlot:
            m_host.m_stepCount = 1;
            return EndRescue(kind, lastWasSlot);
        case Pass::kResynchronised:
            break;
        }
        lastWasSlot = passKind == Pass::kForwardedSlot;
    }
    m_host.m_stepCount = 1;
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
        return m_host.LoseConnection();
    m_slotsSent.fetch_add(1);
    return HostResult::kContinue;
}

CHostFeed::Pass CHostFeed::RunPass(StepKind kind)
{
    for (;;)
    {
        std::uint32_t size = m_host.m_streamSize.load(std::memory_order_acquire);
        const std::uint32_t pos = m_host.m_readPos;
        if (pos + 3 >= size)
        {
            if (const auto outcome = DataShort(kind))
                return *outcome;
            continue;
        }
        HostResult result = LimitLiveSpeed(kind);
        if (EndsSession(result))
            return Ended(result);
        result = NearEnd(kind, size);
        if (EndsSession(result))
            return Ended(result);
        if (m_host.m_readPos != pos)
            continue; // a speed change above let the watch thread feed
        const std::uint8_t* packet = m_host.m_stream.data() + pos;
        const std::uint32_t length = static_cast<std::uint32_t>(packet[2] | (packet[3] << 8));
        if (packet[0] != kGamePacketSignature || length < kGamePacketHeadSize)
        {
            char line[64];
            std::snprintf(line, sizeof line, "invalid %d %d %d",
                          static_cast<int>(static_cast<std::int8_t>(packet[0])),
                          static_cast<int>(pos), static_cast<int>(size));
            m_host.SendGameChat(line);
            ++m_host.m_readPos;
            return Pass::kResynchronised;
        }
        if (pos + length > size)
        {
            if (const auto outcome = DataShort(kind))
                return *outcome;
            continue;
        }
        const std::span<const std::uint8_t> bytes(packet, length);
        switch (static_cast<GamePacketType>(packet[1]))
        {
        case GamePacketType::kIncomingAction:
        {
            m_host.m_beforeFirstSlot.store(0);
            const TimeSlotFacts facts = ReadTimeSlot(bytes);
            m_host.m_gameTimeMs += facts.m_intervalMs;
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
                m_host.m_readPos += length;
                return Pass::kDroppedChat;
            }
            result = Forward(length);
            return EndsSession(result) ? Ended(result) : Pass::kForwardedChat;
        case GamePacketType::kPlayerLeaveOthers:
            if (m_host.m_beforeFirstSlot.load())
            {
                m_host.m_readPos += length;
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
        return Ended(m_host.LoseConnection());
    }
    if (m_host.m_endOfStream.load())
    {
        // Everything fed (a jump past the data ends here too): the game is told that the
        // session is over, as at the loop's packet boundary. A stream cut inside a packet is
        // not a proper end; the session is only closed.
        if (m_host.m_readPos >= m_host.m_streamSize.load(std::memory_order_acquire))
        {
            const HostResult result = AwaitLastKeepalives();
            if (EndsSession(result))
                return Ended(result);
            m_host.SendLeaveAck();
        }
        else
        {
            m_host.SignalStop();
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
    const std::span<const std::uint8_t> bytes(m_host.m_stream.data() + m_host.m_readPos, length);
    if (!m_host.SendToGame(bytes))
        return m_host.LoseConnection();
    m_host.m_readPos += length;
    return HostResult::kContinue;
}

bool CHostFeed::SendEmptySlot(bool owed)
{
    if (owed)
        m_host.m_connection.OweKeepalive();
    static const std::vector<std::uint8_t> kEmptyTimeSlot = BuildEmptyTimeSlot();
    return m_host.SendToGame(kEmptyTimeSlot);
}

HostResult CHostFeed::LimitLiveSpeed(StepKind kind)
{
    if (kind == StepKind::kWatch || !m_host.m_caughtUp.load() || m_host.m_speed == 1 ||
        m_host.m_header.U8(ReplayHeader::kNotLiveOffset) != 0)
        return HostResult::kContinue;
    m_host.SendGameChat(kNormalSpeedLine);
    return SetSpeed(1);
}

HostResult CHostFeed::NearEnd(StepKind kind, std::uint32_t size)
{
    if (m_host.m_readPos + kNearEndBytes <= size || m_host.m_endOfStream.load())
        return HostResult::kContinue;
    m_host.m_lowData.store(1);
    if (m_host.m_speed != 1 && kind != StepKind::kWatch)
    {
        m_host.SendGameChat("[VELT] Not enough data remaining, cancel fast forward");
        const HostResult result = SetSpeed(1);
        if (EndsSession(result))
            return result;
    }
    m_host.RequestIfPermitted();
    return HostResult::kContinue;
}

void CHostFeed::TimeSlotNotices(const TimeSlotFacts& facts)
{
    if (!facts.m_firstPlayer || !facts.m_firstAction)
        return;
    const std::uint8_t player = *facts.m_firstPlayer;
    if (*facts.m_firstAction == kActionMapPing)
    {
        if (!m_host.IsPlayerSlot(player) &&
            m_host.m_owner.DisplaySwitches().m_showMapPings.load() != 0)
            m_host.SendGameChat("[VELT] Map Ping by " + m_host.PlayerName(player));
    }
    else if (*facts.m_firstAction == kActionHeroSkill)
    {
        m_host.SendGameChat("[VELT] " + m_host.PlayerName(player) + " has learnt a new skill");
    }
}

bool CHostFeed::RecordedChatShown(std::span<const std::uint8_t> chat) const
{
    const auto sender = RecordedChatSender(chat);
    if (!sender)
        return true; // names no sender: nothing to filter by
    const ChatDisplaySwitches& switches = m_host.m_owner.DisplaySwitches();
    return (m_host.IsPlayerSlot(*sender) ? switches.m_showPlayerChat.load()
                                         : switches.m_showObserverChat.load()) != 0;
}

HostResult CHostFeed::WaitForKeepalive()
{
    bool speedChanged = false;
    for (;;)
    {
        const GameRead read = m_host.m_connection.Next();
        if (read.Closed())
            return m_host.LoseConnection();
        const HostResult result = m_host.m_commands.HandleGamePacket(read);
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
    m_host.m_lowData.store(1);
    m_host.SendGameChat("[VELT] Not enough data,buffering..");
    const std::uint32_t target =
        m_host.m_streamSize.load(std::memory_order_acquire) + kBufferingTarget;
    do
    {
        if (m_host.m_endOfStream.load())
            break;
        m_host.RequestWhileWaiting();
        const HostResult result = HaltGame(m_host.m_timings.m_bufferingHaltMs);
        if (result != HostResult::kContinue)
            return result;
    } while (m_host.m_streamSize.load(std::memory_order_acquire) < target);
    m_host.SendGameChat("[VELT] Game resumed..");
    return HostResult::kContinue;
}

HostResult CHostFeed::WaitAtBoundary()
{
    std::uint32_t answers = m_host.m_answersArrived.load();
    std::uint64_t quietSince = m_host.m_clock.NowMs();
    for (;;)
    {
        m_host.TellServerNews();
        if (m_host.m_stopEvent.IsSet())
            return HostResult::kSessionOver;
        if (m_host.m_endOfStream.load())
        {
            const HostResult result = AwaitLastKeepalives();
            if (EndsSession(result))
                return result;
            m_host.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        if (m_host.m_readPos < m_host.m_streamSize.load(std::memory_order_acquire))
            return HostResult::kContinue;
        // An answer, even an empty one, shows that the server is there.
        const std::uint64_t now = m_host.m_clock.NowMs();
        if (const std::uint32_t seen = m_host.m_answersArrived.load(); seen != answers)
        {
            answers = seen;
            quietSince = std::max(now, m_host.NextRequestAllowedMs());
        }
        if (now >= quietSince && now - quietSince >= m_host.m_timings.m_dataWaitMs &&
            !m_host.m_owner.SupervisesServerLink())
        {
            m_host.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        m_host.RequestWhileWaiting();
        if (WaitAny({&m_host.m_stopEvent, &m_host.m_dataArrived},
                    m_host.m_timings.m_haltPeriodMs) != kWaitTimeout)
        {
            // After an empty answer the silence that ends a session starts only when the next
            // request can go out.
            quietSince = std::max(m_host.m_clock.NowMs(), m_host.NextRequestAllowedMs());
            continue;
        }
        const HostResult result = HaltTick();
        if (result != HostResult::kContinue)
            return result;
    }
}

HostResult CHostFeed::HaltGame(std::uint32_t ms)
{
    const std::uint32_t period = std::max<std::uint32_t>(1, m_host.m_timings.m_haltPeriodMs);
    const std::uint64_t start = m_host.m_clock.NowMs();
    while (m_host.m_clock.NowMs() - start < ms)
    {
        const HostResult result = HaltTick();
        if (result != HostResult::kContinue)
            return result;
        m_host.m_clock.SleepMs(period);
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::AwaitLastKeepalives()
{
    // At 4x up to four time slots are still unanswered; the leave acknowledgement would end
    // the game before it has played them.
    const std::uint64_t start = m_host.m_clock.NowMs();
    const std::uint32_t waitMs = m_host.m_timings.m_lastKeepalivesWaitMs;
    while (SlotsInFlight() > 0)
    {
        const std::uint64_t elapsed = m_host.m_clock.NowMs() - start;
        if (elapsed >= waitMs)
            break;
        const GameRead read =
            m_host.m_connection.NextWithin(m_host.m_clock, static_cast<std::uint32_t>(waitMs - elapsed));
        if (read.TimedOut())
            break;
        if (read.Closed())
            return m_host.LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            m_host.SendLeaveAck();
            return HostResult::kSessionOver;
        }
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::HaltTick()
{
    m_host.TellServerNews();
    if (m_host.m_stopEvent.IsSet())
        return HostResult::kSessionOver;
    if (!SendEmptySlot(true))
        return m_host.LoseConnection();
    switch (m_host.m_connection.Pump())
    {
    case CGameConnection::PumpResult::kLeavePending:
        m_host.SendLeaveAck();
        return HostResult::kSessionOver;
    case CGameConnection::PumpResult::kClosed:
        return m_host.LoseConnection();
    case CGameConnection::PumpResult::kNothing:
        break;
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::SetSpeed(std::uint8_t level)
{
    level = std::clamp<std::uint8_t>(level, 1, kFastestLevel);
    const std::uint8_t newSpeed = level == 1 ? 1 : static_cast<std::uint8_t>(level + 1);
    const std::uint8_t oldSpeed = m_host.m_speed;
    m_host.m_speed = newSpeed;
    if (!m_host.m_inGame.load())
    {
        // The first step of play forwards that many packets at once.
        m_host.m_stepCount = newSpeed;
        return HostResult::kContinue;
    }
    if (newSpeed < oldSpeed)
        return Absorb(oldSpeed - newSpeed);
    for (int i = 0; i < newSpeed - oldSpeed; ++i)
    {
        if (m_host.m_speed != newSpeed)
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
        m_host.m_readStalled.store(0);
        m_host.m_gate.Park();
        m_host.m_readWatch.Set();
        const GameRead read = m_host.m_connection.NextFromWire();
        m_host.m_gate.Unpark();
        m_host.m_readWatch.Set();
        if (read.Closed())
            return m_host.LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            m_host.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        const bool stalled = m_host.m_readStalled.load() != 0;
        // The viewer's line is answered once the keepalives are in; it is no keepalive, so it
        // never counts as one. Lines beyond what can be set aside are dropped.
        if (read.Is(GamePacketType::kChatToHost))
            m_host.m_connection.SetAside(read.m_bytes);
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
    m_host.EnterHostThread();
    CEvent& stop = m_host.m_stopEvent;
    std::uint64_t fedFor = 0;
    for (;;)
    {
        if (WaitAny({&stop, &m_host.m_readWatch}, kWatchIdleMs) == 0)
            return;
        // The pulses only wake this thread: two pulses that fall together count once, so the
        // gate says which watched read is under way.
        for (auto read = m_host.m_gate.ParkedRead(); read && *read != fedFor;
             read = m_host.m_gate.ParkedRead())
        {
            if (stop.Wait(m_host.m_timings.m_readWatchMs))
                return;
            // Still blocked in the same read: give the game a time slot to answer.
            const bool fed = m_host.m_gate.RunWhileParked(*read, [this] {
                m_host.m_readStalled.store(1);
                FeedStep(StepKind::kWatch);
            });
            if (fed)
                fedFor = *read;
        }
    }
}

HostResult CHostFeed::FastForwardToTime(std::uint64_t targetMs, bool quiet)
{
    if (targetMs < m_host.m_gameTimeMs)
        return HostResult::kContinue;
    return FastForward([this, targetMs] { return targetMs >= m_host.m_gameTimeMs; }, quiet);
}

HostResult CHostFeed::FastForwardToPosition(std::uint32_t target, bool quiet)
{
    if (target < m_host.m_readPos)
        return HostResult::kContinue;
    const std::uint32_t limit =
        std::min(target, m_host.m_streamSize.load(std::memory_order_acquire));
    return FastForward([this, limit] { return m_host.m_readPos < limit; }, quiet);
}

HostResult CHostFeed::FastForward(const std::function<bool()>& shortOfTarget, bool quiet)
{
    HostResult result = SetSpeed(kFastestLevel);
    if (EndsSession(result))
        return result;
    while (shortOfTarget())
    {
        result = FeedStep(StepKind::kPlain);
        if (result == HostResult::kSpeedChanged)
            return HostResult::kContinue; // the viewer has chosen a speed
        if (EndsSession(result))
        {
            m_host.SignalStop();
            return result;
        }
    }
    result = SetSpeed(1);
    if (EndsSession(result))
        return result;
    if (!quiet)
        m_host.SendGameChat(kNormalSpeedLine);
    return HostResult::kContinue;
}

HostResult CHostFeed::CatchUpLive()
{
    if (m_host.m_header.U8(ReplayHeader::kNotLiveOffset) != 0)
        return HostResult::kContinue;
    const std::uint16_t behind = m_host.MatchSeconds();
    char line[96];
    std::snprintf(line, sizeof line, "[VELT]You are %d min %d sec behind, fast forward now",
                  behind / 60, behind % 60);
    m_host.SendGameChat(line);
    while (!m_host.m_stopEvent.IsSet())
    {
        const std::uint32_t size = m_host.m_streamSize.load(std::memory_order_acquire);
        if (size == 0)
        {
            m_host.SendGameChat(kNormalSpeedLine);
            break;
        }
        const HostResult result = FastForwardToPosition(size, true);
        if (EndsSession(result))
            return result;
        if (m_host.m_caughtUp.load())
        {
            m_host.SendGameChat(kNormalSpeedLine);
            break;
        }
    }
    return HostResult::kContinue;
}

} // namespace velt
