#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "server/CMatchInfo.h"

namespace velt
{

// How far the stream reaches at a point of game time: after the time slot that ends at
// m_gameTimeMs (and the chat and leave packets recorded right after it) the stream is
// m_streamEnd bytes long.
struct StreamMark
{
    std::uint32_t m_gameTimeMs = 0;
    std::uint32_t m_streamEnd = 0;
};

// One match that the stand-in server offers: its catalogue record, its replay header and its
// whole recorded stream. A live match releases the stream at the pace of its own game time.
struct SyntheticMatch
{
    CMatchInfo m_info; // status and length as when the match is over
    std::vector<std::uint8_t> m_header;
    std::vector<std::uint8_t> m_stream;
    std::vector<StreamMark> m_marks; // in increasing game time; the last one ends the stream
    std::uint32_t m_durationMs = 0;
    bool m_live = false;

    // Bytes of the stream recorded up to a game time.
    std::uint32_t StreamEndAt(std::uint64_t gameTimeMs) const
    {
        const auto after = std::upper_bound(m_marks.begin(), m_marks.end(), gameTimeMs,
                                            [](std::uint64_t time, const StreamMark& mark)
                                            { return time < mark.m_gameTimeMs; });
        return after == m_marks.begin() ? 0 : std::prev(after)->m_streamEnd;
    }
};

} // namespace velt
