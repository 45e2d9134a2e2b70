#pragma once

#include <atomic>
#include <cstdint>

#include "host/HostTimings.h"
#include "platform/Clock.h"

namespace velt::test
{

// Generous, so that a loaded machine does not fail a test that waits for an answer.
constexpr int kAnswerTimeoutMs = 10000;

// A clock that moves only when the test says so.
class CManualClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return m_now.load(); }
    void SleepMs(std::uint32_t ms) override { m_now += ms; }
    void Advance(std::uint64_t ms) { m_now += ms; }

private:
    std::atomic<std::uint64_t> m_now{1000};
};

// The host's intervals for a whole match watched in a test: short, except the wait for data
// whose expiry would end a session by mistake on a slow machine.
inline HostTimings QuickTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 50;
    timings.m_emptyChunkHoldMs = 20;
    timings.m_bufferingHaltMs = 100;
    timings.m_haltPeriodMs = 30;
    timings.m_startPauseMs = 10;
    timings.m_stopWaitMs = 100;
    timings.m_dataWaitMs = 10000;
    return timings;
}

} // namespace velt::test
