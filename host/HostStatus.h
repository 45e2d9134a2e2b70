#pragma once

#include <cstdint>

#include "host/FeedState.h"

namespace velt
{

// A snapshot of one host for a status display, safe to take from any thread.
struct HostStatus
{
    std::uint32_t m_matchId = 0;
    std::uint32_t m_bytesHeld = 0;      // stream bytes downloaded so far
    std::uint32_t m_gameTimeMs = 0;     // game time the viewer's game has reached
    std::uint32_t m_matchSeconds = 0;   // the match's length as the server last reported it
    std::uint32_t m_bufferedAheadMs = 0; // game time held beyond the game time fed
    std::uint32_t m_liveDelaySeconds = 0;
    std::uint8_t m_speed = 1;           // the level the viewer sees, 1 to 4
    FeedState m_state = FeedState::kLobby; // what the session's feed is doing
    bool m_sessionActive = false;       // a game is connected
    bool m_inGame = false;              // the game has started and the feed runs
    bool m_live = false;                // a live match whose stream the server has not ended
    bool m_paused = false;              // the viewer's /pause (held now, or once a halt ends)
    bool m_buffering = false;           // the feed waits for data (buffering or reconnecting)
};

} // namespace velt
