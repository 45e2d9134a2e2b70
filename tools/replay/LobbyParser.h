#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/ByteReader.h"
#include "tools/replay/ReplayError.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// Reads the lobby at the start of the decompressed data and leaves the reader just after the
// game-start (0x19) record, where the game records begin. The error's offset is into the data.
bool ParseReplayLobby(std::span<const std::uint8_t> data, CByteReader& reader, ReplayLobby& lobby,
                      ReplayError& error);

// The stat string's encoding keeps zero bytes out: per group of up to 7 bytes one mask byte,
// whose bit k+1 is clear when data byte k was stored raised by 1.
std::vector<std::uint8_t> DecodeReplayStatString(std::span<const std::uint8_t> encoded);

// Splits decoded stat string bytes into their fields; false when they do not fit the layout.
bool ParseReplayStatString(std::span<const std::uint8_t> decoded, ReplayStatString& stat);

} // namespace velt
