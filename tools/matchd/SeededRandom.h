#pragma once

#include <cstdint>
#include <iterator>
#include <random>

namespace velt
{

// A random source whose sequence is fixed by its seed on every platform: the engine's output
// is defined by the standard, and the ranges are mapped here rather than by the standard
// distributions, whose results differ between libraries.
class CSeededRandom
{
public:
    explicit CSeededRandom(std::uint64_t seed) : m_engine(seed) {}

    // A seed for a sub-sequence (one match), so that adding matches leaves the others alone.
    static std::uint64_t Derive(std::uint64_t seed, std::uint64_t index)
    {
        std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (index + 1);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint32_t Next32() { return static_cast<std::uint32_t>(m_engine() >> 32); }

    // Uniform in [low, high]; low <= high.
    std::uint32_t Between(std::uint32_t low, std::uint32_t high)
    {
        const std::uint64_t span = static_cast<std::uint64_t>(high) - low + 1;
        return low +
               static_cast<std::uint32_t>((static_cast<std::uint64_t>(Next32()) * span) >> 32);
    }

    bool Percent(std::uint32_t chance) { return Between(0, 99) < chance; }

    // One element of a non-empty array, span or vector.
    template <class Range> const auto& Pick(const Range& items)
    {
        return items[Between(0, static_cast<std::uint32_t>(std::size(items) - 1))];
    }

private:
    std::mt19937_64 m_engine;
};

} // namespace velt
