#pragma once

#include <cstdint>

namespace velt
{

// A data chunk of this many bytes is full; the next one is asked for at once. The match
// server's messages and the host's stream buffer both count by it.
constexpr std::uint32_t kFullChunkSize = 2000;

} // namespace velt
