#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/Event.h"

namespace velt
{

// Millisecond tick source and sleep, injectable so that tests control time-outs and pacing.
class IClock
{
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, monotonic (GetTickCount's role).
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
    // How many whole real milliseconds a span of this clock's lasts: for waits that only real
    // time bounds (a socket, an event) on a clock that runs faster than real time. A span that
    // lasts less than a real millisecond gives 0.
    virtual std::uint32_t RealMs(std::uint32_t ms) { return ms; }
    // Waits ms of this clock's time for any of the events: the index of the one that ended the
    // wait (WaitAny's rules), or kWaitTimeout.
    virtual int WaitMs(std::span<CEvent* const> events, std::uint32_t ms)
    {
        return WaitAny(events, RealMs(ms));
    }
    int WaitMs(std::initializer_list<CEvent*> events, std::uint32_t ms)
    {
        return WaitMs(std::span<CEvent* const>(events.begin(), events.size()), ms);
    }
};

// The real clock: steady time and real sleeps.
class CSystemClock final : public IClock
{
public:
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;

    // The process-wide instance, for owners that are not given a clock.
    static CSystemClock& Instance();
};

} // namespace velt
