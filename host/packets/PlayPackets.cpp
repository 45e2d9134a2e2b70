#include "host/packets/PlayPackets.h"

#include <algorithm>

namespace velt
{

namespace
{

constexpr std::size_t kTimeSlotHeadSize = 6;    // head and interval
constexpr std::size_t kTimeSlotChecksumEnd = 8; // head, interval and checksum
constexpr std::uint8_t kChatKindTeam = 0x11;
constexpr std::uint8_t kChatKindHandicap = 0x14;
// Head, receiver count, receiver, sender, kind, NUL; in game four flag bytes more.
constexpr std::size_t kLobbyOverhead = 9;
constexpr std::size_t kGameOverhead = 13;

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

// 0x0C time slot:
//   0   4    head F7 0C len
//   4   u16  interval in ms
//   6   u16  checksum of all block bytes that follow (only when there are blocks)
//   8   ..   blocks: u8 player id, u16 length L, L bytes of actions
std::vector<std::uint8_t> BuildTimeSlot(const TimeSlotParams& params,
                                        TimeSlotChecksumFunction checksum)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kIncomingAction, 64);
    writer.U16(params.m_intervalMs);
    if (params.m_blocks.empty())
        return FinishGamePacket(writer);
    if (checksum == nullptr)
        return {};
    writer.U16(0);
    for (const ActionBlock& block : params.m_blocks)
    {
        if (block.m_actions.size() > kGamePacketMaxSize)
            return {};
        writer.U8(block.m_playerId)
            .U16(static_cast<std::uint16_t>(block.m_actions.size()))
            .Bytes(block.m_actions);
    }
    const auto& bytes = writer.View();
    const auto blockBytes = std::span(bytes).subspan(kTimeSlotChecksumEnd);
    writer.PatchU16(kTimeSlotHeadSize, checksum(blockBytes));
    return FinishGamePacket(writer);
}

std::vector<std::uint8_t> BuildEmptyTimeSlot()
{
    return BuildTimeSlot({0, {}}, nullptr);
}

std::optional<ParsedTimeSlot> ParseTimeSlot(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kIncomingAction);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    ParsedTimeSlot slot;
    slot.m_intervalMs = reader.U16();
    slot.m_blocksOffset = kTimeSlotHeadSize;
    if (!reader.Ok())
        return std::nullopt;
    if (reader.AtEnd())
        return slot;
    slot.m_checksum = reader.U16();
    slot.m_blocksOffset = kTimeSlotChecksumEnd;
    while (reader.Ok() && !reader.AtEnd())
    {
        ActionBlock block;
        block.m_playerId = reader.U8();
        const std::uint16_t length = reader.U16();
        if (length > reader.Remaining())
            return std::nullopt;
        const auto actions = reader.Bytes(length);
        block.m_actions.assign(actions.begin(), actions.end());
        slot.m_blocks.push_back(std::move(block));
    }
    if (!reader.Ok())
        return std::nullopt;
    return slot;
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
    if (packet.size() > kTimeSlotFirstPlayerOffset)
        facts.m_firstPlayer = player;
    if (reader.Ok())
        facts.m_firstAction = action;
    return facts;
}

// 0x0F chat from host:
//   0     4    head F7 0F L
//   4     u8   number of receivers r (1 to 24)
//   5     r    receiver ids
//   5+r   u8   sender id
//   6+r   u8   kind
//   7+r        kind 0x10: text, NUL-terminated
//              kind 0x11-0x14: u8 new value
//              kind 0x20: u32 flags, then text, NUL-terminated
std::vector<std::uint8_t> BuildChatFromHost(const ChatFromHostParams& params)
{
    if (params.m_receivers.size() > kChatReceiversMax ||
        !FitsGameText(params.m_text, kChatTextMaxLength))
        return {};
    CByteWriter writer = StartGamePacket(GamePacketType::kChatFromHost, 32 + params.m_text.size());
    WriteChatMessage(writer, params.m_receivers, params.m_sender, params.m_kind, params.m_scope,
                     params.m_text);
    return FinishGamePacket(writer);
}

std::size_t MaxChatText(ChatKind kind)
{
    return kChatPacketCapacity - (kind == ChatKind::kInGame ? kGameOverhead : kLobbyOverhead);
}

std::vector<std::uint8_t> BuildHostChat(const HostChatLine& line)
{
    std::string_view text = line.m_text.substr(0, MaxChatText(line.m_kind));
    text = text.substr(0, text.find('\0'));
    return BuildChatFromHost({{kViewerPlayerId}, kHostPlayerId, line.m_kind, 0, std::string(text)});
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

std::optional<ParsedChatFromHost> ParseChatFromHost(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kChatFromHost);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    auto head = ReadChatHead(reader);
    if (!head)
        return std::nullopt;
    ParsedChatFromHost chat;
    chat.m_receivers = std::move(head->m_receivers);
    chat.m_sender = head->m_sender;
    chat.m_kind = head->m_kind;
    if (chat.m_kind == static_cast<std::uint8_t>(ChatKind::kLobby))
        chat.m_text = reader.CString(kChatTextMaxLength);
    else if (chat.m_kind == static_cast<std::uint8_t>(ChatKind::kInGame))
    {
        chat.m_flags = reader.U32();
        chat.m_text = reader.CString(kChatTextMaxLength);
    }
    else if (chat.m_kind >= kChatKindTeam && chat.m_kind <= kChatKindHandicap)
        chat.m_value = reader.U8();
    else
        return std::nullopt;
    if (!reader.AtEnd())
        return std::nullopt;
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

// 0x07 a player left:
//   0   4    head F7 07 09 00
//   4   u8   player id
//   5   u32  reason
std::vector<std::uint8_t> BuildPlayerLeave(const PlayerLeaveParams& params)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kPlayerLeaveOthers, 9);
    writer.U8(params.m_playerId).U32(params.m_reason);
    return FinishGamePacket(writer);
}

std::optional<PlayerLeaveParams> ParsePlayerLeave(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kPlayerLeaveOthers);
    if (!reader)
        return std::nullopt;
    PlayerLeaveParams params;
    params.m_playerId = reader->U8();
    params.m_reason = reader->U32();
    if (!reader->AtEnd())
        return std::nullopt;
    return params;
}

// 0x1B leave acknowledgement: the head F7 1B 04 00 alone.
std::vector<std::uint8_t> BuildLeaveAck()
{
    return BuildHeadOnlyGamePacket(GamePacketType::kLeaveAck);
}

bool IsLeaveAck(std::span<const std::uint8_t> packet)
{
    return IsHeadOnlyGamePacket(packet, GamePacketType::kLeaveAck);
}

} // namespace velt
