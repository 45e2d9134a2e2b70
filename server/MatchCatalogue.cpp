#include "server/MatchCatalogue.h"

#include <charconv>
#include <cstdio>
#include <iterator>

namespace velt
{

std::string LengthText(std::uint32_t seconds)
{
    char text[64];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u hr :%u min:%u sec", seconds / 3600,
                      (seconds / 60) % 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u min:%u sec", seconds / 60, seconds % 60);
    return text;
}

std::string StatusText(std::uint8_t status)
{
    static constexpr const char* kStatusWords[] = {"Live!", "Completed", "Broken"};
    if (status < std::size(kStatusWords))
        return kStatusWords[status];
    return "Unknown (" + std::to_string(status) + ")";
}

std::string VisitsText(const std::optional<MatchStats>& stats)
{
    if (!stats)
        return "Unknown";
    return std::to_string(stats->m_visits);
}

RatingCell RatingText(const std::optional<MatchStats>& stats)
{
    if (!stats || stats->m_ratingCount == 0)
        return {"Unrated", false};
    const double average =
        static_cast<double>(stats->m_ratingSum) / static_cast<double>(stats->m_ratingCount);
    // One decimal, with a point whatever the process locale says (the desktop client sets one).
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, average, std::chars_format::fixed, 1);
    RatingCell cell{std::string(text, result.ptr), average > 4.0};
    if (cell.m_hot)
        cell.m_text += "(Hot!)";
    return cell;
}

} // namespace velt
