#pragma once

#include <chrono>
#include <cstddef>

namespace velt
{

// How long a connection may keep the server waiting, and how much it may leave unread.
struct ConnectionLimits
{
    std::chrono::milliseconds m_partialFrameTimeout{30000}; // from the first byte of a request
    std::chrono::milliseconds m_idleTimeout{600000};        // since the last byte received
    std::size_t m_maxQueuedBytes = 1 << 20;                 // answers not yet taken by the system
};

} // namespace velt
