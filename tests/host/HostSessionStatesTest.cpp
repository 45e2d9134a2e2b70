// The viewer's commands in every state a session can be in, over loopback against the game
// simulator and the test's stand-in server: the reply (at once, in a halt too), what a command
// typed in a halt does once it is over, and what must hold whatever was typed (nothing moves
// while paused, the game is never left without a time slot, game time never runs backwards
// within a session, a leave is acknowledged at once). Then the same machinery driven by random
// command sequences. The host runs on a clock of the test's, so a halt ends when the test says.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "host/packets/PlayPackets.h"
#include "tests/PollUntil.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kInGameOnly = "[VELT] You can only execute this command in game!";
const std::string kNormal = "[VELT] Now play with normal speed";
const std::string kLostLine = "[VELT] Lost the connection to the server, reconnecting...";
const std::string kBackLine = "[VELT] The connection to the server is back";

// The bounds of what must happen at once: far beyond the halt period (30 ms) and the game's
// pace, so that only a fault and not a loaded machine crosses them.
constexpr std::uint32_t kLeaveAckMs = 3000;
constexpr std::uint64_t kFreezeMs = 2500;
// How long a cell may take to bring its session into its state: only a fault needs all of it,
// and a machine busy with builds has needed more than the usual wait.
constexpr std::uint32_t kReachMs = 3 * kWaitMs;

// The session's states are the feed's own.
using State = FeedState;

// Every value of an enumeration that counts from 0 up to its last value.
template <typename Enum> std::vector<Enum> UpTo(Enum last)
{
    std::vector<Enum> all;
    for (int i = 0; i <= static_cast<int>(last); ++i)
        all.push_back(static_cast<Enum>(i));
    return all;
}

const std::vector<State> kStates = UpTo(kLastFeedState);

std::string Name(State state) { return std::string(FeedStateName(state)); }

enum class Command
{
    kPause,
    kResume,
    kGoto,
    kSyncUp,
    kSyncDown,
    kBack,
    kDelay,
    kFaster,
    kSlower,
    kStatus,
    kLeave,
};

const std::vector<Command> kCommands = UpTo(Command::kLeave);

// How a state is made: the match, what of it the server has, and how the game plays.
struct Setup
{
    bool m_live = false;
    std::uint16_t m_matchSeconds = 0;
    std::uint32_t m_slots = 3000;     // of 100 ms each
    std::uint32_t m_available = 3000; // slots the server has so far
    bool m_ended = false;             // the server ends the stream once it has sent them all
    std::uint32_t m_delaySeconds = 0;
    std::uint32_t m_slotDelayMs = 5;
    bool m_start = true;
    bool m_supervised = false;
};

// A /syncdown halt that only the test's clock ends, longer than any wait of a test: a reply
// that comes at all while it lasts came at once.
constexpr std::uint32_t kSyncDownHaltSeconds = 2 * kWaitMs / 1000;

Setup SetupOf(State state)
{
    Setup setup;
    switch (state)
    {
    case State::kLobby:
        setup.m_start = false;
        break;
    case State::kCatchUp:
        setup = {true, 600, 6000, 6000, false, 0, 2};
        break;
    case State::kDelayHold:
        setup = {true, 60, 3000, 600, false, 20, 0};
        break;
    case State::kBuffering:
    case State::kReconnecting:
        setup = {true, 30, 3000, 300, false, 0, 0};
        setup.m_supervised = state == State::kReconnecting;
        break;
    case State::kSyncDownHalt:
        setup.m_slotDelayMs = 1; // a minute of game to halt for, quickly
        break;
    case State::kEndOfData:
        // A finished match held whole, a few seconds of play from its end: a jump past the end
        // ends it.
        setup.m_slots = setup.m_available = 1000;
        setup.m_ended = true;
        setup.m_slotDelayMs = 3;
        break;
    case State::kPlay:
    case State::kPaused:
        break;
    }
    return setup;
}

// One session in a chosen state: the host on a clock of the test's with its stand-in server,
// and the simulated game.
class CStatesRig
{
public:
    explicit CStatesRig(State state)
        : m_state(state), m_setup(SetupOf(state)), m_rig(Header(m_setup), FastTimings(), m_clock),
          m_game(Script(m_setup))
    {
    }

    // Brings the session into its state, which the host's status then reports.
    bool Enter()
    {
        return Reach() &&
               PollUntil([this] { return m_rig.m_host->Status().m_state == m_state; }, kReachMs);
    }

    bool Reach()
    {
        const Bytes stream = CStreamBuilder().Slots(m_setup.m_slots).Take();
        m_rig.m_owner.SetStream(stream, SlotBytes(m_setup.m_available),
                                m_setup.m_ended && m_setup.m_available == m_setup.m_slots,
                                m_setup.m_matchSeconds);
        m_rig.m_owner.SetSupervising(m_setup.m_supervised);
        m_rig.m_host->SetLiveDelay(m_setup.m_delaySeconds);
        if (!m_game.Start() || !m_rig.Start(m_game.AnnouncePort()))
            return false;
        switch (m_state)
        {
        case State::kLobby:
            return SeenLine("[VELT] Type /start");
        case State::kCatchUp:
            return SeenLine("[VELT]You are") && GameTimeReaches(3000);
        case State::kPlay:
        case State::kPaused:
            if (!GameTimeReaches(3000))
                return false;
            if (m_state == State::kPlay)
                return true;
            Type("/pause");
            return SeenLine("[VELT] Paused at ");
        case State::kEndOfData:
            return GameTimeReaches(3000) &&
                   PollUntil([this] { return m_rig.m_host->StreamEnded(); }, kReachMs);
        case State::kDelayHold:
            if (!SeenLine(kNormal))
                return false;
            // The edge is taken to move on for a while after the last answer; past that while,
            // play stands behind it.
            m_clock.Jump(5000);
            return m_game.WaitFor(HoldingTheGame, kReachMs);
        case State::kBuffering:
            return Buffering();
        case State::kReconnecting:
            if (!Buffering())
                return false;
            m_rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
            m_rig.m_host->SetServerLinkLost(true);
            m_rig.m_host->PostServerLine(kLostLine);
            return SeenLine(kLostLine);
        case State::kSyncDownHalt:
        {
            const std::uint64_t haltMs = kSyncDownHaltSeconds * 1000;
            if (!GameTimeReaches(haltMs + 1000))
                return false;
            Type("/syncdown " + GameClockText(GameTimeMs() - haltMs));
            return SeenLine("[VELT] Synchronising:Game is halted for");
        }
        }
        return false;
    }

    // Ends the halts: the server brings data again, the link comes back, the /syncdown halt's
    // time runs out.
    void Release()
    {
        if (m_state == State::kBuffering || m_state == State::kReconnecting)
        {
            m_rig.m_owner.SetAvailable(SlotBytes(m_setup.m_slots), false);
            m_rig.m_owner.SetAnswering(CTestOwner::Answering::kAnswer);
        }
        if (m_state == State::kReconnecting)
        {
            m_rig.m_host->SetServerLinkLost(false);
            m_rig.m_host->PostServerLine(kBackLine);
            m_rig.m_host->RequestAgainFromEnd();
        }
        if (m_state == State::kSyncDownHalt)
            m_clock.Jump(kSyncDownHaltSeconds * 1000);
    }

    bool Halted() const
    {
        return m_state == State::kBuffering || m_state == State::kReconnecting ||
               m_state == State::kSyncDownHalt;
    }

    // The command's text for where the game stands now.
    std::string Text(Command command)
    {
        const std::uint64_t now = GameTimeMs();
        const bool pastTheEnd = m_state == State::kEndOfData;
        switch (command)
        {
        case Command::kPause:
            return "/pause";
        case Command::kResume:
            return "/resume";
        case Command::kGoto:
            return pastTheEnd ? "/goto 99:00" : "/goto " + MinutesSecondsText(now + 5000);
        case Command::kSyncUp:
            return pastTheEnd ? "/syncup 7:59" : "/syncup " + GameClockText(now + 6000);
        case Command::kSyncDown:
            return "/syncdown " + GameClockText(now > 2000 ? now - 2000 : 0);
        case Command::kBack:
            return "/back 0:01";
        case Command::kDelay:
            return "/delay 5";
        case Command::kFaster:
            return "/faster";
        case Command::kSlower:
            return "/slower";
        case Command::kStatus:
            return "/status";
        case Command::kLeave:
            return {};
        }
        return {};
    }

    // The lines a command gets at once, in order, each matched by its beginning; and those that
    // follow once a halt is over (a jump typed during a halt waits for its end).
    Lines Replies(Command command) const
    {
        if (m_state == State::kLobby)
        {
            switch (command)
            {
            case Command::kDelay:
                return {"[VELT] Delay behind live set to 5 s"};
            case Command::kFaster:
            case Command::kSlower:
                return {"[VELT] Current Speed is"};
            case Command::kStatus:
                return {"[VELT] Game time 0:00", "[VELT] "};
            default:
                return {kInGameOnly};
            }
        }
        const bool paused = m_state == State::kPaused;
        switch (command)
        {
        case Command::kPause:
            return {paused ? "[VELT] Already paused, /resume to play on" : "[VELT] Paused at "};
        case Command::kResume:
            return {paused ? "[VELT] Resumed" : "[VELT] Not paused"};
        case Command::kGoto:
        case Command::kSyncUp:
            if (paused)
                return {"[VELT] Paused: type /resume first"};
            if (m_state == State::kEndOfData || Halted())
                return {"[VELT] Now fast forward to "};
            return {"[VELT] Now fast forward to ", kNormal};
        case Command::kSyncDown:
            return {"[VELT] Synchronising:Game is halted for"};
        case Command::kBack:
            return {"[VELT] Back to 0:01: join the game again from the LAN screen"};
        case Command::kDelay:
            return {"[VELT] Delay behind live set to 5 s"};
        case Command::kFaster:
        case Command::kSlower:
            return {"[VELT] Current Speed is"};
        case Command::kStatus:
            return {"[VELT] Game time ", "[VELT] "};
        case Command::kLeave:
            return {};
        }
        return {};
    }
    Lines RepliesAfterTheHalt(Command command) const
    {
        const bool jump = command == Command::kGoto || command == Command::kSyncUp;
        return Halted() && jump ? Lines{kNormal} : Lines{};
    }

    void Type(const std::string& text) { m_game.TypeChat(text); }
    // The same command from outside the game (a panel, a key), which must do what typing does.
    bool Steer(const std::string& text) { return m_rig.m_host->Steer(text); }
    CGameSimulator& Game() { return m_game; }
    // Where host and game stood, for a state that was not reached: a stall says where it is.
    std::string Picture()
    {
        const HostStatus host = m_rig.m_host->Status();
        const GameSimRecord game = m_game.Record();
        std::string text = "\n  host: " + Name(host.m_state) + ", active " +
                           std::to_string(host.m_sessionActive) +
                           ", in game " + std::to_string(host.m_inGame) + ", buffering " +
                           std::to_string(host.m_buffering) + ", paused " +
                           std::to_string(host.m_paused) + ", game time " +
                           std::to_string(host.m_gameTimeMs) + " ms, bytes held " +
                           std::to_string(host.m_bytesHeld) + ", speed " +
                           std::to_string(host.m_speed) + "\n  game: joined " +
                           std::to_string(game.m_sessionsJoined) + ", ended " +
                           std::to_string(game.m_sessionsEnded) + ", started " +
                           std::to_string(game.m_gameStarted) + ", slots " +
                           std::to_string(game.m_timeSlots) + " (empty " +
                           std::to_string(game.m_emptyTimeSlots) + "), in flight " +
                           std::to_string(game.m_slotsInFlight) + ", keepalives " +
                           std::to_string(game.m_keepalivesSent) + "\n  last lines:";
        const auto& lines = game.m_gameLines.empty() ? game.m_lobbyLines : game.m_gameLines;
        for (std::size_t i = lines.size() > 6 ? lines.size() - 6 : 0; i < lines.size(); ++i)
            text += "\n    " + lines[i];
        return text;
    }
    CLocalGameHost& Host() { return *m_rig.m_host; }
    CTestOwner& Owner() { return m_rig.m_owner; }

    std::uint64_t GameTimeMs() const { return m_rig.m_host->Status().m_gameTimeMs; }
    bool GameTimeReaches(std::uint64_t ms)
    {
        return PollUntil([&] { return GameTimeMs() >= ms; }, kReachMs);
    }
    bool SeenLine(const std::string& line)
    {
        return m_game.WaitFor(
            [&](const GameSimRecord& r) { return LinesStartingWith(r, line) > 0; }, kReachMs);
    }

private:
    static HeaderOptions Header(const Setup& setup)
    {
        return MatchHeader(setup.m_live, setup.m_matchSeconds);
    }
    static GameSimScript Script(const Setup& setup)
    {
        GameSimScript script;
        script.m_slotDelayMs = setup.m_slotDelayMs;
        script.m_lobbyChat = {};
        script.m_startAfterLobbyChat = setup.m_start;
        script.m_rejoins = 1; // /back
        return script;
    }
    bool Buffering()
    {
        return SeenLine(kNormal) && PollUntil(
                                        [this]
                                        {
                                            const HostStatus status = m_rig.m_host->Status();
                                            return status.m_inGame && status.m_buffering;
                                        },
                                        kReachMs);
    }

    const State m_state;
    const Setup m_setup;
    CJumpClock m_clock;
    HostRig m_rig;
    CGameSimulator m_game;
};

// ---- what holds whatever the viewer typed ---------------------------------------------------

std::optional<std::uint64_t> StatedGameTimeMs(const std::string& line)
{
    for (const char* prefix :
         {"[VELT] Paused at ", "[VELT] Game time ", "[VELT] The current game time is  "})
    {
        const std::string p(prefix);
        if (line.rfind(p, 0) != 0)
            continue;
        const std::string rest = line.substr(p.size());
        const std::size_t colon = rest.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        return (std::strtoull(rest.substr(0, colon).c_str(), nullptr, 10) * 60 +
                std::strtoull(rest.substr(colon + 1).c_str(), nullptr, 10)) *
               1000;
    }
    return std::nullopt;
}

// Nothing moves while paused; a time slot comes at least every so often; game time as the host
// states it never runs backwards within a session; the game never saw a broken stream.
void ExpectInvariants(const GameSimRecord& record, const std::string& where)
{
    for (std::uint32_t session = 1; session <= record.m_sessionsJoined; ++session)
    {
        bool paused = false;
        for (const auto& packet : SessionPackets(record, session))
        {
            if (const auto text = ChatText(packet))
            {
                if (text->rfind("[VELT] Paused at ", 0) == 0)
                    paused = true;
                if (*text == "[VELT] Resumed")
                    paused = false;
            }
            if (paused && IsType(packet, GamePacketType::kIncomingAction))
            {
                EXPECT_TRUE(IsEmptySlot(packet))
                    << where << ": a time slot moved the game while it was paused (session "
                    << session << ")";
            }
        }
        std::optional<std::uint64_t> lastAt;
        for (const GameSimSlot& slot : record.m_slotLog)
        {
            if (slot.m_session != session)
                continue;
            if (lastAt)
            {
                EXPECT_LE(slot.m_atMs - *lastAt, kFreezeMs)
                    << where << ": the game waited for a time slot (session " << session
                    << ", game time " << slot.m_gameTimeMs << " ms)";
            }
            lastAt = slot.m_atMs;
        }
        std::uint64_t stated = 0;
        for (const GameSimLine& line : record.m_lineLog)
        {
            if (line.m_session != session)
                continue;
            if (const auto ms = StatedGameTimeMs(line.m_text))
            {
                EXPECT_GE(*ms, stated) << where << ": game time went back: " << line.m_text;
                stated = std::max(stated, *ms);
            }
        }
    }
    EXPECT_FALSE(record.m_streamCorrupt) << where;
    EXPECT_EQ(record.m_checksumErrors, 0u) << where;
}

// The lines after the first `from` of the line log begin, in order, with the expected ones.
bool RepliesArrived(const GameSimRecord& record, std::size_t from, const Lines& expected)
{
    std::size_t next = 0;
    for (std::size_t i = from; i < record.m_lineLog.size() && next < expected.size(); ++i)
        if (record.m_lineLog[i].m_text.rfind(expected[next], 0) == 0)
            ++next;
    return next == expected.size();
}

bool SessionOver(const GameSimRecord& record)
{
    return record.m_sessionsEnded >= record.m_sessionsJoined;
}

// Leaves, and expects the acknowledgement at once.
void LeaveAndExpectAcknowledgement(CGameSimulator& game, const std::string& where)
{
    const GameSimRecord before = game.Record();
    if (before.m_sessionsJoined == 0 || SessionOver(before))
        return;
    const std::uint32_t session = before.m_sessionsJoined;
    game.Leave();
    // The game joins again by itself after a session (for /back), so the session's end is
    // counted rather than its latest flags read.
    EXPECT_TRUE(game.WaitFor([&](const GameSimRecord& r) { return r.m_sessionsEnded >= session; },
                             kLeaveAckMs))
        << where << ": the leave was not acknowledged within " << kLeaveAckMs << " ms";
    const auto packets = SessionPackets(game.Record(), session);
    EXPECT_TRUE(std::any_of(packets.begin(), packets.end(),
                            [](const Bytes& packet) { return IsLeaveAck(packet); }))
        << where << ": the session ended without the leave acknowledgement";
}

// Play goes on for a few time slots, whatever they are: what a command left behind (a speed, a
// pause, a jump after a halt) shows in them.
void LetPlayGoOn(CGameSimulator& game)
{
    if (!game.Record().m_gameStarted)
        return;
    const std::uint32_t slots = game.Record().m_timeSlots;
    game.WaitFor([&](const GameSimRecord& r)
                 { return SessionOver(r) || r.m_timeSlots >= slots + 8; },
                 kWaitMs);
}

void RunCell(State state, Command command)
{
    const std::string where =
        std::string(Name(state)) + " x " +
        (command == Command::kLeave ? "leave" : "command " + std::to_string(int(command)));
    CStatesRig rig(state);
    ASSERT_TRUE(rig.Enter()) << where << ": the state was not reached" << rig.Picture();
    if (command == Command::kLeave)
    {
        // In a halt, only the leave's own handling can answer it: the halt lasts on.
        LeaveAndExpectAcknowledgement(rig.Game(), where);
        ExpectInvariants(rig.Game().Record(), where);
        return;
    }
    const std::string text = rig.Text(command);
    const std::size_t from = rig.Game().Record().m_lineLog.size();
    // Every other cell steers from outside the game instead of typing: the same replies follow.
    if ((static_cast<int>(state) + static_cast<int>(command)) % 2 == 1)
        EXPECT_TRUE(rig.Steer(text)) << where;
    else
        rig.Type(text);
    // Answered at once, in a halt too: the halt lasts until it is released.
    const Lines replies = rig.Replies(command);
    EXPECT_TRUE(rig.Game().WaitFor(
        [&](const GameSimRecord& r) { return RepliesArrived(r, from, replies); }, kWaitMs))
        << where << " (" << text << "): expected \"" << replies.front() << "\"";
    rig.Release();
    if (const Lines after = rig.RepliesAfterTheHalt(command); !after.empty())
    {
        EXPECT_TRUE(rig.Game().WaitFor(
            [&](const GameSimRecord& r)
            { return RepliesArrived(r, from, replies) && RepliesArrived(r, from, after); },
            kWaitMs))
            << where << " (" << text << "): after the halt, expected \"" << after.front() << "\"";
    }
    if (command == Command::kBack && state != State::kLobby)
    {
        // The game joins again by itself and plays on from 0:01.
        EXPECT_TRUE(rig.Game().WaitFor(
            [](const GameSimRecord& r)
            {
                return r.m_sessionsJoined >= 2 && r.m_gameStarted && r.m_timeSlots > 0 &&
                       std::any_of(r.m_lineLog.begin(), r.m_lineLog.end(),
                                   [](const auto& line)
                                   { return line.m_session == 2 && line.m_text == kNormal; });
            },
            kWaitMs))
            << where;
    }
    if (state == State::kEndOfData && (command == Command::kGoto || command == Command::kSyncUp))
    {
        // Past the end: the match is over, and the session with it. Nothing is left to leave:
        // a session that the simulated game opens again by itself afterwards is not this cell's.
        EXPECT_TRUE(rig.Game().WaitFor(
            [](const GameSimRecord& r) { return r.m_sessionsEnded >= 1; }, kWaitMs))
            << where;
    }
    else
    {
        LetPlayGoOn(rig.Game());
        LeaveAndExpectAcknowledgement(rig.Game(), where);
    }
    rig.Game().Stop();
    ExpectInvariants(rig.Game().Record(), where);
}

// Sessions run side by side: most of a session's time is waiting for its peers.
const std::size_t kSessionsAtOnce = kCommands.size();

class HostSessionStates : public ::testing::TestWithParam<State>
{
};

TEST_P(HostSessionStates, EveryCommandInTheState)
{
    SideBySide(std::size(kCommands), kSessionsAtOnce,
               [](std::size_t i) { RunCell(GetParam(), kCommands[i]); });
}

INSTANTIATE_TEST_SUITE_P(States, HostSessionStates, ::testing::ValuesIn(kStates),
                         [](const ::testing::TestParamInfo<State>& info)
                         {
                             std::string name = Name(info.param);
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c)
                                 { return !std::isalnum(static_cast<unsigned char>(c)); },
                                 '_');
                             return name;
                         });

// ---- random sequences ------------------------------------------------------------------------

std::uint32_t SequenceCount()
{
    const char* text = std::getenv("VELT_RANDOM_SEQUENCES");
    const long count = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return count > 0 && count <= 100000 ? static_cast<std::uint32_t>(count) : 12;
}

std::uint64_t FirstSeed()
{
    const char* text = std::getenv("VELT_RANDOM_SEED");
    return text != nullptr ? std::strtoull(text, nullptr, 10)
                           : static_cast<std::uint64_t>(
                                 std::chrono::steady_clock::now().time_since_epoch().count());
}

// One sequence: a state to start from, then commands, server moods and waits at random, then a
// leave that must be acknowledged at once; the invariants over all of it.
void RunSequence(std::uint64_t seed)
{
    const std::string where = "seed " + std::to_string(seed);
    std::mt19937_64 random(seed);
    const auto pick = [&random](std::size_t n) {
        return static_cast<std::size_t>(
            std::uniform_int_distribution<std::size_t>(0, n - 1)(random));
    };
    const State state = kStates[1 + pick(std::size(kStates) - 1)]; // the lobby is the table's
    CStatesRig rig(state);
    ASSERT_TRUE(rig.Enter()) << where << ": " << Name(state) << " was not reached"
                             << rig.Picture();
    const std::size_t steps = 3 + pick(6);
    for (std::size_t step = 0; step < steps; ++step)
    {
        if (SessionOver(rig.Game().Record()))
            break;
        switch (pick(10))
        {
        case 0:
            rig.Owner().SetAnswering(CTestOwner::Answering::kSilent);
            break;
        case 1:
            rig.Release();
            rig.Owner().SetAnswering(CTestOwner::Answering::kAnswer);
            break;
        default:
        {
            const Command command = kCommands[pick(std::size(kCommands) - 1)];
            rig.Type(rig.Text(command));
            break;
        }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pick(150)));
    }
    rig.Release();
    rig.Owner().SetAnswering(CTestOwner::Answering::kAnswer);
    // Whatever the last command began (a fast-forward, a halt, a new game after /back) has had
    // a moment; the leave must be seen in any case.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    LeaveAndExpectAcknowledgement(rig.Game(), where + " (" + Name(state) + ")");
    rig.Game().Stop();
    ExpectInvariants(rig.Game().Record(), where + " (" + Name(state) + ")");
}

TEST(HostSessionStatesRandom, RandomCommandSequencesKeepEveryPromise)
{
    const std::uint32_t count = SequenceCount();
    const std::uint64_t first = FirstSeed();
    std::printf("random sequences: %u from seed %llu (VELT_RANDOM_SEED repeats them)\n", count,
                static_cast<unsigned long long>(first));
    SideBySide(count, kSessionsAtOnce, [first](std::size_t i) { RunSequence(first + i); });
}

} // namespace
} // namespace velt::test
