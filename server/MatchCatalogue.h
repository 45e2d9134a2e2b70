#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/CMatchInfo.h"
#include "server/MatchStats.h"

namespace velt
{

// How long a front end waits for the end of a match list or the channel's refusal.
constexpr std::uint32_t kListWaitMs = 6000;

// The texts the match list shows, shared by the list view and the command line.

// "59 min:59 sec" below an hour, "1 hr :5 min:30 sec" from an hour on.
std::string LengthText(std::uint32_t seconds);

// "Live!", "Completed", "Broken"; any other value as "Unknown (n)".
std::string StatusText(std::uint8_t status);

// The visit count, or "Unknown" for a match without statistics.
std::string VisitsText(const std::optional<MatchStats>& stats);

struct RatingCell
{
    std::string m_text; // "4.5(Hot!)", "4.0", "Unrated"
    bool m_hot = false; // average above 4.0
};

// The average rating with one decimal, "(Hot!)" appended above 4.0; "Unrated" without
// statistics or without ratings.
RatingCell RatingText(const std::optional<MatchStats>& stats);

// One row's worth of the catalogue: the match and its statistics if the server sent any.
struct CatalogueEntry
{
    CMatchInfo m_info;
    std::optional<MatchStats> m_stats;
};

} // namespace velt
