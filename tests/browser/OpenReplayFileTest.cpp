// Replay files opened in the desktop client: the one function behind the command line, a drop
// and Ctrl+O; the row it adds above a server's matches; Watch! on it, joined by the game
// simulator through the file's own server and client.
#include "DesktopTest.h"

#include "app/COpenedReplay.h"
#include "app/CommandLine.h"
#include "platform/Socket.h"
#include "tests/tools/replay/ReplayBuilder.h"
#include "tools/gamesim/CGameSimulator.h"

#include <QDir>
#include <QTimer>

#include <fstream>

namespace velt
{
namespace
{

constexpr int kStreamerColumn = 6;

class OpenReplayFileTest : public DesktopTest
{
protected:
    std::string WriteFile(const char* name, const test::Bytes& bytes)
    {
        const std::string path = m_workDir.filePath(QString::fromLatin1(name)).toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string SmallReplayFile()
    {
        return WriteFile("small.w3g", test::BuildReplayFile(test::SmallReplay()));
    }

    std::string Cell(int row, int column) { return List().GetItemText(row, column).toStdString(); }
};

// Opened before any Connect, a file gets its row; a server's list goes below it and leaves it
// on top; a file that cannot be played is told and adds nothing; the same file again is picked
// again, not added twice.
TEST_F(OpenReplayFileTest, FileRowStaysOnTopAndBadFilesAreTold)
{
    ServeList({Match(5), Match(6, "2009-04-01 10:00")});
    OpenWindow();
    const std::string small = SmallReplayFile();
    ASSERT_TRUE(m_dialog->OpenReplayFile(small));
    ASSERT_EQ(List().GetItemCount(), 1);
    EXPECT_EQ(Cell(0, kStreamerColumn), "(file)");
    EXPECT_EQ(Cell(0, 2), "Maps\\(2)Test.w3x");
    EXPECT_EQ(ListView().SelectedFileClient(), &m_dialog->OpenedReplays().front()->Client());
    EXPECT_EQ(ListView().SelectedMatchId(), COpenedReplay::kMatchId);

    Click(CVELTTopView::kIdConnect);
    ASSERT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(Cell(0, kStreamerColumn), "(file)");
    EXPECT_EQ(List().GetItemData(1), 5u);
    EXPECT_EQ(List().GetItemData(2), 6u);
    ClickRow(1);
    EXPECT_EQ(ListView().SelectedFileClient(), nullptr);
    EXPECT_EQ(ListView().SelectedMatchId(), 5u);
    // Sorted by name, descending, the file's row goes to the bottom and is still the file's.
    List().SortByColumn(0, false);
    ASSERT_EQ(List().GetItemData(0), 6u);
    ClickRow(2);
    EXPECT_EQ(Cell(2, kStreamerColumn), "(file)");
    EXPECT_EQ(ListView().SelectedFileClient(), &m_dialog->OpenedReplays().front()->Client());
    ClickRow(0);
    EXPECT_EQ(ListView().SelectedFileClient(), nullptr);

    const std::string empty = WriteFile("empty.w3g", {});
    EXPECT_FALSE(m_dialog->OpenReplayFile(empty));
    ASSERT_EQ(Notices().size(), 1u);
    const std::string named = QDir::toNativeSeparators(QString::fromStdString(empty)).toStdString();
    EXPECT_EQ(Notices()[0].rfind(named + ": not a Warcraft III replay", 0), 0u) << Notices()[0];
    EXPECT_EQ(List().GetItemCount(), 3);

    ASSERT_TRUE(m_dialog->OpenReplayFile(small));
    EXPECT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(m_dialog->OpenedReplays().size(), 1u);
    EXPECT_EQ(ListView().SelectedFileClient(), &m_dialog->OpenedReplays().front()->Client());
    EXPECT_EQ(HeaderRequests(), 0u);
}

// "veltplayer FILE.w3g": the file's row is in the list once the window is up.
TEST_F(OpenReplayFileTest, FileOnTheCommandLineShowsItsRow)
{
    const std::string small = SmallReplayFile();
    std::string error;
    const auto options =
        ParsePlayerArguments({QStringLiteral("veltplayer"), QStringLiteral("--port-base=0"),
                              QString::fromStdString(small)},
                             &error);
    ASSERT_TRUE(options) << error;
    m_dialog = std::make_unique<CMainDialog>(nullptr, options->m_server, m_seams);
    m_dialog->OpenAtStart(options->m_files);
    std::string streamer;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout,
                     [&]
                     {
                         if (List().GetItemCount() == 0)
                             return;
                         streamer = Cell(0, kStreamerColumn);
                         m_dialog->done(0);
                     });
    closer.start(10);
    m_dialog->DoModal();
    EXPECT_EQ(streamer, "(file)");
    EXPECT_TRUE(Notices().empty());
}

// Watch! on a file's row, without any Connect: the progress steps and the launch as for any
// match, and the game joins the file's host and plays it to its end.
TEST_F(OpenReplayFileTest, WatchHostsTheFileAndTheGameJoins)
{
    WriteSettings("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    m_seams.m_ports = LocalPortSettings{game.AnnouncePort(), 10000};
    m_seams.m_hostTimings.m_announceIntervalMs = 50;
    m_seams.m_hostTimings.m_startPauseMs = 50;
    OpenWindow();
    ASSERT_TRUE(m_dialog->OpenReplayFile(SmallReplayFile()));
    EXPECT_EQ(EditText().toStdString(), WarcraftFolder()) << "the settings are read as by Connect";

    Click(CVELTTopView::kIdWatch);
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_TRUE(record.m_gameStarted);
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, 450u);
    EXPECT_EQ(m_gameWindow.m_asked, std::vector<std::string>{"Warcraft III"});
    EXPECT_EQ(m_starter.m_started.size(), 1u);
    CMatchServerClient& fileClient = m_dialog->OpenedReplays().front()->Client();
    EXPECT_EQ(fileClient.HostPort(COpenedReplay::kMatchId), record.m_joinedPort);
    EXPECT_NE(record.m_joinedPort, 10000) << "a file's game takes a free port";
    EXPECT_EQ(HeaderRequests(), 0u);
    EXPECT_TRUE(Notices().empty());
}

} // namespace
} // namespace velt
