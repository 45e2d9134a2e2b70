// velt play, in-process: a replay file from disk hosted as velt watch hosts a server's match,
// joined by the game simulator over loopback, played to its end, gone back in, and stopped in
// every state of its session; and files that cannot be played.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "host/HostTimings.h"
#include "host/packets/GamePacket.h"
#include "host/packets/PlayPackets.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tests/cli/CommandRun.h"
#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/replay/ReplayReader.h"

namespace velt
{
namespace
{

using test::Bytes;
using test::RunCommand;
using test::RunQuickPlay;

constexpr std::uint32_t kDeadlineMs = 120000;
constexpr const char* kMapMissingLine =
    "[VELT] Map can't be found, copy this map to corresponding place and enter this game again!";
constexpr const char* kForceStartLine =
    "[VELT] You can also use /fs or /forcestart to force game start!";

// Writes a file and returns its path.
std::string WriteFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

class PlayCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        m_dir = test::FreshTempDir("velt-play-");
        m_war3 = m_dir / "war3";
        std::filesystem::create_directories(m_war3);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // The map file at its recorded path below the Warcraft III folder; either separator.
    void InstallMap(const std::string& mapPath) const
    {
        std::filesystem::path file = m_war3;
        std::string part;
        for (char c : mapPath + "\\")
        {
            if (c != '\\' && c != '/')
                part.push_back(c);
            else if (!part.empty())
                file /= std::exchange(part, {});
        }
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "map";
    }

    std::vector<std::string> Args(const std::string& file, std::uint16_t announcePort,
                                  std::vector<std::string> more = {}) const
    {
        std::vector<std::string> args{file,
                                      "--announce-port",
                                      std::to_string(announcePort),
                                      "--port-base",
                                      "0",
                                      "--war3",
                                      m_war3.string(),
                                      "--quiet"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    std::filesystem::path m_dir;
    std::filesystem::path m_war3;
};

// A file that cannot be played: one line naming it and what is wrong, exit 1, nothing hosted.
struct BadFileRow
{
    const char* m_name;
    std::function<std::string(const std::filesystem::path& dir)> m_make; // the path to play
    const char* m_problem; // how the line goes on after "velt play: <path>: "
};

void PrintTo(const BadFileRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class PlayBadFileTest : public PlayCommandTest, public ::testing::WithParamInterface<BadFileRow>
{
};

TEST_P(PlayBadFileTest, OneLineNamesTheFileAndNothingIsHosted)
{
    const BadFileRow& row = GetParam();
#ifdef _WIN32
    if (std::string(row.m_name) == "DevZero" || std::string(row.m_name) == "SymlinkLoop")
        GTEST_SKIP() << "no /dev/zero, no symbolic links for every user";
#endif
    const std::string path = row.m_make(m_dir);
    if (path.empty())
        GTEST_SKIP() << "sample not present";
    CUdpSocket announcements;
    ASSERT_TRUE(announcements.Open() && announcements.Bind("127.0.0.1", 0));
    const auto run = RunCommand(&RunQuickPlay, Args(path, announcements.LocalPort()));
    EXPECT_EQ(run.m_status, kExitFailure);
    const std::string begins = "velt play: " + path + ": " + row.m_problem;
    EXPECT_EQ(run.m_err.rfind(begins, 0), 0u) << run.m_err;
    EXPECT_EQ(std::count(run.m_err.begin(), run.m_err.end(), '\n'), 1) << run.m_err;
    EXPECT_EQ(run.m_out, "");
}

Bytes Truncated(Bytes file, std::size_t keep)
{
    file.resize(keep);
    return file;
}

// A recording of slots time slots of pings map pings each, 100 ms apart.
Bytes PingingReplay(int slots, int pings)
{
    const Bytes ping = test::Ping();
    Bytes actions;
    for (int i = 0; i < pings; ++i)
        actions.insert(actions.end(), ping.begin(), ping.end());
    const Bytes slot = test::TimeSlotRecord(0x1F, 100, test::CommandBlock(1, actions));
    Bytes data = test::Concat({test::BuildLobby({}), test::StartRecords()});
    for (int i = 0; i < slots; ++i)
        data.insert(data.end(), slot.begin(), slot.end());
    return test::BuildReplayFile(data);
}

// Game traffic beyond the host's 64 MiB: 1200 time slots of one 60,000-byte trigger line each.
Bytes TooLongForTheHost()
{
    Bytes line = {0x60, 0, 0, 0, 0, 0, 0, 0, 0};
    line.resize(60000 - 1, 'x');
    line.push_back(0);
    const Bytes slot = test::TimeSlotRecord(0x1F, 100, test::CommandBlock(1, line));
    Bytes data = test::Concat({test::BuildLobby({}), test::StartRecords()});
    for (int i = 0; i < 1200; ++i)
        data.insert(data.end(), slot.begin(), slot.end());
    return test::BuildReplayFile(data);
}

// A long team game's worth of traffic, past what a 2 MiB buffer held: 5.2 MiB of stream.
Bytes LongMatch()
{
    return PingingReplay(5500, 76);
}

// The 1.30 sample with one byte changed in block 0's compressed data; empty when absent.
std::string FlippedSample(const std::filesystem::path& dir)
{
    const auto samples = test::SampleReplays();
    std::ifstream in(samples.value_or("") / "gowarcraft3_test_130.w3g", std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 0x100)
        return {};
    file[0x44 + 8 + 20] ^= 0x04;
    return WriteFile(dir / "flipped.w3g", file);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PlayBadFileTest,
    ::testing::Values(
        BadFileRow{"Empty", [](const auto& dir) { return WriteFile(dir / "empty.w3g", {}); },
                   "not a Warcraft III replay"},
        BadFileRow{
            "NotAReplay",
            [](const auto& dir) {
                return WriteFile(dir / "notes.w3g", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 1});
            },
            "not a Warcraft III replay"},
        // The first block begins after the 0x44-byte header and its own 8 bytes.
        BadFileRow{"TruncatedInABlock",
                   [](const auto& dir)
                   {
                       const Bytes whole = test::BuildReplayFile(test::SmallReplay());
                       return WriteFile(dir / "cut.w3g", Truncated(whole, 0x44 + 8 + 10));
                   },
                   "block 0 claims"},
        BadFileRow{"VersionUnknown",
                   [](const auto& dir)
                   {
                       test::ContainerOptions options;
                       options.m_version = 99;
                       return WriteFile(dir / "v99.w3g",
                                        test::BuildReplayFile(test::SmallReplay(), options));
                   },
                   "unknown game version 99"},
        BadFileRow{"TooLongForTheHost",
                   [](const auto& dir) { return WriteFile(dir / "long.w3g", TooLongForTheHost()); },
                   "cannot be served: the stream of"},
        BadFileRow{"Folder", [](const auto& dir) { return dir.string(); },
                   "is a folder, not a replay file"},
        BadFileRow{"DevZero", [](const auto&) { return std::string("/dev/zero"); },
                   "is not a regular file"},
        BadFileRow{"Missing", [](const auto& dir) { return (dir / "gone.w3g").string(); },
                   "no such file"},
        BadFileRow{"SymlinkLoop",
                   [](const auto& dir)
                   {
                       std::filesystem::create_symlink(dir / "loop.w3g", dir / "loop.w3g");
                       return (dir / "loop.w3g").string();
                   },
                   "is a loop of symbolic links"},
        BadFileRow{"Sample130BlockByteFlipped", &FlippedSample,
                   "block 0 is damaged: its data does not match its checksum"}),
    [](const auto& info) { return std::string(info.param.m_name); });

// Recordings played to their end: the game starts (after /start, or /fs when the map is not
// installed, with the lobby lines of a missing map), gets every time slot of the recording and
// the leave acknowledgement, and the command ends as velt watch does.
struct WholeMatchRow
{
    const char* m_name;
    const char* m_sample; // stem in VELT_REPLAYS_DIR; null: a built replay
    bool m_mapInstalled;
    Bytes (*m_build)() = nullptr; // the built replay; null: a small one
};

void PrintTo(const WholeMatchRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class PlayWholeMatchTest : public PlayCommandTest,
                           public ::testing::WithParamInterface<WholeMatchRow>
{
};

TEST_P(PlayWholeMatchTest, PlaysToTheEndWithTheRecordingsLength)
{
    const WholeMatchRow& row = GetParam();
    std::string path;
    if (row.m_sample == nullptr)
    {
        path = WriteFile(m_dir / "built.w3g", row.m_build != nullptr
                                                  ? row.m_build()
                                                  : test::BuildReplayFile(test::SmallReplay()));
    }
    else
    {
        const auto dir = test::SampleReplays();
        if (!dir || !std::filesystem::exists(*dir / (std::string(row.m_sample) + ".w3g")))
            GTEST_SKIP() << "sample not present";
        path = (*dir / (std::string(row.m_sample) + ".w3g")).string();
    }
    const ReplayReadResult read = ReadReplay(path);
    ASSERT_TRUE(read.m_replay) << read.m_error.Text();
    if (row.m_mapInstalled)
        InstallMap(read.m_replay->m_lobby.m_stat.m_mapPath);

    GameSimScript script;
    script.m_lobbyChat = {"/start", "/fs"};
    script.m_keepPackets = false;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    const auto run = RunCommand(&RunQuickPlay, Args(path, game.AnnouncePort()));
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_TRUE(record.m_gameStarted);
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_checksumErrors, 0u);
    EXPECT_FALSE(record.m_streamCorrupt);
    EXPECT_EQ(record.m_gameTimeMs, read.m_replay->m_durationMs);
    const bool mapLines = LinesStartingWith(record, kMapMissingLine) == 1 &&
                          LinesStartingWith(record, kForceStartLine) == 1;
    EXPECT_EQ(mapLines, !row.m_mapInstalled);

    EXPECT_EQ(run.m_err.rfind("Playing " + path + ": ", 0), 0u) << run.m_err;
    EXPECT_NE(
        run.m_err.find("join the game hosted on 127.0.0.1:" + std::to_string(record.m_joinedPort)),
        std::string::npos)
        << run.m_err;
    EXPECT_NE(run.m_err.find("Session 1 of 1 has ended.\n"), std::string::npos) << run.m_err;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, PlayWholeMatchTest,
    ::testing::Values(WholeMatchRow{"BuiltMapMissing", nullptr, false},
                      WholeMatchRow{"BuiltLongerThan5MiB", nullptr, false, &LongMatch},
                      WholeMatchRow{"Sample202MapMissing", "w3gjs_2.0.2-Melee", false},
                      WholeMatchRow{"Sample126MapInstalled", "gowarcraft3_test_126", true}),
    [](const auto& info) { return std::string(info.param.m_name); });

// Ctrl+C in every state that a file's session can be in: the host announcing with no game yet,
// the lobby, play, /pause, the hold of /syncdown, and the wait for the game to join again after
// /back. The command ends with 130, and a game that had joined has had the leave
// acknowledgement. (A file is not live and its server is the program's own: there is no catch-up
// and no reconnecting; the end of data is the whole-match table's.)
struct StopRow
{
    const char* m_name;
    bool m_gameJoins; // false: stopped while the host announces, before any game
    bool m_start;     // /fs in the lobby
    GameSimChat m_typed;
    // Stopped once a line begins with this and this many games have ended.
    const char* m_reached;
    std::uint32_t m_gamesEnded;
};

void PrintTo(const StopRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class PlayStopTest : public PlayCommandTest, public ::testing::WithParamInterface<StopRow>
{
};

// 40 s of game: 400 empty time slots.
Bytes FortySeconds()
{
    Bytes data = test::Concat({test::BuildLobby({}), test::StartRecords()});
    const Bytes slot = test::TimeSlotRecord(0x1F, 100, {});
    for (int i = 0; i < 400; ++i)
        data.insert(data.end(), slot.begin(), slot.end());
    return test::BuildReplayFile(data);
}

TEST_P(PlayStopTest, InterruptEndsWith130AndTheGameIsLeftCleanly)
{
    const StopRow& row = GetParam();
    const std::string path = WriteFile(m_dir / "forty.w3g", FortySeconds());
    GameSimScript script;
    script.m_keepPackets = false;
    script.m_slotDelayMs = 2;
    script.m_startAfterLobbyChat = row.m_start;
    if (row.m_start)
        script.m_lobbyChat = {"/fs"};
    if (!row.m_typed.m_text.empty())
        script.m_gameChat = {row.m_typed};
    CGameSimulator game(script);
    CUdpSocket announcements; // where the host announces when no game is to join
    ASSERT_TRUE(row.m_gameJoins ? game.Start()
                                : announcements.Open() && announcements.Bind("127.0.0.1", 0));
    CThread stopper;
    stopper.Start(
        [&]
        {
            std::uint8_t datagram[512];
            const bool reached =
                row.m_gameJoins
                    ? game.WaitFor(
                          [&](const GameSimRecord& r) {
                              return LinesStartingWith(r, row.m_reached) > 0 &&
                                     r.m_sessionsEnded == row.m_gamesEnded;
                          },
                          kDeadlineMs)
                    : announcements.RecvFrom(datagram, sizeof datagram, kDeadlineMs) > 0;
            if (reached)
                std::raise(SIGINT);
        });
    const auto port = row.m_gameJoins ? game.AnnouncePort() : announcements.LocalPort();
    const auto run = RunCommand(&RunQuickPlay, Args(path, port));
    stopper.Join();
    EXPECT_EQ(run.m_status, 130) << run.m_err;
    EXPECT_EQ(run.m_err.find("has ended"), std::string::npos) << run.m_err;
    if (!row.m_gameJoins)
        return;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    EXPECT_TRUE(game.Record().m_leaveAckReceived);
    EXPECT_LT(game.Record().m_gameTimeMs, 40000u) << "stopped before the end";
}

// The day clock read 8:00 at the start: at 0:20 /syncdown 8:00 holds the game for 20 s.
INSTANTIATE_TEST_SUITE_P(
    States, PlayStopTest,
    ::testing::Values(
        StopRow{"Announcing", false, false, {}, nullptr, 0},
        StopRow{"Lobby", true, false, {}, "[VELT] Type /start to start", 0},
        StopRow{"Play", true, true, {5000, "/time"}, "[VELT] The current game time is", 0},
        StopRow{"Paused", true, true, {5000, "/pause"}, "[VELT] Paused at", 0},
        StopRow{"Held",
                true,
                true,
                {20000, "/syncdown 8:00"},
                "[VELT] Synchronising:Game is halted",
                0},
        StopRow{"AfterBack", true, true, {20000, "/back 0:10"}, "[VELT] Back to 0:10", 1}),
    [](const auto& info) { return std::string(info.param.m_name); });

// /back from the middle of a recording: the game is ended and joins again; the new game gets
// the recording from its start, fast-forwarded, and plays on at normal speed from the earlier
// time. For velt play, as for velt watch, it is all one session.
TEST_F(PlayCommandTest, BackFromTheMiddleReplaysFromTheEarlierTime)
{
    const auto dir = test::SampleReplays();
    const auto path = dir ? *dir / "gowarcraft3_test_126.w3g" : std::filesystem::path();
    if (!dir || !std::filesystem::exists(path))
        GTEST_SKIP() << "sample not present";
    const ReplayReadResult read = ReadReplay(path);
    ASSERT_TRUE(read.m_replay) << read.m_error.Text();
    const std::uint32_t length = read.m_replay->m_durationMs;
    ASSERT_GT(length, 150000u);

    GameSimScript script;
    script.m_lobbyChat = {"/fs"};
    script.m_gameChat = {{150000, "/back 1:00"}};
    script.m_rejoins = 1;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    const auto run = RunCommand(&RunQuickPlay, Args(path.string(), game.AnnouncePort()));
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    ASSERT_TRUE(
        game.WaitFor([](const GameSimRecord& r) { return r.m_sessionsEnded >= 2; }, kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_EQ(LinesStartingWith(record, "[VELT] Back to 1:00: join the game again"), 1u);
    const auto ended = run.m_err.find("has ended.");
    EXPECT_NE(run.m_err.find("Session 1 of 1 has ended.\n"), std::string::npos) << run.m_err;
    EXPECT_EQ(run.m_err.find("has ended.", ended + 1), std::string::npos) << run.m_err;

    // The second game: the whole recording again, and normal speed from 1:00 on.
    std::uint64_t secondGameMs = 0;
    std::uint64_t resumedAtMs = 0;
    bool resumed = false;
    for (const auto& packet : SessionPackets(record, 2))
    {
        if (HasGamePacketType(packet, GamePacketType::kIncomingAction))
            secondGameMs += ReadTimeSlot(packet).m_intervalMs;
        const auto chat = ParseChatFromHost(packet);
        if (!resumed && chat && chat->m_text == "[VELT] Now play with normal speed")
        {
            resumed = true;
            resumedAtMs = secondGameMs;
        }
    }
    EXPECT_EQ(secondGameMs, length);
    ASSERT_TRUE(resumed);
    EXPECT_GE(resumedAtMs, 60000u);
    EXPECT_LE(resumedAtMs, 62000u);
}

} // namespace
} // namespace velt
