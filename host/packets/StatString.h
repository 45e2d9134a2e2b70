#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velt
{

// Longest map path and host name a stat string may carry; both also bound what a parser copies.
constexpr std::size_t kStatStringMaxText = 255;

// Game-setting flags of the stat string: fast speed, default visibility, teams together,
// fixed teams and full observers, as a LAN melee game with observers has them.
constexpr std::uint32_t kMeleeGameFlagsWithObservers = 0x00067802;

// The game settings that a LAN announcement and a replay carry about the map and the host.
struct StatStringFields
{
    std::uint32_t m_gameFlags = kMeleeGameFlagsWithObservers;
    std::uint16_t m_mapWidth = 0;
    std::uint16_t m_mapHeight = 0;
    std::uint32_t m_mapXoro = 0; // scripts hash of the map, not the file CRC
    std::string m_mapPath;
    std::string m_hostName;
};

// Decoded layout:
//   0   u32     game-setting flags
//   4   u8      0
//   5   u16     map width
//   7   u16     map height
//   9   u32     map scripts hash (xoro)
//   13  string  map path
//   ..  string  host name
//   ..  u8      0 (empty third string)
std::vector<std::uint8_t> BuildStatString(const StatStringFields& fields);
std::optional<StatStringFields> ParseStatString(std::span<const std::uint8_t> decoded);

// The 7-bit encoding that removes every zero byte: per group of up to 7 bytes one mask byte
// (bit 0 always set, bit j+1 set when byte j is odd), then the bytes, even ones raised by 1.
// The result carries no terminator; the packet appends the NUL.
std::vector<std::uint8_t> EncodeStatString(std::span<const std::uint8_t> decoded);
// The inverse; nothing when a mask lacks bit 0, a data byte is even (so also 0), or the input
// ends on a mask.
std::optional<std::vector<std::uint8_t>> DecodeStatString(std::span<const std::uint8_t> encoded);

} // namespace velt
