#include "tools/w3gs/TimeSlotChecksum.h"

#include <zlib.h>

namespace velt
{

std::uint16_t TimeSlotChecksum(std::span<const std::uint8_t> actionBlocks)
{
    // zlib takes the length as a uInt; a time slot is at most 65535 bytes, so one call does.
    const uLong crc =
        crc32(crc32(0L, Z_NULL, 0), actionBlocks.data(), static_cast<uInt>(actionBlocks.size()));
    return static_cast<std::uint16_t>(crc & 0xFFFFu);
}

} // namespace velt
