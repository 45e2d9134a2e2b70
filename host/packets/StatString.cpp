#include "host/packets/StatString.h"

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

#include <algorithm>

namespace velt
{

namespace
{

constexpr std::size_t kGroupSize = 7;

} // namespace

std::vector<std::uint8_t> BuildStatString(const StatStringFields& fields)
{
    CByteWriter writer(32 + fields.m_mapPath.size() + fields.m_hostName.size());
    writer.U32(fields.m_gameFlags)
        .U8(0)
        .U16(fields.m_mapWidth)
        .U16(fields.m_mapHeight)
        .U32(fields.m_mapXoro)
        .CString(fields.m_mapPath)
        .CString(fields.m_hostName)
        .U8(0);
    return writer.Take();
}

std::optional<StatStringFields> ParseStatString(std::span<const std::uint8_t> decoded)
{
    CByteReader reader(decoded);
    StatStringFields fields;
    fields.m_gameFlags = reader.U32();
    reader.Skip(1);
    fields.m_mapWidth = reader.U16();
    fields.m_mapHeight = reader.U16();
    fields.m_mapXoro = reader.U32();
    fields.m_mapPath = reader.CString(kStatStringMaxText);
    fields.m_hostName = reader.CString(kStatStringMaxText);
    const bool emptyThird = reader.U8() == 0;
    // Newer games append the map's 20-byte scripts SHA-1; both forms are valid.
    const bool tailOk = reader.AtEnd() || reader.Remaining() == 20;
    if (!reader.Ok() || !emptyThird || !tailOk)
        return std::nullopt;
    return fields;
}

std::vector<std::uint8_t> EncodeStatString(std::span<const std::uint8_t> decoded)
{
    std::vector<std::uint8_t> out;
    out.reserve(decoded.size() + decoded.size() / kGroupSize + 1);
    for (std::size_t start = 0; start < decoded.size(); start += kGroupSize)
    {
        const std::size_t maskAt = out.size();
        std::uint8_t mask = 0x01;
        out.push_back(0);
        const std::size_t end = std::min(decoded.size(), start + kGroupSize);
        for (std::size_t i = start; i < end; ++i)
        {
            const std::uint8_t byte = decoded[i];
            if (byte % 2 == 1)
            {
                mask |= static_cast<std::uint8_t>(1u << (i - start + 1));
                out.push_back(byte);
            }
            else
            {
                out.push_back(static_cast<std::uint8_t>(byte + 1));
            }
        }
        out[maskAt] = mask;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> DecodeStatString(std::span<const std::uint8_t> encoded)
{
    std::vector<std::uint8_t> out;
    out.reserve(encoded.size());
    std::uint8_t mask = 0;
    for (std::size_t i = 0; i < encoded.size(); ++i)
    {
        const std::uint8_t byte = encoded[i];
        if (byte == 0)
            return std::nullopt;
        if (i % (kGroupSize + 1) == 0)
        {
            if ((byte & 0x01) == 0 || i + 1 == encoded.size())
                return std::nullopt;
            mask = byte;
            continue;
        }
        // Every data byte of a valid encoding is odd: odd bytes stay, even ones were raised.
        if (byte % 2 == 0)
            return std::nullopt;
        const bool odd = (mask >> (i % (kGroupSize + 1))) & 1;
        out.push_back(odd ? byte : static_cast<std::uint8_t>(byte - 1));
    }
    return out;
}

} // namespace velt
