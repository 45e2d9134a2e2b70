#pragma once

#include <cstdint>
#include <vector>

#include "tools/matchd/SyntheticMatch.h"

namespace velt
{

struct SyntheticSettings
{
    std::uint64_t m_seed = 1;
    std::uint32_t m_count = 0;
    std::uint32_t m_liveCount = 0; // the first matches are live
    // Length of a match's game time, drawn per match.
    std::uint32_t m_minSeconds = 180;
    std::uint32_t m_maxSeconds = 3600;
};

// Longest game time of a generated match: its stream stays well inside the client's 2 MiB
// buffer, and its length in seconds inside the 16-bit fields.
constexpr std::uint32_t kMaxSyntheticSeconds = 7200;

// Match ids count up from here in generation order.
constexpr std::uint32_t kFirstSyntheticMatchId = 1;

// Plausible matches, the same ones for the same settings: 2 to 8 players and 1 to 3 observers
// with names, a melee map under Maps\, a start time, a header of real LAN packets and a
// recorded stream. Match i depends only on the seed, i and whether it is live.
std::vector<SyntheticMatch> GenerateSyntheticMatches(const SyntheticSettings& settings);
SyntheticMatch GenerateSyntheticMatch(const SyntheticSettings& settings, std::uint32_t index);

} // namespace velt
