#include "app/CDemoServer.h"
#include "app/CMainDialog.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace velt
{
namespace
{

// "veltplayer --demo": one click on Connect shows the stand-in server's matches.
TEST(DemoServerTest, OneConnectShowsTheMadeUpMatches)
{
    QTemporaryDir wine;
    qputenv("WINEPREFIX", wine.path().toLocal8Bit());
    CDemoServer demo;
    ASSERT_TRUE(demo.Start()) << demo.LastError();
    CRecordingNotice notices;
    DesktopSeams seams;
    seams.m_notices = &notices;
    CMainDialog dialog(nullptr, ServerAddress{"127.0.0.1", demo.Port()}, seams);
    dialog.CreateContents();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    auto* connect = dialog.TopView()->Control(CVELTTopView::kIdConnect);
    QTest::mouseClick(connect, Qt::LeftButton, {}, connect->rect().center());

    CSortableListCtrl& list = dialog.ListView()->List();
    ASSERT_EQ(list.GetItemCount(), static_cast<int>(CDemoServer::kMatchCount));
    int live = 0;
    int rated = 0;
    for (int row = 0; row < list.GetItemCount(); ++row)
    {
        live += list.GetItemText(row, 3) == QStringLiteral("Live!") ? 1 : 0;
        rated += list.GetItemText(row, 8) != QStringLiteral("Unrated") ? 1 : 0;
    }
    EXPECT_EQ(live, static_cast<int>(CDemoServer::kLiveCount));
    EXPECT_GT(rated, 0);
    EXPECT_TRUE(notices.Texts().empty());
    qunsetenv("WINEPREFIX");
}

} // namespace
} // namespace velt
