#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "tools/replay/ReplayError.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// Reads a Warcraft III replay (.w3g) of any version from 1.00 to 2.0: header, compressed
// blocks, lobby and every game record. A damaged or unknown file gives an error naming the
// file and the offset; nothing in the file is trusted.
ReplayReadResult ReadReplay(const std::filesystem::path& path);
ReplayReadResult ReadReplayFromMemory(std::span<const std::uint8_t> bytes, std::string name);

} // namespace velt
