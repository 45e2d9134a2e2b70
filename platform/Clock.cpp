#include "platform/Clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

namespace velt
{

#ifdef _WIN32
// The 64-bit tick count: GetTickCount's clock without its wrap after 49 days.
std::uint64_t CSystemClock::NowMs() { return ::GetTickCount64(); }

void CSystemClock::SleepMs(std::uint32_t ms) { ::Sleep(ms); }
#else
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
#endif

CSystemClock& CSystemClock::Instance()
{
    static CSystemClock clock;
    return clock;
}

} // namespace velt
