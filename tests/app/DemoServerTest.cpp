#include "app/CDemoServer.h"
#include "app/CMainDialog.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "platform/Event.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace velt
{
namespace
{

class DemoServerTest : public ::testing::TestWithParam<bool>
{
};

// "veltplayer --demo": one click on Connect shows the stand-in server's matches, also when the
// window came up while the server was still making them up (as the program starts it).
TEST_P(DemoServerTest, OneConnectShowsTheMadeUpMatches)
{
    const bool inBackground = GetParam();
    QTemporaryDir wine;
    qputenv("WINEPREFIX", wine.path().toLocal8Bit());
    CDemoServer demo;
    CRecordingNotice notices;
    DesktopSeams seams;
    seams.m_notices = &notices;
    ServerAddress address{"127.0.0.1", 0};
    CEvent release(CEvent::Kind::kManualReset);
    if (inBackground)
    {
        seams.m_serverReady = [&demo, &release]() -> std::optional<ServerAddress>
        {
            // Held until the window has shown, so that Connect meets a server still starting.
            release.Wait(CEvent::kInfinite);
            const std::optional<std::uint16_t> port = demo.WaitStarted(60000);
            if (!port)
                return std::nullopt;
            return ServerAddress{"127.0.0.1", *port};
        };
    }
    else
    {
        ASSERT_TRUE(demo.Start()) << demo.LastError();
        address.m_port = demo.Port();
    }
    CMainDialog dialog(nullptr, address, seams);
    dialog.CreateContents();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    if (inBackground)
    {
        ASSERT_TRUE(demo.StartInBackground());
        release.Set();
    }

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

INSTANTIATE_TEST_SUITE_P(Starts, DemoServerTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info)
                         { return std::string(info.param ? "InBackground" : "BeforeTheWindow"); });

} // namespace
} // namespace velt
