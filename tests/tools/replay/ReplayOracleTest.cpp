// The reader against two independent readings of the sample replays: the w3gjs parser's output
// (*.parsed.json) and a record-by-record walk (*.walk.json).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/replay/ReplayReader.h"

using namespace velt;
using nlohmann::json;

namespace
{

struct SampleRow
{
    const char* m_stem;
    bool m_hasParsed; // w3gjs cannot read the 1.02 file
};

const SampleRow kSamples[] = {
    {"gowarcraft3_test_102", false}, {"gowarcraft3_test_126", true},
    {"gowarcraft3_test_130", true},  {"w3gjs_standard_129_obs", true},
    {"w3gjs_ced_vs_lyn", true},      {"w3gjs_2.0.2-Melee", true},
};

void PrintTo(const SampleRow& row, std::ostream* out)
{
    *out << row.m_stem;
}

// Action ids for which w3gjs reports no count.
const std::set<int> kIdsW3gjsSkips = {0x01, 0x02, 0x50, 0x60, 0x62, 0x69, 0x6A, 0x7A, 0x7B};

// w3gjs's colour table for slot colours 0..23.
const char* const kW3gjsColours[] = {
    "#ff0303", "#0042ff", "#1ce6b9", "#540081", "#fffc00", "#fe8a0e", "#20c000", "#e55bb0",
    "#959697", "#7ebff1", "#106246", "#4e2a04", "#9b0000", "#0000c3", "#00eaff", "#be00fe",
    "#ebcd87", "#f8a48b", "#bfff80", "#dcb9eb", "#282828", "#ebf0ff", "#00781e", "#a46f33"};

std::optional<std::filesystem::path> SamplesDir()
{
    const char* dir = std::getenv("VELT_REPLAYS_DIR");
    if (dir == nullptr || !std::filesystem::is_directory(dir))
        return std::nullopt;
    return std::filesystem::path(dir);
}

json LoadJson(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return json::parse(in);
}

// Python's hex(): lower case, no padding.
std::string PyHex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

// w3gjs prints dwords as their bytes in file order.
std::string LeHex(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                  (value >> 16) & 0xFF, value >> 24);
    return text;
}

std::string RaceLetter(std::uint8_t race)
{
    switch (race & 0x3F)
    {
    case 0x01: return "H";
    case 0x02: return "O";
    case 0x04: return "N";
    case 0x08: return "U";
    case 0x20: return "R";
    default: return "?";
    }
}

std::string ChatModeName(std::uint32_t mode)
{
    switch (mode)
    {
    case 0: return "All";
    case 1: return "Team";
    case 2: return "Obervers"; // sic, as w3gjs spells it
    default: return "Private";
    }
}

class ReplayOracleTest : public ::testing::TestWithParam<SampleRow>
{
protected:
    void SetUp() override
    {
        const auto dir = SamplesDir();
        if (!dir)
            GTEST_SKIP() << "VELT_REPLAYS_DIR is not set or absent";
        const std::string stem = GetParam().m_stem;
        auto result = ReadReplay(*dir / (stem + ".w3g"));
        ASSERT_TRUE(result.m_replay) << result.m_error.Text();
        m_replay = std::move(*result.m_replay);
        m_walk = LoadJson(*dir / (stem + ".walk.json"));
        if (GetParam().m_hasParsed)
            m_parsed = LoadJson(*dir / (stem + ".parsed.json"));
    }

    std::uint32_t TotalForId(int id) const
    {
        std::uint32_t total = 0;
        for (const auto& player : m_replay.m_actions)
            total += player.m_byActionId[static_cast<std::size_t>(id)];
        return total;
    }

    ReplayFile m_replay;
    json m_walk;
    json m_parsed;
};

TEST_P(ReplayOracleTest, HeaderAgreesWithWalk)
{
    const auto& header = m_replay.m_header;
    const auto& expected = m_walk["header"];
    EXPECT_EQ(header.m_headerSize, expected["header_size"]);
    EXPECT_EQ(header.m_fileSize, expected["file_size_field"]);
    EXPECT_EQ(header.m_headerVersion, expected["header_version"]);
    EXPECT_EQ(header.m_decompressedSize, expected["decompressed_size"]);
    EXPECT_EQ(header.m_blockCount, expected["blocks"]);
    EXPECT_EQ(header.m_version, expected["version"]);
    EXPECT_EQ(header.m_build, expected["build"]);
    EXPECT_EQ(PyHex(header.m_flags), expected["flags"]);
    EXPECT_EQ(header.m_lengthMs, expected["length_ms"]);
    EXPECT_EQ(header.m_crcValid, expected["header_crc_ok"]);
    EXPECT_EQ(header.m_blockHeaderSize, expected["block_header_bytes"]);
    EXPECT_EQ(m_replay.m_blockCrcErrors == 0, expected["all_block_crcs_ok"]);
    if (header.m_headerVersion == 1)
    {
        EXPECT_EQ(header.m_product, expected["product"]);
    }
}

TEST_P(ReplayOracleTest, LobbyAgreesWithWalk)
{
    const auto& lobby = m_replay.m_lobby;
    const auto& meta = m_walk["meta"];
    EXPECT_EQ(PyHex(lobby.m_gameInfoPrefix), "0x110");
    EXPECT_EQ(lobby.m_host.m_recordId, meta["host"]["recordid"]);
    EXPECT_EQ(lobby.m_host.m_playerId, meta["host"]["pid"]);
    EXPECT_EQ(lobby.m_host.m_name, meta["host"]["name"]);
    EXPECT_EQ(lobby.m_host.m_extra.size(), meta["host"]["addlen"]);
    EXPECT_EQ(lobby.m_gameName, meta["game_name"]);
    EXPECT_EQ(lobby.m_privateString, meta["second_string"]);

    const auto& stat = meta["stat"];
    EXPECT_EQ(PyHex(lobby.m_stat.m_gameFlags), stat["flags"]);
    EXPECT_EQ(lobby.m_stat.m_unknown, stat["byte4"]);
    EXPECT_EQ(lobby.m_stat.m_mapWidth, stat["width"]);
    EXPECT_EQ(lobby.m_stat.m_mapHeight, stat["height"]);
    EXPECT_EQ(PyHex(lobby.m_stat.m_mapChecksum), stat["xoro"]);
    EXPECT_EQ(lobby.m_stat.m_mapPath, stat["map"]);
    EXPECT_EQ(lobby.m_stat.m_hostName, stat["host"]);
    std::string sha1;
    if (lobby.m_stat.m_mapSha1)
        for (auto byte : *lobby.m_stat.m_mapSha1)
        {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", byte);
            sha1 += digits;
        }
    EXPECT_EQ(sha1, stat["sha1"]);
    EXPECT_EQ(lobby.m_stat.m_decoded.size(), stat["len"]);
    EXPECT_EQ(lobby.m_encodedStatString.size(), stat["enc_len"]);

    EXPECT_EQ(lobby.m_playerCount, meta["player_count"]);
    EXPECT_EQ(PyHex(lobby.m_gameType), meta["game_type"]);
    EXPECT_EQ(PyHex(lobby.m_language), meta["language"]);
    ASSERT_EQ(lobby.m_players.size(), meta["player_list"].size());
    for (std::size_t i = 0; i < lobby.m_players.size(); ++i)
    {
        const auto& expected = meta["player_list"][i];
        EXPECT_EQ(lobby.m_players[i].m_playerId, expected["pid"]);
        EXPECT_EQ(lobby.m_players[i].m_name, expected["name"]);
        EXPECT_EQ(lobby.m_players[i].m_extra.size(), expected["addlen"]);
        EXPECT_EQ(lobby.m_players[i].m_trailer, expected["trailer"]);
    }
    ASSERT_EQ(lobby.m_metadata.size(), meta["extra_records"].size());
    for (std::size_t i = 0; i < lobby.m_metadata.size(); ++i)
    {
        const auto& expected = meta["extra_records"][i];
        EXPECT_EQ(PyHex(lobby.m_metadata[i].m_recordId), expected["rid"]);
        EXPECT_EQ(lobby.m_metadata[i].m_subtype, expected["sub"]);
        EXPECT_EQ(lobby.m_metadata[i].m_body.size(), expected["len"]);
    }
    EXPECT_EQ(lobby.m_post202Format, m_walk["post202"]);
}

TEST_P(ReplayOracleTest, SlotTableAgreesWithWalk)
{
    const auto& lobby = m_replay.m_lobby;
    const auto& meta = m_walk["meta"];
    EXPECT_EQ(lobby.m_slotTable.size(), meta["slot_bytes"].get<std::size_t>() + 2);
    EXPECT_EQ(lobby.m_slotRecordSize, meta["slot_size"]);
    ASSERT_EQ(lobby.m_slots.size(), meta["slots"].size());
    for (std::size_t i = 0; i < lobby.m_slots.size(); ++i)
    {
        const auto& slot = lobby.m_slots[i];
        const std::vector<int> fields = {slot.m_playerId, slot.m_downloadStatus, slot.m_slotStatus,
                                         slot.m_computer, slot.m_team,           slot.m_colour,
                                         slot.m_race,     slot.m_computerType,   slot.m_handicap};
        const std::vector<int> recorded(fields.begin(),
                                        fields.begin() + static_cast<std::ptrdiff_t>(lobby.m_slotRecordSize));
        EXPECT_EQ(recorded, meta["slots"][i].get<std::vector<int>>()) << "slot " << i;
    }
    EXPECT_EQ(lobby.m_randomSeed, meta["seed"]);
    EXPECT_EQ(PyHex(lobby.m_selectMode), meta["select_mode"]);
    EXPECT_EQ(lobby.m_startSpots, meta["start_spots"]);
}

TEST_P(ReplayOracleTest, RecordsAgreeWithWalk)
{
    std::map<std::string, std::uint32_t> counts;
    for (std::size_t id = 0; id < m_replay.m_recordCounts.size(); ++id)
        if (m_replay.m_recordCounts[id] != 0)
            counts[PyHex(id)] = m_replay.m_recordCounts[id];
    EXPECT_EQ(counts, m_walk["records"].get<decltype(counts)>());

    std::map<std::string, std::uint32_t> checksumSizes;
    for (const auto& slot : m_replay.m_timeSlots)
        if (slot.m_checksumSize != 0)
            ++checksumSizes[std::to_string(slot.m_checksumSize)];
    EXPECT_EQ(checksumSizes, m_walk["checksum_record_sizes"].get<decltype(checksumSizes)>());
    EXPECT_EQ(m_replay.m_durationMs, m_walk["time_sum_ms"]);
    EXPECT_EQ(m_replay.m_actionWalkErrors, m_walk["action_error_count"]);

    // Up to 1.02 the 0x1E records are the time slots themselves; the walk lists the first ones.
    if (m_replay.m_header.m_headerVersion == 0)
        for (std::size_t i = 0; i < m_walk["fragment_0x1e"].size(); ++i)
        {
            const auto& expected = m_walk["fragment_0x1e"][i];
            const auto& slot = m_replay.m_timeSlots.at(i);
            EXPECT_EQ(slot.m_timeMs - slot.m_intervalMs, expected["t"]);
            EXPECT_EQ(slot.m_intervalMs, expected["inc"]);
            EXPECT_EQ(slot.m_dataSize + 2, expected["n"]);
            EXPECT_EQ(slot.m_fragments, 0);
        }
}

TEST_P(ReplayOracleTest, ChatAndLeavesAgreeWithWalk)
{
    const auto& chats = m_walk["chats"];
    ASSERT_EQ(m_replay.m_chat.size(), chats.size());
    for (std::size_t i = 0; i < chats.size(); ++i)
    {
        const auto& chat = m_replay.m_chat[i];
        EXPECT_EQ(chat.m_timeMs, chats[i]["t"]) << i;
        EXPECT_EQ(chat.m_senderId, chats[i]["pid"]) << i;
        EXPECT_EQ(PyHex(chat.m_flags), chats[i]["flag"]) << i;
        EXPECT_EQ(chat.m_mode, chats[i]["mode"]) << i;
        EXPECT_EQ(chat.m_text, chats[i]["msg"]) << i;
    }
    const auto& leaves = m_walk["leaves"];
    ASSERT_EQ(m_replay.m_leaves.size(), leaves.size());
    for (std::size_t i = 0; i < leaves.size(); ++i)
    {
        const auto& leave = m_replay.m_leaves[i];
        EXPECT_EQ(leave.m_timeMs, leaves[i]["t"]) << i;
        EXPECT_EQ(leave.m_playerId, leaves[i]["pid"]) << i;
        EXPECT_EQ(PyHex(leave.m_reason), leaves[i]["reason"]) << i;
        EXPECT_EQ(PyHex(leave.m_result), leaves[i]["result"]) << i;
        EXPECT_EQ(leave.m_counter, leaves[i]["counter"]) << i;
    }
}

TEST_P(ReplayOracleTest, ActionCountsByIdAgreeWithWalk)
{
    std::map<std::string, std::uint32_t> totals;
    for (int id = 0; id < 256; ++id)
        if (TotalForId(id) != 0)
            totals[PyHex(static_cast<std::uint64_t>(id))] = TotalForId(id);
    EXPECT_EQ(totals, m_walk["action_counts"].get<decltype(totals)>());
}

TEST_P(ReplayOracleTest, GameFactsAgreeWithW3gjs)
{
    if (!GetParam().m_hasParsed)
        GTEST_SKIP() << "w3gjs cannot read this version";
    EXPECT_EQ(m_replay.m_lobby.m_gameName, m_parsed["gameName"]);
    EXPECT_EQ(m_replay.m_lobby.m_stat.m_mapPath, m_parsed["map"]["path"]);
    EXPECT_EQ(LeHex(m_replay.m_lobby.m_stat.m_mapChecksum), m_parsed["map"]["checksum"]);
    EXPECT_EQ(m_replay.m_lobby.m_randomSeed, m_parsed["randomSeed"]);
    EXPECT_EQ(m_replay.m_lobby.m_startSpots, m_parsed["startSpots"]);
    EXPECT_EQ(m_replay.m_durationMs, m_parsed["summedTimeIncrementsMs"]);
    EXPECT_EQ(m_replay.m_header.m_lengthMs, m_parsed["durationMs"]);
    // w3gjs counts fragments as time slots.
    const std::uint32_t timeSlotRecords = m_replay.m_recordCounts[0x1E] + m_replay.m_recordCounts[0x1F];
    EXPECT_EQ(timeSlotRecords, m_parsed["timeslotCount"]);
    for (const auto& [key, count] : m_parsed["gameDataBlockCounts"].items())
    {
        const auto id = std::stoul(key, nullptr, 16);
        EXPECT_EQ(id == 0x1F ? timeSlotRecords : m_replay.m_recordCounts[id], count) << key;
    }
}

TEST_P(ReplayOracleTest, PlayersAndObserversAgreeWithW3gjs)
{
    if (!GetParam().m_hasParsed)
        GTEST_SKIP() << "w3gjs cannot read this version";
    std::map<int, json> expected;
    for (const auto& player : m_parsed["players"])
        expected[player["id"].get<int>()] = player;

    std::map<int, json> players;
    json observers = json::array();
    for (const auto& slot : m_replay.m_lobby.m_slots)
    {
        if (slot.m_slotStatus != 2)
            continue;
        if (slot.m_team == m_replay.ObserverTeam())
        {
            observers.push_back(m_replay.DisplayName(slot.m_playerId));
            continue;
        }
        const bool computer = slot.m_computer != 0;
        players[slot.m_playerId] = json{
            {"name", computer ? std::string("Computer") : m_replay.DisplayName(slot.m_playerId)},
            {"teamid", slot.m_team},
            {"color", kW3gjsColours[slot.m_colour % 24]},
            {"race", RaceLetter(slot.m_race)}};
    }
    ASSERT_EQ(players.size(), expected.size());
    for (const auto& [id, player] : players)
    {
        ASSERT_TRUE(expected.count(id)) << "player id " << id;
        for (const char* field : {"name", "teamid", "color", "race"})
            EXPECT_EQ(player[field], expected[id][field]) << "player " << id << " " << field;
    }
    EXPECT_EQ(observers, m_parsed["observers"]);
}

TEST_P(ReplayOracleTest, ChatAndLeavesAgreeWithW3gjs)
{
    if (!GetParam().m_hasParsed)
        GTEST_SKIP() << "w3gjs cannot read this version";
    const auto& chats = m_parsed["chat"];
    ASSERT_EQ(m_replay.m_chat.size(), chats.size());
    for (std::size_t i = 0; i < chats.size(); ++i)
    {
        const auto& chat = m_replay.m_chat[i];
        EXPECT_EQ(chat.m_senderId, chats[i]["playerId"]) << i;
        EXPECT_EQ(m_replay.DisplayName(chat.m_senderId), chats[i]["playerName"]) << i;
        EXPECT_EQ(chat.m_text, chats[i]["message"]) << i;
        EXPECT_EQ(chat.m_timeMs, chats[i]["timeMS"]) << i;
        EXPECT_EQ(ChatModeName(chat.m_mode), chats[i]["mode"]) << i;
    }
    const auto& leaves = m_parsed["leaveGameBlocks"];
    ASSERT_EQ(m_replay.m_leaves.size(), leaves.size());
    for (std::size_t i = 0; i < leaves.size(); ++i)
    {
        EXPECT_EQ(m_replay.m_leaves[i].m_timeMs, leaves[i]["timeMs"]) << i;
        EXPECT_EQ(m_replay.m_leaves[i].m_playerId, leaves[i]["playerId"]) << i;
        EXPECT_EQ(LeHex(m_replay.m_leaves[i].m_reason), leaves[i]["reason"]) << i;
        EXPECT_EQ(LeHex(m_replay.m_leaves[i].m_result), leaves[i]["result"]) << i;
    }
}

TEST_P(ReplayOracleTest, ActionCountsAgreeWithW3gjs)
{
    if (!GetParam().m_hasParsed)
        GTEST_SKIP() << "w3gjs cannot read this version";
    std::map<std::string, std::uint32_t> totals;
    for (int id = 0; id < 256; ++id)
        if (TotalForId(id) != 0 && kIdsW3gjsSkips.count(id) == 0)
            totals[PyHex(static_cast<std::uint64_t>(id))] = TotalForId(id);
    EXPECT_EQ(totals, m_parsed["actionIdCounts"].get<decltype(totals)>());

    for (const auto& player : m_parsed["players"])
    {
        const auto id = player["id"].get<std::uint8_t>();
        const PlayerActionCounts none;
        const auto* counts = m_replay.ActionsOf(id);
        const auto& categories = (counts != nullptr ? *counts : none).m_categories;
        const std::map<std::string, std::uint32_t> ours = {
            {"assigngroup", categories.m_assignGroup}, {"rightclick", categories.m_rightClick},
            {"basic", categories.m_basic},             {"buildtrain", categories.m_buildTrain},
            {"ability", categories.m_ability},         {"item", categories.m_item},
            {"select", categories.m_select},           {"removeunit", categories.m_removeUnit},
            {"subgroup", 0},                           {"selecthotkey", categories.m_selectHotkey},
            {"esc", categories.m_esc}};
        EXPECT_EQ(ours, player["actions"].get<decltype(ours)>()) << "player " << int{id};
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, ReplayOracleTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) {
                             std::string name = info.param.m_stem;
                             for (auto& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Values that the source projects' own tests expect of their files: time slot intervals and
// who acts in them.
struct KnownSlotRow
{
    const char* m_stem;
    std::size_t m_firstSlot;
    std::vector<std::uint32_t> m_intervals;
    std::set<int> m_actingPlayers;
};

TEST(ReplayKnownValuesTest, TimeSlotsTwentyToTwentyTwo)
{
    const auto dir = SamplesDir();
    if (!dir)
        GTEST_SKIP() << "VELT_REPLAYS_DIR is not set or absent";
    const KnownSlotRow rows[] = {
        {"gowarcraft3_test_102", 20, {100, 100, 100}, {9, 10}},
        {"gowarcraft3_test_126", 20, {251, 250, 250}, {}},
    };
    for (const auto& row : rows)
    {
        const auto result = ReadReplay(*dir / (std::string(row.m_stem) + ".w3g"));
        ASSERT_TRUE(result.m_replay) << result.m_error.Text();
        const auto& replay = *result.m_replay;
        std::set<int> acting;
        for (std::size_t i = 0; i < row.m_intervals.size(); ++i)
        {
            const auto& slot = replay.m_timeSlots.at(row.m_firstSlot + i);
            EXPECT_EQ(slot.m_intervalMs, row.m_intervals[i]) << row.m_stem << " slot " << i;
            const auto bytes = replay.CommandBytes(slot);
            for (std::size_t at = 0; at + 3 <= bytes.size();
                 at += 3u + static_cast<std::size_t>(bytes[at + 1] | (bytes[at + 2] << 8)))
                acting.insert(bytes[at]);
        }
        if (!row.m_actingPlayers.empty())
        {
            EXPECT_EQ(acting, row.m_actingPlayers) << row.m_stem;
        }
    }
}

// The 1.02 file, which w3gjs cannot read: the players and observers that gowarcraft3's test
// and the format notes give for it.
TEST(ReplayKnownValuesTest, RocPlayersAndObservers)
{
    const auto dir = SamplesDir();
    if (!dir)
        GTEST_SKIP() << "VELT_REPLAYS_DIR is not set or absent";
    const auto result = ReadReplay(*dir / "gowarcraft3_test_102.w3g");
    ASSERT_TRUE(result.m_replay) << result.m_error.Text();
    const auto& replay = *result.m_replay;
    EXPECT_EQ(replay.m_header.m_product, "WAR3");
    EXPECT_EQ(replay.m_lobby.m_stat.m_mapChecksum, 325121041u);
    EXPECT_FALSE(replay.m_lobby.m_stat.m_mapSha1.has_value());
    EXPECT_EQ(replay.ObserverTeam(), 12);

    struct PlayerRow
    {
        int m_id;
        std::string m_name;
        int m_team;
        int m_race;
    };
    std::vector<PlayerRow> players;
    int observers = 0;
    for (const auto& slot : replay.m_lobby.m_slots)
    {
        if (slot.m_team == replay.ObserverTeam())
            ++observers;
        else
            players.push_back({slot.m_playerId, replay.DisplayName(slot.m_playerId), slot.m_team,
                               slot.m_race});
    }
    EXPECT_EQ(observers, 10);
    ASSERT_EQ(players.size(), 2u);
    EXPECT_EQ(players[0].m_id, 9);
    EXPECT_EQ(players[0].m_name, "IN.DoomGuard");
    EXPECT_EQ(players[0].m_team, 2);
    EXPECT_EQ(players[0].m_race, 0x20);
    EXPECT_EQ(players[1].m_id, 10);
    EXPECT_EQ(players[1].m_name, "Twinsen[pG]");
    EXPECT_EQ(players[1].m_team, 1);
    EXPECT_EQ(players[1].m_race, 0x02);
    EXPECT_EQ(replay.m_lobby.m_players.at(0).m_name, "Go4WC3.Desann");
}

} // namespace
