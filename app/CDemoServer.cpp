#include "app/CDemoServer.h"

#include "platform/Clock.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{

namespace
{

std::vector<SyntheticMatch> DemoMatches()
{
    SyntheticSettings settings;
    settings.m_seed = CDemoServer::kSeed;
    settings.m_count = CDemoServer::kMatchCount;
    settings.m_liveCount = CDemoServer::kLiveCount;
    return GenerateSyntheticMatches(settings);
}

MatchServerSettings DemoServerSettings()
{
    MatchServerSettings settings;
    settings.m_listenHost = "127.0.0.1";
    settings.m_listenPort = 0;
    return settings;
}

// Visits and ratings for most matches, so that every kind of cell shows: counts, "Unknown",
// "Unrated", plain and hot ratings.
void SeedStatistics(CStatsStore& stats, const CMatchArchive& archive)
{
    std::uint32_t index = 0;
    for (const CMatchInfo& info : archive.Records())
    {
        ++index;
        if (index % 4 == 0)
            continue;
        for (std::uint32_t visit = 0; visit < 3 + index * 7 % 40; ++visit)
            stats.AddVisit(info.m_matchId);
        for (std::uint32_t rating = 0; rating < index % 3 * 4; ++rating)
            stats.AddRating(info.m_matchId, static_cast<std::uint8_t>(3 + (index + rating) % 3));
    }
}

} // namespace

CDemoServer::CDemoServer()
    : m_archive(DemoMatches(), CSystemClock::Instance()),
      m_server(m_archive, m_stats, DemoServerSettings())
{
}

bool CDemoServer::Start()
{
    if (!m_stats.Open(""))
    {
        m_error = m_stats.LastError();
        return false;
    }
    SeedStatistics(m_stats, m_archive);
    if (!m_server.Start())
    {
        m_error = m_server.LastError();
        return false;
    }
    return true;
}

void CDemoServer::Stop()
{
    m_server.Stop();
}

} // namespace velt
