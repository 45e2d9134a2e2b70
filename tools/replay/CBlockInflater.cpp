#include "tools/replay/CBlockInflater.h"

namespace velt
{

CBlockInflater::CBlockInflater()
{
    m_ok = inflateInit(&m_stream) == Z_OK;
}

CBlockInflater::~CBlockInflater()
{
    if (m_ok)
        inflateEnd(&m_stream);
}

std::size_t CBlockInflater::Inflate(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                                    bool& corrupt)
{
    corrupt = false;
    inflateReset(&m_stream);
    m_stream.next_in = const_cast<Bytef*>(in.data());
    m_stream.avail_in = static_cast<uInt>(in.size());
    m_stream.next_out = out.data();
    m_stream.avail_out = static_cast<uInt>(out.size());
    while (m_stream.avail_out > 0)
    {
        // Z_BUF_ERROR: no progress possible, the input is used up.
        const int result = inflate(&m_stream, Z_SYNC_FLUSH);
        if (result == Z_STREAM_END || result == Z_BUF_ERROR)
            break;
        if (result != Z_OK)
        {
            corrupt = true;
            break;
        }
    }
    return out.size() - m_stream.avail_out;
}

} // namespace velt
