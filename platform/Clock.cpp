#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace velt
{

// The steady clock on every system: on Windows it is the performance counter, because
// GetTickCount64 moves in 10-16 ms steps, which would stretch every short interval.
std::uint64_t CSystemClock::NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CSystemClock::SleepMs(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CSystemClock& CSystemClock::Instance()
{
    static CSystemClock clock;
    return clock;
}

} // namespace velt
