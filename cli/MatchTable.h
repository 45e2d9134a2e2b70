#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "server/MatchCatalogue.h"

namespace velt
{

class CMatchServerClient;

// One row of the match list as the list view shows it: the match id and the nine cells.
struct MatchRow
{
    std::uint32_t m_matchId = 0;
    std::array<std::string, 9> m_cells;
    bool m_mapMissing = false;
};

inline constexpr std::array<const char*, 9> kMatchColumns = {
    "Match Name",   "Players Info", "Map",    "Status", "Start Time",
    "Total Length", "Streamer",     "Visits", "Rating"};

// The rows of a catalogue snapshot in the list view's order: Start Time, descending.
std::vector<MatchRow> MatchRows(CMatchServerClient& client);

// "Match Id", then the nine columns, tab-separated; one line per row.
std::string FormatTsv(const std::vector<MatchRow>& rows);
// An aligned table for people.
std::string FormatTable(const std::vector<MatchRow>& rows);

} // namespace velt
