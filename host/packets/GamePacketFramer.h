#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velt
{

// Cuts game packets out of buffered bytes: 0xF7, type, u16 total length (at least 4).
struct GameFrame
{
    enum class Kind
    {
        kWhole,     // a whole packet of m_length bytes starts the data
        kNeedMore,  // the data starts a packet that has not fully arrived
        kMalformed, // the first m_length bytes cannot start a packet: up to the next 0xF7 (or all)
    };
    Kind m_kind = Kind::kNeedMore;
    std::size_t m_length = 0;
};

GameFrame FrameGamePacket(std::span<const std::uint8_t> data);

} // namespace velt
