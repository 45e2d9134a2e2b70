#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/replay/ReplayFile.h"

namespace velt
{

// Player profiles from the protobuf body of a subtype-3 metadata record. Early 1.32 nests
// several profiles under field 1; later builds write one flat profile per record. A body that
// is not valid protobuf yields the profiles decoded before the fault.
std::vector<ReplayProfile> DecodeReplayProfiles(std::span<const std::uint8_t> body);

} // namespace velt
