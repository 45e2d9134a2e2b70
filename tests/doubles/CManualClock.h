#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "platform/Clock.h"
#include "platform/Event.h"

namespace velt
{

// A clock that moves only when it is slept on or told to, for tests and fuzzing: waits that go
// through it take no real time.
class CManualClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return m_now.load(); }
    void SleepMs(std::uint32_t ms) override { m_now += ms; }
    // An event already set ends the wait; otherwise the whole span passes at once.
    int WaitMs(std::span<CEvent* const> events, std::uint32_t ms) override
    {
        const int index = WaitAny(events, 0);
        if (index == kWaitTimeout)
            m_now += ms;
        return index;
    }
    using IClock::WaitMs;
    void Advance(std::uint64_t ms) { m_now += ms; }

private:
    // Moved by the test's thread and by whichever thread sleeps or waits on it.
    std::atomic<std::uint64_t> m_now{1000};
};

} // namespace velt
