#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velt
{

// Little-endian byte writer for building wire messages. Length fields are written as
// placeholders and patched once the body is complete.
class CByteWriter
{
public:
    CByteWriter() = default;
    explicit CByteWriter(std::size_t reserve) { m_bytes.reserve(reserve); }

    CByteWriter& U8(std::uint8_t v)
    {
        m_bytes.push_back(v);
        return *this;
    }
    CByteWriter& U16(std::uint16_t v) { return Le(v, 2); }
    CByteWriter& U32(std::uint32_t v) { return Le(v, 4); }
    // Big-endian 16-bit value (network order, as in a sockaddr port).
    CByteWriter& U16Be(std::uint16_t v)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        m_bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    CByteWriter& U32Be(std::uint32_t v)
    {
        return U16Be(static_cast<std::uint16_t>(v >> 16)).U16Be(static_cast<std::uint16_t>(v));
    }
    CByteWriter& CString(std::string_view text)
    {
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        m_bytes.push_back(0);
        return *this;
    }
    CByteWriter& Bytes(std::span<const std::uint8_t> bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    CByteWriter& Zeros(std::size_t count)
    {
        m_bytes.insert(m_bytes.end(), count, 0);
        return *this;
    }

    std::size_t Size() const { return m_bytes.size(); }

    void PatchU16(std::size_t at, std::uint16_t v) { Patch(at, v, 2); }
    void PatchU32(std::size_t at, std::uint32_t v) { Patch(at, v, 4); }
    void PatchU16Be(std::size_t at, std::uint16_t v)
    {
        m_bytes[at] = static_cast<std::uint8_t>(v >> 8);
        m_bytes[at + 1] = static_cast<std::uint8_t>(v);
    }

    const std::vector<std::uint8_t>& View() const { return m_bytes; }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    CByteWriter& Le(std::uint32_t v, std::size_t width)
    {
        for (std::size_t i = 0; i < width; ++i)
            m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    void Patch(std::size_t at, std::uint32_t v, std::size_t width)
    {
        for (std::size_t i = 0; i < width; ++i)
            m_bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    std::vector<std::uint8_t> m_bytes;
};

} // namespace velt
