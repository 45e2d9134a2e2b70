// The watching panel in the main window, against a real host and a simulated game at its own
// pace: it comes with the session, steers the game the way the chat commands do (clicks, keys
// on the panel and on the match list), shows refusals, asks before the first jump back, stays
// while the game joins again, and goes when the session ends.
#include "DesktopTest.h"

#include "app/CMainDialog.h"
#include "browser/CWatchPanels.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

#include <QAbstractButton>
#include <QTest>

#include <algorithm>

namespace velt
{
namespace
{

// A finished match: "playing", then "playing, all held" once downloaded.
constexpr const char* kPlaying = "playing";

class WatchPanelTest : public DesktopTest
{
protected:
    // Waits until the game has a line containing the text after its first `from` lines.
    bool LineCame(const std::string& text, std::size_t from)
    {
        return m_game->WaitFor(
            [&](const GameSimRecord& record)
            {
                return std::any_of(
                    record.m_gameLines.begin() +
                        static_cast<std::ptrdiff_t>(std::min(from, record.m_gameLines.size())),
                    record.m_gameLines.end(),
                    [&](const std::string& line) { return line.find(text) != std::string::npos; });
            },
            kDeadlineMs);
    }
    std::size_t Lines() { return m_game->Record().m_gameLines.size(); }
    bool GameTimeReaches(std::uint64_t ms, std::uint32_t session)
    {
        return m_game->WaitFor([&](const GameSimRecord& r)
                               { return r.m_sessionsJoined >= session && r.m_gameTimeMs >= ms; },
                               kDeadlineMs);
    }
    std::vector<CWatchPanel*> Panels() { return m_dialog->WatchPanels()->Panels(); }
    // The panel shows the state (the next refreshes bring it).
    bool Shows(CWatchPanel* panel, const char* state)
    {
        const bool shown = QTest::qWaitFor(
            [&] { return panel->StateText().startsWith(QLatin1String(state)); }, int(kDeadlineMs));
        EXPECT_TRUE(shown) << "shows " << panel->StateText().toStdString();
        return shown;
    }

    std::unique_ptr<CGameSimulator> m_game;
};

TEST_F(WatchPanelTest, StandsForTheSessionAndSteersItAsTheCommandsDo)
{
    SyntheticSettings settings;
    settings.m_seed = 11;
    settings.m_count = 1;
    settings.m_minSeconds = settings.m_maxSeconds = 60;
    const SyntheticMatch match = GenerateSyntheticMatch(settings, 0);
    CScriptedMatchServer::ScriptedMatch served;
    served.m_matchId = match.m_info.m_matchId;
    served.m_header = match.m_header;
    served.m_stream = match.m_stream;
    served.m_available = static_cast<std::uint32_t>(match.m_stream.size());
    served.m_matchSeconds = 60;
    m_server.AddMatch(served);
    ServeList({match.m_info});

    GameSimScript script;
    script.m_paceByInterval = true;
    script.m_rejoins = 2;
    script.m_keepPackets = false;
    // The map is not at hand here: the game force-starts.
    script.m_lobbyChat = {"/fs"};
    script.m_startAfterLobbyChat = false;
    m_game = std::make_unique<CGameSimulator>(script);
    ASSERT_TRUE(m_game->Start());
    m_seams.m_ports = LocalPortSettings{m_game->AnnouncePort(), 0};
    m_seams.m_hostTimings.m_announceIntervalMs = 50;
    std::vector<std::string> asked;
    bool goBack = false;
    m_seams.m_ask = [&](const std::string& question)
    {
        asked.push_back(question);
        return goBack;
    };
    WriteSettings("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    ClickRow(0);
    Click(CVELTTopView::kIdWatch);

    ASSERT_TRUE(QTest::qWaitFor([&] { return Panels().size() == 1; }, int(kDeadlineMs)));
    CWatchPanel* panel = Panels().front();
    ASSERT_TRUE(GameTimeReaches(2000, 1));
    ASSERT_TRUE(Shows(panel, kPlaying));
    EXPECT_FALSE(panel->ControlWidget(SteerControl::kLive)->isEnabled()) << "not live";
    EXPECT_EQ(panel->ControlWidget(SteerControl::kLive)->toolTip(), "This match is not live");

    // A click on Pause: the command's own line, and the panel shows the pause and its refusals.
    std::size_t from = Lines();
    QTest::mouseClick(panel->ControlWidget(SteerControl::kPauseResume), Qt::LeftButton);
    ASSERT_TRUE(LineCame("[VELT] Paused at ", from));
    ASSERT_TRUE(Shows(panel, "paused"));
    EXPECT_FALSE(panel->ControlWidget(SteerControl::kForward)->isEnabled());
    EXPECT_EQ(panel->ControlWidget(SteerControl::kForward)->toolTip(), "Paused: resume first");

    // Keys: Space on the match list resumes, + on the panel speeds up.
    from = Lines();
    QTest::keyClick(&List(), Qt::Key_Space);
    ASSERT_TRUE(LineCame("[VELT] Resumed", from));
    ASSERT_TRUE(Shows(panel, kPlaying));
    from = Lines();
    QTest::keyClick(panel, '+');
    ASSERT_TRUE(LineCame("[VELT] Current Speed is  2.0", from));
    EXPECT_TRUE(QTest::qWaitFor(
        [&]
        {
            return qobject_cast<QAbstractButton*>(panel->ControlWidget(SteerControl::kSpeed, 2))
                ->isChecked();
        },
        int(kDeadlineMs)));

    // Left goes back 10 s, which restarts the game: asked first; declined, nothing happens.
    ASSERT_TRUE(GameTimeReaches(4000, 1));
    QTest::keyClick(panel, Qt::Key_Left);
    EXPECT_EQ(asked, std::vector<std::string>{CWatchPanel::kBackQuestion});
    goBack = true;
    QTest::keyClick(panel, Qt::Key_Left);
    ASSERT_TRUE(GameTimeReaches(1500, 2)) << "the game joined again";
    // Asked once per session; the panel stays through the game's return.
    ASSERT_TRUE(Shows(panel, kPlaying));
    QTest::keyClick(&List(), Qt::Key_Left);
    ASSERT_TRUE(GameTimeReaches(500, 3));
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(Panels(), std::vector<CWatchPanel*>{panel});

    // The game leaves: the session ends and its panel goes.
    m_game->Leave();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Panels().empty(); }, int(kDeadlineMs)));
    EXPECT_TRUE(Notices().empty());
}

} // namespace
} // namespace velt
