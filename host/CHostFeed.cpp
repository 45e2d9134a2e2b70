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

bool CHostFeed::PlayHeld() const
{
    const FeedState state = State();
    return Paused() || IsHold(state) || IsHalt(state);
}

std::uint8_t CHostFeed::ShownLevel() const
{
    if (PlayHeld())
        return m_levelAfterPause; // what the end of the hold brings back
    const std::uint8_t speed = Speed();
    return speed > 1 ? static_cast<std::uint8_t>(speed - 1) : 1;
}

void CHostFeed::Reset(std::uint32_t liveDelaySeconds)
{
    m_liveEdge.Reset(liveDelaySeconds);
    m_halts.Reset();
    m_readPos.store(0);
    m_gameTimeMs.store(0);
    m_speed.store(1);
    m_stepCount = 1;
    m_beforeFirstSlot = true;
    m_state.store(FeedState::kLobby);
    m_paused.store(false);
    m_levelAfterPause = 1;
    m_viewerChoices = 0;
    m_toldCorrupt = false;
}

void CHostFeed::AdvanceReadPos(std::uint32_t length)
{
    // One writer, the session thread: no read-modify-write needed.
    m_readPos.store(ReadPos() + length, std::memory_order_relaxed);
}

std::uint32_t CHostFeed::SlotsInFlight() const
{
    // A game that sends more keepalives than it was sent time slots has none in flight.
    const std::uint32_t sent = m_slotsSent;
    const std::uint32_t answered = m_connection.KeepalivesRead();
    return sent > answered ? sent - answered : 0;
}

HostResult CHostFeed::Play(std::optional<std::uint64_t> startTarget)
{
    m_slotsSent = 0;
    SetState(PlayState());
    HostResult result = FeedStep(StepKind::kPlain);
    if (EndsSession(result))
        return result;
    m_session.SendGameChat("[VELT] Welcome to VELT!");
    m_session.SendGameChat(OperatorWebAddressLine());
    // A game joined again after /back starts where the viewer asked, without the catch-up.
    if (startTarget)
        result = m_liveEdge.FastForwardToTime(*startTarget, false);
    else
        result = InState(FeedState::kCatchUp, [this] { return m_liveEdge.CatchUpLive(); });
    if (EndsSession(result))
        return result;
    for (;;)
    {
        SetState(PlayState());
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

bool CHostFeed::EmptyAnswersUntold() const
{
    // Behind live by choice with game in hand, an empty answer is no lack of data to the viewer.
    return LiveDelay() != 0 && HeldAheadMs() > 0;
}

HostResult CHostFeed::FeedStep(StepKind kind)
{
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
    if (kind == StepKind::kRescue)
        return EndRescue(kind, lastWasSlot);
    if (kind != StepKind::kPlain || forwardedOther || !forwardedSlot)
        return HostResult::kContinue;
    return WaitForKeepalive();
}

HostResult CHostFeed::EndRescue(StepKind kind, bool lastWasSlot)
{
    // The stalled read waits for a keepalive: the game answers only a time slot.
    if (kind != StepKind::kRescue || lastWasSlot)
        return HostResult::kContinue;
    if (!SendEmptySlot(false))
        return m_session.LoseConnection();
    ++m_slotsSent;
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
            kind == StepKind::kRescue ? HostResult::kContinue : m_liveEdge.LimitLiveSpeed();
        if (EndsSession(result))
            return Ended(result);
        result = NearEnd(kind, size);
        if (EndsSession(result))
            return Ended(result);
        if (m_readPos != pos)
            continue; // a speed change above fed a rescue step
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
        return PassPacket(held.first(frame.m_length));
    }
}

CHostFeed::Pass CHostFeed::PassPacket(std::span<const std::uint8_t> bytes)
{
    const auto length = static_cast<std::uint32_t>(bytes.size());
    HostResult result = HostResult::kContinue;
    switch (static_cast<GamePacketType>(bytes[1]))
    {
    case GamePacketType::kIncomingAction:
    {
        m_beforeFirstSlot = false;
        const TimeSlotFacts facts = ReadTimeSlot(bytes);
        m_gameTimeMs.store(m_gameTimeMs.load(std::memory_order_relaxed) + facts.m_intervalMs,
                           std::memory_order_relaxed);
        TimeSlotNotices(facts);
        result = Forward(length);
        if (EndsSession(result))
            return Ended(result);
        ++m_slotsSent;
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
        if (m_beforeFirstSlot)
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

CHostFeed::Pass CHostFeed::Ended(HostResult result)
{
    m_passResult = result;
    return Pass::kEnded;
}

std::optional<CHostFeed::Pass> CHostFeed::DataShort(StepKind kind)
{
    if (kind == StepKind::kRescue)
    {
        // A rescue never waits: the game gets an empty slot to answer, whose keepalive ends the
        // stalled read, and the next plain step deals with the shortage.
        if (SendEmptySlot(false))
        {
            ++m_slotsSent;
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
            const HostResult result = m_halts.AwaitLastKeepalives();
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
    if (m_speed != 1 && kind != StepKind::kRescue)
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

HostResult CHostFeed::InState(FeedState state, const std::function<HostResult()>& run)
{
    const FeedState before = State();
    SetState(state);
    const HostResult result = run();
    SetState(before);
    return result;
}

FeedState CHostFeed::DataWaitState() const
{
    return m_session.ServerLinkLost() ? FeedState::kReconnecting : FeedState::kBuffering;
}

HostResult CHostFeed::Pause()
{
    if (Paused())
        return HostResult::kContinue;
    ++m_viewerChoices;
    // Held on purpose, play falls behind the live edge: the limit of a feed that has caught up
    // no longer applies, so that a fast-forward can close the gap again.
    m_stream.LeaveLiveEdge();
    // Held at normal speed, so that no time slot of ours is in flight while the game waits;
    // the speed comes back with /resume. Inside a halt, which holds the game already, the speed
    // comes down when the halt ends.
    const std::uint8_t level = ShownLevel();
    const HostResult result = PlayHeld() ? HostResult::kContinue : ShiftSpeed(1);
    m_levelAfterPause = level;
    m_paused.store(true);
    return result;
}

HostResult CHostFeed::Resume()
{
    if (!Paused())
        return HostResult::kContinue;
    ++m_viewerChoices;
    m_paused.store(false);
    // Inside the hold, its end brings the level back.
    return IsHold(State()) ? HostResult::kContinue : SetSpeed(m_levelAfterPause);
}

HostResult CHostFeed::HoldWhilePaused()
{
    return Hold(FeedState::kPaused, [this] { return Paused(); });
}

HostResult CHostFeed::HoldBehindLive(const std::function<bool()>& holding)
{
    // Held behind live, the game comes back at normal speed unless the viewer chooses a level.
    m_levelAfterPause = 1;
    return Hold(FeedState::kDelayHold, holding);
}

HostResult CHostFeed::Hold(FeedState state, const std::function<bool()>& holding)
{
    const HostResult result = InState(state, [&] { return m_halts.HoldTicks(holding); });
    if (EndsSession(result) || Paused() || m_levelAfterPause == ShownLevel())
        return result;
    return SetSpeed(m_levelAfterPause);
}

HostResult CHostFeed::RunUnheld(const std::function<HostResult()>& run)
{
    // A jump asked for during a hold runs as play; the hold goes on after it.
    return IsHold(State()) ? InState(PlayState(), run) : run();
}

HostResult CHostFeed::Halt(FeedState state, const std::function<HostResult()>& halt)
{
    if (!PlayHeld())
        m_levelAfterPause = ShownLevel();
    HostResult result = InState(state,
                                [&]
                                {
                                    const HostResult halted = halt();
                                    // The rest of a /syncdown typed meanwhile.
                                    return EndsSession(halted) ? halted : m_halts.HaltGame(0);
                                });
    if (EndsSession(result) || IsHalt(State()))
        return result;
    m_halts.HaltOver();
    // Held on (paused before the halt, or behind live): that hold applies the level at its end.
    if (IsHold(State()))
        return HostResult::kContinue;
    if (Paused())
    {
        // Paused during the halt: held at normal speed from here on, as /pause does.
        return Speed() != 1 ? ShiftSpeed(1) : HostResult::kContinue;
    }
    if (m_levelAfterPause == ShownLevel())
        return HostResult::kContinue;
    // The level the viewer chose during the halt.
    ++m_viewerChoices;
    return ShiftSpeed(m_levelAfterPause);
}

HostResult CHostFeed::HaltFor(std::uint32_t ms)
{
    if (!IsHalt(State()))
        return Halt(FeedState::kSyncDownHalt, [this, ms] { return m_halts.HaltGame(ms); });
    m_halts.ExtendHalt(ms);
    return HostResult::kContinue;
}

HostResult CHostFeed::HaltWhileWaiting(const std::function<bool()>& waiting)
{
    return Halt(DataWaitState(), [&] { return m_halts.HaltWhile(waiting); });
}

HostResult CHostFeed::Buffer()
{
    m_stream.MarkLowData();
    m_session.SendGameChat("[VELT] Not enough data,buffering..");
    const std::uint32_t target = m_stream.Size() + kBufferingTarget;
    const HostResult result =
        Halt(DataWaitState(), [this, target] { return m_halts.BufferTo(target); });
    if (EndsSession(result))
        return result;
    m_session.SendGameChat("[VELT] Game resumed..");
    return result;
}

HostResult CHostFeed::WaitAtBoundary()
{
    return Halt(DataWaitState(), [this] { return m_halts.WaitForMoreData(); });
}

HostResult CHostFeed::WaitForKeepalive()
{
    for (;;)
    {
        const GameRead read = m_connection.Next();
        if (read.Closed())
            return m_session.LoseConnection();
        const PacketOutcome outcome = m_session.HandleGamePacket(read);
        if (!outcome.m_readOn)
            return outcome.m_result;
        // A command has taken the keepalive this step waited for (a slower speed, a pause): none
        // is in flight, and none will come.
        if (SlotsInFlight() == 0)
            return HostResult::kContinue;
    }
}

HostResult CHostFeed::ChooseSpeed(std::uint8_t level)
{
    // Held, the level waits for the end of the hold, and counts as chosen only if it changes
    // the level then.
    if (!PlayHeld())
        ++m_viewerChoices;
    return SetSpeed(level);
}

HostResult CHostFeed::SetSpeed(std::uint8_t level)
{
    level = std::clamp<std::uint8_t>(level, 1, kFastestLevel);
    if (PlayHeld())
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
        // A game with fewer slots in flight than counted would leave the read unanswered for
        // ever: after the read-watch time it gets one slot to answer, and the absorb ends there.
        bool rescued = false;
        GameRead read;
        for (;;)
        {
            read = m_connection.NextWithin(m_clock, m_timings.m_readWatchMs);
            if (!read.TimedOut())
                break;
            if (Stopping())
                return HostResult::kSessionOver;
            if (!rescued)
            {
                rescued = true;
                const HostResult result = FeedStep(StepKind::kRescue);
                if (EndsSession(result))
                    return result;
            }
        }
        if (read.Closed())
            return m_session.LoseConnection();
        if (read.Is(GamePacketType::kLeaveGame))
        {
            m_session.SendLeaveAck();
            return HostResult::kSessionOver;
        }
        // The viewer's line is answered once the keepalives are in; it is no keepalive, so it
        // never counts as one. Lines beyond what can be set aside are dropped.
        if (read.Is(GamePacketType::kChatToHost))
            m_connection.SetAside(read.m_bytes);
        else
            ++absorbed;
        if (rescued)
            break; // the game had run out of time slots to answer
    }
    return HostResult::kContinue;
}

HostResult CHostFeed::JumpForward(std::uint64_t targetMs)
{
    // Typed while the game is halted: the jump follows once the halt is over.
    if (IsHalt(State()))
    {
        m_liveEdge.JumpWhenHaltEnds(targetMs);
        return HostResult::kContinue;
    }
    // The keepalive of the current time slot is still unread; a line typed meanwhile is kept.
    // Typed while the game is held, no slot of the stream is in flight and none is owed: a read
    // for it would wait for ever.
    if (SlotsInFlight() > 0)
    {
        const HostResult result = m_session.DiscardNextPacket(true);
        if (EndsSession(result))
            return result;
    }
    return m_liveEdge.FastForwardToTime(targetMs, false);
}

} // namespace velt
