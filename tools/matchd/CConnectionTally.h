#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velt
{

// What became of the server's connections, counted as it happens; any thread may count or read.
class CConnectionTally
{
public:
    void Opened() { m_active.fetch_add(1, std::memory_order_relaxed); }
    void Closed() { m_active.fetch_sub(1, std::memory_order_relaxed); }
    void Refused() { m_refused.fetch_add(1, std::memory_order_relaxed); }
    void TimedOut() { m_timedOut.fetch_add(1, std::memory_order_relaxed); }
    void Overfilled() { m_overfilled.fetch_add(1, std::memory_order_relaxed); }

    // Connections being served now.
    std::size_t Active() const { return m_active.load(std::memory_order_relaxed); }
    // Closed at once because the server already served its maximum.
    std::uint64_t RefusedCount() const { return m_refused.load(std::memory_order_relaxed); }
    // Dropped for holding a partial request, or for sending nothing, too long.
    std::uint64_t TimedOutCount() const { return m_timedOut.load(std::memory_order_relaxed); }
    // Dropped because their unread answers passed the bound.
    std::uint64_t OverfilledCount() const { return m_overfilled.load(std::memory_order_relaxed); }

private:
    std::atomic<std::size_t> m_active{0};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_timedOut{0};
    std::atomic<std::uint64_t> m_overfilled{0};
};

} // namespace velt
