// The reader against two independent readings of the sample replays: the w3gjs parser's output
// (*.parsed.json) and a record-by-record walk (*.walk.json). Our result is put into each
// oracle's shape and compared key by key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/tools/replay/ReplayBuilder.h"
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

void PrintTo(const SampleRow& row, std::ostream* out)
{
    *out << row.m_stem;
}

const SampleRow kSamples[] = {
    {"gowarcraft3_test_102", false},
    {"gowarcraft3_test_126", true},
    {"gowarcraft3_test_130", true},
    {"w3gjs_standard_129_obs", true},
    {"w3gjs_ced_vs_lyn", true},
    {"w3gjs_2.0.2-Melee", true},
    // Kept back for acceptance checks; read when present.
    {"gowarcraft3_test_132", true},
    {"w3gjs_999", true},
};

// Action ids for which w3gjs reports no count.
const std::set<int> kIdsW3gjsSkips = {0x01, 0x02, 0x50, 0x60, 0x62, 0x69, 0x6A, 0x7A, 0x7B};

// w3gjs's colour table for slot colours 0..23.
const char* const kW3gjsColours[] = {
    "#ff0303", "#0042ff", "#1ce6b9", "#540081", "#fffc00", "#fe8a0e", "#20c000", "#e55bb0",
    "#959697", "#7ebff1", "#106246", "#4e2a04", "#9b0000", "#0000c3", "#00eaff", "#be00fe",
    "#ebcd87", "#f8a48b", "#bfff80", "#dcb9eb", "#282828", "#ebf0ff", "#00781e", "#a46f33"};

const char* const kW3gjsChatModes[] = {"All", "Team", "Obervers" /* sic */, "Private"};

std::optional<std::filesystem::path> SamplesDir()
{
    const char* dir = std::getenv("VELT_REPLAYS_DIR");
    if (dir == nullptr || !std::filesystem::is_directory(dir))
        return std::nullopt;
    return std::filesystem::path(dir);
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
    const std::map<int, std::string> letters = {
        {0x01, "H"}, {0x02, "O"}, {0x04, "N"}, {0x08, "U"}, {0x20, "R"}};
    const auto it = letters.find(race & 0x3F);
    return it == letters.end() ? "?" : it->second;
}

json RecordView(const ReplayPlayerRecord& record)
{
    return {{"pid", record.m_playerId},
            {"name", record.m_name},
            {"addlen", record.m_extra.size()},
            {"trailer", record.m_trailer}};
}

json ActionTotals(const ReplayFile& replay, bool w3gjsIds)
{
    json totals = json::object();
    for (int id = 0; id < 256; ++id)
    {
        std::uint32_t total = 0;
        for (const auto& player : replay.m_actions)
            total += player.m_byActionId[static_cast<std::size_t>(id)];
        if (total != 0 && !(w3gjsIds && kIdsW3gjsSkips.count(id) != 0))
            totals[PyHex(static_cast<std::uint64_t>(id))] = total;
    }
    return totals;
}

// Our result in the shape of the walk's JSON.
json WalkView(const ReplayFile& replay)
{
    const auto& header = replay.m_header;
    const auto& lobby = replay.m_lobby;
    json view;
    view["header"] = {{"header_size", header.m_headerSize},
                      {"file_size_field", header.m_fileSize},
                      {"header_version", header.m_headerVersion},
                      {"decompressed_size", header.m_decompressedSize},
                      {"blocks", header.m_blockCount},
                      {"version", header.m_version},
                      {"build", header.m_build},
                      {"flags", PyHex(header.m_flags)},
                      {"length_ms", header.m_lengthMs},
                      // A file whose checksums fail is not read at all.
                      {"header_crc_ok", true},
                      {"block_header_bytes", header.m_blockHeaderSize},
                      {"all_block_crcs_ok", true}};
    if (header.m_headerVersion == 1)
        view["header"]["product"] = header.m_product;
    std::string sha1;
    for (auto byte : lobby.m_stat.m_mapSha1.value_or(std::array<std::uint8_t, 20>{}))
        sha1 += LeHex(byte).substr(0, 2);
    auto& meta = view["meta"];
    meta["first4"] = LeHex(lobby.m_gameInfoPrefix);
    meta["host"] = RecordView(lobby.m_host);
    meta["host"].erase("trailer");
    meta["host"]["recordid"] = lobby.m_host.m_recordId;
    meta["game_name"] = lobby.m_gameName;
    meta["second_string"] = lobby.m_privateString;
    meta["stat"] = {{"flags", PyHex(lobby.m_stat.m_gameFlags)},
                    {"byte4", lobby.m_stat.m_unknown},
                    {"width", lobby.m_stat.m_mapWidth},
                    {"height", lobby.m_stat.m_mapHeight},
                    {"xoro", PyHex(lobby.m_stat.m_mapChecksum)},
                    {"map", lobby.m_stat.m_mapPath},
                    {"host", lobby.m_stat.m_hostName},
                    {"empty3", ""},
                    {"sha1", lobby.m_stat.m_mapSha1 ? sha1 : ""},
                    {"len", lobby.m_stat.m_decoded.size()},
                    {"enc_len", lobby.m_encodedStatString.size()}};
    meta["player_count"] = lobby.m_playerCount;
    meta["game_type"] = PyHex(lobby.m_gameType);
    meta["language"] = PyHex(lobby.m_language);
    meta["player_list"] = json::array();
    for (const auto& player : lobby.m_players)
        meta["player_list"].push_back(RecordView(player));
    meta["extra_records"] = json::array();
    for (const auto& record : lobby.m_metadata)
        meta["extra_records"].push_back({{"rid", PyHex(record.m_recordId)},
                                         {"sub", record.m_subtype},
                                         {"len", record.m_body.size()}});
    meta["slot_bytes"] = lobby.m_slotTable.size() - 2;
    meta["slot_size"] = lobby.m_slotRecordSize;
    meta["slots"] = json::array();
    for (const auto& slot : lobby.m_slots)
    {
        const json all = {slot.m_playerId, slot.m_downloadStatus, slot.m_slotStatus,
                          slot.m_computer, slot.m_team,           slot.m_colour,
                          slot.m_race,     slot.m_computerType,   slot.m_handicap};
        meta["slots"].push_back(
            json(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(lobby.m_slotRecordSize)));
    }
    meta["seed"] = lobby.m_randomSeed;
    meta["select_mode"] = PyHex(lobby.m_selectMode);
    meta["start_spots"] = lobby.m_startSpots;
    view["post202"] = lobby.m_post202Format;

    json records = json::object();
    for (std::size_t id = 0; id < replay.m_recordCounts.size(); ++id)
        if (replay.m_recordCounts[id] != 0)
            records[PyHex(id)] = replay.m_recordCounts[id];
    view["records"] = records;
    json checksumSizes = json::object();
    for (const auto& slot : replay.m_timeSlots)
        if (slot.m_checksumSize != 0)
        {
            auto& count = checksumSizes[std::to_string(slot.m_checksumSize)];
            count = count.is_null() ? 1 : count.get<int>() + 1;
        }
    view["checksum_record_sizes"] = checksumSizes;
    view["time_sum_ms"] = replay.m_durationMs;
    view["leaves"] = json::array();
    for (const auto& leave : replay.m_leaves)
        view["leaves"].push_back({{"t", leave.m_timeMs},
                                  {"pid", leave.m_playerId},
                                  {"reason", PyHex(leave.m_reason)},
                                  {"result", PyHex(leave.m_result)},
                                  {"counter", leave.m_counter}});
    view["chats"] = json::array();
    for (const auto& chat : replay.m_chat)
        view["chats"].push_back({{"t", chat.m_timeMs},
                                 {"pid", chat.m_senderId},
                                 {"flag", PyHex(chat.m_flags)},
                                 {"mode", chat.m_mode},
                                 {"msg", chat.m_text}});
    view["action_counts"] = ActionTotals(replay, false);
    view["action_error_count"] = replay.m_actionWalkErrors;
    // Up to 1.02 the 0x1E records are the time slots; the walk lists the first ten.
    for (std::size_t i = 0; header.m_headerVersion == 0 && i < 10; ++i)
    {
        const auto& slot = replay.m_timeSlots.at(i);
        view["fragment_0x1e"].push_back({{"t", slot.m_timeMs - slot.m_intervalMs},
                                         {"inc", slot.m_intervalMs},
                                         {"n", slot.m_dataSize + 2}});
    }
    return view;
}

// w3gjs takes BattleTags only from flat profiles; with nested ones (early 1.32) it keeps the
// recorded, truncated names.
std::string W3gjsName(const ReplayFile& replay, std::uint8_t playerId)
{
    for (const auto& profile : replay.m_lobby.m_profiles)
        if (profile.m_playerId == playerId && !profile.m_nested && !profile.m_battleTag.empty())
            return profile.m_battleTag;
    return replay.RecordedName(playerId);
}

// Our result in the shape of the w3gjs dump, with its conventions: computers named
// "Computer" with id 0, observers by team, fragments counted as time slots.
json W3gjsView(const ReplayFile& replay)
{
    const auto& lobby = replay.m_lobby;
    json view;
    view["gameName"] = lobby.m_gameName;
    view["map"] = {{"path", lobby.m_stat.m_mapPath},
                   {"checksum", LeHex(lobby.m_stat.m_mapChecksum)}};
    view["randomSeed"] = lobby.m_randomSeed;
    view["startSpots"] = lobby.m_startSpots;
    view["durationMs"] = replay.m_header.m_lengthMs;
    view["summedTimeIncrementsMs"] = replay.m_durationMs;
    view["timeslotCount"] = replay.m_recordCounts[0x1E] + replay.m_recordCounts[0x1F];
    view["players"] = json::array();
    view["observers"] = json::array();
    for (const auto& slot : lobby.m_slots)
    {
        if (slot.m_slotStatus != 2)
            continue;
        if (slot.m_team == replay.ObserverTeam())
        {
            view["observers"].push_back(W3gjsName(replay, slot.m_playerId));
            continue;
        }
        const bool computer = slot.m_computer != 0;
        const auto* actions = replay.ActionsOf(slot.m_playerId);
        const auto categories = actions != nullptr ? actions->m_categories : ActionCategoryCounts{};
        view["players"].push_back(
            {{"id", slot.m_playerId},
             {"name", computer ? std::string("Computer") : W3gjsName(replay, slot.m_playerId)},
             {"teamid", slot.m_team},
             {"color", kW3gjsColours[slot.m_colour % 24]},
             {"race", RaceLetter(slot.m_race)},
             {"actions",
              {{"assigngroup", categories.m_assignGroup},
               {"rightclick", categories.m_rightClick},
               {"basic", categories.m_basic},
               {"buildtrain", categories.m_buildTrain},
               {"ability", categories.m_ability},
               {"item", categories.m_item},
               {"select", categories.m_select},
               {"removeunit", categories.m_removeUnit},
               {"subgroup", 0},
               {"selecthotkey", categories.m_selectHotkey},
               {"esc", categories.m_esc}}}});
    }
    view["chat"] = json::array();
    for (const auto& chat : replay.m_chat)
        view["chat"].push_back({{"playerName", W3gjsName(replay, chat.m_senderId)},
                                {"playerId", chat.m_senderId},
                                {"message", chat.m_text},
                                {"mode", kW3gjsChatModes[std::min<std::uint32_t>(chat.m_mode, 3)]},
                                {"timeMS", chat.m_timeMs}});
    view["leaveGameBlocks"] = json::array();
    for (const auto& leave : replay.m_leaves)
        view["leaveGameBlocks"].push_back({{"timeMs", leave.m_timeMs},
                                           {"playerId", leave.m_playerId},
                                           {"reason", LeHex(leave.m_reason)},
                                           {"result", LeHex(leave.m_result)}});
    view["actionIdCounts"] = ActionTotals(replay, true);
    view["gameDataBlockCounts"] = {{"0x1f", view["timeslotCount"]}};
    for (int id : {0x17, 0x20})
        if (replay.m_recordCounts[static_cast<std::size_t>(id)] != 0)
            view["gameDataBlockCounts"][PyHex(static_cast<std::uint64_t>(id))] =
                replay.m_recordCounts[static_cast<std::size_t>(id)];
    return view;
}

// The same keys with the same values; players are matched by id since
// w3gjs orders them by team.
void ExpectAgreement(const json& view, const json& expected, const std::string& path)
{
    if (expected.is_object())
    {
        ASSERT_TRUE(view.is_object()) << path;
        for (const auto& [key, value] : view.items())
            EXPECT_TRUE(expected.contains(key)) << path << "/" << key << " = " << value << " extra";
        for (const auto& [key, value] : expected.items())
        {
            ASSERT_TRUE(view.contains(key)) << path << "/" << key;
            ExpectAgreement(view[key], value, path + "/" + key);
        }
        return;
    }
    if (expected.is_array() && path.ends_with("/players"))
    {
        ASSERT_EQ(view.size(), expected.size()) << path;
        for (const auto& player : expected)
        {
            const auto match = std::find_if(view.begin(), view.end(),
                                            [&](const json& p) { return p["id"] == player["id"]; });
            ASSERT_NE(match, view.end()) << path << " id " << player["id"];
            ExpectAgreement(*match, player, path + "/" + player["id"].dump());
        }
        return;
    }
    if (expected.is_array() && expected.size() == view.size())
    {
        for (std::size_t i = 0; i < expected.size(); ++i)
            ExpectAgreement(view[i], expected[i], path + "/" + std::to_string(i));
        return;
    }
    EXPECT_EQ(view, expected) << path;
}

class ReplayOracleTest : public ::testing::TestWithParam<SampleRow>
{
protected:
    void SetUp() override
    {
        m_dir = SamplesDir();
        const auto path = m_dir.value_or("") / (std::string(GetParam().m_stem) + ".w3g");
        if (!m_dir || !std::filesystem::exists(path))
            GTEST_SKIP() << "VELT_REPLAYS_DIR is not set, or the sample is absent";
        auto result = ReadReplay(path);
        ASSERT_TRUE(result.m_replay) << result.m_error.Text();
        m_replay = std::move(*result.m_replay);
    }

    json Oracle(const char* kind) const
    {
        std::ifstream in(*m_dir / (std::string(GetParam().m_stem) + kind));
        return json::parse(in);
    }

    std::optional<std::filesystem::path> m_dir;
    ReplayFile m_replay;
};

TEST_P(ReplayOracleTest, AgreesWithWalk)
{
    json walk = Oracle(".walk.json");
    const json view = WalkView(m_replay);
    // What the walk knows that a reader has no field for: facts about its own run.
    for (const char* key :
         {"actual_size", "inflated_total", "trailing_zero_padding", "trailing_bytes_after_blocks",
          "zlib_header_bytes", "block_decompressed_sizes", "inflated_sizes_eq_declared",
          "product_raw"})
        walk["header"].erase(key);
    if (m_replay.m_header.m_headerVersion == 0)
        walk["header"].erase("product");
    for (const char* key :
         {"note", "first_records", "record_after_timeslot", "fragment_0x1e_count", "action_errors"})
        walk.erase(key);
    if (m_replay.m_header.m_headerVersion != 0)
        walk.erase("fragment_0x1e"); // joined into their time slots instead
    ExpectAgreement(view, walk, "");
}

TEST_P(ReplayOracleTest, AgreesWithW3gjs)
{
    if (!GetParam().m_hasParsed)
        GTEST_SKIP() << "w3gjs cannot read this version";
    const json parsed = Oracle(".parsed.json");
    json expected;
    for (const char* key : {"gameName", "randomSeed", "startSpots", "durationMs",
                            "summedTimeIncrementsMs", "timeslotCount", "observers", "chat",
                            "leaveGameBlocks", "actionIdCounts", "gameDataBlockCounts"})
        expected[key] = parsed[key];
    expected["map"] = {{"path", parsed["map"]["path"]}, {"checksum", parsed["map"]["checksum"]}};
    for (const auto& player : parsed["players"])
    {
        json kept;
        for (const char* key : {"id", "name", "teamid", "color", "race", "actions"})
            kept[key] = player[key];
        expected["players"].push_back(kept);
    }
    ExpectAgreement(W3gjsView(m_replay), expected, "");
}

INSTANTIATE_TEST_SUITE_P(Samples, ReplayOracleTest, ::testing::ValuesIn(kSamples),
                         [](const auto& info) { return test::SampleTestName(info.param.m_stem); });

} // namespace
