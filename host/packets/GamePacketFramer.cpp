#include "host/packets/GamePacketFramer.h"

#include <algorithm>

#include "host/packets/GamePacket.h"

namespace velt
{

namespace
{

GameFrame Junk(std::span<const std::uint8_t> data)
{
    const auto next = std::find(data.begin() + 1, data.end(), kGamePacketSignature);
    return {GameFrame::Kind::kMalformed, static_cast<std::size_t>(next - data.begin())};
}

} // namespace

// offset  width  field
// 0       1      0xF7
// 1       1      packet type
// 2       2      u16 total length, head included
GameFrame FrameGamePacket(std::span<const std::uint8_t> data)
{
    if (data.empty())
        return {};
    if (data[0] != kGamePacketSignature)
        return Junk(data);
    if (data.size() < kGamePacketHeadSize)
        return {};
    const std::size_t length = static_cast<std::size_t>(data[2] | (data[3] << 8));
    if (length < kGamePacketHeadSize)
        return Junk(data);
    if (data.size() < length)
        return {};
    return {GameFrame::Kind::kWhole, length};
}

} // namespace velt
