#include "server/Framing.h"

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

// Offset  Width  Field
// 0       4      L: bytes after this field
// 4       1      code (absent when L = 0)
// 5       L-1    payload
FrameCut CutFrame(std::span<const std::uint8_t> buffered)
{
    FrameCut cut;
    if (buffered.size() < kFrameLengthBytes)
        return cut;
    CByteReader reader(buffered);
    const std::uint32_t length = reader.U32();
    if (length > kMaxDiscardLength)
    {
        cut.m_status = FrameStatus::kMalformed;
        return cut;
    }
    const std::size_t frameSize = kFrameLengthBytes + length;
    if (length == 0 || length > kMaxFrameLength)
    {
        cut.m_status = FrameStatus::kFrame;
        cut.m_frameSize = frameSize;
        cut.m_discard = true;
        return cut;
    }
    if (buffered.size() < frameSize)
        return cut;
    cut.m_status = FrameStatus::kFrame;
    cut.m_frameSize = frameSize;
    cut.m_body = buffered.subspan(kFrameLengthBytes, length);
    return cut;
}

std::vector<std::uint8_t> BuildFrame(const Frame& frame)
{
    CByteWriter writer(kFrameLengthBytes + 1 + frame.m_payload.size());
    writer.U32(0).U8(frame.m_code).Bytes(frame.m_payload);
    writer.PatchU32(0, static_cast<std::uint32_t>(writer.Size() - kFrameLengthBytes));
    return writer.Take();
}

} // namespace velt
