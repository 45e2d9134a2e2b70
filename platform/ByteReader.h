#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace velt
{

// Bounds-checked little-endian reader over untrusted bytes. Failure is sticky: once a read
// runs past the end, every later read fails too and returns zero values, so a parser checks
// Ok() once at the end instead of after every field.
class CByteReader
{
public:
    explicit CByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    std::size_t Position() const { return m_pos; }
    std::size_t Remaining() const { return m_ok ? m_bytes.size() - m_pos : 0; }
    bool AtEnd() const { return m_ok && m_pos == m_bytes.size(); }

    std::uint8_t U8() { return static_cast<std::uint8_t>(ReadLe(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(ReadLe(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(ReadLe(4)); }
    // Big-endian (network order), as DNS and a sockaddr's port write them.
    std::uint16_t U16Be() { return static_cast<std::uint16_t>(ReadBe(2)); }
    std::uint32_t U32Be() { return static_cast<std::uint32_t>(ReadBe(4)); }

    // Bytes up to a NUL, which is consumed. A missing terminator is a failure: the text must
    // end inside the data, and must not be longer than maxLength.
    std::string CString(std::size_t maxLength = 65535)
    {
        if (!m_ok)
            return {};
        const std::size_t limit = std::min(m_bytes.size() - m_pos, maxLength + 1);
        const auto* begin = m_bytes.data() + m_pos;
        const void* nul = std::memchr(begin, 0, limit);
        if (nul == nullptr)
        {
            m_ok = false;
            return {};
        }
        const auto length = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - begin);
        m_pos += length + 1;
        return std::string(reinterpret_cast<const char*>(begin), length);
    }

    std::span<const std::uint8_t> Bytes(std::size_t count)
    {
        if (!Need(count))
            return {};
        auto out = m_bytes.subspan(m_pos, count);
        m_pos += count;
        return out;
    }

    void Skip(std::size_t count) { (void)Bytes(count); }

private:
    bool Need(std::size_t count)
    {
        if (m_ok && m_bytes.size() - m_pos >= count)
            return true;
        m_ok = false;
        return false;
    }

    std::uint64_t ReadLe(std::size_t width)
    {
        if (!Need(width))
            return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value |= static_cast<std::uint64_t>(m_bytes[m_pos + i]) << (8 * i);
        m_pos += width;
        return value;
    }

    std::uint64_t ReadBe(std::size_t width)
    {
        if (!Need(width))
            return 0;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = (value << 8) | m_bytes[m_pos + i];
        m_pos += width;
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

} // namespace velt
