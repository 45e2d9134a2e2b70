// The command line under faults, in-process over loopback: servers that close, go silent or
// send what nobody asked for, text made to attack a terminal, ports that are taken, and the
// user's stop requests in every phase.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#include "cli/Commands.h"
#include "cli/TerminalText.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CMatchServerClient.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tests/cli/CommandRun.h"
#include "tests/doubles/MatchdRig.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{
namespace
{

constexpr std::uint32_t kDeadlineMs = 120000;

using test::RunCommand;

// What a terminal must never be sent: C0 controls other than the line break (and the tab of
// the tab-separated form), DEL, C1 controls, and bytes that are not UTF-8. Such a text, with its
// line breaks and tabs made spaces, is one that TerminalText leaves as it is.
bool TerminalSafe(std::string text, bool tabsAllowed)
{
    for (char& c : text)
        if (c == '\n' || (tabsAllowed && c == '\t'))
            c = ' ';
        else if (c == ' ')
            c = '_'; // so that a space made from a control would not pass
    std::string expected = text;
    return TerminalText(text) == expected;
}

struct TextCase
{
    const char* m_name;
    std::string m_in;
    std::string m_out;
};

class TerminalTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(TerminalTextTest, ControlsAreReplacedAndInvalidUtf8ReadsAsLatin1)
{
    EXPECT_EQ(TerminalText(GetParam().m_in), GetParam().m_out);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TerminalTextTest,
    ::testing::Values(TextCase{"plain", "Moon vs Grubby", "Moon vs Grubby"},
                      TextCase{"utf8Kept", "Caf\xC3\xA9 \xE6\x9C\x88", "Caf\xC3\xA9 \xE6\x9C\x88"},
                      TextCase{"escapeSequence", "\x1B]0;owned\x07\x1B[2J",
                               "\xEF\xBF\xBD]0;owned\xEF\xBF\xBD\xEF\xBF\xBD[2J"},
                      TextCase{"delete",
                               "a\x7F"
                               "b",
                               "a\xEF\xBF\xBD"
                               "b"},
                      TextCase{"c1InUtf8",
                               "a\xC2\x9B"
                               "31m",
                               "a\xEF\xBF\xBD"
                               "31m"},
                      TextCase{"rawC1IsLatin1C1",
                               "a\x9B"
                               "31m",
                               "a\xEF\xBF\xBD"
                               "31m"},
                      TextCase{"invalidUtf8IsLatin1", "Caf\xE9", "Caf\xC3\xA9"},
                      TextCase{"overlongIsLatin1", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
                      TextCase{"breaksBecomeSpaces", "a\tb\r\nc", "a b  c"}),
    [](const auto& info) { return std::string(info.param.m_name); });

// --- A hostile match server -------------------------------------------------------------------

CMatchInfo HostileRecord(std::uint32_t id, const std::string& poison)
{
    CMatchInfo info;
    info.m_matchId = id;
    info.m_matchName = "name" + poison;
    info.m_streamer = "streamer" + poison;
    info.m_playersInfo = "players" + poison;
    info.m_mapPath = "Maps\\map" + poison;
    info.m_status = 7; // no such status
    info.m_startTime = "2026-12-0" + std::to_string(id) + poison;
    info.m_length = 61;
    return info;
}

class HostileServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        ASSERT_TRUE(m_server.Start());
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_server.Port()); }
    void CloseOnRequest(MessageCode code)
    {
        m_server.SetHandler(code, [](CScriptedMatchServer& server, std::size_t client,
                                     const CScriptedMatchServer::ReceivedFrame&)
                            { server.CloseClient(client); });
    }

    CScriptedMatchServer m_server;
};

TEST_F(HostileServerTest, EveryTextFieldReachesTheTerminalSafely)
{
    CScriptedMatchServer::ListScript script;
    script.m_frames = {BuildMatchRecord(HostileRecord(1, "\x1B[31m\x07\x7F\xC2\x9B")),
                       BuildMatchRecord(HostileRecord(2, "\x9B\xFF\xC3\t\n\r"))};
    m_server.SetListScript(script);
    for (const bool tsv : {false, true})
    {
        std::vector<std::string> args{"--server", Address()};
        if (tsv)
            args.push_back("--tsv");
        const auto run = RunCommand(&RunListCommand, args);
        EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
        EXPECT_TRUE(TerminalSafe(run.m_out, tsv)) << run.m_out;
        // Two records, a header line (and a rule under it in the table): no field broke a line.
        EXPECT_EQ(std::count(run.m_out.begin(), run.m_out.end(), '\n'), tsv ? 3 : 4) << run.m_out;
        EXPECT_NE(run.m_out.find("name\xEF\xBF\xBD[31m"), std::string::npos) << run.m_out;
        // Not UTF-8, so read as Latin-1: its C1 byte replaced, the others as their letters.
        EXPECT_NE(run.m_out.find("streamer\xEF\xBF\xBD\xC3\xBF\xC3\x83"), std::string::npos)
            << run.m_out;
    }
}

TEST_F(HostileServerTest, OnlyRequestedHeadersCreateHosts)
{
    const std::vector<std::uint8_t> header = test::BuildTestHeader();
    CRecordingNotice notices;
    CMatchServerClient client(notices, LocalPortSettings{1, 0});
    ASSERT_TRUE(client.Connect("127.0.0.1", m_server.Port()));
    ASSERT_TRUE(m_server.WaitForClients(1, kDeadlineMs));
    // Unasked: a flood of headers, then one for the match that will be asked for.
    std::vector<std::vector<std::uint8_t>> flood;
    for (std::uint32_t id = 100; id < 400; ++id)
        flood.push_back(BuildReplayHeaderReply({id, header}));
    flood.push_back(BuildReplayHeaderReply({5, header}));
    // Asked once, answered three times.
    std::vector<std::vector<std::uint8_t>> answers(3, BuildReplayHeaderReply({5, header}));
    const auto listEnd = BuildFrame({CodeByte(MessageCode::MSG_LIST_END), {}});
    flood.push_back(listEnd);
    answers.push_back(listEnd);

    ASSERT_TRUE(m_server.SendFrames(0, flood, true));
    ASSERT_TRUE(client.ListEndEvent().Wait(kDeadlineMs));
    EXPECT_EQ(client.HostsStarted(), 0u);
    EXPECT_FALSE(client.HasHost(5));

    ASSERT_TRUE(client.RequestReplayHeader(5));
    ASSERT_TRUE(m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, kDeadlineMs));
    ASSERT_TRUE(m_server.SendFrames(0, answers, true));
    ASSERT_TRUE(client.ListEndEvent().Wait(kDeadlineMs));
    EXPECT_EQ(client.HostsStarted(), 1u);
    EXPECT_TRUE(client.HasHost(5));
    EXPECT_TRUE(notices.Texts().empty());
}

// A server that ends the connection is noticed at once; the outcome, not the time, tells: a
// list wait of a minute ends on the lost connection, not on its time-out.
TEST_F(HostileServerTest, ClosedConnectionEndsTheWaitsAndTheCommands)
{
    CloseOnRequest(MessageCode::MSG_MATCH_INFO);
    CRecordingNotice notices;
    CMatchServerClient client(notices);
    ASSERT_TRUE(client.Connect("127.0.0.1", m_server.Port()));
    EXPECT_EQ(client.FetchMatchList(10 * kDeadlineMs),
              CMatchServerClient::ListOutcome::kConnectionLost);

    // The server took the connection and ended it before the list: a connection that failed.
    const auto list = RunCommand(&RunListCommand, {"--server", Address()});
    EXPECT_EQ(list.m_status, kExitFailure);
    EXPECT_EQ(list.m_err, "Connection to stream velt server failed!\n");

    CloseOnRequest(MessageCode::MSG_REPLAY_HEADER);
    const auto watch = RunCommand(&test::RunQuickWatch, {"5", "--server", Address(), "--port-base",
                                                         "0", "--war3", "/nonexistent"});
    EXPECT_EQ(watch.m_status, kExitFailure);
    EXPECT_NE(watch.m_err.find("Disconnected from server!\n"), std::string::npos) << watch.m_err;
    EXPECT_EQ(watch.m_err.find("Start Warcraft III"), std::string::npos);
}

// --- Stop requests and ports, with the stand-in server and the game simulator ------------------

enum class StopPhase
{
    kListWait,
    kLobby,
    kInGame,
};

struct StopCase
{
    const char* m_name;
    StopPhase m_phase;
    int m_signal;
    int m_status;
};

class StopRequestTest : public ::testing::TestWithParam<StopCase>, protected test::MatchdRig
{
protected:
    void SetUp() override { Start(5, 1, 300, 300); }
    void TearDown() override { m_server->Stop(); }
};

TEST_P(StopRequestTest, StatusTellsTheSignalAndTheGameIsLeftCleanly)
{
    const auto& c = GetParam();
    if (c.m_phase == StopPhase::kListWait)
    {
        CScriptedMatchServer silent;
        ASSERT_TRUE(silent.Start());
        CScriptedMatchServer::ListScript script;
        script.m_ending = CScriptedMatchServer::ListEnding::kSilence;
        silent.SetListScript(script);
        CThread stopper;
        stopper.Start(
            [&]
            {
                if (silent.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs))
                    std::raise(c.m_signal);
            });
        const auto run =
            RunCommand(&RunListCommand, {"--server", "127.0.0.1:" + std::to_string(silent.Port())});
        stopper.Join();
        EXPECT_EQ(run.m_status, c.m_status);
        EXPECT_EQ(run.m_err, "");
        return;
    }

    GameSimScript script;
    script.m_keepPackets = false;
    if (c.m_phase == StopPhase::kLobby)
    {
        script.m_startAfterLobbyChat = false;
    }
    else
    {
        script.m_lobbyChat = {"/fs"};
        script.m_slotDelayMs = 2;
    }
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    CThread stopper;
    stopper.Start(
        [&]
        {
            const bool reached = game.WaitFor(
                [&](const GameSimRecord& r) {
                    return c.m_phase == StopPhase::kLobby ? !r.m_lobbyLines.empty()
                                                          : r.m_gameTimeMs >= 5000;
                },
                kDeadlineMs);
            if (reached)
                std::raise(c.m_signal);
        });
    const auto run = RunCommand(&test::RunQuickWatch,
                                {"1", "--server", "127.0.0.1:" + std::to_string(m_server->Port()),
                                 "--announce-port", std::to_string(game.AnnouncePort()),
                                 "--port-base", "0", "--war3", "/nonexistent"});
    stopper.Join();
    EXPECT_EQ(run.m_status, c.m_status) << run.m_err;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    EXPECT_TRUE(game.Record().m_leaveAckReceived);
    EXPECT_EQ(run.m_err.find("has ended"), std::string::npos) << run.m_err;
}

INSTANTIATE_TEST_SUITE_P(
    Phases, StopRequestTest,
    ::testing::Values(StopCase{"interruptInListWait", StopPhase::kListWait, SIGINT, 130},
                      StopCase{"terminateInListWait", StopPhase::kListWait, SIGTERM, 143},
                      StopCase{"interruptInLobby", StopPhase::kLobby, SIGINT, 130},
                      StopCase{"interruptInGame", StopPhase::kInGame, SIGINT, 130},
                      StopCase{"terminateInGame", StopPhase::kInGame, SIGTERM, 143}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST_F(StopRequestTest, TakenGamePortFailsAtOnceWithoutAJoinLine)
{
    CTcpListener holder;
    ASSERT_EQ(holder.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    const auto run = RunCommand(&test::RunQuickWatch,
                                {"1", "--server", "127.0.0.1:" + std::to_string(m_server->Port()),
                                 "--announce-port", "1", "--port-base",
                                 std::to_string(holder.Port()), "--war3", "/nonexistent"});
    EXPECT_EQ(run.m_status, kExitFailure);
    EXPECT_NE(run.m_err.find("Stream socket bind error\n"), std::string::npos) << run.m_err;
    EXPECT_NE(run.m_err.find("127.0.0.1:" + std::to_string(holder.Port()) + " cannot be opened"),
              std::string::npos)
        << run.m_err;
    EXPECT_EQ(run.m_err.find("Start Warcraft III"), std::string::npos) << run.m_err;
}

// A jump far past the data plays to the end and ends the session as the end of a match does.
TEST_F(StopRequestTest, GotoPastTheEndPlaysToTheEndAndSaysGoodbye)
{
    GameSimScript script;
    script.m_keepPackets = false;
    script.m_lobbyChat = {"/fs"};
    script.m_gameChat = {{2000, "/goto 99:00"}};
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    const auto run = RunCommand(&test::RunQuickWatch,
                                {"1", "--server", "127.0.0.1:" + std::to_string(m_server->Port()),
                                 "--announce-port", std::to_string(game.AnnouncePort()),
                                 "--port-base", "0", "--war3", "/nonexistent"});
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, m_archive->Find(1)->m_durationMs);
}

} // namespace
} // namespace velt
