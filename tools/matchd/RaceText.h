#pragma once

#include <cstdint>
#include <string>

namespace velt
{

// The short race tag a players text shows for a slot's race flags: HU, OR, NE, UD, or RD for a
// random race (or none recorded).
inline std::string RaceText(std::uint8_t race)
{
    switch (race & 0x2F)
    {
    case 0x01:
        return "HU";
    case 0x02:
        return "OR";
    case 0x04:
        return "NE";
    case 0x08:
        return "UD";
    default:
        return "RD";
    }
}

} // namespace velt
