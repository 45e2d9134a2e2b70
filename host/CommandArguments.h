#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velt
{

// Arithmetic of the chat commands that take a time. Times are in milliseconds.

// The argument of a command whose word is wordLength characters long: the text after the word
// and one separator character.
std::string_view CommandArgument(std::string_view command, std::size_t wordLength);

// An argument split at its last ':' into two decimal numbers (leading digits; none gives 0).
// Nothing when there is no ':', or when either part begins with a sign (-1:30, 1:-5).
struct ClockArgument
{
    std::uint64_t m_before = 0;
    std::uint64_t m_after = 0;
};
std::optional<ClockArgument> ParseClockArgument(std::string_view argument);

// /goto M:S: game time (M * 60 + S) * 1000, valid for S up to 60.
std::optional<std::uint64_t> GotoTargetMs(std::string_view argument);
// /back M:S: as /goto, but only digits on either side of the one ':' (so "0:00:00" is no time).
std::optional<std::uint64_t> BackTargetMs(std::string_view argument);
// /syncup and /syncdown H:M on the game's day clock, which reads 08:00 at game time 0 and
// runs three clock minutes per second: ((H * 60 + M - 480) / 3) * 1000, hours below 8 being
// the early hours of the next day. Valid for H up to 23 and M up to 60.
std::optional<std::uint64_t> GameClockTargetMs(std::string_view argument);

// /delay S: whole seconds, digits only, at most maxSeconds.
std::optional<std::uint32_t> DelaySecondsArgument(std::string_view argument,
                                                  std::uint32_t maxSeconds);
// A game time as the viewer reads it: "3:05".
std::string MinutesSeconds(std::uint64_t ms);

// One day of the game's clock, in game time.
constexpr std::uint64_t kGameClockDayMs = 480000;
// How long to halt so that the clock reads the target's time again: the game time that has
// passed since it last did.
std::uint64_t SyncDownHaltMs(std::uint64_t targetMs, std::uint64_t gameTimeMs);

} // namespace velt
