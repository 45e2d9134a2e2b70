#pragma once

#include <cstdint>
#include <span>

namespace velt
{

// The 16-bit checksum a time slot carries: the low 16 bits of the IEEE CRC-32 of every
// action-block byte after the checksum field (player id, length and actions of each block).
std::uint16_t TimeSlotChecksum(std::span<const std::uint8_t> actionBlocks);

} // namespace velt
