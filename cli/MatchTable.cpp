#include "cli/MatchTable.h"

#include <algorithm>

#include "cli/TerminalText.h"
#include "server/CMatchServerClient.h"
#include "listing/ListOrder.h"

namespace velt
{

namespace
{

constexpr std::size_t kStartTimeColumn = 4;

} // namespace

std::vector<MatchRow> MatchRows(CMatchServerClient& client)
{
    std::vector<MatchRow> rows;
    for (const auto& entry : client.CatalogueSnapshot())
    {
        const CMatchInfo& info = entry.m_info;
        MatchRow row;
        row.m_matchId = info.m_matchId;
        row.m_cells = {
            info.m_matchName,          info.m_playersInfo,        info.m_mapPath,
            StatusText(info.m_status), info.m_startTime,          info.m_lengthText,
            info.m_streamer,           VisitsText(entry.m_stats), RatingText(entry.m_stats).m_text};
        row.m_mapMissing = !client.MapFileExists(info.m_mapPath);
        rows.push_back(std::move(row));
    }
    std::vector<std::string> startTimes;
    for (const auto& row : rows)
        startTimes.push_back(row.m_cells[kStartTimeColumn]);
    std::vector<MatchRow> ordered;
    for (std::size_t index : SortRowOrder(startTimes, false))
        ordered.push_back(std::move(rows[index]));
    return ordered;
}

std::string FormatTsv(const std::vector<MatchRow>& rows)
{
    std::string out = "Match Id";
    for (const char* column : kMatchColumns)
        out.append("\t").append(column);
    out.push_back('\n');
    for (const auto& row : rows)
    {
        out += std::to_string(row.m_matchId);
        for (const auto& cell : row.m_cells)
            out.append("\t").append(TerminalText(cell));
        out.push_back('\n');
    }
    return out;
}

std::string FormatTable(const std::vector<MatchRow>& rows)
{
    std::vector<std::vector<std::string>> lines;
    lines.push_back({"Match Id"});
    lines.back().insert(lines.back().end(), kMatchColumns.begin(), kMatchColumns.end());
    for (const auto& row : rows)
    {
        std::vector<std::string> line{std::to_string(row.m_matchId)};
        for (const auto& cell : row.m_cells)
            line.push_back(TerminalText(cell));
        if (row.m_mapMissing)
            line[3] += " (missing)";
        lines.push_back(std::move(line));
    }
    std::vector<std::size_t> widths(lines.front().size(), 0);
    for (const auto& line : lines)
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], TerminalWidth(line[i]));
    std::string out;
    for (std::size_t n = 0; n < lines.size(); ++n)
    {
        std::string text;
        for (std::size_t i = 0; i < lines[n].size(); ++i)
        {
            text += lines[n][i];
            if (i + 1 < lines[n].size())
                text.append(widths[i] - TerminalWidth(lines[n][i]) + 2, ' ');
        }
        out += text + "\n";
        if (n == 0)
        {
            std::size_t total = 0;
            for (auto w : widths)
                total += w + 2;
            out += std::string(total - 2, '-') + "\n";
        }
    }
    if (rows.empty())
        out += "(no matches)\n";
    return out;
}

} // namespace velt
