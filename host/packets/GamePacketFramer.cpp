#include "host/packets/GamePacketFramer.h"

#include <algorithm>
#include <array>
#include <utility>

#include "host/packets/GamePacket.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

namespace
{

GameFrame Junk(std::span<const std::uint8_t> data)
{
    const auto next = std::find(data.begin() + 1, data.end(), kGamePacketSignature);
    return {GameFrame::Kind::kMalformed, static_cast<std::size_t>(next - data.begin())};
}

// What the bytes held say of a packet of a known type and total length.
enum class Shape
{
    kFits,
    kNeedMore,
    kBroken,
};

constexpr std::size_t kTimeSlotBareSize = 6;     // head and interval: no actions, no checksum
constexpr std::size_t kTimeSlotBlocksOffset = 8; // head, interval and checksum
constexpr std::size_t kActionBlockHeadSize = 3;  // player id, u16 length
constexpr std::size_t kStartLagEntrySize = 5;    // per lagging player: id, u32 time lagged

// The packets of one size that a game takes from its host while it plays.
constexpr std::array<std::pair<GamePacketType, std::size_t>, 4> kFixedSizePackets = {{
    {GamePacketType::kPingFromHost, 8},      // head, u32 tick
    {GamePacketType::kPlayerLeaveOthers, 9}, // head, player id, u32 reason
    {GamePacketType::kGameLoadedOthers, 5},  // head, player id
    {GamePacketType::kStopLag, 9},           // head, player id, u32 time lagged
}};

// 0x0C and 0x48: the interval alone, or the interval, the checksum and action blocks
// (u8 player id, u16 length, actions) that end exactly at the packet's end.
Shape TimeSlotShape(std::span<const std::uint8_t> data, std::size_t length)
{
    if (length == kTimeSlotBareSize)
        return Shape::kFits;
    if (length < kTimeSlotBlocksOffset)
        return Shape::kBroken;
    std::size_t pos = kTimeSlotBlocksOffset;
    while (pos < length)
    {
        if (pos + kActionBlockHeadSize > length)
            return Shape::kBroken;
        if (pos + kActionBlockHeadSize > data.size())
            return Shape::kNeedMore;
        pos +=
            kActionBlockHeadSize + static_cast<std::size_t>(data[pos + 1] | (data[pos + 2] << 8));
    }
    return pos == length ? Shape::kFits : Shape::kBroken;
}

// 0x10: u8 count, then an entry per lagging player.
Shape StartLagShape(std::span<const std::uint8_t> data, std::size_t length)
{
    if (data.size() <= kGamePacketHeadSize)
        return Shape::kNeedMore;
    const std::size_t size = kGamePacketHeadSize + 1 + kStartLagEntrySize * data[4];
    return length == size ? Shape::kFits : Shape::kBroken;
}

// 0x0F: judged whole by the strict parser; before that only its receiver count.
Shape ChatShape(std::span<const std::uint8_t> data, std::size_t length)
{
    if (data.size() > kGamePacketHeadSize && (data[4] == 0 || data[4] > kChatReceiversMax))
        return Shape::kBroken;
    if (data.size() < length)
        return Shape::kNeedMore;
    return ParseChatFromHost(data.first(length)) ? Shape::kFits : Shape::kBroken;
}

// Given the head; a type that no game in play takes is broken.
Shape StreamPacketShape(std::span<const std::uint8_t> data, std::size_t length)
{
    const auto type = static_cast<GamePacketType>(data[1]);
    for (const auto& [fixedType, size] : kFixedSizePackets)
        if (type == fixedType)
            return length == size ? Shape::kFits : Shape::kBroken;
    switch (type)
    {
    case GamePacketType::kIncomingAction:
    case GamePacketType::kIncomingAction2:
        return TimeSlotShape(data, length);
    case GamePacketType::kChatFromHost:
        return ChatShape(data, length);
    case GamePacketType::kStartLag:
        return StartLagShape(data, length);
    default:
        return Shape::kBroken;
    }
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

GameFrame FrameStreamPacket(std::span<const std::uint8_t> data)
{
    if (data.size() < kGamePacketHeadSize || data[0] != kGamePacketSignature)
        return FrameGamePacket(data);
    const std::size_t length = static_cast<std::size_t>(data[2] | (data[3] << 8));
    if (length < kGamePacketHeadSize)
        return Junk(data);
    const auto held = data.first(std::min(data.size(), length));
    switch (StreamPacketShape(held, length))
    {
    case Shape::kBroken:
        return Junk(data);
    case Shape::kNeedMore:
        return {};
    case Shape::kFits:
        break;
    }
    if (held.size() < length)
        return {};
    return {GameFrame::Kind::kWhole, length};
}

} // namespace velt
