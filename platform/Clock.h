#pragma once

#include <atomic>
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
    // How many whole real milliseconds a span of this clock's lasts: for waits that only real
    // time bounds (a socket, an event) on a clock that runs faster than real time. A span that
    // lasts less than a real millisecond gives 0.
    virtual std::uint32_t RealMs(std::uint32_t ms) { return ms; }
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

// A clock that moves only when it is slept on or told to, for tests and fuzzing: waits that go
// through it take no real time.
class CManualClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return m_now.load(); }
    void SleepMs(std::uint32_t ms) override { m_now += ms; }
    void Advance(std::uint64_t ms) { m_now += ms; }

private:
    std::atomic<std::uint64_t> m_now{1000};
};

} // namespace velt
