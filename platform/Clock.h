#pragma once

#include <cstdint>

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
