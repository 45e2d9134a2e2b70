#include "server/CFrameAssembler.h"

#include <algorithm>
#include <cstring>

namespace velt
{

std::span<std::uint8_t> CFrameAssembler::FreeSpace()
{
    if (m_broken)
        return {};
    if (m_end == m_buffer.size())
        Compact();
    return std::span<std::uint8_t>(m_buffer).subspan(m_end);
}

void CFrameAssembler::Commit(std::size_t count)
{
    m_end = std::min(m_end + count, m_buffer.size());
}

std::optional<std::span<const std::uint8_t>> CFrameAssembler::Next()
{
    while (!m_broken)
    {
        if (m_skip > 0)
        {
            const std::size_t take = std::min(m_skip, m_end - m_begin);
            m_begin += take;
            m_skip -= take;
            if (m_skip > 0)
            {
                Compact();
                return std::nullopt;
            }
        }
        const std::span<const std::uint8_t> buffered(m_buffer.data() + m_begin, m_end - m_begin);
        const FrameCut cut = CutFrame(buffered);
        switch (cut.m_status)
        {
        case FrameStatus::kNeedMore:
            Compact();
            return std::nullopt;
        case FrameStatus::kMalformed:
            m_broken = true;
            m_begin = m_end = 0;
            return std::nullopt;
        case FrameStatus::kFrame:
            if (cut.m_discard)
            {
                m_skip = cut.m_frameSize;
                continue;
            }
            m_begin += cut.m_frameSize;
            return cut.m_body;
        }
    }
    return std::nullopt;
}

void CFrameAssembler::Compact()
{
    if (m_begin == 0)
        return;
    const std::size_t kept = m_end - m_begin;
    if (kept > 0)
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, kept);
    m_begin = 0;
    m_end = kept;
}

} // namespace velt
