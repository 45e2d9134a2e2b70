#pragma once

#include <atomic>
#include <cstdint>

#include "host/HostTimings.h"
#include "platform/Clock.h"

namespace velt::test
{

// Generous, so that a loaded machine does not fail a test that waits for an answer.
constexpr int kAnswerTimeoutMs = 10000;

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
