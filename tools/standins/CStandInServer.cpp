#include "tools/standins/CStandInServer.h"

#include <optional>
#include <vector>

#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CReplayFileServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{

static_assert(CStandInServer::kReplayFileMatchId == CReplayFileServer::kMatchId);

struct CStandInServer::Parts
{
    // Made-up matches: the settings and the matches until Start hands them to the archive.
    SyntheticServerSettings m_settings;
    std::vector<SyntheticMatch> m_matches;
    std::uint32_t m_firstId = 0;
    std::uint32_t m_firstDurationMs = 0;
    CStatsStore m_stats;
    std::unique_ptr<CMatchArchive> m_archive;
    std::unique_ptr<CMatchServer> m_server; // after what it serves: stopped first
    // A file from disk.
    std::optional<std::string> m_path;
    std::unique_ptr<CReplayFileServer> m_file;
};

namespace
{

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

CStandInServer::CStandInServer(std::unique_ptr<Parts> parts) : m_parts(std::move(parts)) {}

CStandInServer::~CStandInServer()
{
    Stop();
}

std::unique_ptr<CStandInServer> CStandInServer::Synthetic(const SyntheticServerSettings& settings)
{
    auto parts = std::make_unique<Parts>();
    parts->m_settings = settings;
    SyntheticSettings generate;
    generate.m_seed = settings.m_seed;
    generate.m_count = settings.m_count;
    generate.m_liveCount = settings.m_liveCount;
    parts->m_matches = GenerateSyntheticMatches(generate);
    if (!parts->m_matches.empty())
    {
        parts->m_firstId = parts->m_matches.front().m_info.m_matchId;
        parts->m_firstDurationMs = parts->m_matches.front().m_durationMs;
    }
    return std::unique_ptr<CStandInServer>(new CStandInServer(std::move(parts)));
}

std::unique_ptr<CStandInServer> CStandInServer::ReplayFile(std::string path)
{
    auto parts = std::make_unique<Parts>();
    parts->m_path = std::move(path);
    return std::unique_ptr<CStandInServer>(new CStandInServer(std::move(parts)));
}

bool CStandInServer::Start(IClock& clock)
{
    Parts& parts = *m_parts;
    if (parts.m_path)
    {
        parts.m_file = std::make_unique<CReplayFileServer>();
        if (parts.m_file->Load(*parts.m_path) && parts.m_file->Start())
            return true;
        m_problem = parts.m_file->Problem();
        return false;
    }
    if (!parts.m_stats.Open(""))
    {
        m_problem = parts.m_stats.LastError();
        return false;
    }
    parts.m_archive = std::make_unique<CMatchArchive>(std::move(parts.m_matches), clock);
    if (parts.m_settings.m_seedStatistics)
        SeedStatistics(parts.m_stats, *parts.m_archive);
    MatchServerSettings settings;
    settings.m_listenHost = "127.0.0.1";
    settings.m_listenPort = 0;
    parts.m_server = std::make_unique<CMatchServer>(*parts.m_archive, parts.m_stats, settings);
    if (!parts.m_server->Start())
    {
        m_problem = parts.m_server->LastError();
        return false;
    }
    return true;
}

void CStandInServer::Stop()
{
    if (m_parts->m_server)
        m_parts->m_server->Stop();
    if (m_parts->m_file)
        m_parts->m_file->Stop();
}

std::uint16_t CStandInServer::Port() const
{
    if (m_parts->m_file)
        return m_parts->m_file->Port();
    return m_parts->m_server ? m_parts->m_server->Port() : 0;
}

std::string CStandInServer::ListenAddress() const
{
    return m_parts->m_server ? m_parts->m_server->ListenAddress()
                             : "127.0.0.1:" + std::to_string(Port());
}

std::uint32_t CStandInServer::FirstMatchId() const
{
    return m_parts->m_firstId;
}

std::uint32_t CStandInServer::FirstMatchDurationMs() const
{
    return m_parts->m_firstDurationMs;
}

} // namespace velt
