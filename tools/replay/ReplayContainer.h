#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/replay/ReplayError.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// The outer layer of a replay file: the fixed header with its sub-header, then the zlib blocks.
// Both functions fill only m_area, m_offset and m_message of the error.

// Finds the magic (at the start, or after a short foreign prefix) and reads the header; a
// header that does not match its checksum is refused.
bool ParseW3gHeader(std::span<const std::uint8_t> file, W3gHeader& header, ReplayError& error);

// Inflates the blocks into exactly header.m_decompressedSize bytes of data. Blocks past that
// size are not read; a block whose header or data does not match its checksum is refused.
bool InflateReplayBlocks(std::span<const std::uint8_t> file, const W3gHeader& header,
                         std::vector<std::uint8_t>& data, ReplayError& error);

} // namespace velt
