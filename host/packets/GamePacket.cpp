#include "host/packets/GamePacket.h"

namespace velt
{

// offset  width  field
// 0       1      0xF7
// 1       1      packet type
// 2       2      u16 total length, head included
std::optional<GamePacketType> GamePacketTypeOf(std::span<const std::uint8_t> packet)
{
    if (packet.size() < kGamePacketHeadSize || packet[0] != kGamePacketSignature)
        return std::nullopt;
    return static_cast<GamePacketType>(packet[1]);
}

bool HasGamePacketType(std::span<const std::uint8_t> packet, GamePacketType type)
{
    return GamePacketTypeOf(packet) == type;
}

CByteWriter StartGamePacket(GamePacketType type, std::size_t reserve)
{
    CByteWriter writer(reserve);
    writer.U8(kGamePacketSignature).U8(static_cast<std::uint8_t>(type)).U16(0);
    return writer;
}

std::vector<std::uint8_t> FinishGamePacket(CByteWriter& writer)
{
    if (writer.Size() > kGamePacketMaxSize)
        return {};
    writer.PatchU16(kGamePacketLengthOffset, static_cast<std::uint16_t>(writer.Size()));
    return writer.Take();
}

std::optional<CByteReader> OpenGamePacket(std::span<const std::uint8_t> packet,
                                          GamePacketType type)
{
    CByteReader reader(packet);
    const bool signature = reader.U8() == kGamePacketSignature;
    const bool typeMatches = reader.U8() == static_cast<std::uint8_t>(type);
    const std::uint16_t length = reader.U16();
    if (!reader.Ok() || !signature || !typeMatches || length != packet.size())
        return std::nullopt;
    return reader;
}

} // namespace velt
