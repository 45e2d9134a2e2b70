#include "tools/matchd/CMatchArchive.h"

#include <algorithm>

#include "host/ReplayHeaderBuilder.h"

namespace velt
{

namespace
{

constexpr std::uint8_t kStatusLive = 0;
constexpr std::uint8_t kStatusCompleted = 1;

std::uint16_t Seconds(std::uint64_t ms)
{
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(ms / 1000, 0xFFFF));
}

} // namespace

CMatchArchive::CMatchArchive(std::vector<SyntheticMatch> matches, IClock& clock)
    : m_matches(std::move(matches)), m_clock(clock), m_startMs(clock.NowMs())
{
    for (std::size_t i = 0; i < m_matches.size(); ++i)
        m_index.emplace(m_matches[i].m_info.m_matchId, i);
}

const SyntheticMatch* CMatchArchive::Find(std::uint32_t matchId) const
{
    const auto found = m_index.find(matchId);
    return found == m_index.end() ? nullptr : &m_matches[found->second];
}

CMatchArchive::Progress CMatchArchive::ProgressOf(const SyntheticMatch& match) const
{
    Progress progress;
    if (!match.m_live)
    {
        progress.m_available = static_cast<std::uint32_t>(match.m_stream.size());
        progress.m_seconds = Seconds(match.m_durationMs);
        progress.m_over = true;
        return progress;
    }
    const std::uint64_t now = m_clock.NowMs();
    const std::uint64_t elapsed = now > m_startMs ? now - m_startMs : 0;
    progress.m_available = match.StreamEndAt(elapsed);
    progress.m_over = elapsed >= match.m_durationMs;
    progress.m_seconds = Seconds(std::min<std::uint64_t>(elapsed, match.m_durationMs));
    return progress;
}

std::vector<CMatchInfo> CMatchArchive::Records() const
{
    std::vector<CMatchInfo> records;
    records.reserve(m_matches.size());
    for (const SyntheticMatch& match : m_matches)
    {
        const Progress progress = ProgressOf(match);
        CMatchInfo info = match.m_info;
        info.m_length = progress.m_seconds;
        info.m_status = progress.m_over ? kStatusCompleted : kStatusLive;
        records.push_back(std::move(info));
    }
    return records;
}

std::vector<std::uint8_t> CMatchArchive::Header(std::uint32_t matchId) const
{
    const SyntheticMatch* match = Find(matchId);
    if (match == nullptr)
        return {};
    const Progress progress = ProgressOf(*match);
    std::vector<std::uint8_t> header = match->m_header;
    PatchReplayHeaderProgress(header, progress.m_seconds, !progress.m_over);
    return header;
}

GameDataChunk CMatchArchive::Chunk(std::uint32_t matchId, std::uint32_t offset) const
{
    GameDataChunk chunk;
    chunk.m_matchId = matchId;
    chunk.m_offset = offset;
    const SyntheticMatch* match = Find(matchId);
    if (match == nullptr)
        return chunk;
    const Progress progress = ProgressOf(*match);
    chunk.m_matchSeconds = progress.m_seconds;
    if (offset >= progress.m_available)
    {
        const bool ended = progress.m_over && progress.m_available == match->m_stream.size();
        chunk.m_count = ended ? kEndOfStreamCount : 0;
        return chunk;
    }
    chunk.m_count = std::min(kFullChunkSize, progress.m_available - offset);
    chunk.m_data = std::span(match->m_stream).subspan(offset, chunk.m_count);
    return chunk;
}

} // namespace velt
