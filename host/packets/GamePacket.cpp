#include "host/packets/GamePacket.h"

#include <algorithm>

namespace velt
{

namespace
{

constexpr std::size_t kSockAddrZeroTail = 8;

} // namespace

bool FitsGameText(std::string_view text, std::size_t maxLength)
{
    return text.size() <= maxLength && text.find('\0') == std::string_view::npos;
}

// offset  width  field
// 0       2      u16 family
// 2       2      u16 port, big-endian
// 4       4      IPv4 address
// 8       8      zero
void WriteGameSockAddr(CByteWriter& writer, const GameSockAddr& address)
{
    writer.U16(address.m_family).U16Be(address.m_port).Bytes(address.m_ip).Zeros(kSockAddrZeroTail);
}

GameSockAddr ReadGameSockAddr(CByteReader& reader)
{
    GameSockAddr address;
    address.m_family = reader.U16();
    const std::uint8_t high = reader.U8();
    address.m_port = static_cast<std::uint16_t>((high << 8) | reader.U8());
    const auto ip = reader.Bytes(address.m_ip.size());
    if (ip.size() == address.m_ip.size())
        std::copy(ip.begin(), ip.end(), address.m_ip.begin());
    reader.Skip(kSockAddrZeroTail);
    return address;
}

void WriteChatMessage(CByteWriter& writer, std::span<const std::uint8_t> receivers,
                      std::uint8_t sender, ChatKind kind, std::uint32_t flags,
                      std::string_view text)
{
    writer.U8(static_cast<std::uint8_t>(receivers.size())).Bytes(receivers);
    writer.U8(sender).U8(static_cast<std::uint8_t>(kind));
    if (kind == ChatKind::kInGame)
        writer.U32(flags);
    writer.CString(text);
}

std::optional<ChatHead> ReadChatHead(CByteReader& reader)
{
    const std::uint8_t count = reader.U8();
    if (count == 0 || count > kChatReceiversMax)
        return std::nullopt;
    ChatHead head;
    const auto receivers = reader.Bytes(count);
    head.m_receivers.assign(receivers.begin(), receivers.end());
    head.m_sender = reader.U8();
    head.m_kind = reader.U8();
    return head;
}

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

std::optional<CByteReader> OpenGamePacket(std::span<const std::uint8_t> packet, GamePacketType type)
{
    CByteReader reader(packet);
    const bool signature = reader.U8() == kGamePacketSignature;
    const bool typeMatches = reader.U8() == static_cast<std::uint8_t>(type);
    const std::uint16_t length = reader.U16();
    if (!reader.Ok() || !signature || !typeMatches || length != packet.size())
        return std::nullopt;
    return reader;
}

std::vector<std::uint8_t> BuildHeadOnlyGamePacket(GamePacketType type)
{
    CByteWriter writer = StartGamePacket(type, kGamePacketHeadSize);
    return FinishGamePacket(writer);
}

bool IsHeadOnlyGamePacket(std::span<const std::uint8_t> packet, GamePacketType type)
{
    const auto reader = OpenGamePacket(packet, type);
    return reader && reader->AtEnd();
}

} // namespace velt
