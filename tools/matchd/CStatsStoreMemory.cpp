// The statistics store of builds without SQLite: counts in memory, no file.
#include "tools/matchd/CStatsStore.h"

namespace velt
{

CStatsStore::CStatsStore() = default;
CStatsStore::~CStatsStore() = default;

bool CStatsStore::Open(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_counts.clear();
    m_open = path.empty();
    m_error = m_open ? std::string() : "cannot open " + path + ": " + kMemoryOnlyMessage;
    return m_open;
}

std::string CStatsStore::LastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

void CStatsStore::AddVisit(std::uint32_t matchId)
{
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return;
    auto& stats = m_counts[matchId];
    if (stats.m_visits != UINT32_MAX)
        ++stats.m_visits;
}

bool CStatsStore::AddRating(std::uint32_t matchId, std::uint8_t rating)
{
    if (rating < kMinRating || rating > kMaxRating)
        return false;
    std::lock_guard lock(m_mutex);
    if (!m_open)
        return false;
    auto& stats = m_counts[matchId];
    // Saturate as the database's counts are clamped when read.
    if (stats.m_ratingCount == UINT32_MAX || stats.m_ratingSum > UINT32_MAX - rating)
        return true;
    ++stats.m_ratingCount;
    stats.m_ratingSum += rating;
    return true;
}

MatchStats CStatsStore::Stats(std::uint32_t matchId) const
{
    MatchStats stats;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_counts.find(matchId); it != m_counts.end())
            stats = it->second;
    }
    stats.m_matchId = matchId;
    return stats;
}

} // namespace velt
