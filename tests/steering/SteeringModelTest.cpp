// The watching panel's model in every state a session can be in: which controls are offered,
// what each would send, and the timeline's spans. The rules mirror what the commands refuse.

#include <gtest/gtest.h>

#include <string>

#include "steering/SteeringModel.h"

namespace velt::test
{
namespace
{

constexpr std::size_t kPause = static_cast<std::size_t>(SteerControl::kPauseResume);

// A live match 10:00 long at the server, watched at 6:00 with 60 s held ahead and a 20 s delay,
// at 2x; or the finished one.
HostStatus StatusIn(FeedState state, bool live)
{
    HostStatus status;
    status.m_sessionActive = true;
    status.m_inGame = state != FeedState::kLobby;
    status.m_state = state;
    status.m_paused = state == FeedState::kPaused;
    status.m_gameTimeMs = state == FeedState::kLobby ? 0 : 360000;
    status.m_bufferedAheadMs = 60000;
    status.m_bytesHeld = 1258291; // 1.2 MB
    status.m_matchSeconds = 600;
    status.m_live = live && state != FeedState::kEndOfData;
    status.m_liveDelaySeconds = 20;
    status.m_speed = 2;
    return status;
}

struct Row
{
    FeedState m_state;
    bool m_live;
    // Offered: pause/resume, slower, faster, back, forward, live, delay, timeline, speed.
    std::string m_offered;
    const char* m_pauseCommand; // what Space sends, if offered
    const char* m_name;
};

TEST(SteeringModel, ControlsAndTimelineInEveryState)
{
    const Row rows[] = {
        {FeedState::kLobby, true, "-++---+-+", nullptr, "lobby"},
        {FeedState::kCatchUp, true, "+++++++++", "/pause", "catching up"},
        {FeedState::kPlay, true, "+++++++++", "/pause", "playing"},
        {FeedState::kPlay, false, "+++++--++", "/pause", "playing"},
        {FeedState::kDelayHold, true, "+++++++++", "/pause", "held behind live"},
        {FeedState::kBuffering, true, "+++---+++", "/pause", "buffering"},
        {FeedState::kSyncDownHalt, true, "+++---+++", "/pause", "halted"},
        {FeedState::kPaused, true, "++++--+++", "/resume", "paused"},
        {FeedState::kReconnecting, true, "+++---+++", "/pause", "reconnecting"},
        {FeedState::kEndOfData, true, "+++++--++", "/pause", "playing, all held"},
    };
    for (const Row& row : rows)
    {
        const std::string where = row.m_name + std::string(row.m_live ? " (live)" : "");
        const SteeringModel model = BuildSteeringModel(StatusIn(row.m_state, row.m_live), true);
        EXPECT_EQ(model.m_stateName, row.m_name) << where;
        std::string offered;
        for (const ControlState& control : model.m_controls)
        {
            offered += control.m_enabled ? '+' : '-';
            // A control refused says why.
            EXPECT_EQ(control.m_why.empty(), control.m_enabled) << where;
        }
        EXPECT_EQ(offered, row.m_offered) << where;
        const auto space = SteerCommand(model, SteerControl::kPauseResume);
        EXPECT_EQ(space.has_value(), row.m_pauseCommand != nullptr) << where;
        if (space && row.m_pauseCommand)
        {
            EXPECT_EQ(*space, row.m_pauseCommand) << where;
        }
        EXPECT_EQ(model.m_controls[kPause].m_enabled, row.m_pauseCommand != nullptr) << where;

        // The timeline: held to 7:00 of a 10:00 match; live, its edge and the delay's mark.
        const TimelineSpans& line = model.m_timeline;
        const std::uint64_t position = row.m_state == FeedState::kLobby ? 0 : 360000;
        EXPECT_EQ(line.m_positionMs, position) << where;
        EXPECT_EQ(line.m_heldEndMs, position + 60000) << where;
        EXPECT_EQ(model.m_held, (position == 0 ? "1:00" : "7:00") + std::string(" held (1.2 MB)"))
            << where;
        EXPECT_EQ(line.m_lengthMs, 600000u) << where;
        const bool live = row.m_live && row.m_state != FeedState::kEndOfData;
        EXPECT_EQ(line.m_liveEdgeMs, live ? std::optional<std::uint64_t>(600000) : std::nullopt)
            << where;
        EXPECT_EQ(line.m_delayMarkMs, live ? std::optional<std::uint64_t>(580000) : std::nullopt)
            << where;
    }
}

// What each control sends, where the commands take it; a click behind play is a /back, which
// restarts the game; before a game joins and after the session, nothing is offered.
TEST(SteeringModel, CommandsOfTheControlsAndTheSessionsEnds)
{
    const SteeringModel model = BuildSteeringModel(StatusIn(FeedState::kPlay, true), true);
    struct Case
    {
        SteerControl m_control;
        std::uint64_t m_target;
        const char* m_command;
        bool m_restarts;
    };
    const Case cases[] = {
        {SteerControl::kSlower, 0, "/slower", false},
        {SteerControl::kFaster, 0, "/faster", false},
        {SteerControl::kBack, 0, "/back 5:50", true},
        {SteerControl::kForward, 0, "/goto 6:10", false},
        {SteerControl::kLive, 0, "/goto 9:40", false},
        {SteerControl::kDelay, 45, "/delay 45", false},
        {SteerControl::kTimeline, 450000, "/goto 7:30", false},
        {SteerControl::kTimeline, 90000, "/back 1:30", true},
        {SteerControl::kSpeed, 4, "/sp 4", false},
        {SteerControl::kSpeed, 5, "none", false},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(SteerCommand(model, c.m_control, c.m_target).value_or("none"), c.m_command);
        EXPECT_EQ(RestartsTheGame(model, c.m_control, c.m_target), c.m_restarts) << c.m_command;
    }
    // Paused: a click ahead is refused as /goto is, one behind is a /back.
    const SteeringModel paused = BuildSteeringModel(StatusIn(FeedState::kPaused, true), true);
    EXPECT_FALSE(SteerCommand(paused, SteerControl::kTimeline, 450000));
    EXPECT_EQ(SteerCommand(paused, SteerControl::kTimeline, 90000).value_or("none"), "/back 1:30");

    HostStatus idle = StatusIn(FeedState::kLobby, true);
    idle.m_sessionActive = false;
    for (const bool ran : {false, true})
    {
        const SteeringModel model = BuildSteeringModel(idle, ran);
        EXPECT_EQ(model.m_stateName, ran ? "ended" : "waiting for the game to join");
        for (const ControlState& control : model.m_controls)
            EXPECT_FALSE(control.m_enabled) << model.m_stateName;
    }
}

} // namespace
} // namespace velt::test
