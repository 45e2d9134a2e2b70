#include "host/HostChatPackets.h"

#include <algorithm>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

namespace
{

// Head, receiver count, receiver, sender, kind, NUL; in game four flag bytes more.
constexpr std::size_t kLobbyOverhead = 9;
constexpr std::size_t kGameOverhead = 13;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

} // namespace

std::size_t MaxChatText(ChatKind kind)
{
    return kChatPacketCapacity - (kind == ChatKind::kInGame ? kGameOverhead : kLobbyOverhead);
}

// offset  width  field
// 0       4      F7 0F, u16 length
// 4       1      receivers: 1
// 5       1      receiver: player 2
// 6       1      sender: player 1
// 7       1      kind: 0x10 lobby, 0x20 in game
// 8       4      in game only: flags, 0
// 8 / 12  n+1    text, NUL
std::vector<std::uint8_t> BuildHostChat(const HostChatLine& line)
{
    const std::string_view text = line.m_text.substr(0, MaxChatText(line.m_kind));
    CByteWriter writer(kChatPacketCapacity);
    writer.U8(kGamePacketSignature).U8(static_cast<std::uint8_t>(GamePacketType::kChatFromHost));
    writer.U16(0);
    writer.U8(1).U8(kViewerPlayerId).U8(kHostPlayerId).U8(static_cast<std::uint8_t>(line.m_kind));
    if (line.m_kind == ChatKind::kInGame)
        writer.U32(0);
    writer.CString(text);
    writer.PatchU16(2, static_cast<std::uint16_t>(writer.Size()));
    return writer.Take();
}

namespace
{

// Head with the length patched in last; the body is what the caller writes.
template <typename Body>
std::vector<std::uint8_t> BuildPacket(GamePacketType type, Body body)
{
    CByteWriter writer(16);
    writer.U8(kGamePacketSignature).U8(static_cast<std::uint8_t>(type)).U16(0);
    body(writer);
    writer.PatchU16(2, static_cast<std::uint16_t>(writer.Size()));
    return writer.Take();
}

} // namespace

// offset  width  field
// 0       4      F7 1B, u16 length 4
std::vector<std::uint8_t> BuildLeaveAck()
{
    return BuildPacket(GamePacketType::kLeaveAck, [](CByteWriter&) {});
}

// offset  width  field
// 0       4      F7 0C, u16 length 6
// 4       2      u16 interval: 0
std::vector<std::uint8_t> BuildEmptyTimeSlot()
{
    return BuildPacket(GamePacketType::kIncomingAction, [](CByteWriter& w) { w.U16(0); });
}

// offset  width  field
// 0       4      F7 08, u16 length 5
// 4       1      player id
std::vector<std::uint8_t> BuildPlayerLoaded(std::uint8_t playerId)
{
    return BuildPacket(GamePacketType::kGameLoadedOthers,
                       [playerId](CByteWriter& w) { w.U8(playerId); });
}

std::vector<std::string_view> SplitChatText(std::string_view text, std::size_t maxBytes)
{
    std::vector<std::string_view> pieces;
    do
    {
        std::size_t cut = std::min(text.size(), maxBytes);
        if (cut < text.size())
        {
            std::size_t boundary = cut;
            while (boundary > 0 && IsContinuationByte(text[boundary]))
                --boundary;
            // A run of continuation bytes longer than a piece is not UTF-8; cut it anyway.
            cut = boundary > 0 ? boundary : cut;
        }
        pieces.push_back(text.substr(0, cut));
        text.remove_prefix(cut);
    } while (!text.empty());
    return pieces;
}

// offset     width  field
// 0          4      F7 28, u16 length
// 4          1      r: receivers
// 5          r      receiver ids
// 5+r        1      sender id
// 6+r        1      kind
// 7+r        n+1    lobby message: text, NUL
// 7+r        4      in-game message: flags, then 11+r: text, NUL
// A text without its NUL runs to the end of the packet.
std::optional<ViewerChat> ParseViewerChat(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    reader.Skip(kGamePacketHeadSize);
    const std::uint8_t receivers = reader.U8();
    reader.Skip(receivers);
    ViewerChat chat;
    chat.m_sender = reader.U8();
    chat.m_kind = reader.U8();
    if (!reader.Ok())
        return std::nullopt;
    if (chat.m_kind == static_cast<std::uint8_t>(ChatKind::kInGame))
        reader.Skip(4);
    else if (chat.m_kind != static_cast<std::uint8_t>(ChatKind::kLobby))
        return chat;
    if (!reader.Ok())
        return std::nullopt;
    const auto rest = reader.Bytes(reader.Remaining());
    const auto nul = std::find(rest.begin(), rest.end(), 0);
    chat.m_text.assign(rest.begin(), nul);
    return chat;
}

// offset  width  field
// 4       1      r: receivers
// 5       r      receiver ids
// 5+r     1      sender id
std::optional<std::uint8_t> RecordedChatSender(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    reader.Skip(kGamePacketHeadSize);
    reader.Skip(reader.U8());
    const std::uint8_t sender = reader.U8();
    if (!reader.Ok())
        return std::nullopt;
    return sender;
}

// offset  width  field
// 4       2      u16 interval in milliseconds
// 6       2      checksum (only with action blocks)
// 8       1      player id of the first action block
// 9       2      u16 length of its actions
// 11      1      first action id
TimeSlotFacts ReadTimeSlot(std::span<const std::uint8_t> packet)
{
    TimeSlotFacts facts;
    CByteReader reader(packet);
    reader.Skip(kGamePacketHeadSize);
    facts.m_intervalMs = reader.U16();
    if (!reader.Ok())
    {
        // A slot too short for a whole interval counts what it has.
        facts.m_intervalMs = packet.size() > kGamePacketHeadSize ? packet[kGamePacketHeadSize] : 0;
        return facts;
    }
    reader.Skip(2);
    const std::uint8_t player = reader.U8();
    reader.Skip(2);
    const std::uint8_t action = reader.U8();
    if (packet.size() > 8)
        facts.m_firstPlayer = player;
    if (reader.Ok())
        facts.m_firstAction = action;
    return facts;
}

} // namespace velt
