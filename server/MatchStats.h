#pragma once

#include <cstdint>

namespace velt
{

// Visits and ratings of one match, the 20 bytes of a statistics frame in wire order.
struct MatchStats
{
    std::uint32_t m_visits = 0;
    std::uint32_t m_ratingCount = 0;
    std::uint32_t m_ratingSum = 0; // each rating is 1 to 5
    std::uint32_t m_matchId = 0;   // the key in the statistics table
    std::uint32_t m_reserved = 0;  // carried, not used
};

} // namespace velt
