#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/Clock.h"
#include "server/CMatchInfo.h"
#include "server/MatchServerMessages.h"
#include "tools/matchd/SyntheticMatch.h"

namespace velt
{

// The count of the chunk that marks the end of a match's stream: above a full chunk, no data.
constexpr std::uint32_t kEndOfStreamCount = 0xFFFFFFFF;

// The matches the server offers, and what each request gets for them at the present moment.
// Live matches play from the archive's creation on: their stream, length and status follow the
// clock. Immutable after construction, so any number of threads may ask at once.
class CMatchArchive
{
public:
    CMatchArchive(std::vector<SyntheticMatch> matches, IClock& clock);

    std::size_t Count() const { return m_matches.size(); }
    const SyntheticMatch* Find(std::uint32_t matchId) const;

    // Catalogue records in the archive's order, live ones with their length so far and their
    // status turning completed once they are over.
    std::vector<CMatchInfo> Records() const;

    // The match's 1752-byte header with its length so far and live flag, or nothing for an
    // unknown match.
    std::vector<std::uint8_t> Header(std::uint32_t matchId) const;

    // The chunk for a data request: up to a full chunk from the offset when there is data; the
    // end marker once the offset is at or past the end of a finished stream; otherwise a chunk
    // of count 0 (also for an unknown match). The data points into the archive.
    GameDataChunk Chunk(std::uint32_t matchId, std::uint32_t offset) const;

private:
    struct Progress
    {
        std::uint32_t m_available = 0; // stream bytes released
        std::uint16_t m_seconds = 0;   // length so far
        bool m_over = false;
    };

    Progress ProgressOf(const SyntheticMatch& match) const;

    std::vector<SyntheticMatch> m_matches;
    std::unordered_map<std::uint32_t, std::size_t> m_index;
    IClock& m_clock;
    const std::uint64_t m_startMs;
};

} // namespace velt
