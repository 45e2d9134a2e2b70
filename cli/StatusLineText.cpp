#include "cli/StatusLineText.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/TerminalText.h"

namespace velt
{

namespace
{

// Parts of the line in the order shown. When the line is too long, the part with the highest
// drop rank goes first; rank 0 is never dropped.
struct Part
{
    std::string m_text;
    int m_dropRank = 0;
    bool m_glued = false; // joined to the previous part by a space instead of a separator
};

constexpr const char* kSeparator = " | ";
// A match's name takes at most this many columns; a longer one is cut and ends in "...".
constexpr std::size_t kNameColumns = 24;

// Speed levels as the viewer sees them: "1.0x" to "4.0x".
std::string SpeedText(std::uint8_t level)
{
    return std::to_string(std::clamp<int>(level, 1, 4)) + ".0x";
}

std::string Join(const std::vector<Part>& parts)
{
    std::string line;
    for (const Part& part : parts)
    {
        if (!line.empty())
            line += part.m_glued ? " " : kSeparator;
        line += part.m_text;
    }
    return line;
}

// The longest beginning of a UTF-8 text that takes at most `columns` terminal columns.
std::string CutToWidth(const std::string& text, std::size_t columns)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();)
    {
        std::size_t next = i + 1;
        while (next < text.size() && (static_cast<std::uint8_t>(text[next]) & 0xC0) == 0x80)
            ++next;
        width += TerminalWidth(std::string_view(text).substr(i, next - i));
        if (width > columns)
            return text.substr(0, i);
        i = next;
    }
    return text;
}

std::string ShortName(const std::string& name)
{
    const std::string safe = TerminalText(name);
    if (TerminalWidth(safe) <= kNameColumns)
        return safe;
    return CutToWidth(safe, kNameColumns - 3) + "...";
}

std::vector<Part> Parts(const HostStatus& status, const StatusLineFacts& facts)
{
    std::vector<Part> parts;
    parts.push_back({std::string("#").append(std::to_string(status.m_matchId)), 0, false});
    if (!facts.m_matchName.empty())
        parts.push_back({ShortName(facts.m_matchName), 3, true});

    if (!status.m_sessionActive)
        parts.push_back({facts.m_gamePort != 0 ? std::string("waiting for the game on 127.0.0.1:")
                                                     .append(std::to_string(facts.m_gamePort))
                                               : std::string("waiting for the game"),
                         0});
    else if (!status.m_inGame)
        parts.push_back({"in the lobby", 0});
    else
    {
        if (status.m_paused)
            parts.push_back({"paused", 0});
        else if (status.m_buffering)
            parts.push_back({"buffering", 0});
        const std::uint32_t played = status.m_gameTimeMs / 1000;
        std::string time = std::string("game ").append(ClockText(played));
        if (!status.m_live && status.m_matchSeconds != 0)
            time.append(" / ").append(ClockText(status.m_matchSeconds));
        parts.push_back({time, 0});
        if (status.m_live)
            parts.push_back(
                {ClockText(status.m_matchSeconds > played ? status.m_matchSeconds - played : 0) +
                     " behind live",
                 1});
        parts.push_back({SpeedText(status.m_speed), 2});
    }
    parts.push_back(
        {ByteCountText(status.m_bytesHeld) + (status.m_live ? " downloaded" : " held"), 4});
    if (status.m_inGame && status.m_bufferedAheadMs >= 1000)
        parts.push_back({std::to_string(status.m_bufferedAheadMs / 1000) + " s ahead", 6});
    if (status.m_live && status.m_liveDelaySeconds != 0)
        parts.push_back(
            {std::string("delay ").append(std::to_string(status.m_liveDelaySeconds)).append(" s"),
             5});
    return parts;
}

} // namespace

std::string ClockText(std::uint32_t seconds)
{
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
    return text;
}

std::string ByteCountText(std::uint32_t bytes)
{
    char text[32];
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%u B", bytes);
    else if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%u KiB", bytes / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

std::string StatusLineText(const HostStatus& status, const StatusLineFacts& facts,
                           std::size_t columns)
{
    const std::size_t room = (columns == 0 ? kDefaultStatusColumns : columns) - 1;
    std::vector<Part> parts = Parts(status, facts);
    std::string line = Join(parts);
    while (TerminalWidth(line) > room)
    {
        const auto highest = std::max_element(parts.begin(), parts.end(),
                                              [](const Part& a, const Part& b)
                                              { return a.m_dropRank < b.m_dropRank; });
        if (highest == parts.end() || highest->m_dropRank == 0)
            break;
        parts.erase(highest);
        line = Join(parts);
    }
    return CutToWidth(line, room);
}

} // namespace velt
