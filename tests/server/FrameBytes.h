#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace velt::test
{

using Bytes = std::vector<std::uint8_t>;

inline Bytes LengthField(std::uint32_t length)
{
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace velt::test
