// Watch! and the double click: the progress dialog's steps, the header request or the resumed
// host, and the launch, with the game window lookup and the process start faked.
#include "DesktopTest.h"

#include "platform/Socket.h"
#include "server/MatchServerMessages.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTest>

#include <optional>
#include <ostream>

namespace velt
{
namespace
{

constexpr std::uint32_t kMatchId = 5;

HostTimings QuickTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 50;
    timings.m_startPauseMs = 50;
    timings.m_stopWaitMs = 200;
    return timings;
}

// What the progress dialog showed at one UpdateData.
struct Shown
{
    int m_position;
    std::string m_status;
    int m_busy;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& s, std::ostream* os)
{
    *os << "{" << s.m_position << ", \"" << s.m_status << "\", busy " << s.m_busy << "}";
}

const std::vector<Shown> kFourSteps = {{0, "Downloading map...", 1},
                                       {50, "Downloading Game Data...", 1},
                                       {75, "Buffering...Please Wait..", 1},
                                       {100, "Game Start now,please enjoy...", 1}};

class WatchFlowTest : public DesktopTest
{
protected:
    void SetUp() override
    {
        DesktopTest::SetUp();
        // Announcements go to a port of this test's own.
        ASSERT_TRUE(m_announceTarget.Open() && m_announceTarget.Bind("127.0.0.1", 0));
        m_seams.m_ports = LocalPortSettings{m_announceTarget.LocalPort(), 0};
        m_seams.m_hostTimings = QuickTimings();
        CScriptedMatchServer::ScriptedMatch match;
        match.m_matchId = kMatchId;
        match.m_header = test::BuildTestHeader();
        m_server.AddMatch(match);
    }

    // Connects with these settings and lists the match.
    void ConnectWith(const std::string& settings)
    {
        if (!settings.empty())
            WriteSettings(settings);
        ServeList({Match(kMatchId), Match(6, "2009-04-01 10:00")});
        OpenWindow();
        Click(CVELTTopView::kIdConnect);
        ASSERT_EQ(List().GetItemCount(), 2);
        ASSERT_EQ(List().GetItemData(0), kMatchId);
        CProgressDialog& progress = ListView().Progress();
        QObject::connect(&progress, &CProgressDialog::DataShown,
                         [this, &progress]
                         {
                             auto* status = progress.findChild<QLabel*>(QStringLiteral("1004"));
                             m_shown.push_back({progress.ProgressBar()->value(),
                                                status->text().toStdString(), progress.IsBusy()});
                             if (m_whileShown)
                                 m_whileShown();
                         });
    }

    std::vector<Shown> Steps() const
    {
        std::vector<Shown> steps;
        for (const Shown& shown : m_shown)
            if (shown.m_busy != 0)
                steps.push_back(shown);
        return steps;
    }

    QString ControlText(int id)
    {
        return ListView().Progress().findChild<QLabel*>(QString::number(id))->text();
    }

    void DoubleClickAt(const QPoint& point)
    {
        QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, point);
    }
    QPoint RowCentre(int row) { return List().visualRect(List().model()->index(row, 0)).center(); }

    CUdpSocket m_announceTarget;
    std::vector<Shown> m_shown;
    std::function<void()> m_whileShown;
};

TEST_F(WatchFlowTest, PickedMatchIsRequestedShownAndLaunched)
{
    ConnectWith("[SETTINGS]\r\nwindowmode=1\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    CProgressDialog& progress = ListView().Progress();
    EXPECT_FALSE(progress.isVisible());

    ClickRow(0);
    EXPECT_EQ(ControlText(CProgressDialog::kIdName), QStringLiteral("Match 5"));
    EXPECT_EQ(ControlText(CProgressDialog::kIdMap), QStringLiteral("Map: Maps\\(2)EchoIsles.w3x"));
    bool shownDuringSteps = false;
    m_whileShown = [&] { shownDuringSteps = shownDuringSteps || progress.isVisible(); };

    Click(CVELTTopView::kIdWatch);

    EXPECT_EQ(Steps(), kFourSteps);
    EXPECT_TRUE(shownDuringSteps);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(m_gameWindow.m_asked, std::vector<std::string>{"Warcraft III"});
    EXPECT_EQ(m_starter.m_started.size(), 1u);
    const auto request = m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, kDeadlineMs);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->m_payload, (std::vector<std::uint8_t>{kMatchId, 0, 0, 0}));
    EXPECT_TRUE(Client()->WaitForHost(kMatchId, kDeadlineMs));
    EXPECT_TRUE(Notices().empty());
}

struct LaunchCase
{
    const char* m_name;
    bool m_window;
    bool m_opengl;
    bool m_gameRunning;
    // 0: no folder; otherwise the test's folder, without its separator, padded to this length
    std::size_t m_folderLength;
    std::vector<std::string> m_switches;
    bool m_started;
    std::vector<std::string> m_notices;
    // The folder holds no war3.exe; the program that runs the game cannot be found.
    bool m_noProgram = false;
    bool m_noWine = false;
};

void PrintTo(const LaunchCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class LaunchOutcomes : public WatchFlowTest, public ::testing::WithParamInterface<LaunchCase>
{
};

TEST_P(LaunchOutcomes, EndTheWatchHiddenAndIdle)
{
    const LaunchCase& c = GetParam();
#ifdef _WIN32
    if (c.m_noWine)
        GTEST_SKIP() << "Windows starts the game itself, without wine";
#endif
    std::string folder;
    // The padded folder sits beside the test's temporary folder: removed at the end.
    QString made;
    const auto removeMade = qScopeGuard(
        [&]
        {
            if (!made.isEmpty())
                QDir(made).removeRecursively();
        });
    if (c.m_folderLength != 0)
    {
        folder = WarcraftFolder();
        folder.pop_back();
        folder.resize(c.m_folderLength, 'w');
        if (!QDir(QString::fromStdString(folder)).exists())
            made = QString::fromStdString(folder);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
        if (!c.m_noProgram)
            QFile(QString::fromStdString(folder + "/War3.EXE")).open(QIODevice::WriteOnly);
    }
    m_gameWindow.m_running = c.m_gameRunning;
    m_starter.m_fails = c.m_noWine;
    ConnectWith(std::string("[SETTINGS]\r\nwindowmode=") + (c.m_window ? "1" : "0") +
                "\r\nopenglmode=" + (c.m_opengl ? "1" : "0") + "\r\nwarcraftpath=" + folder +
                "\r\n");
    ClickRow(0);
    Click(CVELTTopView::kIdWatch);

    EXPECT_EQ(Steps(), kFourSteps);
    EXPECT_FALSE(ListView().Progress().isVisible());
    EXPECT_EQ(ListView().Progress().IsBusy(), 0);
    std::vector<std::string> notices = c.m_notices;
    for (std::string& notice : notices)
    {
        if (const std::size_t at = notice.find("%F"); at != std::string::npos)
            notice.replace(at, 2, folder);
    }
    EXPECT_EQ(Notices(), notices);
    if (!c.m_started)
    {
        EXPECT_EQ(m_starter.m_started.size(), c.m_noWine ? 1u : 0u);
        return;
    }
    // On Linux the game runs under Wine; on Windows war3.exe is the program.
#ifdef _WIN32
    std::vector<std::string> argv = {folder + "\\war3.exe"};
#else
    std::vector<std::string> argv = {"wine", folder + "/war3.exe"};
#endif
    argv.insert(argv.end(), c.m_switches.begin(), c.m_switches.end());
    EXPECT_EQ(m_starter.m_started, std::vector<std::vector<std::string>>{argv});
}

// The whole command line is "<folder>/war3.exe -window -opengl": 259 characters fit.
constexpr std::size_t kLongestFittingFolder = 259 - 9 - 16;

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchOutcomes,
    ::testing::Values(
        LaunchCase{"NoSwitches", false, false, false, 40, {}, true, {}},
        LaunchCase{"WindowOnly", true, false, false, 40, {"-window"}, true, {}},
        LaunchCase{"OpenGLOnly", false, true, false, 40, {"-opengl"}, true, {}},
        LaunchCase{"BothInOrder", true, true, false, 40, {"-window", "-opengl"}, true, {}},
        LaunchCase{"GameAlreadyRunning", true, true, true, 40, {}, false, {}},
        LaunchCase{"NoFolder", true, false, false, 0, {}, false, {kNoWarcraftPathMessage}},
        LaunchCase{"LongestThatFits",
                   true,
                   true,
                   false,
                   kLongestFittingFolder,
                   {"-window", "-opengl"},
                   true,
                   {}},
        LaunchCase{"OneCharacterTooLong",
                   true,
                   true,
                   false,
                   kLongestFittingFolder + 1,
                   {},
                   false,
                   {kNoWarcraftPathMessage}},
        // The game cannot start at all: the user is told once what is missing.
        LaunchCase{"NoWar3Exe",
                   true,
                   false,
                   false,
                   40,
                   {},
                   false,
                   {"Warcraft III could not be started: there is no war3.exe in the folder "
                    "\"%F\"."},
                   true},
        LaunchCase{"NoWine",
                   true,
                   false,
                   false,
                   40,
                   {},
                   false,
                   {"Warcraft III could not be started: the program \"wine\" was not found. "
                    "Install it, or start the game by hand."},
                   false,
                   true}),
    [](const ::testing::TestParamInfo<LaunchCase>& info)
    { return std::string(info.param.m_name); });

TEST_F(WatchFlowTest, DoubleClickWatchesButNotWhileBusy)
{
    ConnectWith("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    // Empty space below the rows picks nothing, so nothing is watched and nothing said.
    const QPoint below(RowCentre(1).x(), RowCentre(1).y() + 80);
    DoubleClickAt(below);
    EXPECT_TRUE(m_starter.m_started.empty());
    EXPECT_EQ(ListView().SelectedMatchId(), 0u);

    // A second double click arrives while the first watch is under way.
    bool tried = false;
    m_whileShown = [&]
    {
        if (ListView().Progress().IsBusy() == 0 || tried)
            return;
        tried = true;
        DoubleClickAt(RowCentre(1));
    };
    DoubleClickAt(RowCentre(0));

    EXPECT_TRUE(tried);
    EXPECT_EQ(Steps(), kFourSteps);
    EXPECT_EQ(m_starter.m_started.size(), 1u);
    ASSERT_TRUE(Client()->WaitForHost(kMatchId, kDeadlineMs));
    EXPECT_EQ(HeaderRequests(), 1u);
    EXPECT_TRUE(Notices().empty());
}

SyntheticMatch ShortMatch()
{
    SyntheticSettings settings;
    settings.m_seed = 11;
    settings.m_count = 1;
    settings.m_minSeconds = 60;
    settings.m_maxSeconds = 60;
    return GenerateSyntheticMatch(settings, 0);
}

TEST_F(WatchFlowTest, WatchAgainResumesTheFinishedHostWithoutAskingTheServer)
{
    const SyntheticMatch synthetic = ShortMatch();
    const std::uint32_t id = synthetic.m_info.m_matchId;
    CScriptedMatchServer::ScriptedMatch served;
    served.m_matchId = id;
    served.m_header = synthetic.m_header;
    served.m_stream = synthetic.m_stream;
    served.m_available = static_cast<std::uint32_t>(synthetic.m_stream.size());
    m_server.AddMatch(served);
    ServeList({synthetic.m_info});

    // A game that joins and leaves in the lobby, on the announce port of the window's hosts.
    GameSimScript script;
    script.m_leaveInLobby = true;
    script.m_keepPackets = false;
    auto game = std::make_unique<CGameSimulator>(script);
    ASSERT_TRUE(game->Start());
    script.m_announcePort = game->AnnouncePort();
    m_seams.m_ports = LocalPortSettings{script.m_announcePort, 0};
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    ASSERT_EQ(List().GetItemCount(), 1);
    ClickRow(0);

    Click(CVELTTopView::kIdWatch);
    ASSERT_TRUE(game->WaitFinished(kDeadlineMs));
    ASSERT_TRUE(Client()->WaitSessionEnded(id, kDeadlineMs));
    const std::optional<std::uint16_t> port = Client()->HostPort(id);
    ASSERT_TRUE(port);
    EXPECT_EQ(game->Record().m_joinedPort, *port);

    game = std::make_unique<CGameSimulator>(script);
    ASSERT_TRUE(game->Start());
    Click(CVELTTopView::kIdWatch);
    ASSERT_TRUE(game->WaitFinished(kDeadlineMs));

    EXPECT_EQ(game->Record().m_joinedPort, *port) << "the same host listens again";
    EXPECT_EQ(HeaderRequests(), 1u);
    EXPECT_EQ(Client()->HostsStarted(), 1u);
    EXPECT_EQ(m_starter.m_started.size(), 0u) << "no folder: the user was told instead";
    EXPECT_EQ(Notices(),
              (std::vector<std::string>{kNoWarcraftPathMessage, kNoWarcraftPathMessage}));
}

} // namespace
} // namespace velt
