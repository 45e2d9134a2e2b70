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

// Cuts the next packet of a recorded match stream as the game may be sent it while it plays: a
// type that a game in play takes from its host (0x01, 0x07, 0x08, 0x0C, 0x0F, 0x10, 0x11,
// 0x48), a length that fits the type and, for a time slot, action blocks that fill it exactly.
// Anything else is malformed from its first byte on, so that the caller skips the 0xF7 and looks
// for the next packet, as after any byte that cannot start one. A packet is judged broken as soon
// as the bytes held show it, without waiting for the rest of a length that garbage made up.
GameFrame FrameStreamPacket(std::span<const std::uint8_t> data);

} // namespace velt
