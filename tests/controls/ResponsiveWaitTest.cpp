#include "controls/CResponsiveWait.h"

#include "platform/Event.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace velt
{
namespace
{

constexpr std::uint32_t kDeadlineMs = 20000;

// While a call blocks on the worker, the UI thread runs timers; the guarded window ignores
// clicks, another window (a message box, say) takes them.
TEST(ResponsiveWaitTest, RunsTimersAndDropsInputToTheGuardedWindowOnly)
{
    QWidget guarded;
    QPushButton inside(QStringLiteral("inside"), &guarded);
    QPushButton elsewhere(QStringLiteral("elsewhere"));
    guarded.show();
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guarded));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    int insideClicks = 0;
    int elsewhereClicks = 0;
    QObject::connect(&inside, &QPushButton::clicked, [&] { ++insideClicks; });
    QObject::connect(&elsewhere, &QPushButton::clicked, [&] { ++elsewhereClicks; });

    CEvent release;
    QTimer::singleShot(0,
                       [&]
                       {
                           QTest::mouseClick(&inside, Qt::LeftButton);
                           QTest::mouseClick(&elsewhere, Qt::LeftButton);
                           release.Set();
                       });
    std::thread::id workerThread;
    bool released = false;
    CResponsiveWait wait(&guarded);
    wait.Run(
        [&]
        {
            workerThread = std::this_thread::get_id();
            released = release.Wait(kDeadlineMs);
        });

    EXPECT_TRUE(released) << "the UI thread ran the timer while the call waited";
    EXPECT_NE(workerThread, std::this_thread::get_id());
    EXPECT_EQ(insideClicks, 0);
    EXPECT_EQ(elsewhereClicks, 1);

    QTest::mouseClick(&inside, Qt::LeftButton);
    EXPECT_EQ(insideClicks, 1) << "input flows again after the wait";
}

} // namespace
} // namespace velt
