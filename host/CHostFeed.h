#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/CFeedHalts.h"
#include "host/CGameConnection.h"
#include "host/CLiveEdge.h"
#include "host/CStreamBuffer.h"
#include "host/FeedState.h"
#include "host/HostResult.h"
#include "host/HostTimings.h"
#include "host/IFeedSession.h"
#include "host/IHostOwner.h"
#include "host/IPacing.h"
#include "host/IPlayControl.h"
#include "host/ReplayHeader.h"
#include "host/packets/PlayPackets.h"
#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

// The operator's web address, shown in capitals in the welcome lines.
constexpr std::string_view kOperatorWebAddress = "www.velt.tv";
// "[VELT] WWW.VELT.TV!", the welcome line that gives it.
std::string OperatorWebAddressLine();

// The play part of a host's session: forwards the buffered stream to the game, paced by the
// game's keepalives; speeds, holds and halts. Everything it does runs on the session's thread:
// it reads the game itself, with a deadline where the game might have nothing to answer. Its
// live edge (CLiveEdge) runs the catch-up of live matches and the fast-forwards through it;
// its halts (CFeedHalts) keep the game waiting with empty time slots.
class CHostFeed final : public IPlayControl, private IPacing
{
public:
    // stop is the session's end, set by whichever thread ends it.
    CHostFeed(IFeedSession& session, CStreamBuffer& stream, CGameConnection& connection,
              CEvent& stop, IClock& clock, const HostTimings& timings, const ReplayHeader& header,
              IHostOwner& owner)
        : m_session(session), m_stream(stream), m_connection(connection), m_stop(stop),
          m_clock(clock), m_timings(timings), m_header(header), m_owner(owner),
          m_liveEdge(*this, session, stream, stop, clock, timings, header),
          m_halts(*this, session, stream, connection, stop, clock, timings, owner)
    {
    }
    CHostFeed(const CHostFeed&) = delete;
    CHostFeed& operator=(const CHostFeed&) = delete;

    enum class StepKind
    {
        kPlain,  // waits for the keepalive of what it forwarded
        kNested, // a step inside a speed change: never waits for the game
        kRescue, // a read that the game left unanswered: gives it a time slot to answer
    };

    // A session starts at the stream's start, at normal speed, with nothing in flight, and
    // stays liveDelaySeconds (at most kMaxLiveDelaySeconds) behind the live edge.
    void Reset(std::uint32_t liveDelaySeconds);

    // The play loop, after the start. A game joined again after /back starts at startTarget.
    HostResult Play(std::optional<std::uint64_t> startTarget);
    HostResult FeedStep(StepKind kind);

    // IPlayView; any thread (the values of the last step that finished).
    std::uint32_t GameTimeMs() const override
    {
        return m_gameTimeMs.load(std::memory_order_relaxed);
    }
    std::uint8_t ShownLevel() const override;
    bool Paused() const override { return m_paused.load(); }
    FeedState State() const override { return m_state.load(); }

    // IPlayControl: what the viewer's commands do.
    HostResult ChooseSpeed(std::uint8_t level) override;
    HostResult Pause() override;
    HostResult Resume() override;
    HostResult HaltFor(std::uint32_t ms) override;
    HostResult JumpForward(std::uint64_t targetMs) override;
    std::uint32_t LiveDelay() const override { return m_liveEdge.LiveDelay(); }
    void SetLiveDelay(std::uint32_t seconds) override { m_liveEdge.SetLiveDelay(seconds); }

    // Game time held beyond the read position; any thread.
    std::uint32_t HeldAheadMs() const { return m_stream.GameTimeHeldFrom(ReadPos()); }
    std::uint32_t ReadPos() const override { return m_readPos.load(std::memory_order_relaxed); }
    std::uint8_t Speed() const override { return m_speed.load(std::memory_order_relaxed); }

private:
    // The halts are the feed's own loops: they keep its state and ask what is in flight.
    friend class CFeedHalts;

    // Time slots sent whose keepalives have not been read yet.
    std::uint32_t SlotsInFlight() const;
    // owed: its keepalive is swallowed (a halt); otherwise it stands in for a time slot.
    bool SendEmptySlot(bool owed);
    // Empty answers are not told while the feed holds the game behind live with game in hand.
    bool EmptyAnswersUntold() const;

    enum class Pass
    {
        kForwardedSlot,
        kForwardedChat,
        kForwardedOther,
        kDroppedChat,
        kSkippedBeforeSlot, // a 0x07 before the first time slot: the step ends
        kResynchronised,    // a byte that cannot start a packet was skipped
        kEnded,             // the step is over (m_passResult says how)
    };

    Pass RunPass(StepKind kind);
    // Forwards (or drops) the whole, valid packet at the read position.
    Pass PassPacket(std::span<const std::uint8_t> bytes);
    Pass Ended(HostResult result);
    // The data ran short at the read position: how the pass ends, or nothing when it is to
    // run again (buffering brought more data).
    std::optional<Pass> DataShort(StepKind kind);
    HostResult WaitForKeepalive();
    // A rescue that did not end on a time slot sends an empty one.
    HostResult EndRescue(StepKind kind, bool lastWasSlot);
    HostResult Forward(std::uint32_t length);
    HostResult NearEnd(StepKind kind, std::uint32_t size);
    void TimeSlotNotices(const TimeSlotFacts& facts);
    bool RecordedChatShown(std::span<const std::uint8_t> chat) const;
    // Reads the keepalives of count slots in flight, so that fewer are; a read the game leaves
    // unanswered for the read-watch time gets a rescue step.
    HostResult Absorb(std::uint32_t count);

    // The game is held: paused (or a pause waits for a halt's end), behind live, or halted.
    // Nothing moves, and a level chosen waits for the end.
    bool PlayHeld() const;
    // Changes the speed now (SetSpeed, unless the game is held).
    HostResult ShiftSpeed(std::uint8_t level);
    // Runs a halt in the given state; then, unless an outer hold goes on, what the viewer chose
    // meanwhile: normal speed under a pause, or the level chosen.
    HostResult Halt(FeedState state, const std::function<HostResult()>& halt);
    // Empty time slots every halt period while holding() is true; the viewer's lines are
    // answered and the download goes on meanwhile. A level chosen meanwhile applies after.
    HostResult Hold(FeedState state, const std::function<bool()>& holding);
    HostResult Buffer();
    // All buffered data has been fed: waits for more as buffering does, and ends the session
    // only when the stream has ended or the server has gone silent.
    HostResult WaitAtBoundary();
    // The state that waiting for data is: buffering, or reconnecting while the link is lost.
    FeedState DataWaitState() const;
    // The state that play is in: at the end of the data once the server has ended the stream.
    FeedState PlayState() const
    {
        return m_stream.Ended() ? FeedState::kEndOfData : FeedState::kPlay;
    }
    // Runs run() in the given state, and gives the state before back after it.
    HostResult InState(FeedState state, const std::function<HostResult()>& run);
    void SetState(FeedState state) { m_state.store(state); }

    // IPacing: what the live edge drives play with.
    HostResult Step() override { return FeedStep(StepKind::kPlain); }
    std::uint32_t ViewerChoices() const override { return m_viewerChoices; }
    HostResult SetSpeed(std::uint8_t level) override;
    HostResult HoldWhilePaused() override;
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
    CEvent& m_stop;
    IClock& m_clock;
    const HostTimings& m_timings;
    const ReplayHeader& m_header;
    IHostOwner& m_owner;

    // The session thread writes everything below; the atomics are read by a status display
    // (any thread) too.
    HostResult m_passResult = HostResult::kContinue;
    std::atomic<std::uint32_t> m_readPos{0};
    std::atomic<std::uint8_t> m_speed{1};
    std::atomic<std::uint32_t> m_gameTimeMs{0};
    std::atomic<FeedState> m_state{FeedState::kLobby};
    std::atomic<bool> m_paused{false};              // the viewer's /pause, until /resume
    std::atomic<std::uint8_t> m_levelAfterPause{1}; // the level the end of a hold brings back
    std::uint8_t m_stepCount = 1;
    std::uint32_t m_slotsSent = 0; // this session's, owed empty ones not counted
    bool m_beforeFirstSlot = true; // no time slot fed yet this session
    std::uint32_t m_viewerChoices = 0;
    bool m_toldCorrupt = false; // this session's corrupt data told outside
    CLiveEdge m_liveEdge;
    CFeedHalts m_halts;
};

} // namespace velt
