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
// The read-watch thread's wait on its events when no read is watched (the stop ends it at once).
constexpr std::uint32_t kWatchIdleMs = 1000;
constexpr std::uint8_t kActionMapPing = 0x68;
constexpr std::uint8_t kActionHeroSkill = 0x66;

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
    m_toldCorrupt = false;
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

bool CHostFeed::EmptyAnswersUntold() const
{
    // Behind live by choice with game in hand, an empty answer is no lack of data to the viewer.
    return LiveDelay() != 0 && !Buffering() && HeldAheadMs() > 0;
}

std::uint32_t CHostFeed::HeldAheadMs() const
{
    // The game time in the time slots between the read position and the end of the data.
    const CStreamBuffer& stream = m_stream;
    const std::uint32_t size = stream.Size();
    std::uint64_t ahead = 0;
    for (std::uint32_t pos = std::min(ReadPos(), size); pos < size;)
    {
        const auto rest = stream.View(pos, std::min(size - pos, CStreamBuffer::kMaxView));
        const GameFrame frame = FrameStreamPacket(rest);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        const auto packet = rest.first(frame.m_length);
        if (frame.m_kind == GameFrame::Kind::kWhole &&
            HasGamePacketType(packet, GamePacketType::kIncomingAction))
            ahead += ReadTimeSlot(packet).m_intervalMs;
        pos += static_cast<std::uint32_t>(frame.m_length);
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
        // No packet is longer than its length field can say, so the framer never needs to look
        // further, not even for the next packet's start after a byte that cannot start one.
        const auto held =
            m_stream.View(pos, std::min<std::uint32_t>(size - pos, kGamePacketMaxSize));
        const std::uint8_t* packet = held.data();
        // Only a whole packet that is valid for its type reaches the game; a broken one would
        // stop a game that checks, or cut a piece out of the match for one that does not.
        const GameFrame frame = FrameStreamPacket(held);
        if (frame.m_kind == GameFrame::Kind::kMalformed)
        {
            TellCorruptOnce(pos);
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
    if (!m_connection.Send(m_stream.View(m_readPos, length)))
        return m_session.LoseConnection();
    AdvanceReadPos(length);
    return HostResult::kContinue;
}

void CHostFeed::TellCorruptOnce(std::uint32_t offset)
{
    if (m_toldCorrupt)
        return;
    m_toldCorrupt = true;
    m_owner.Notices().Report("Match " + std::to_string(m_stream.MatchId()) +
                             ": the server's data is corrupt from stream offset " +
                             std::to_string(offset) +
                             " on; what is no valid game packet is skipped, and the match "
                             "shown misses those parts.");
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
