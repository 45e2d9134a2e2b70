#include "host/packets/GameToHostPackets.h"

#include <algorithm>

namespace velt
{

// 0x1E join request:
//   0   4    head F7 1E L
//   4   u32  host counter
//   8   u32  entry key
//   12  u8   0
//   13  u16  listen port
//   15  u32  peer key
//   19  n+1  player name, NUL-terminated (1 to 15 characters)
//   ..  u8   padding count c, then c zero bytes
//   ..  16   internal address: u16 2, u16 port (big-endian), 4 IP bytes, 8 zero bytes
std::vector<std::uint8_t> BuildJoinRequest(const JoinRequestParams& params)
{
    const std::string& name = params.m_playerName;
    if (name.empty() || !FitsGameText(name, kPlayerNameMaxLength))
        return {};
    CByteWriter writer =
        StartGamePacket(GamePacketType::kReqJoin, 40 + name.size() + params.m_paddingCount);
    writer.U32(params.m_hostCounter).U32(params.m_entryKey).U8(0).U16(params.m_listenPort);
    writer.U32(params.m_peerKey).CString(name);
    writer.U8(params.m_paddingCount).Zeros(params.m_paddingCount);
    WriteGameSockAddr(writer, {kSockAddrFamilyInet, params.m_internalPort, params.m_internalIp});
    return FinishGamePacket(writer);
}

std::optional<JoinRequestParams> ParseJoinRequest(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kReqJoin);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    JoinRequestParams params;
    params.m_hostCounter = reader.U32();
    params.m_entryKey = reader.U32();
    const std::uint8_t zero = reader.U8();
    params.m_listenPort = reader.U16();
    params.m_peerKey = reader.U32();
    params.m_playerName = reader.CString(kPlayerNameMaxLength);
    params.m_paddingCount = reader.U8();
    const auto padding = reader.Bytes(params.m_paddingCount);
    const GameSockAddr address = ReadGameSockAddr(reader);
    if (!reader.AtEnd() || zero != 0 || address.m_family != kSockAddrFamilyInet ||
        params.m_playerName.empty() ||
        std::any_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b != 0; }))
        return std::nullopt;
    params.m_internalPort = address.m_port;
    params.m_internalIp = address.m_ip;
    return params;
}

// 0x42 map report:
//   0   4    head F7 42 0D 00
//   4   u32  1
//   8   u8   size flag (1: the game has the map)
//   9   u32  map file size
std::vector<std::uint8_t> BuildMapReport(const MapReportParams& params)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kMapSize, 13);
    writer.U32(1).U8(params.m_sizeFlag).U32(params.m_mapSize);
    return FinishGamePacket(writer);
}

std::optional<MapReportParams> ParseMapReport(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kMapSize);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    reader.Skip(4);
    MapReportParams params;
    params.m_sizeFlag = reader.U8();
    params.m_mapSize = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
}

// 0x23 game loaded: the head F7 23 04 00 alone.
// 0x59 player extra:
//   0   4    head F7 59 len
//   4   u32  kind
//   8   ..   protobuf message, to the end
std::vector<std::uint8_t> BuildPlayerExtra(const PlayerExtraParams& params)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kPlayerExtra, 8 + params.m_data.size());
    writer.U32(params.m_kind).Bytes(params.m_data);
    return FinishGamePacket(writer);
}

std::optional<PlayerExtraParams> ParsePlayerExtra(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kPlayerExtra);
    if (!reader)
        return std::nullopt;
    PlayerExtraParams params;
    params.m_kind = reader->U32();
    const auto data = reader->Bytes(reader->Remaining());
    if (!reader->Ok())
        return std::nullopt;
    params.m_data.assign(data.begin(), data.end());
    return params;
}

std::vector<std::uint8_t> BuildGameLoaded()
{
    return BuildHeadOnlyGamePacket(GamePacketType::kGameLoadedSelf);
}

bool IsGameLoaded(std::span<const std::uint8_t> packet)
{
    return IsHeadOnlyGamePacket(packet, GamePacketType::kGameLoadedSelf);
}

// 0x27 keepalive:
//   0   4    head F7 27 09 00
//   4   u8   unknown
//   5   u32  game-state checksum
std::vector<std::uint8_t> BuildKeepalive(const KeepaliveParams& params)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kOutgoingKeepalive, 9);
    writer.U8(params.m_unknown).U32(params.m_checksum);
    return FinishGamePacket(writer);
}

std::optional<KeepaliveParams> ParseKeepalive(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kOutgoingKeepalive);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    KeepaliveParams params;
    params.m_unknown = reader.U8();
    params.m_checksum = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
}

// 0x28 chat to host:
//   0     4    head F7 28 L
//   4     u8   number of receivers r (1 to 24)
//   5     r    receiver ids
//   5+r   u8   sender id
//   6+r   u8   kind: 0x10 lobby, 0x20 in game
//   7+r   u32  in game only: flags
//   ..    text, NUL-terminated
std::vector<std::uint8_t> BuildChatToHost(const ChatToHostParams& params)
{
    const auto& receivers = params.m_receivers;
    const bool inGame = params.m_kind == ChatKind::kInGame;
    if (receivers.empty() || receivers.size() > kChatReceiversMax ||
        !FitsGameText(params.m_text, kChatTextMaxLength) ||
        (!inGame && params.m_kind != ChatKind::kLobby))
        return {};
    CByteWriter writer =
        StartGamePacket(GamePacketType::kChatToHost,
                        kChatToHostHeadSize + receivers.size() + params.m_text.size() + 1);
    WriteChatMessage(writer, receivers, params.m_sender, params.m_kind, params.m_flags,
                     params.m_text);
    return FinishGamePacket(writer);
}

std::optional<ChatToHostParams> ParseChatToHost(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kChatToHost);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    auto head = ReadChatHead(reader);
    if (!head)
        return std::nullopt;
    ChatToHostParams params;
    params.m_receivers = std::move(head->m_receivers);
    params.m_sender = head->m_sender;
    const std::uint8_t kind = head->m_kind;
    if (kind == static_cast<std::uint8_t>(ChatKind::kInGame))
        params.m_flags = reader.U32();
    else if (kind != static_cast<std::uint8_t>(ChatKind::kLobby))
        return std::nullopt;
    params.m_kind = static_cast<ChatKind>(kind);
    params.m_text = reader.CString(kChatTextMaxLength);
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
}

// 0x21 leave:
//   0   4    head F7 21 08 00
//   4   u32  reason
std::vector<std::uint8_t> BuildLeaveGame(const LeaveGameParams& params)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kLeaveGame, 8);
    writer.U32(params.m_reason);
    return FinishGamePacket(writer);
}

std::optional<LeaveGameParams> ParseLeaveGame(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kLeaveGame);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
    LeaveGameParams params;
    params.m_reason = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
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

} // namespace velt
