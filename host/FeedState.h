#pragma once

#include <cstdint>
#include <string_view>

namespace velt
{

// What a session's feed is doing: one state at a time. A hold or halt that starts inside
// another (a /syncdown typed while paused, a jump run from a hold behind live) takes the state
// for its length and gives the outer one back.
enum class FeedState : std::uint8_t
{
    kLobby,        // the game has joined and waits in the lobby or loads; nothing is fed yet
    kCatchUp,      // the opening fast-forward of a live match towards its live edge
    kPlay,         // the stream goes to the game at the chosen speed (a jump's fast-forward too)
    kDelayHold,    // held behind the live edge by the live delay
    kBuffering,    // halted until the server sends more data
    kSyncDownHalt, // halted by /syncdown
    kPaused,       // held by the viewer's /pause
    kReconnecting, // halted for data while the server link is being restored
    kEndOfData,    // the server has ended the stream: play runs on what is held, to its end
};

constexpr FeedState kLastFeedState = FeedState::kEndOfData;

// The game is kept waiting with empty time slots until data or time comes.
constexpr bool IsHalt(FeedState state)
{
    return state == FeedState::kBuffering || state == FeedState::kSyncDownHalt ||
           state == FeedState::kReconnecting;
}

// The game is kept waiting by choice: the viewer's pause, or the live delay.
constexpr bool IsHold(FeedState state)
{
    return state == FeedState::kPaused || state == FeedState::kDelayHold;
}

// Waiting for the server's data, whether or not its link is up.
constexpr bool WaitsForData(FeedState state)
{
    return state == FeedState::kBuffering || state == FeedState::kReconnecting;
}

// The state's name, as status lines and logs show it.
constexpr std::string_view FeedStateName(FeedState state)
{
    switch (state)
    {
    case FeedState::kLobby:
        return "lobby";
    case FeedState::kCatchUp:
        return "catching up";
    case FeedState::kPlay:
        return "playing";
    case FeedState::kDelayHold:
        return "held behind live";
    case FeedState::kBuffering:
        return "buffering";
    case FeedState::kSyncDownHalt:
        return "halted";
    case FeedState::kPaused:
        return "paused";
    case FeedState::kReconnecting:
        return "reconnecting";
    case FeedState::kEndOfData:
        return "end of data";
    }
    return "?";
}

} // namespace velt
