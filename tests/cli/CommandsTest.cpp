// The command line's list and watch commands, run in-process against a match server over
// loopback: the scripted double for list answers, the stand-in server and the game simulator
// for whole watched sessions.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>

#include "cli/CliNotice.h"
#include "cli/Commands.h"
#include "cli/WatchSequence.h"
#include "platform/FileSystem.h"
#include "platform/Socket.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/cli/CommandRun.h"
#include "tests/doubles/MatchdRig.h"
#include "tests/doubles/CScriptedMatchServer.h"
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

CMatchInfo Match(std::uint32_t id, const char* name, std::uint8_t status, const char* start,
                 std::uint32_t length)
{
    CMatchInfo info;
    info.m_matchId = id;
    info.m_matchName = name;
    info.m_streamer = "Caster";
    info.m_playersInfo = "A vs B";
    info.m_mapPath = "Maps\\x.w3x";
    info.m_status = status;
    info.m_startTime = start;
    info.m_length = length;
    return info;
}

using test::RunCommand;

class ListCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        ASSERT_TRUE(m_server.Start());
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_server.Port()); }

    CScriptedMatchServer m_server;
};

TEST_F(ListCommandTest, TsvHasTheListViewsCellsNewestFirst)
{
    MatchStats hot{};
    hot.m_matchId = 2;
    hot.m_visits = 17;
    hot.m_ratingCount = 2;
    hot.m_ratingSum = 9;
    CScriptedMatchServer::ListScript script;
    script.m_frames = {BuildMatchRecord(Match(1, "Old", 1, "2026-11-01 10:00", 3930)),
                       BuildMatchRecord(Match(2, "Newest", 0, "2026-12-07 21:00", 65)),
                       BuildMatchStats(hot),
                       BuildMatchRecord(Match(3, "Mid\tdle", 2, "2026-12-01 08:30", 3599))};
    m_server.SetListScript(script);

    const auto run = RunCommand(&RunListCommand, {"--server", Address(), "--tsv"});
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    EXPECT_EQ(run.m_out, "Match Id\tMatch Name\tPlayers Info\tMap\tStatus\tStart Time\tTotal "
                         "Length\tStreamer\tVisits\tRating\n"
                         "2\tNewest\tA vs B\tMaps\\x.w3x\tLive!\t2026-12-07 21:00\t1 min:5 "
                         "sec\tCaster\t17\t4.5(Hot!)\n"
                         "3\tMid dle\tA vs B\tMaps\\x.w3x\tBroken\t2026-12-01 08:30\t59 min:59 "
                         "sec\tCaster\tUnknown\tUnrated\n"
                         "1\tOld\tA vs B\tMaps\\x.w3x\tCompleted\t2026-11-01 10:00\t1 hr :5 min:30 "
                         "sec\tCaster\tUnknown\tUnrated\n");
    const auto request = m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs);
    ASSERT_TRUE(request);
    EXPECT_EQ(ParseMatchListRequest(request->m_payload)->m_channelId, 1u);
}

TEST_F(ListCommandTest, TableForPeopleAndTheChannelAsked)
{
    CScriptedMatchServer::ListScript script;
    script.m_frames = {BuildMatchRecord(Match(9, "Only", 1, "2026-12-07 21:00", 10))};
    m_server.SetListScript(script);
    const auto run = RunCommand(&RunListCommand, {"--server=" + Address(), "--channel", "4"});
    EXPECT_EQ(run.m_status, kExitOk);
    EXPECT_NE(run.m_out.find("Match Id  Match Name"), std::string::npos) << run.m_out;
    EXPECT_NE(run.m_out.find("Only"), std::string::npos);
    const auto request = m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs);
    ASSERT_TRUE(request);
    EXPECT_EQ(ParseMatchListRequest(request->m_payload)->m_channelId, 4u);
}

struct FailureCase
{
    const char* name;
    CScriptedMatchServer::ListEnding ending;
    bool refuseConnection;
    const char* message;
};

class ListFailureTest : public ListCommandTest, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(ListFailureTest, FailuresAreToldAndExitWithOne)
{
    const auto& c = GetParam();
    CScriptedMatchServer::ListScript script;
    script.m_ending = c.ending;
    m_server.SetListScript(script);
    std::string address = Address();
    if (c.refuseConnection)
    {
        m_server.Stop();
    }
    const auto run = RunCommand(&RunListCommand, {"--server", address});
    EXPECT_EQ(run.m_status, kExitFailure);
    EXPECT_EQ(run.m_err, std::string(c.message) + "\n");
    EXPECT_EQ(run.m_out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ListFailureTest,
    ::testing::Values(FailureCase{"refused", CScriptedMatchServer::ListEnding::kChannelInvalid,
                                  false, "The VELT Channel is Invalid!"},
                      FailureCase{"silent", CScriptedMatchServer::ListEnding::kSilence, false,
                                  "Time out when retrieving game list!"},
                      FailureCase{"noServer", CScriptedMatchServer::ListEnding::kListEnd, true,
                                  "Connection to stream velt server failed!"}),
    [](const auto& info) { return std::string(info.param.name); });

struct UsageCase
{
    const char* name;
    int (*command)(const std::vector<std::string>&);
    std::vector<std::string> args;
    const char* error;
};

class UsageTest : public ::testing::TestWithParam<UsageCase>
{
};

TEST_P(UsageTest, BadWordsAreUsageErrors)
{
    const auto& c = GetParam();
    const auto run = RunCommand(c.command, c.args);
    EXPECT_EQ(run.m_status, kExitUsage);
    EXPECT_EQ(run.m_err.rfind(c.error, 0), 0u) << run.m_err;
    EXPECT_NE(run.m_err.find("Usage: velt"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Words, UsageTest,
    ::testing::Values(
        UsageCase{"listPositional", &RunListCommand, {"x"}, "velt list: unexpected argument 'x'"},
        UsageCase{
            "listBadServer", &RunListCommand, {"--server", "h:0"}, "velt list: option '--server'"},
        UsageCase{
            "listBadChannel", &RunListCommand, {"--channel", "x"}, "velt list: option '--channel'"},
        UsageCase{"watchNoMatch", &RunWatchCommand, {}, "velt watch: the match id is missing"},
        UsageCase{"watchZeroMatch", &RunWatchCommand, {"0"}, "velt watch: the match id must be"},
        UsageCase{"watchTwoMatches", &RunWatchCommand, {"1", "2"}, "velt watch: only one match id"},
        UsageCase{"watchBadSessions",
                  &RunWatchCommand,
                  {"1", "--sessions", "0"},
                  "velt watch: option '--sessions'"},
        UsageCase{"watchBadPort",
                  &RunWatchCommand,
                  {"1", "--announce-port", "70000"},
                  "velt watch: option '--announce-port'"},
        UsageCase{
            "watchDelayTooLong",
            &RunWatchCommand,
            {"1", "--live-delay", "601"},
            "velt watch: option '--live-delay' needs a whole number from 0 to 600, not '601'"},
        UsageCase{"watchDelayNegative",
                  &RunWatchCommand,
                  {"1", "--live-delay=-1"},
                  "velt watch: option '--live-delay' needs a whole number from 0 to 600"},
        UsageCase{"watchDelayNotANumber",
                  &RunWatchCommand,
                  {"1", "--live-delay", "20s"},
                  "velt watch: option '--live-delay'"},
        UsageCase{"watchQuietTakesNoValue",
                  &RunWatchCommand,
                  {"1", "--quiet=1"},
                  "velt watch: option '--quiet' takes no value"},
        UsageCase{"playNoFile", &RunPlayCommand, {}, "velt play: the replay file is missing"},
        UsageCase{"playTwoFiles",
                  &RunPlayCommand,
                  {"a.w3g", "b.w3g"},
                  "velt play: only one replay file, please"},
        UsageCase{
            "playEmptyName", &RunPlayCommand, {""}, "velt play: the replay file name is empty"},
        UsageCase{"playTwoFilesAfterDashes",
                  &RunPlayCommand,
                  {"--", "a.w3g", "--quiet"},
                  "velt play: only one replay file, please"},
        UsageCase{"playLiveDelay",
                  &RunPlayCommand,
                  {"a.w3g", "--live-delay", "20"},
                  "velt play: option '--live-delay' is for live matches"},
        UsageCase{"playServer",
                  &RunPlayCommand,
                  {"a.w3g", "--server", "h"},
                  "velt play: unknown option '--server'"},
        UsageCase{"playBadSessions",
                  &RunPlayCommand,
                  {"a.w3g", "--sessions", "0"},
                  "velt play: option '--sessions'"}),
    [](const auto& info) { return std::string(info.param.name); });

// The stand-in server with short completed matches, in-process.
class WatchCommandTest : public ::testing::Test, protected test::MatchdRig
{
protected:
    void SetUp() override
    {
        Start(3, 2, 60, 90);
        m_war3 =
            std::filesystem::temp_directory_path() /
            ("velt-cli-war3-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    }
    void TearDown() override
    {
        m_server->Stop();
        std::filesystem::remove_all(m_war3);
    }

    std::vector<std::string> Args(std::uint32_t matchId, std::uint16_t announcePort,
                                  std::vector<std::string> more = {}) const
    {
        std::vector<std::string> args{std::to_string(matchId),
                                      "--server",
                                      "127.0.0.1:" + std::to_string(m_server->Port()),
                                      "--announce-port",
                                      std::to_string(announcePort),
                                      "--port-base",
                                      "0",
                                      "--war3",
                                      m_war3.string()};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    std::filesystem::path m_war3;
};

TEST_F(WatchCommandTest, OneSessionRunsToTheEndOfTheMatch)
{
    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    script.m_keepPackets = false;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());

    // A delay behind live changes nothing for a finished match.
    const auto run = RunCommand(&test::RunQuickWatch,
                                Args(1, game.AnnouncePort(), {"--live-delay", "20", "--quiet"}));
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    const auto map = run.m_err.find("Downloading map...\n");
    const auto data = run.m_err.find("Downloading Game Data...\n");
    const auto buffering = run.m_err.find("Buffering...Please Wait..\n");
    const auto start = run.m_err.find("Game Start now,please enjoy...\n");
    const auto join = run.m_err.find("Start Warcraft III");
    ASSERT_NE(join, std::string::npos) << run.m_err;
    EXPECT_TRUE(map < data && data < buffering && buffering < start && start < join) << run.m_err;

    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const auto record = game.Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, m_archive->Find(1)->m_durationMs);
    EXPECT_EQ(m_stats.Stats(1).m_visits, 1u);
}

// Hostile streams: garbage at a packet boundary in the middle of a match. Only whole packets
// valid for their type reach the game, every valid packet on both sides of the garbage arrives,
// the viewer is told once on stderr where the data went wrong, and velt fails; the valid
// stream is the control row.
TEST(WatchCorruptStreamTest, OnlyValidPacketsReachTheGameAndTheFirstBadOffsetIsTold)
{
    struct Row
    {
        const char* m_name;
        std::vector<std::uint8_t> m_garbage;
        std::uint32_t m_gluedPackets = 0; // the head's length takes in this many packets after it
    };
    std::vector<std::uint8_t> runaway = {0xF7, 0x0C, 0x80, 0x80};
    runaway.resize(40, 0x80);
    const Row rows[] = {
        {"valid", {}},
        {"time slots of 4 and 5 bytes", {0xF7, 0x0C, 4, 0, 0xF7, 0x0C, 5, 0, 0}},
        {"a length that runs into garbage", runaway},
        {"packets glued under one head", {0xF7, 0x0C, 0, 0, 100, 0, 0, 0}, 3},
        {"a type no game in play takes", {0xF7, 0x3D, 8, 0, 1, 0, 0, 0}},
    };
    for (const Row& row : rows)
    {
        std::uint32_t badOffset = 0;
        std::uint32_t durationMs = 0;
        test::MatchdRig server;
        server.Start(3, 1, 60, 60,
                     [&](std::vector<SyntheticMatch>& matches)
                     {
                         SyntheticMatch& match = matches.front();
                         auto& marks = match.m_marks;
                         const std::size_t middle = marks.size() / 2;
                         badOffset = marks[middle].m_streamEnd;
                         std::vector<std::uint8_t> garbage = row.m_garbage;
                         if (row.m_gluedPackets != 0)
                             garbage[2] = static_cast<std::uint8_t>(
                                 garbage.size() + marks[middle + row.m_gluedPackets].m_streamEnd -
                                 badOffset);
                         match.m_stream.insert(match.m_stream.begin() + badOffset, garbage.begin(),
                                               garbage.end());
                         for (std::size_t i = middle + 1; i < marks.size(); ++i)
                             marks[i].m_streamEnd += static_cast<std::uint32_t>(garbage.size());
                         durationMs = match.m_durationMs;
                     });
        GameSimScript script;
        script.m_lobbyChat = {"/fs"};
        script.m_keepPackets = false;
        CGameSimulator game(script);
        ASSERT_TRUE(game.Start());
        const auto run =
            RunCommand(&test::RunQuickWatch,
                       {"1", "--server", "127.0.0.1:" + std::to_string(server.m_server->Port()),
                        "--announce-port", std::to_string(game.AnnouncePort()), "--port-base", "0",
                        "--quiet"});
        server.m_server->Stop();
        ASSERT_TRUE(game.WaitFinished(kDeadlineMs)) << row.m_name;
        const auto record = game.Record();
        EXPECT_TRUE(record.m_leaveAckReceived) << row.m_name;
        EXPECT_EQ(record.m_malformedPackets + record.m_checksumErrors, 0u) << row.m_name;
        EXPECT_EQ(record.m_gameTimeMs, durationMs) << row.m_name << ": every valid slot";
        const std::string told = "Match 1: the server's data is corrupt from stream offset " +
                                 std::to_string(badOffset) + " on;";
        const auto at = run.m_err.find(told);
        if (row.m_garbage.empty())
        {
            EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
            EXPECT_EQ(run.m_err.find("is corrupt"), std::string::npos) << run.m_err;
            continue;
        }
        EXPECT_EQ(run.m_status, kExitFailure) << row.m_name << run.m_err;
        ASSERT_NE(at, std::string::npos) << row.m_name << run.m_err;
        EXPECT_EQ(run.m_err.find("is corrupt", at + told.size()), std::string::npos) << run.m_err;
    }
}

TEST_F(WatchCommandTest, SecondSessionReplaysTheKeptDataWithoutANewHeader)
{
    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    script.m_keepPackets = false;
    CGameSimulator first(script);
    ASSERT_TRUE(first.Start());
    script.m_announcePort = first.AnnouncePort();

    std::uint64_t secondGameTime = 0;
    CThread games;
    games.Start(
        [&]
        {
            if (!first.WaitFinished(kDeadlineMs))
                return;
            first.Stop();
            CGameSimulator second(script);
            if (second.Start() && second.WaitFinished(kDeadlineMs))
                secondGameTime = second.Record().m_gameTimeMs;
        });
    const auto run =
        RunCommand(&test::RunQuickWatch, Args(2, script.m_announcePort, {"--sessions", "2"}));
    games.Join();
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    EXPECT_EQ(secondGameTime, m_archive->Find(2)->m_durationMs);
    EXPECT_EQ(m_stats.Stats(2).m_visits, 1u); // one header request for both sessions
    EXPECT_NE(run.m_err.find("Session 2 of 2 has ended."), std::string::npos) << run.m_err;
}

TEST_F(WatchCommandTest, UnreachableServerIsToldAndExitsWithOne)
{
    const auto args = Args(1, 1);
    m_server->Stop();
    const auto run = RunCommand(&test::RunQuickWatch, args);
    EXPECT_EQ(run.m_status, kExitFailure);
    EXPECT_EQ(run.m_err, "Connection to stream velt server failed!\n");
}

// --launch when no game can be started: one line naming the folder tried (or, on Linux, the
// program that runs the game), and the host stays up for a game started by hand.
enum class GameFolder
{
    kNone,          // no folder known at all
    kWithoutGame,   // a folder without war3.exe
    kMissing,       // a folder that is not there
    kGameCannotRun, // war3.exe that is no program (Windows); no wine to run it (Linux)
};

struct LaunchCase
{
    const char* m_name;
    GameFolder m_folder;
};

void PrintTo(const LaunchCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class NoGameWindow final : public IGameWindow
{
public:
    bool RaiseWindowTitled(const std::string&) override { return false; }
};

class WatchLaunchTest : public WatchCommandTest, public ::testing::WithParamInterface<LaunchCase>
{
protected:
    void TearDown() override
    {
#ifndef _WIN32
        if (m_oldPath)
            ::setenv("PATH", m_oldPath->c_str(), 1);
#endif
        WatchCommandTest::TearDown();
    }

    std::optional<std::string> m_oldPath;
};

TEST_P(WatchLaunchTest, AGameThatCannotStartIsSaidOnceAndTheHostStaysJoinable)
{
    const LaunchCase& c = GetParam();
    // As velt watch --war3 gives it: with a closing separator.
    const std::string folder = c.m_folder == GameFolder::kNone ? "" : JoinPath(m_war3.string(), "");
    std::string expected;
    switch (c.m_folder)
    {
    case GameFolder::kNone:
        expected = kNoWarcraftPathMessage;
        break;
    case GameFolder::kWithoutGame:
        std::filesystem::create_directories(m_war3);
        [[fallthrough]];
    case GameFolder::kMissing:
        expected = "Warcraft III could not be started: there is no war3.exe in the folder \"" +
                   folder + "\".";
        break;
    case GameFolder::kGameCannotRun:
        std::filesystem::create_directories(m_war3);
        std::ofstream(m_war3 / "war3.exe") << "not a program";
#ifdef _WIN32
        expected = "Warcraft III could not be started from the folder \"" + folder + "\".";
#else
        expected = "Warcraft III could not be started: the program \"wine\" was not found. "
                   "Install it, or start the game by hand.";
#endif
        break;
    }
#ifndef _WIN32
    // No row may start this machine's Wine, whatever the launch does.
    if (const char* path = std::getenv("PATH"))
        m_oldPath = path;
    ::setenv("PATH", (std::filesystem::temp_directory_path() / "velt-no-such-folder").c_str(), 1);
#endif

    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    script.m_keepPackets = false;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    CCliNotice notices;
    CMatchServerClient client(notices, LocalPortSettings{game.AnnouncePort(), 0});
    client.SetHostTimings(test::QuickHostTimings());
    ASSERT_TRUE(client.Connect("127.0.0.1", m_server->Port()));
    WatchSequence sequence(client, notices);
    sequence.m_launch = true;
    sequence.m_game = WarcraftLaunch{folder, true, false};
    NoGameWindow window;
    sequence.m_window = &window;

    ::testing::internal::CaptureStderr();
    const WatchOutcome outcome = sequence.Run(1);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, WatchOutcome::kSessionEnded) << err;
    const auto said = err.find("\n" + expected + "\n");
    const auto join = err.find("\nStart Warcraft III, open Local Area Network");
    ASSERT_NE(said, std::string::npos) << err;
    EXPECT_LT(said, join) << err;
    EXPECT_EQ(err.find(expected, said + 1 + expected.size()), std::string::npos) << err;
    EXPECT_EQ(notices.Count(), 1u) << err;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    EXPECT_EQ(game.Record().m_gameTimeMs, m_archive->Find(1)->m_durationMs);
}

INSTANTIATE_TEST_SUITE_P(Folders, WatchLaunchTest,
                         ::testing::Values(LaunchCase{"NoFolder", GameFolder::kNone},
                                           LaunchCase{"FolderWithoutGame",
                                                      GameFolder::kWithoutGame},
                                           LaunchCase{"MissingFolder", GameFolder::kMissing},
                                           LaunchCase{"GameCannotRun", GameFolder::kGameCannotRun}),
                         [](const auto& info) { return std::string(info.param.m_name); });

TEST_F(ListCommandTest, WatchOfAHeaderOfTheWrongSizeStopsAtTheVersionMessage)
{
    CScriptedMatchServer::ScriptedMatch match;
    match.m_matchId = 5;
    match.m_header.assign(1751, 0); // one byte short of a header
    m_server.AddMatch(match);
    const auto run = RunCommand(&test::RunQuickWatch, {"5", "--server", Address(), "--port-base",
                                                       "0", "--war3", "/nonexistent"});
    EXPECT_EQ(run.m_status, kExitFailure);
    EXPECT_NE(
        run.m_err.find("Erro Getting replay header, please update to latest version of VELT\n"),
        std::string::npos)
        << run.m_err;
    EXPECT_EQ(run.m_err.find("Start Warcraft III"), std::string::npos);
}

} // namespace
} // namespace velt
