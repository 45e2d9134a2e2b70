#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "tests/doubles/CManualClock.h"

using namespace velt;
using namespace std::chrono_literals;

TEST(EventTest, AutoResetIsConsumedByOneWait)
{
    CEvent event(CEvent::Kind::kAutoReset);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, ManualResetStaysSetUntilReset)
{
    CEvent event(CEvent::Kind::kManualReset);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, TimedWaitTimesOutWithoutSignal)
{
    CEvent event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.Wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
}

struct WaitAnyCase
{
    const char* name;
    bool firstSet;
    bool secondSet;
    int expected;
    bool firstLeftSet;
    bool secondLeftSet;
};

class WaitAnyTest : public ::testing::TestWithParam<WaitAnyCase>
{
};

TEST_P(WaitAnyTest, FirstInListWinsAndOnlyItIsConsumed)
{
    const auto& c = GetParam();
    CEvent first, second;
    if (c.firstSet)
        first.Set();
    if (c.secondSet)
        second.Set();
    EXPECT_EQ(WaitAny({&first, &second}, 10), c.expected);
    EXPECT_EQ(first.IsSet(), c.firstLeftSet);
    EXPECT_EQ(second.IsSet(), c.secondLeftSet);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaitAnyTest,
    ::testing::Values(WaitAnyCase{"none", false, false, kWaitTimeout, false, false},
                      WaitAnyCase{"first", true, false, 0, false, false},
                      WaitAnyCase{"second", false, true, 1, false, false},
                      WaitAnyCase{"both", true, true, 0, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EventTest, WaitAnyWakesOnSetFromAnotherThread)
{
    CEvent first, second;
    CThread setter;
    setter.Start([&] {
        std::this_thread::sleep_for(20ms);
        second.Set();
    });
    EXPECT_EQ(WaitAny({&first, &second}, 10000), 1);
}

TEST(EventTest, ManualResetWakesEveryWaiter)
{
    CEvent stop(CEvent::Kind::kManualReset);
    std::atomic<int> woken{0};
    {
        CThread a, b;
        a.Start([&] { woken += stop.Wait(10000) ? 1 : 0; });
        b.Start([&] { woken += WaitAny({&stop}, 10000) == 0 ? 1 : 0; });
        std::this_thread::sleep_for(20ms);
        stop.Set();
    }
    EXPECT_EQ(woken.load(), 2);
}

TEST(ThreadTest, OwnerKnowsWhenTheThreadHasEnded)
{
    CEvent release;
    CThread thread;
    ASSERT_TRUE(thread.Start([&] { release.Wait(10000); }));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(thread.Start([] {}));
    release.Set();
    thread.Join();
    EXPECT_TRUE(thread.Finished());
    EXPECT_TRUE(thread.Start([] {}));
}

// A clock's wait ends on an event set before or during it; with none, a test's clock passes the
// whole span at once and the real one waits it out.
TEST(ClockTest, WaitEndsOnAnEventOrAfterTheSpanOnThatClock)
{
    struct Case
    {
        const char* m_name;
        bool m_manual;
        bool m_setBefore;
        int m_index;
        std::uint64_t m_clockMovesMs;
    };
    const Case cases[] = {
        {"test clock, nothing set", true, false, kWaitTimeout, 60000},
        {"test clock, event set", true, true, 1, 0},
        {"real clock, nothing set", false, false, kWaitTimeout, 50},
        {"real clock, event set", false, true, 1, 0},
    };
    for (const Case& c : cases)
    {
        CManualClock manual;
        IClock& clock = c.m_manual ? static_cast<IClock&>(manual) : CSystemClock::Instance();
        CEvent other;
        CEvent wake;
        if (c.m_setBefore)
            wake.Set();
        const std::uint64_t before = clock.NowMs();
        const auto realBefore = std::chrono::steady_clock::now();
        EXPECT_EQ(clock.WaitMs({&other, &wake}, c.m_manual ? 60000 : 50), c.m_index) << c.m_name;
        const std::uint64_t moved = clock.NowMs() - before;
        if (c.m_manual)
        {
            EXPECT_EQ(moved, c.m_clockMovesMs) << c.m_name;
        }
        else if (c.m_index == kWaitTimeout)
        {
            EXPECT_GE(moved, c.m_clockMovesMs) << c.m_name;
        }
        // Nothing here waits for real beyond the real clock's own span.
        EXPECT_LT(std::chrono::steady_clock::now() - realBefore, 10s) << c.m_name;
        EXPECT_FALSE(wake.TryConsume()) << c.m_name << ": the wait took the auto-reset signal";
    }
}
