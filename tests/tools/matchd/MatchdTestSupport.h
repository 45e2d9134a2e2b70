#pragma once

#include <atomic>
#include <cstdint>

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

} // namespace velt::test
