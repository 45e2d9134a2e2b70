// Connect and Refresh: channel selection, the connection, the list retrieval and its outcomes,
// and the window while it waits.
#include "DesktopTest.h"
#include "tests/browser/PaintCounter.h"

#include "platform/Socket.h"
#include "server/Framing.h"
#include "server/ServerConnection.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <ostream>

namespace velt
{
namespace
{

using ListEnding = CScriptedMatchServer::ListEnding;

const std::vector<CMatchInfo> kThreeMatches = {
    Match(21, "2009-05-01 20:15"), Match(22, "2009-05-03 10:00"), Match(23, "2009-05-02 08:30")};

// A port on 127.0.0.1 where nothing listens.
std::uint16_t ClosedPort()
{
    CTcpListener listener;
    if (listener.Open("127.0.0.1", 0) != CTcpListener::Error::kNone)
        return 0;
    return listener.Port();
}

class ConnectionControlTest : public DesktopTest
{
};

TEST_F(ConnectionControlTest, FirstConnectSelectsChannelOneConnectsAndFillsTheList)
{
    WriteSettings("[SETTINGS]\r\nwindowmode=1\r\nopenglmode=0\r\nwarcraftpath=" + WarcraftFolder() +
                  "\r\n");
    ServeList(kThreeMatches);
    // A name, which the first connection replaces by its address.
    OpenWindowAt(ServerAddress{"localhost", m_server.Port()});
    EXPECT_EQ(Bar().ConnectedOnce(), 0);

    Click(CVELTTopView::kIdConnect);

    ASSERT_NE(Client(), nullptr);
    EXPECT_EQ(m_dialog->Channels().size(), 1u);
    EXPECT_EQ(m_dialog->Channels().begin()->first, 1u);
    EXPECT_EQ(Client()->GetChannelId(), 1u);
    EXPECT_EQ(ListView().Client(), Client());
    EXPECT_TRUE(Client()->IsConnected());
    EXPECT_EQ(m_dialog->ServerHost(), "127.0.0.1");
    EXPECT_EQ(Bar().ConnectedOnce(), 1);
    EXPECT_EQ(ListRequests(), 1u);
    ASSERT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(List().GetItemData(0), 22u) << "newest first";
    // The settings are shown, and the stored folder reaches the client.
    EXPECT_TRUE(Checked(CVELTTopView::kIdWindowMode));
    EXPECT_FALSE(Checked(CVELTTopView::kIdOpenGLMode));
    EXPECT_EQ(EditText().toStdString(), WarcraftFolder());
    EXPECT_EQ(Client()->GetWarcraftPath(), WarcraftFolder());
    EXPECT_EQ(List().GetCellTextColor(0, 2), CVELTListView::kCompletedColor)
        << "the map was found in the stored folder";
    EXPECT_TRUE(Notices().empty());
}

TEST_F(ConnectionControlTest, SecondConnectReloadsTheSettingsButNeitherReconnectsNorRefreshes)
{
    WriteSettings("[SETTINGS]\r\nwarcraftpath=/first\r\n");
    ServeList(kThreeMatches);
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    ASSERT_EQ(List().GetItemCount(), 3);
    CMatchServerClient* client = Client();

    WriteSettings("[SETTINGS]\r\nopenglmode=1\r\nwarcraftpath=/second\r\n");
    ServeList({Match(30)});
    Click(CVELTTopView::kIdConnect);

    EXPECT_EQ(Client(), client);
    EXPECT_EQ(EditText(), QStringLiteral("/second"));
    EXPECT_TRUE(Checked(CVELTTopView::kIdOpenGLMode));
    EXPECT_EQ(m_server.ClientCount(), 1u);
    EXPECT_EQ(ListRequests(), 1u);
    EXPECT_EQ(List().GetItemCount(), 3);
    EXPECT_TRUE(Notices().empty());
}

struct OutcomeCase
{
    const char* m_name;
    bool m_serverUp;
    ListEnding m_ending;
    std::vector<std::string> m_notices;
    int m_connectedOnce;
    bool m_connectedAfter;
    std::size_t m_listRequests;
};

void PrintTo(const OutcomeCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class ConnectOutcomes : public ConnectionControlTest,
                        public ::testing::WithParamInterface<OutcomeCase>
{
};

TEST_P(ConnectOutcomes, TellTheUserAndLeaveTheRowsAlone)
{
    const OutcomeCase& c = GetParam();
    ServeList(kThreeMatches, c.m_ending);
    m_seams.m_listWaitMs = 1000; // only the time-out row waits it out
    if (c.m_serverUp)
        OpenWindow();
    else
        OpenWindowAt(ServerAddress{"127.0.0.1", ClosedPort()});

    Click(CVELTTopView::kIdConnect);

    EXPECT_EQ(Notices(), c.m_notices);
    EXPECT_EQ(Bar().ConnectedOnce(), c.m_connectedOnce);
    ASSERT_NE(Client(), nullptr);
    EXPECT_EQ(Client()->IsConnected(), c.m_connectedAfter);
    EXPECT_EQ(ListRequests(), c.m_listRequests);
    EXPECT_EQ(List().GetItemCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectOutcomes,
    ::testing::Values(
        OutcomeCase{
            "ConnectionFails", false, ListEnding::kListEnd, {kConnectFailedMessage}, 0, false, 0},
        OutcomeCase{"ChannelRefused",
                    true,
                    ListEnding::kChannelInvalid,
                    {kChannelInvalidMessage},
                    1,
                    false,
                    1},
        OutcomeCase{"NoAnswer", true, ListEnding::kSilence, {kListTimeOutMessage}, 1, true, 1}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info)
    { return std::string(info.param.m_name); });

TEST_F(ConnectionControlTest, RefusalSignalledEarlierIsReportedAtOnce)
{
    ServeList(kThreeMatches);
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    ASSERT_EQ(List().GetItemCount(), 3);

    // The server refuses the channel while nobody waits for a list.
    ASSERT_TRUE(m_server.Send(0, BuildFrame({CodeByte(MessageCode::MSG_CHANNEL_INVALID), {}})));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Client()->IsConnected(); }, kDeadlineMs));
    // The next answer would never come: only the earlier refusal can end the wait.
    ServeList({Match(30)}, ListEnding::kSilence);

    Click(CVELTTopView::kIdRefresh);

    EXPECT_EQ(Notices(), std::vector<std::string>{kChannelInvalidMessage});
    // The refusal ends the wait before the server need have accepted the new connection.
    EXPECT_TRUE(m_server.WaitForClients(2, kDeadlineMs)) << "Refresh connected again first";
    EXPECT_EQ(m_server.ClientCount(), 2u);
    EXPECT_EQ(List().GetItemCount(), 3);
}

TEST_F(ConnectionControlTest, WaitKeepsPaintingButTakesNoClicks)
{
    ServeList(kThreeMatches, ListEnding::kSilence);
    m_seams.m_listWaitMs = 1500;
    OpenWindow();
    CPaintCounter paints;
    Bar().Form()->installEventFilter(&paints);
    int ticks = 0;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout,
                     [&]
                     {
                         if (++ticks > 1)
                             return;
                         // The user presses Refresh and Connect again and the bar is uncovered.
                         Click(CVELTTopView::kIdRefresh);
                         Click(CVELTTopView::kIdConnect);
                         Bar().Form()->update();
                     });
    during.start(10);

    Click(CVELTTopView::kIdConnect);
    during.stop();

    EXPECT_GE(ticks, 1) << "timers ran during the wait";
    EXPECT_GE(paints.m_paints, 1) << "the bar repainted during the wait";
    EXPECT_EQ(Notices(), std::vector<std::string>{kListTimeOutMessage});
    EXPECT_EQ(ListRequests(), 1u);
    EXPECT_EQ(m_server.ClientCount(), 1u);

    // Once the wait is over, the same click works again.
    ServeList(kThreeMatches);
    Click(CVELTTopView::kIdRefresh);
    EXPECT_EQ(ListRequests(), 2u);
    EXPECT_EQ(List().GetItemCount(), 3);
    Bar().Form()->removeEventFilter(&paints);
}

TEST_F(ConnectionControlTest, RefreshAfterADroppedConnectionConnectsAgain)
{
    ServeList(kThreeMatches);
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    ASSERT_EQ(List().GetItemCount(), 3);

    m_server.CloseClient(0);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Client()->IsConnected(); }, kDeadlineMs));
    ServeList({Match(31), Match(32)});
    Click(CVELTTopView::kIdRefresh);

    EXPECT_TRUE(Client()->IsConnected());
    EXPECT_EQ(m_server.ClientCount(), 2u);
    EXPECT_EQ(ListRequests(), 2u);
    EXPECT_EQ(List().GetItemCount(), 5) << "the catalogue keeps the matches it had";
    EXPECT_TRUE(Notices().empty());

    // When connecting again fails, only that is said.
    m_server.Stop();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Client()->IsConnected(); }, kDeadlineMs));
    Click(CVELTTopView::kIdRefresh);
    EXPECT_EQ(Notices(), std::vector<std::string>{kConnectFailedMessage});
}

struct BeforeConnectCase
{
    const char* m_name;
    int m_control;
    const char* m_notice;
};

void PrintTo(const BeforeConnectCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class BeforeConnect : public ConnectionControlTest,
                      public ::testing::WithParamInterface<BeforeConnectCase>
{
};

TEST_P(BeforeConnect, ButtonsAskForAConnectionFirst)
{
    const BeforeConnectCase& c = GetParam();
    OpenWindow();
    Click(c.m_control);
    EXPECT_EQ(Notices(), std::vector<std::string>{c.m_notice});
    EXPECT_EQ(m_server.ClientCount(), 0u);
    EXPECT_TRUE(m_starter.m_started.empty());
    EXPECT_FALSE(ListView().Progress().isVisible());
}

INSTANTIATE_TEST_SUITE_P(Buttons, BeforeConnect,
                         ::testing::Values(BeforeConnectCase{"Refresh", CVELTTopView::kIdRefresh,
                                                             CVELTListView::kConnectFirstMessage},
                                           BeforeConnectCase{"Watch", CVELTTopView::kIdWatch,
                                                             CVELTListView::kSelectMatchMessage},
                                           BeforeConnectCase{"Change", CVELTTopView::kIdChange,
                                                             CVELTTopView::kConnectFirstMessage}),
                         [](const ::testing::TestParamInfo<BeforeConnectCase>& info)
                         { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
