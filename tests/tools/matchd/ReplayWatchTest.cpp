// Recorded games watched from end to end: velt-matchd's library loads a folder of recordings
// and serves them over loopback, the program's real client downloads, its real host feeds the
// game simulator at 4x. What the game sees is checked against what the reader found in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>

#include "host/CLocalGameHost.h"
#include "host/HostTimings.h"
#include "platform/UserNotice.h"
#include "server/CMatchServerClient.h"
#include "tests/doubles/CManualClock.h"
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tests/doubles/MatchdRig.h"
#include "tests/doubles/WatchRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/ReplayFolder.h"
#include "tools/matchd/ReplaySeating.h"
#include "tools/replay/CActionTally.h"

using namespace velt;
using namespace velt::test;

namespace
{

// Generous: the longest sample is some 33,000 time slots, each a round trip through the host.
constexpr std::uint32_t kWatchTimeoutMs = 240000;
constexpr std::uint8_t kMapPing = 0x68;
// The 1.30 and later samples would be shown over multicast DNS; no multicast leaves a test
// that runs outside a network namespace of its own.
constexpr bool kNoMdnsOutsideANamespace = false;

// Two players and two observers of 1.26: observer pings alone, two in a slot, behind a hero
// skill and two at the front of one block; chat of every audience; a leave.
Bytes RecordingWithPings()
{
    LobbySpec lobby;
    lobby.m_others = {{3, "Guest"}, {4, "Watcher"}, {5, "Eye"}};
    lobby.m_slots = {SlotBytes(1, 0, 0), SlotBytes(3, 1, 1, 0x08), SlotBytes(4, 12, 12, 0x60),
                     SlotBytes(5, 12, 12, 0x60)};
    const Bytes esc = {0x61};
    Bytes data = Concat({BuildLobby(lobby), StartRecords()});
    for (int i = 0; i < 60; ++i)
        data = Concat({data, TimeSlotRecord(0x1F, 100, i % 3 ? Bytes{} : CommandBlock(1, esc))});
    data = Concat(
        {data, TimeSlotRecord(0x1F, 100, Concat({CommandBlock(1, esc), CommandBlock(4, Ping())})),
         ChatRecord(1, 0x20, 0, "gl hf"), ChatRecord(4, 0x20, 2, "nice one"),
         TimeSlotRecord(
             0x1F, 90,
             Concat({CommandBlock(4, Ping()), CommandBlock(5, Ping()), CommandBlock(3, esc)})),
         ChatRecord(3, 0x20, 1, "go go"), ChatRecord(5, 0x20, 3 + 0, "psst"),
         TimeSlotRecord(0x1F, 110, Concat({CommandBlock(1, {0x66}), CommandBlock(5, Ping())})),
         TimeSlotRecord(0x1F, 100, CommandBlock(4, Concat({Ping(), Ping(), esc}))),
         LeaveRecord(3, 1, 7)});
    for (int i = 0; i < 40; ++i)
        data = Concat({data, TimeSlotRecord(0x1F, 250, {})});
    return BuildReplayFile(data);
}

struct WatchRow
{
    const char* m_name;
    const char* m_sample; // stem in VELT_REPLAYS_DIR, or null for RecordingWithPings
    bool m_hideObserverChat;
};

void PrintTo(const WatchRow& row, std::ostream* out)
{
    *out << row.m_name;
}

const WatchRow kRows[] = {
    {"ObserverPingsAndChat", nullptr, false},
    {"ObserverChatHidden", nullptr, true},
    {"Sample102", "gowarcraft3_test_102", false},
    {"Sample126", "gowarcraft3_test_126", false},
    {"Sample129Observers", "w3gjs_standard_129_obs", false},
    {"Sample129ObserverChatHidden", "w3gjs_standard_129_obs", true},
    {"Sample130", "gowarcraft3_test_130", false},
    {"Sample132", "gowarcraft3_test_132", false},
    {"SampleCedVsLyn", "w3gjs_ced_vs_lyn", false},
    {"Sample202", "w3gjs_2.0.2-Melee", false},
    {"Sample999", "w3gjs_999", false},
};

// What the game must see, read off the recording by the reader alone.
struct Expected
{
    std::uint32_t m_gameTimeMs = 0;
    std::vector<std::string> m_chat;
    std::map<std::string, std::uint32_t> m_pingsBy; // notice lines by observer name
};

Expected ExpectedOf(const ReplayFile& replay, bool hideObserverChat)
{
    Expected expected;
    expected.m_gameTimeMs = replay.m_durationMs;
    const auto isObserver = [&](std::uint8_t id)
    {
        const ReplaySlot* slot = replay.SlotOf(id);
        return slot != nullptr && slot->m_team == replay.ObserverTeam();
    };
    for (const ReplayChat& chat : replay.m_chat)
        if (chat.m_flags == 0x20 && !(hideObserverChat && isObserver(chat.m_senderId)))
            expected.m_chat.push_back(chat.m_text);
    // Before 1.07 the ping had another id, which the host does not look for.
    if (ActionLayout::For(replay.m_header, replay.m_lobby.m_post202Format).m_menuIdsLower)
        return expected;
    for (const ReplaySlot& slot : replay.m_lobby.m_slots)
    {
        const PlayerActionCounts* actions = replay.ActionsOf(slot.m_playerId);
        if (!isObserver(slot.m_playerId) || actions == nullptr ||
            actions->m_byActionId[kMapPing] == 0)
            continue;
        const std::string name = CutUtf8(replay.RecordedName(slot.m_playerId), 15);
        expected.m_pingsBy["[VELT] Map Ping by " + name] = actions->m_byActionId[kMapPing];
    }
    return expected;
}

class ReplayWatchBase : public ::testing::Test, protected test::MatchdRig, protected test::WatchRig
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        m_dir = FreshTempDir("velt-watch-");
    }

    void TearDown() override
    {
        StopViewer();
        StopServing();
        std::filesystem::remove_all(m_dir);
    }

    // The recording in a folder of its own, loaded as --replays or --replays-live loads it.
    void Serve(const Bytes& file, bool live)
    {
        {
            std::ofstream out(m_dir / "match.w3g", std::ios::binary);
            out.write(reinterpret_cast<const char*>(file.data()),
                      static_cast<std::streamsize>(file.size()));
        }
        auto read = ReadReplayFromMemory(file, "match.w3g");
        ASSERT_TRUE(read.m_replay) << read.m_error.Text();
        m_replay = std::move(*read.m_replay);
        ReplayFolderLoad load = LoadReplayFolder(m_dir, 1, live);
        ASSERT_EQ(load.m_matches.size(), 1u) << (load.m_problems.empty() ? "" : load.m_problems[0]);
        test::MatchdRig::Serve(std::move(load.m_matches), m_clock);
    }

    void Watch(std::vector<std::string> lobbyChat)
    {
        GameSimScript script;
        script.m_lobbyChat = std::move(lobbyChat);
        script.m_lobbyChat.push_back("/fs"); // the map file is not installed here
        ASSERT_TRUE(StartGame(script));
        MakeClient(m_notices, QuickTimings(), LocalPortSettings{0, 0, kNoMdnsOutsideANamespace});
        ASSERT_TRUE(Connect(m_server->Port()));
        ASSERT_TRUE(WatchFromTheList(1, kWatchTimeoutMs));
    }

    void ExpectTheGameSawTheRecording(const GameSimRecord& record, bool hideObserverChat)
    {
        const Expected expected = ExpectedOf(m_replay, hideObserverChat);
        EXPECT_TRUE(record.m_gameStarted);
        EXPECT_TRUE(record.m_leaveAckReceived);
        EXPECT_EQ(record.m_checksumErrors, 0u);
        EXPECT_EQ(record.m_malformedPackets, 0u);
        EXPECT_FALSE(record.m_streamCorrupt);
        EXPECT_EQ(record.m_gameTimeMs, expected.m_gameTimeMs);
        const std::string slogan = m_client->FindHost(1)->HeaderCopy().Text(
            ReplayHeader::kSloganOffset, ReplayHeader::kSloganSize);
        std::vector<std::string> chat;
        std::map<std::string, std::uint32_t> pings;
        for (const std::string& line : record.m_gameLines)
        {
            if (line.rfind("[VELT] Map Ping by ", 0) == 0)
                ++pings[line];
            else if (line.rfind("[VELT]", 0) != 0 && line != slogan &&
                     line != "Lack of data from server!") // the live edge
                chat.push_back(line);
        }
        EXPECT_EQ(chat, expected.m_chat);
        EXPECT_EQ(pings, expected.m_pingsBy);
    }

    CManualClock m_clock;
    CRecordingNotice m_notices;
    std::filesystem::path m_dir;
    ReplayFile m_replay;
};

class ReplayWatchTest : public ReplayWatchBase, public ::testing::WithParamInterface<WatchRow>
{
};

class ReplayLiveWatchTest : public ReplayWatchBase
{
};

std::optional<Bytes> Recording(const WatchRow& row)
{
    if (row.m_sample == nullptr)
        return RecordingWithPings();
    const auto dir = SampleReplays();
    if (!dir)
        return std::nullopt;
    std::ifstream in(*dir / (std::string(row.m_sample) + ".w3g"), std::ios::binary);
    if (!in)
        return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST_P(ReplayWatchTest, GameSeesTheWholeRecordingAtFourTimesSpeed)
{
    const WatchRow& row = GetParam();
    const auto file = Recording(row);
    if (!file)
        GTEST_SKIP() << "sample not present";
    Serve(*file, false);
    std::vector<std::string> lobby = {"/speed 4"};
    if (row.m_hideObserverChat)
        lobby.insert(lobby.begin(), "/obmsg off");
    Watch(lobby);
    ASSERT_TRUE(m_game->WaitFinished(kWatchTimeoutMs));
    const GameSimRecord record = m_game->Record();
    EXPECT_NE(std::find(record.m_lobbyLines.begin(), record.m_lobbyLines.end(),
                        "[VELT] Speed set to 4x!"),
              record.m_lobbyLines.end());
    ExpectTheGameSawTheRecording(record, row.m_hideObserverChat);
    EXPECT_TRUE(m_notices.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, ReplayWatchTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.m_name); });

TEST_F(ReplayLiveWatchTest, LiveRecordingIsReleasedAtItsOwnPace)
{
    Serve(RecordingWithPings(), true);
    m_clock.Advance(3000); // the viewer comes 3 s into the match
    Watch({});
    EXPECT_EQ(m_client->FindHost(1)->HeaderCopy().U8(ReplayHeader::kNotLiveOffset), 0);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchTimeoutMs);
    while (!m_game->WaitFinished(20) && std::chrono::steady_clock::now() < deadline)
        m_clock.Advance(200);
    ASSERT_TRUE(m_game->Finished());
    const GameSimRecord record = m_game->Record();
    ExpectTheGameSawTheRecording(record, false);
    const auto& lines = record.m_gameLines;
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line)
                           { return line.find("behind, fast forward") != std::string::npos; }),
              lines.end());
}
