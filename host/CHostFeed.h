#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/CFeedGate.h"
#include "host/CGameConnection.h"
#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/CLiveEdge.h"
#include "host/HostTimings.h"
#include "host/IFeedSession.h"
#include "host/IHostOwner.h"
#include "host/IPacing.h"
#include "host/IPlayControl.h"
#include "host/ReplayHeader.h"
#include "host/packets/PlayPackets.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace velt
{

// The operator's web address, shown in capitals in the welcome lines.
constexpr std::string_view kOperatorWebAddress = "www.velt.tv";
// "[VELT] WWW.VELT.TV!", the welcome line that gives it.
std::string OperatorWebAddressLine();

// The play part of a host's session: forwards the buffered stream to the game, paced by the
// game's keepalives; speeds, halts, buffering and the read-watch thread. Its live edge
// (CLiveEdge) runs the catch-up of live matches and the fast-forwards through it.
class CHostFeed final : public IPlayControl, private IPacing
{
public:
    // stop is the session's end, set by whichever thread ends it.
    CHostFeed(IFeedSession& session, CStreamBuffer& stream, CGameConnection& connection,
              CFeedGate& gate, CEvent& stop, IClock& clock, const HostTimings& timings,
              const ReplayHeader& header, IHostOwner& owner)
        : m_session(session), m_stream(stream), m_connection(connection), m_gate(gate),
          m_stop(stop), m_clock(clock), m_timings(timings), m_header(header), m_owner(owner),
          m_liveEdge(*this, session, stream, stop, clock, timings, header)
    {
    }
    CHostFeed(const CHostFeed&) = delete;
    CHostFeed& operator=(const CHostFeed&) = delete;

    enum class StepKind
    {
        kPlain,  // the session thread's step: waits for the keepalive of what it forwarded
        kNested, // a nested step on the session thread (a speed change): never waits for the game
        kWatch,  // the read-watch thread's step while the session thread is parked in a read
    };

    // A session starts at the stream's start, at normal speed, with nothing in flight, and
    // stays liveDelaySeconds (at most kMaxLiveDelaySeconds) behind the live edge.
    void Reset(std::uint32_t liveDelaySeconds);

    // The play loop, after the start: on the session thread, holding the feed gate. A game
    // joined again after /back starts at startTarget.
    HostResult Play(std::optional<std::uint64_t> startTarget);
    HostResult FeedStep(StepKind kind);
    // level 1 (normal) to 4.
    HostResult SetSpeed(std::uint8_t level) override;
    // Paused, held behind live or halted: nothing moves, and a level chosen waits for the end.
    bool Held() const;
    // Keeps the game waiting: an empty time slot every halt period for ms milliseconds.
    HostResult HaltGame(std::uint32_t ms);
    // The /syncdown halt; typed during another halt, it makes that one last at least as long.
    // kSpeedChanged when the viewer paused or chose a speed meanwhile.
    HostResult HaltFor(std::uint32_t ms) override;
    // The game is halted (buffering, waiting for the server, /syncdown): the viewer's lines are
    // answered at once, and what they change in play waits for the halt's end.
    bool Halted() const override { return m_halts.load() != 0; }
    // A /goto or /syncup typed during a halt: the jump follows once the halt is over.
    void JumpWhenHaltEnds(std::uint64_t targetMs) override
    {
        m_liveEdge.JumpWhenHaltEnds(targetMs);
    }
    HostResult FastForwardToTime(std::uint64_t targetMs, bool quiet) override
    {
        return m_liveEdge.FastForwardToTime(targetMs, quiet);
    }

    // Holds the game as a halt does until Resume; the level chosen meanwhile comes back then.
    HostResult Pause() override;
    HostResult Resume() override;
    bool Paused() const override { return m_paused.load(); }
    // The feed waits for data from the server.
    bool Buffering() const { return m_buffering.load(); }
    // Game time held beyond the read position; any thread.
    std::uint32_t HeldAheadMs() const;

    // Time slots sent whose keepalives have not been read yet.
    std::uint32_t SlotsInFlight() const override;

    // The level the viewer sees: 1.0, 2.0, 3.0 or 4.0.
    std::uint8_t ShownLevel() const override;
    // Where the feed stands; any thread (the values of the last step that finished).
    std::uint32_t ReadPos() const override { return m_readPos.load(std::memory_order_relaxed); }
    std::uint32_t GameTimeMs() const override
    {
        return m_gameTimeMs.load(std::memory_order_relaxed);
    }
    std::uint8_t Speed() const override { return m_speed.load(std::memory_order_relaxed); }

    // Seconds of game time the feed stays behind the live edge in this session.
    std::uint32_t LiveDelay() const override { return m_liveEdge.LiveDelay(); }
    void SetLiveDelay(std::uint32_t seconds) override { m_liveEdge.SetLiveDelay(seconds); }

    bool StartReadWatch();
    void JoinReadWatch() { m_watchThread.Join(); }

private:
    enum class Pass
    {
        kForwardedSlot,
        kForwardedChat,
        kForwardedOther,
        kDroppedChat,
        kSkippedBeforeSlot, // a 0x07 before the first time slot: the step ends
        kResynchronised,    // a byte that cannot start a packet was skipped
        kEnded,             // the session is over (m_passResult says how)
    };

    Pass RunPass(StepKind kind);
    Pass Ended(HostResult result);
    // The data ran short at the read position: how the pass ends, or nothing when it is to
    // run again (buffering brought more data).
    std::optional<Pass> DataShort(StepKind kind);
    HostResult Buffer();
    // All buffered data has been fed: waits for more as buffering does, and ends the session
    // only when the stream has ended or the server has gone silent.
    HostResult WaitAtBoundary();
    HostResult WaitForMoreData();
    HostResult WaitForKeepalive();
    // A watch step that did not end on a time slot sends an empty one.
    HostResult EndRescue(StepKind kind, bool lastWasSlot);
    HostResult Forward(std::uint32_t length);
    // owed: its keepalive is swallowed (a halt); otherwise it stands in for a time slot.
    bool SendEmptySlot(bool owed);
    // One empty time slot of a halt; notices a viewer who leaves meanwhile.
    HostResult HaltTick();
    // The feed's one wait between the empty slots of a halt: a halt period on the clock, cut
    // short when the session stops or, with orData, when the server's data arrives. True when
    // cut short.
    bool WaitHaltPeriod(bool orData);
    // Runs a halt (buffering, a wait for the server, /syncdown); then, unless an outer hold goes
    // on, what the viewer chose meanwhile: normal speed under a pause (kSpeedChanged), or the
    // level chosen (kSpeedChanged).
    HostResult Halt(const std::function<HostResult()>& halt);
    // Changes the speed now (SetSpeed, unless the game is held).
    HostResult ShiftSpeed(std::uint8_t level);
    // The end of the stream: waits, bounded, for the keepalives of the slots in flight.
    HostResult AwaitLastKeepalives();
    HostResult HoldWhilePaused() override;
    // Empty time slots every halt period while holding() is true; the viewer's lines are
    // answered and the download goes on meanwhile. A level chosen meanwhile applies after.
    HostResult Hold(const std::function<bool()>& holding);
    HostResult HoldTicks(const std::function<bool()>& holding);
    HostResult NearEnd(StepKind kind, std::uint32_t size);
    void TimeSlotNotices(const TimeSlotFacts& facts);
    bool RecordedChatShown(std::span<const std::uint8_t> chat) const;
    HostResult Absorb(std::uint32_t count);
    void ReadWatchThread();

    // Empty answers are not told while the feed holds the game behind live with game in hand.
    bool EmptyAnswersUntold() const;

    // What the live edge drives play with.
    HostResult Step() override { return FeedStep(StepKind::kPlain); }
    HostResult HoldBehindLive(const std::function<bool()>& holding) override;
    HostResult RunUnheld(const std::function<HostResult()>& run) override;
    HostResult HaltWhileWaiting(const std::function<bool()>& waiting) override;

    void AdvanceReadPos(std::uint32_t length);
    // The first bytes of a session that are no valid packet are told outside the game too, once:
    // the game's own chat scrolls away, and the match shown is not the whole match.
    void TellCorruptOnce(std::uint32_t offset);
    bool Stopping() const { return m_stop.IsSet(); }

    IFeedSession& m_session;
    CStreamBuffer& m_stream;
    CGameConnection& m_connection;
    CFeedGate& m_gate;
    CEvent& m_stop;
    IClock& m_clock;
    const HostTimings& m_timings;
    const ReplayHeader& m_header;
    IHostOwner& m_owner;
    // Wakes the read-watch thread when the session thread parks in a watched read, or leaves it.
    CEvent m_readWatch{CEvent::Kind::kAutoReset};

    HostResult m_passResult = HostResult::kContinue;
    // Written only by the thread that holds the feed gate; atomic so that a status display
    // may read them.
    std::atomic<std::uint32_t> m_readPos{0};
    std::atomic<std::uint8_t> m_speed{1};
    std::atomic<std::uint32_t> m_gameTimeMs{0};
    std::uint8_t m_stepCount = 1;
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_buffering{false};
    std::atomic<bool> m_holding{false};
    std::atomic<std::uint32_t> m_halts{0}; // halts under way (nested: the outer one counts)
    std::uint64_t m_haltUntilMs = 0;       // a /syncdown typed during a halt holds it to this
    std::atomic<std::uint8_t> m_levelAfterPause{1};  // the level the end of a hold brings back
    std::atomic<std::uint32_t> m_beforeFirstSlot{0}; // no time slot fed yet this session
    std::atomic<std::uint32_t> m_readStalled{0};     // the watch thread fed during a watched read
    std::atomic<std::uint32_t> m_slotsSent{0};       // this session's, owed empty ones not counted
    bool m_toldCorrupt = false;                      // this session's corrupt data told outside
    CLiveEdge m_liveEdge;
    CThread m_watchThread;
};

} // namespace velt
