#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace velt::test
{

// Polls a condition until it holds or the time is up: for tests whose peer gives them no event
// to wait on. The time-out only bounds a failure.
inline bool PollUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs,
                      std::uint32_t pollMs = 2)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

} // namespace velt::test
