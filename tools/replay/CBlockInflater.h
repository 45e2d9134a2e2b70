#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <zlib.h>

namespace velt
{

// One inflate stream reused for every block of a replay; each block is an independent zlib
// stream.
class CBlockInflater
{
public:
    CBlockInflater();
    ~CBlockInflater();
    CBlockInflater(const CBlockInflater&) = delete;
    CBlockInflater& operator=(const CBlockInflater&) = delete;

    bool Ok() const { return m_ok; }

    // Bytes produced. The game never terminates its streams, so a full output buffer is the
    // normal end; a stream that ends or starves early produces fewer bytes. corrupt is set
    // when zlib rejects the data.
    std::size_t Inflate(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                        bool& corrupt);

private:
    z_stream m_stream{};
    bool m_ok = false;
};

} // namespace velt
