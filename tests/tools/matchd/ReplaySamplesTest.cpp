// The sample recordings converted: the header holds the lobby in the host's layout and the
// stream fits the client's buffer. Folders of recordings as velt-matchd loads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <regex>

#include "host/ReplayHeader.h"
#include "host/ReplayHeaderBuilder.h"
#include "host/ReplayHeaderCheck.h"
#include "host/packets/LobbyPackets.h"
#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tools/matchd/ReplayConversion.h"
#include "tools/matchd/ReplayFolder.h"

using namespace velt;
using namespace velt::test;

namespace
{

struct SampleRow
{
    const char* m_stem;
    const char* m_matchName; // null: not checked (samples kept back for acceptance)
    std::size_t m_servedSlots;
    std::size_t m_dropped;        // silent observers who made room for the viewer
    std::uint8_t m_playerPadding; // zero bytes after a player packet's name: 2 from 1.31
};

void PrintTo(const SampleRow& row, std::ostream* out)
{
    *out << row.m_stem;
}

const SampleRow kSamples[] = {
    {"gowarcraft3_test_102", "IN.DoomGuard vs Twinsen[pG]", 12, 1, 1},
    {"gowarcraft3_test_126", "ForFunyo vs Fighting-", 5, 0, 1},
    {"gowarcraft3_test_130", "niels vs Computer", 3, 0, 1},
    {"w3gjs_standard_129_obs", "S.o.K.o.L vs Stormhoof", 12, 0, 1},
    {"w3gjs_ced_vs_lyn", "IIIIIlllIIIl#3697 vs iNSUPERABLE#11842", 12, 0, 2},
    {"w3gjs_2.0.2-Melee", "BogdanW4 vs BogdanW3#1673", 5, 0, 2},
    {"gowarcraft3_test_132", nullptr, 0, 0, 2},
    {"w3gjs_999", nullptr, 0, 0, 0},
};

class ReplaySamplesTest : public ::testing::TestWithParam<SampleRow>
{
};

} // namespace

TEST_P(ReplaySamplesTest, LobbyFitsTheHeaderInTheHostsLayout)
{
    const SampleRow& row = GetParam();
    const auto dir = SampleReplays();
    if (!dir || !std::filesystem::exists(*dir / (std::string(row.m_stem) + ".w3g")))
        GTEST_SKIP() << "sample not present";
    const auto read = ReadReplay(*dir / (std::string(row.m_stem) + ".w3g"));
    ASSERT_TRUE(read.m_replay) << read.m_error.Text();
    const ReplayFile& replay = *read.m_replay;
    const ReplayConversion conversion = ConvertReplay(replay, {1, "", false});
    ASSERT_TRUE(conversion.m_match) << conversion.m_error;
    const SyntheticMatch& match = *conversion.m_match;

    // Game time, chat and checksums are what the game checks end to end (ReplayWatchTest).
    std::size_t leaves = 0;
    for (const Bytes& packet : SplitPackets(match.m_stream))
        leaves += packet[1] == 0x07 ? 1 : 0;
    EXPECT_EQ(leaves + conversion.m_counts.m_leavesSkipped, replay.m_leaves.size());
    EXPECT_LE(match.m_stream.size(), 2097152u);
    EXPECT_EQ(match.m_marks.back().m_streamEnd, match.m_stream.size());

    const auto content = SplitReplayHeader(match.m_header);
    ASSERT_TRUE(content);
    // The client hosts what it is served: no recording is refused by its header check.
    EXPECT_EQ(ReplayHeaderProblem(match.m_header), std::nullopt);
    const auto table = ParseSlotInfo(content->m_slotTable);
    ASSERT_TRUE(table);
    EXPECT_LE(table->m_slots.size(), 12u);
    EXPECT_EQ(ParseSlotInfoJoin(content->m_joinReply)->m_playerId, kServedViewerId);
    EXPECT_FALSE(content->m_presenter.empty());
    for (const SlotRecord& slot : table->m_slots)
        EXPECT_LT(slot.m_team, 13) << "observers sit on team 12";
    if (row.m_matchName == nullptr)
        return;
    EXPECT_EQ(match.m_info.m_matchName, row.m_matchName);
    EXPECT_EQ(table->m_slots.size(), row.m_servedSlots);
    EXPECT_EQ(table->m_randomSeed, replay.m_lobby.m_randomSeed);
    std::size_t seatedHumans = 0;
    for (const ReplaySlot& slot : replay.m_lobby.m_slots)
        seatedHumans += slot.m_slotStatus == 2 && slot.m_computer == 0 ? 1 : 0;
    std::size_t packets = 0;
    for (const auto& packet : content->m_playerPackets)
    {
        packets += packet.empty() ? 0 : 1;
        if (!packet.empty())
        {
            EXPECT_EQ(ParsePlayerInfo(packet).value_or(PlayerInfoParams{}).m_paddingCount,
                      row.m_playerPadding);
        }
    }
    EXPECT_EQ(packets + row.m_dropped, seatedHumans);
}

INSTANTIATE_TEST_SUITE_P(Samples, ReplaySamplesTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return SampleTestName(info.param.m_stem); });

namespace
{

class ReplayFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = FreshTempDir("velt-replays-"); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    void Write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream out(m_dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    static Bytes Good()
    {
        LobbySpec lobby;
        return BuildReplayFile(
            Concat({BuildLobby(lobby), StartRecords(), TimeSlotRecord(0x1F, 100, {})}));
    }

    std::filesystem::path m_dir;
};

} // namespace

TEST_F(ReplayFolderTest, UnreadableFilesAreNamedAndTheRestServedInNameOrder)
{
    const Bytes good = Good();
    Write("b.w3g", good);
    Write("A.W3G", good);
    Write("broken.w3g", Bytes(good.begin(), good.begin() + 80));
    Bytes flipped = good;
    flipped.at(0x44 + 8 + 20) ^= 0x04; // inside block 0's compressed data
    Write("flipped.w3g", flipped);
    Write("notes.txt", {'h', 'i'});
    std::filesystem::create_directory(m_dir / "sub.w3g");
    const ReplayFolderLoad load = LoadReplayFolder(m_dir, 5, false);
    EXPECT_TRUE(load.m_listed);
    ASSERT_EQ(load.m_matches.size(), 2u);
    EXPECT_EQ(load.m_matches[0].m_info.m_matchId, 5u);
    EXPECT_EQ(load.m_matches[1].m_info.m_matchId, 6u);
    EXPECT_FALSE(load.m_matches[0].m_live);
    EXPECT_TRUE(std::regex_match(load.m_matches[0].m_info.m_startTime,
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    ASSERT_EQ(load.m_problems.size(), 2u);
    EXPECT_EQ(load.m_problems[0].rfind("broken.w3g: ", 0), 0u) << load.m_problems[0];
    EXPECT_EQ(load.m_problems[1].rfind("flipped.w3g: block 0 is damaged", 0), 0u)
        << load.m_problems[1];

    const ReplayFolderLoad missing = LoadReplayFolder(m_dir / "none", 1, false);
    EXPECT_FALSE(missing.m_listed);
    ASSERT_EQ(missing.m_problems.size(), 1u);
}

TEST_F(ReplayFolderTest, CommandLineFoldersFollowTheGeneratedMatches)
{
    Write("one.w3g", Good());
    MatchdOptions options;
    options.m_synthetic.m_count = 2;
    options.m_replaysDir = m_dir.string();
    options.m_replaysLiveDir = m_dir.string();
    const ReplayFolderLoad load = CollectServedMatches(options);
    ASSERT_EQ(load.m_matches.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(load.m_matches[i].m_info.m_matchId, i + 1);
    EXPECT_FALSE(load.m_matches[2].m_live);
    EXPECT_TRUE(load.m_matches[3].m_live);
    EXPECT_EQ(load.m_matches[3].m_info.m_matchName, "Host vs Guest");
}

TEST(ReplayFileTimeTest, FileTimesReadAsUtc)
{
    const auto time = std::filesystem::file_time_type::clock::from_sys(
        std::chrono::sys_days(std::chrono::year(2023) / 7 / 9) + std::chrono::hours(21) +
        std::chrono::minutes(5) + std::chrono::seconds(59));
    EXPECT_EQ(FormatFileTime(time), "2023-07-09 21:05:59");
}

TEST(MatchdReplayOptionsTest, ReplayFoldersAreTakenFromTheCommandLine)
{
    std::string error;
    const auto options = ParseMatchdOptions({"--replays", "/a", "--replays-live", "/b"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->m_replaysDir, "/a");
    EXPECT_EQ(options->m_replaysLiveDir, "/b");
    for (const char* bad : {"--replays", "--replays-live"})
    {
        EXPECT_FALSE(ParseMatchdOptions({bad}, error));
        EXPECT_FALSE(ParseMatchdOptions({bad, ""}, error));
    }
}
