#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velt
{

// Whether a match's 1752-byte replay header can be hosted: every packet that the host sends
// from it (the announcement, the join reply, the player packets, the map check, the slot table,
// the countdown) is one whole, valid packet of its type that fills its length byte exactly,
// every length byte fits its field, at most 12 players are named, and the texts the host shows
// end inside their fields. Nothing when it can be hosted; else what is wrong, as a phrase that
// completes "the replay header cannot be hosted: ...".
std::optional<std::string> ReplayHeaderProblem(std::span<const std::uint8_t> header);

} // namespace velt
