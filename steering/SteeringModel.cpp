#include "steering/SteeringModel.h"

#include <algorithm>

#include "host/CommandArguments.h"

namespace velt
{

namespace
{

constexpr std::uint64_t kLiveReachedMs = 2000; // closer to its target than this, live is reached

ControlState Enabled()
{
    return {true, {}};
}
ControlState Refused(std::string why)
{
    return {false, std::move(why)};
}

// Why the jumps are refused in this state, if they are: what the commands answer there.
std::optional<std::string> JumpRefusal(FeedState state)
{
    switch (state)
    {
    case FeedState::kLobby:
        return "In the lobby: start the game first (/start)";
    case FeedState::kPaused:
        return "Paused: resume first";
    case FeedState::kBuffering:
    case FeedState::kReconnecting:
        return "The game is halted until data comes";
    case FeedState::kSyncDownHalt:
        return "The game is halted by /syncdown";
    case FeedState::kCatchUp:
    case FeedState::kPlay:
    case FeedState::kDelayHold:
    case FeedState::kEndOfData:
        break;
    }
    return std::nullopt;
}

std::string StateName(const SteeringModel& model)
{
    switch (model.m_phase)
    {
    case WatchPhase::kWaitingForGame:
        return "waiting for the game to join";
    case WatchPhase::kEnded:
        return "ended";
    case WatchPhase::kInSession:
        break;
    }
    // The stream's end is the feed's concern; the viewer sees the game play on to it.
    if (model.m_state == FeedState::kEndOfData)
        return "playing, all held";
    return std::string(FeedStateName(model.m_state));
}

TimelineSpans SpansOf(const HostStatus& status)
{
    TimelineSpans line;
    line.m_positionMs = status.m_gameTimeMs;
    line.m_heldEndMs = std::uint64_t{status.m_gameTimeMs} + status.m_bufferedAheadMs;
    const std::uint64_t reportedMs = std::uint64_t{status.m_matchSeconds} * 1000;
    line.m_lengthMs = std::max(reportedMs, line.m_heldEndMs);
    if (status.m_live)
    {
        line.m_liveEdgeMs = line.m_lengthMs;
        const std::uint64_t delayMs = std::uint64_t{status.m_liveDelaySeconds} * 1000;
        if (delayMs > 0)
            line.m_delayMarkMs = line.m_lengthMs > delayMs ? line.m_lengthMs - delayMs : 0;
    }
    return line;
}

std::string GameTimeText(const TimelineSpans& line)
{
    std::string text = MinutesSeconds(line.m_positionMs);
    if (line.m_liveEdgeMs)
    {
        const std::uint64_t behind =
            *line.m_liveEdgeMs > line.m_positionMs ? *line.m_liveEdgeMs - line.m_positionMs : 0;
        return text + " (" + MinutesSeconds(behind) + " behind live)";
    }
    return line.m_lengthMs > 0 ? text + " of " + MinutesSeconds(line.m_lengthMs) : text;
}

std::string HeldText(const TimelineSpans& line, std::uint32_t bytes)
{
    const std::uint32_t tenthsOfMb =
        static_cast<std::uint32_t>((std::uint64_t{bytes} * 10 + 512 * 1024) / (1024 * 1024));
    return MinutesSeconds(line.m_heldEndMs) + " held (" + std::to_string(tenthsOfMb / 10) + "." +
           std::to_string(tenthsOfMb % 10) + " MB)";
}

// What the commands would take in a session's state.
void SetControls(SteeringModel& model, const HostStatus& status)
{
    const auto set = [&model](SteerControl control, ControlState state)
    { model.m_controls[static_cast<std::size_t>(control)] = std::move(state); };
    const TimelineSpans& line = model.m_timeline;
    const FeedState state = status.m_state;
    const bool lobby = state == FeedState::kLobby;
    set(SteerControl::kPauseResume,
        lobby ? Refused("In the lobby: start the game first (/start)") : Enabled());
    set(SteerControl::kSlower, status.m_speed > 1 ? Enabled() : Refused("Already at normal speed"));
    set(SteerControl::kFaster, status.m_speed < 4 ? Enabled() : Refused("Already at 4x"));
    set(SteerControl::kSpeed, Enabled());

    const auto refusal = JumpRefusal(state);
    // /back is taken while paused too: it starts the game again.
    const bool backRefused = lobby || (refusal && state != FeedState::kPaused);
    set(SteerControl::kBack, backRefused                ? Refused(*JumpRefusal(state))
                             : line.m_positionMs < 1000 ? Refused("Already at the start")
                                                        : Enabled());
    set(SteerControl::kForward, refusal ? Refused(*refusal) : Enabled());
    set(SteerControl::kTimeline, lobby ? Refused(*JumpRefusal(state)) : Enabled());
    if (!status.m_live)
    {
        set(SteerControl::kLive, Refused("This match is not live"));
        set(SteerControl::kDelay, Refused("This match is not live"));
        return;
    }
    const std::uint64_t target = line.m_delayMarkMs.value_or(*line.m_liveEdgeMs);
    set(SteerControl::kLive, refusal ? Refused(*refusal)
                             : line.m_positionMs + kLiveReachedMs >= target
                                 ? Refused("Already at live")
                                 : Enabled());
    set(SteerControl::kDelay, Enabled());
}

} // namespace

SteeringModel BuildSteeringModel(const HostStatus& status, bool sessionRan)
{
    SteeringModel model;
    model.m_phase = status.m_sessionActive ? WatchPhase::kInSession
                    : sessionRan           ? WatchPhase::kEnded
                                           : WatchPhase::kWaitingForGame;
    model.m_state = status.m_state;
    model.m_stateName = StateName(model);
    model.m_timeline = SpansOf(status);
    model.m_gameTime = GameTimeText(model.m_timeline);
    model.m_speed = std::to_string(status.m_speed) + ".0x";
    model.m_held = HeldText(model.m_timeline, status.m_bytesHeld);
    model.m_speedLevel = status.m_speed;
    model.m_liveDelaySeconds = status.m_liveDelaySeconds;
    if (model.m_phase == WatchPhase::kInSession)
    {
        SetControls(model, status);
        return model;
    }
    const std::string why = model.m_phase == WatchPhase::kEnded
                                ? "The session has ended"
                                : "No game has joined yet: join it from the LAN screen";
    for (ControlState& control : model.m_controls)
        control = Refused(why);
    return model;
}

bool RestartsTheGame(const SteeringModel& model, SteerControl control, std::uint64_t target)
{
    return control == SteerControl::kBack ||
           (control == SteerControl::kTimeline && target < model.m_timeline.m_positionMs);
}

std::optional<std::string> SteerCommand(const SteeringModel& model, SteerControl control,
                                        std::uint64_t target)
{
    const ControlState& state = model.Control(control);
    if (!state.m_enabled)
        return std::nullopt;
    const TimelineSpans& line = model.m_timeline;
    switch (control)
    {
    case SteerControl::kPauseResume:
        return model.m_state == FeedState::kPaused ? "/resume" : "/pause";
    case SteerControl::kSlower:
        return "/slower";
    case SteerControl::kFaster:
        return "/faster";
    case SteerControl::kBack:
        return "/back " + MinutesSeconds(line.m_positionMs > kSteerStepMs
                                             ? line.m_positionMs - kSteerStepMs
                                             : 0);
    case SteerControl::kForward:
        return "/goto " + MinutesSeconds(line.m_positionMs + kSteerStepMs);
    case SteerControl::kLive:
        return "/goto " +
               MinutesSeconds(line.m_delayMarkMs.value_or(line.m_liveEdgeMs.value_or(0)));
    case SteerControl::kDelay:
        return "/delay " + std::to_string(std::min<std::uint64_t>(target, 600));
    case SteerControl::kSpeed:
        if (target < 1 || target > 4)
            return std::nullopt;
        return "/sp " + std::to_string(target);
    case SteerControl::kTimeline:
        if (target < line.m_positionMs)
        {
            if (!model.Control(SteerControl::kBack).m_enabled)
                return std::nullopt;
            return "/back " + MinutesSeconds(target);
        }
        if (!model.Control(SteerControl::kForward).m_enabled)
            return std::nullopt;
        return "/goto " + MinutesSeconds(target);
    }
    return std::nullopt;
}

std::optional<SteerControl> ControlForKey(char key)
{
    switch (key)
    {
    case ' ':
        return SteerControl::kPauseResume;
    case '+':
    case '=': // + without Shift on most layouts
        return SteerControl::kFaster;
    case '-':
    case '_':
        return SteerControl::kSlower;
    case 'l':
    case 'L':
        return SteerControl::kLive;
    default:
        return std::nullopt;
    }
}

} // namespace velt
