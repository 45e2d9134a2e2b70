#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "server/Framing.h"

namespace velt
{

// Collects the bytes of a frame stream in one fixed buffer and hands out whole frames, skipping
// the ones CutFrame says to drop. Nothing is allocated per frame. The receive loop reads into
// FreeSpace(), calls Commit(), then takes frames with Next() until it returns nothing.
class CFrameAssembler
{
public:
    // Room for one kept frame with its length field, and for the start of the next.
    static constexpr std::size_t kCapacity = 2 * (kFrameLengthBytes + kMaxFrameLength);

    // Where the next receive may write. Never empty unless the stream is broken.
    std::span<std::uint8_t> FreeSpace();
    // Counts bytes that a receive wrote into FreeSpace().
    void Commit(std::size_t count);

    // The next whole frame's code byte and payload, valid until the next call on this object;
    // nothing when more bytes are needed or the stream is broken.
    std::optional<std::span<const std::uint8_t>> Next();

    // The stream announced a frame beyond kMaxDiscardLength; nothing more will come out.
    bool Broken() const { return m_broken; }

private:
    void Compact();

    std::array<std::uint8_t, kCapacity> m_buffer{};
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_skip = 0; // bytes of a dropped frame still to come
    bool m_broken = false;
};

} // namespace velt
