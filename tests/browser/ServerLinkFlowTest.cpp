// The desktop client's server connection while a game runs: a server that drops a viewer who
// holds the whole match, Refresh pressed while the server is away, and Watch! after a drop.
#include "DesktopTest.h"

#include "host/CLocalGameHost.h"
#include "platform/Socket.h"
#include "server/MatchServerMessages.h"
#include "server/ServerConnection.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

#include <QTest>

#include <algorithm>
#include <memory>

namespace velt
{
namespace
{

class ServerLinkFlowTest : public DesktopTest
{
protected:
    void SetUp() override
    {
        DesktopTest::SetUp();
        HostTimings timings;
        timings.m_announceIntervalMs = 50;
        timings.m_startPauseMs = 50;
        timings.m_stopWaitMs = 200;
        m_seams.m_hostTimings = timings;
        SyntheticSettings settings;
        settings.m_seed = 11;
        settings.m_count = 1;
        settings.m_minSeconds = 120;
        settings.m_maxSeconds = 120;
        m_match = GenerateSyntheticMatch(settings, 0);
        m_served.m_matchId = m_match.m_info.m_matchId;
        m_served.m_header = m_match.m_header;
        m_served.m_stream = m_match.m_stream;
        m_served.m_available = static_cast<std::uint32_t>(m_match.m_stream.size());
    }

    // The window connected, the match listed and picked, and a game that joins what is
    // announced and forces the start.
    void ConnectAndPick(GameSimScript script)
    {
        script.m_lobbyChat = {"/fs"};
        script.m_keepPackets = false;
        m_game = std::make_unique<CGameSimulator>(script);
        ASSERT_TRUE(m_game->Start());
        m_seams.m_ports = LocalPortSettings{m_game->AnnouncePort(), 0};
        WriteSettings("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
        ServeList({m_match.m_info});
        OpenWindow();
        Click(CVELTTopView::kIdConnect);
        ASSERT_EQ(List().GetItemCount(), 1);
        ClickRow(0);
    }

    std::size_t GameLines(const char* line) const
    {
        return LinesStartingWith(m_game->Record(), line);
    }

    std::string Transcript() const
    {
        std::string text;
        for (const GameSimLine& line : m_game->Record().m_lineLog)
            text += line.m_text + "\n";
        for (const std::string& notice : Notices())
            text += "notice: " + notice + "\n";
        return text;
    }

    std::size_t DisconnectedNotices() const
    {
        const auto notices = Notices();
        return static_cast<std::size_t>(
            std::count(notices.begin(), notices.end(), std::string("Disconnected from server!")));
    }

    SyntheticMatch m_match;
    CScriptedMatchServer::ScriptedMatch m_served;
    std::unique_ptr<CGameSimulator> m_game;
};

// A viewer who holds the whole match: the server's drop shows no message box over the game and
// no line in it.
TEST_F(ServerLinkFlowTest, ADropWhileTheWholeMatchIsHeldShowsNothing)
{
    m_server.AddMatch(m_served);
    GameSimScript script;
    script.m_slotDelayMs = 1;
    ConnectAndPick(script);
    Click(CVELTTopView::kIdWatch);
    ASSERT_TRUE(m_game->WaitFor([](const GameSimRecord& r) { return r.m_gameTimeMs >= 1000; },
                                kDeadlineMs));
    // The whole match went over in a moment; now the server lets the viewer go.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Client()->FindHost(m_served.m_matchId)->HoldsWholeMatch(); }, kDeadlineMs));
    m_server.CloseClient(0);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Client()->IsConnected(); }, kDeadlineMs));
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    EXPECT_TRUE(m_game->Record().m_leaveAckReceived);
    EXPECT_EQ(m_game->Record().m_gameTimeMs, m_match.m_durationMs);
    EXPECT_EQ(Notices(), std::vector<std::string>{});
    for (const char* line : {kServerLostLine, kServerBackLine, kServerGoneLine})
        EXPECT_EQ(GameLines(line), 0u) << line;
}

// Refresh while the server is away connects the client again: the supervisor takes that
// connection as its own, so the game is told the server is back and gets the rest at once, and
// the next drop is told again.
TEST_F(ServerLinkFlowTest, RefreshDuringAnOutageBringsTheGameBackAndTheNextDropIsToldAgain)
{
    // The supervisor itself would wait a minute: only Refresh reconnects.
    m_seams.m_reconnect.m_firstRetryMs = 60000;
    m_seams.m_reconnect.m_limitMs = 600000;
    CScriptedMatchServer::ScriptedMatch dropping = m_served;
    dropping.m_dropAtOffset = 4000;
    m_server.AddMatch(dropping);
    ConnectAndPick(GameSimScript{});
    Click(CVELTTopView::kIdWatch);

    for (std::size_t outage = 1; outage <= 2; ++outage)
    {
        SCOPED_TRACE(outage);
        ASSERT_TRUE(m_game->WaitFor([&](const GameSimRecord& r)
                                    { return LinesStartingWith(r, kServerLostLine) == outage; },
                                    kDeadlineMs))
            << Transcript();
        EXPECT_EQ(DisconnectedNotices(), outage);
        // The next connection drops again further on.
        dropping.m_dropAtOffset = 10000;
        m_server.AddMatch(outage == 1 ? dropping : m_served);
        Click(CVELTTopView::kIdRefresh);
        ASSERT_TRUE(Client()->IsConnected());
        // Back long before the host's own retry of its lost request (10 s) could bring data.
        ASSERT_TRUE(m_game->WaitFor([&](const GameSimRecord& r)
                                    { return LinesStartingWith(r, kServerBackLine) == outage; },
                                    5000));
    }
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    const GameSimRecord record = m_game->Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, m_match.m_durationMs);
    EXPECT_FALSE(record.m_streamCorrupt);
    EXPECT_EQ(GameLines(kServerGoneLine), 0u);
}

// Watch! after the server dropped the connection (its idle limit) connects again before it
// asks for the header, instead of sending the request on the closed socket.
TEST_F(ServerLinkFlowTest, WatchAfterADropConnectsAgainFirst)
{
    m_server.AddMatch(m_served);
    ConnectAndPick(GameSimScript{});
    m_server.CloseClient(0);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Client()->IsConnected(); }, kDeadlineMs));
    Click(CVELTTopView::kIdWatch);
    EXPECT_TRUE(m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, kDeadlineMs));
    EXPECT_TRUE(Client()->WaitForHost(m_served.m_matchId, kDeadlineMs));
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    EXPECT_TRUE(m_game->Record().m_leaveAckReceived);
    EXPECT_EQ(Notices(), std::vector<std::string>{});
}

} // namespace
} // namespace velt
