#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "host/HostStatus.h"

namespace velt
{

// What a watched session shows outside the game, beyond the feed's own states: before a game
// has joined, and after its session has ended.
enum class WatchPhase : std::uint8_t
{
    kWaitingForGame,
    kInSession, // the feed's state says the rest
    kEnded,
};

// The controls of the watching panel and the terminal's keys. Each stands for a chat command.
enum class SteerControl : std::uint8_t
{
    kPauseResume, // /pause or /resume
    kSlower,      // /slower
    kFaster,      // /faster
    kBack,        // /back M:S, 10 s earlier (the game joins again)
    kForward,     // /goto M:S, 10 s later
    kLive,        // /goto M:S, to the live edge less the live delay
    kDelay,       // /delay S
    kTimeline,    // /goto or /back to the time clicked
    kSpeed,       // /sp N, a level chosen directly
};
constexpr std::size_t kSteerControls = 9;

// Whether a control can be used now, and if not, why (its tooltip).
struct ControlState
{
    bool m_enabled = false;
    std::string m_why;
};

// The timeline, in game time: what is held, where play stands, and for a live match its edge
// and the mark the live delay keeps play behind.
struct TimelineSpans
{
    std::uint64_t m_lengthMs = 0;  // the match's length as known now (at least what is held)
    std::uint64_t m_heldEndMs = 0; // game time held, from the start
    std::uint64_t m_positionMs = 0;
    std::optional<std::uint64_t> m_liveEdgeMs;
    std::optional<std::uint64_t> m_delayMarkMs;
};

struct SteeringModel
{
    WatchPhase m_phase = WatchPhase::kWaitingForGame;
    FeedState m_state = FeedState::kLobby;
    std::string m_stateName; // as shown: "waiting for the game", "playing", "paused", ...
    std::string m_gameTime;  // "12:30 of 27:04", "12:30 (0:40 behind live)"
    std::string m_speed;     // "2.0x"
    std::string m_held;      // "7:00 held (1.2 MB)"
    std::uint8_t m_speedLevel = 1;
    std::uint32_t m_liveDelaySeconds = 0;
    TimelineSpans m_timeline;
    std::array<ControlState, kSteerControls> m_controls;

    const ControlState& Control(SteerControl control) const
    {
        return m_controls[static_cast<std::size_t>(control)];
    }
};

// A jump forward or back by the arrow keys.
constexpr std::uint32_t kSteerStepMs = 10000;

// The model of one host's session. sessionRan: a game has joined since the host started
// listening (so an inactive session has ended rather than not begun).
SteeringModel BuildSteeringModel(const HostStatus& status, bool sessionRan);

// The chat command a control stands for now, or nothing when the control is disabled.
// target is the timeline's time clicked in ms (kTimeline), the delay in seconds (kDelay), the
// speed level 1 to 4 (kSpeed).
std::optional<std::string> SteerCommand(const SteeringModel& model, SteerControl control,
                                        std::uint64_t target = 0);

// Whether the command a control sends restarts the game (a jump back): the viewer is asked
// once per session first.
bool RestartsTheGame(const SteeringModel& model, SteerControl control, std::uint64_t target = 0);

// The control a key stands for, on the panel and on a terminal: Space, + and -, L; the arrows
// are kBack and kForward, told apart by the front end.
std::optional<SteerControl> ControlForKey(char key);
// The keys, as a line for the viewer.
constexpr const char* kSteeringKeys =
    "Space pause/resume, + faster, - slower, Left/Right 10 s back/ahead, L live";

} // namespace velt
