#include "host/CommandArguments.h"

#include <cstdint>

namespace velt
{

namespace
{

// Large enough for any real argument, small enough that the arithmetic cannot overflow.
constexpr std::uint64_t kNumberCeiling = 1000000000;

std::uint64_t LeadingNumber(std::string_view text)
{
    std::uint64_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kNumberCeiling)
            return kNumberCeiling;
    }
    return value;
}

// A part written with a sign: "-1" is no time to go to, and must not read as 0.
bool Signed(std::string_view part)
{
    const std::size_t first = part.find_first_not_of(' ');
    return first != std::string_view::npos && (part[first] == '-' || part[first] == '+');
}

} // namespace

std::string_view CommandArgument(std::string_view command, std::size_t wordLength)
{
    const std::size_t start = wordLength + 1;
    return start < command.size() ? command.substr(start) : std::string_view();
}

std::optional<ClockArgument> ParseClockArgument(std::string_view argument)
{
    const std::size_t colon = argument.rfind(':');
    if (colon == std::string_view::npos || Signed(argument.substr(0, colon)) ||
        Signed(argument.substr(colon + 1)))
        return std::nullopt;
    return ClockArgument{LeadingNumber(argument.substr(0, colon)),
                         LeadingNumber(argument.substr(colon + 1))};
}

std::optional<std::uint64_t> GotoTargetMs(std::string_view argument)
{
    const auto parts = ParseClockArgument(argument);
    if (!parts || parts->m_after > 60)
        return std::nullopt;
    return (parts->m_before * 60 + parts->m_after) * 1000;
}

std::optional<std::uint64_t> BackTargetMs(std::string_view argument)
{
    const std::size_t colon = argument.find(':');
    const auto digits = [](std::string_view part) {
        return !part.empty() && part.size() <= 9 &&
               part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (colon == std::string_view::npos || !digits(argument.substr(0, colon)) ||
        !digits(argument.substr(colon + 1)))
        return std::nullopt;
    return GotoTargetMs(argument);
}

std::optional<std::uint64_t> GameClockTargetMs(std::string_view argument)
{
    const auto parts = ParseClockArgument(argument);
    if (!parts || parts->m_before > 23 || parts->m_after > 60)
        return std::nullopt;
    const std::uint64_t hours = parts->m_before < 8 ? parts->m_before + 24 : parts->m_before;
    return ((hours * 60 + parts->m_after - 480) / 3) * 1000;
}

std::uint64_t SyncDownHaltMs(std::uint64_t targetMs, std::uint64_t gameTimeMs)
{
    // The clock reads the target's time once every clock day, so only the last day counts.
    if (targetMs <= gameTimeMs)
        return (gameTimeMs - targetMs) % kGameClockDayMs;
    const std::uint64_t ahead = targetMs - gameTimeMs;
    const std::uint64_t days = (ahead + kGameClockDayMs - 1) / kGameClockDayMs;
    return days * kGameClockDayMs - ahead;
}

std::optional<std::uint32_t> DelaySecondsArgument(std::string_view argument,
                                                  std::uint32_t maxSeconds)
{
    if (argument.empty() || argument.size() > 6)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : argument)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > maxSeconds)
        return std::nullopt;
    return value;
}

std::string MinutesSeconds(std::uint64_t ms)
{
    const std::uint64_t seconds = ms / 1000;
    const std::uint64_t rest = seconds % 60;
    return std::to_string(seconds / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

} // namespace velt
