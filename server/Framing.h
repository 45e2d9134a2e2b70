#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "server/MessageCode.h"

namespace velt
{

// A frame on the stream: u32 length L (little-endian, the bytes after it), a code byte, and
// L - 1 payload bytes.
constexpr std::size_t kFrameLengthBytes = 4;
// Largest L the receiver keeps and dispatches.
constexpr std::uint32_t kMaxFrameLength = 2048;
// Larger frames are read and thrown away up to this L; beyond it the stream counts as broken.
constexpr std::uint32_t kMaxDiscardLength = 65536;

enum class FrameStatus
{
    kFrame,     // the first frame's extent is known: see FrameCut
    kNeedMore,  // the bytes so far end inside the length field or inside a kept frame
    kMalformed, // the length field is beyond kMaxDiscardLength
};

struct FrameCut
{
    FrameStatus m_status = FrameStatus::kNeedMore;
    // kFrame: bytes the whole frame takes on the stream, length field included.
    std::size_t m_frameSize = 0;
    // kFrame: the frame is dropped unread (L = 0, or L above kMaxFrameLength). Its bytes need
    // not be buffered yet; the caller skips m_frameSize bytes of the stream.
    bool m_discard = false;
    // kFrame and not discarded: code byte and payload, inside the buffered bytes.
    std::span<const std::uint8_t> m_body;
};

// Cuts the first frame off the front of the buffered bytes. Pure: looks at nothing else.
FrameCut CutFrame(std::span<const std::uint8_t> buffered);

// The parts of one frame to send.
struct Frame
{
    std::uint8_t m_code = 0;
    std::span<const std::uint8_t> m_payload;
};

// Length field, code and payload as one buffer, ready for one send call.
std::vector<std::uint8_t> BuildFrame(const Frame& frame);

} // namespace velt
