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

CDemoServer::CDemoServer() = default;

CDemoServer::~CDemoServer()
{
    m_starter.Join();
    Stop();
}

bool CDemoServer::Start()
{
    if (!m_stats.Open(""))
    {
        m_error = m_stats.LastError();
        return false;
    }
    m_archive = std::make_unique<CMatchArchive>(DemoMatches(), CSystemClock::Instance());
    SeedStatistics(m_stats, *m_archive);
    m_server = std::make_unique<CMatchServer>(*m_archive, m_stats, DemoServerSettings());
    if (!m_server->Start())
    {
        m_error = m_server->LastError();
        return false;
    }
    m_listening.store(true, std::memory_order_release);
    return true;
}

bool CDemoServer::StartInBackground()
{
    return m_starter.Start(
        [this]
        {
            Start();
            m_started.Set();
        });
}

std::optional<std::uint16_t> CDemoServer::WaitStarted(std::uint32_t timeoutMs)
{
    if (!m_started.Wait(timeoutMs) || !m_listening.load(std::memory_order_acquire))
        return std::nullopt;
    return Port();
}

void CDemoServer::Stop()
{
    if (m_server)
        m_server->Stop();
}

std::uint16_t CDemoServer::Port() const
{
    return m_listening.load(std::memory_order_acquire) ? m_server->Port() : 0;
}

} // namespace velt
