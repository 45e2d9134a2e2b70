#pragma once

#include <cstdint>

namespace velt
{

// Every interval and time-out of a local game host, in milliseconds. The defaults are the
// real ones; tests shorten them.
struct HostTimings
{
    std::uint32_t m_announceIntervalMs = 2000; // between two LAN announcements
    std::uint32_t m_dataWaitMs = 2000;        // at the end of the data: server silence that ends a session
    std::uint32_t m_emptyChunkHoldMs = 2000;  // after an empty answer, the server is asked again no sooner
    std::uint32_t m_haltPeriodMs = 300;       // between two empty time slots while the game is halted
    std::uint32_t m_readWatchMs = 300;        // a read while slowing down that waits this long gets a rescue step
    std::uint32_t m_bufferingHaltMs = 500;    // one round of buffering
    std::uint32_t m_startPauseMs = 1000;      // between "Let's begin" and the slot table
    std::uint32_t m_stopWaitMs = 1000;        // a closing session waits this long for the game to close its side
    std::uint32_t m_requestRetryMs = 10000;   // an unanswered data request counts as lost after this
    std::uint32_t m_joinWaitMs = 10000;       // a connection that sends no join request by then is dropped
    std::uint32_t m_lastKeepalivesWaitMs = 3000; // at the end, for the keepalives of slots in flight
    std::uint32_t m_gameSendTimeoutMs = 5000; // a send the game does not take in this long loses it
};

} // namespace velt
