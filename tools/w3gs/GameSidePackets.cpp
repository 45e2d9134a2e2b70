#include "tools/w3gs/GameSidePackets.h"

#include <algorithm>

#include "host/GamePacketFramer.h"
#include "host/HostChatPackets.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

namespace
{

constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kSockAddrZeroTail = 8;
constexpr std::uint16_t kSockAddrFamilyInet = 2;
constexpr std::size_t kTimeSlotHeadSize = 6;    // head and interval
constexpr std::size_t kTimeSlotChecksumEnd = 8; // head, interval and checksum
constexpr std::size_t kGameInfoPortSize = 2;
constexpr std::size_t kGameInfoNameOffset = 20;
constexpr std::size_t kSha1Size = 20;
constexpr std::uint8_t kChatKindTeam = 0x11;
constexpr std::uint8_t kChatKindHandicap = 0x14;

// The head of a packet being built; the length is patched by Finish.
CByteWriter Begin(GamePacketType type, std::size_t reserve)
{
    CByteWriter writer(reserve);
    writer.U8(kGamePacketSignature).U8(static_cast<std::uint8_t>(type)).U16(0);
    return writer;
}

std::vector<std::uint8_t> Finish(CByteWriter& writer)
{
    if (writer.Size() > kGamePacketMaxSize)
        return {};
    writer.PatchU16(kLengthOffset, static_cast<std::uint16_t>(writer.Size()));
    return writer.Take();
}

// Reads the head of one whole packet of the given type: the signature, the type, and a length
// equal to the packet's size. The reader is left after the head.
bool ReadHead(CByteReader& reader, std::span<const std::uint8_t> packet, GamePacketType type)
{
    const bool signature = reader.U8() == kGamePacketSignature;
    const bool typeMatches = reader.U8() == static_cast<std::uint8_t>(type);
    const std::uint16_t length = reader.U16();
    return reader.Ok() && signature && typeMatches && length == packet.size();
}

bool HasNul(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

bool IsEmptyPacket(std::span<const std::uint8_t> packet, GamePacketType type)
{
    CByteReader reader(packet);
    return ReadHead(reader, packet, type) && reader.AtEnd();
}

} // namespace

// Cuts the front of a byte stream:
//   0  u8   0xF7
//   1  u8   type
//   2  u16  total length L (>= 4), little-endian
//   a whole packet once L bytes are buffered.
GameStreamFrame FrameGameStream(std::span<const std::uint8_t> buffered)
{
    // The host's framer decides; the stand-ins stop at malformed bytes instead of skipping.
    using Kind = GameStreamFrame::Kind;
    const GameFrame frame = FrameGamePacket(buffered);
    switch (frame.m_kind)
    {
    case GameFrame::Kind::kWhole:
        return {Kind::kPacket, frame.m_length};
    case GameFrame::Kind::kMalformed:
        return {Kind::kMalformed, 0};
    case GameFrame::Kind::kNeedMore:
        break;
    }
    return {Kind::kNeedMore, 0};
}

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
    if (name.empty() || name.size() > kPlayerNameMaxLength || HasNul(name))
        return {};
    CByteWriter writer = Begin(GamePacketType::kReqJoin, 40 + name.size() + params.m_paddingCount);
    writer.U32(params.m_hostCounter).U32(params.m_entryKey).U8(0).U16(params.m_listenPort);
    writer.U32(params.m_peerKey).CString(name);
    writer.U8(params.m_paddingCount).Zeros(params.m_paddingCount);
    writer.U16(kSockAddrFamilyInet).U16Be(params.m_internalPort).Bytes(params.m_internalIp);
    writer.Zeros(kSockAddrZeroTail);
    return Finish(writer);
}

std::optional<JoinRequestParams> ParseJoinRequest(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kReqJoin))
        return std::nullopt;
    JoinRequestParams params;
    params.m_hostCounter = reader.U32();
    params.m_entryKey = reader.U32();
    const std::uint8_t zero = reader.U8();
    params.m_listenPort = reader.U16();
    params.m_peerKey = reader.U32();
    params.m_playerName = reader.CString(kPlayerNameMaxLength);
    params.m_paddingCount = reader.U8();
    const auto padding = reader.Bytes(params.m_paddingCount);
    const std::uint16_t family = reader.U16();
    const auto portBytes = reader.Bytes(2);
    const auto ip = reader.Bytes(params.m_internalIp.size());
    reader.Skip(kSockAddrZeroTail);
    if (!reader.AtEnd() || zero != 0 || family != kSockAddrFamilyInet ||
        params.m_playerName.empty() ||
        std::any_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b != 0; }))
        return std::nullopt;
    params.m_internalPort = static_cast<std::uint16_t>((portBytes[0] << 8) | portBytes[1]);
    std::copy(ip.begin(), ip.end(), params.m_internalIp.begin());
    return params;
}

// 0x42 map report:
//   0   4    head F7 42 0D 00
//   4   u32  1
//   8   u8   size flag (1: the game has the map)
//   9   u32  map file size
std::vector<std::uint8_t> BuildMapReport(const MapReportParams& params)
{
    CByteWriter writer = Begin(GamePacketType::kMapSize, 13);
    writer.U32(1).U8(params.m_sizeFlag).U32(params.m_mapSize);
    return Finish(writer);
}

std::optional<MapReportParams> ParseMapReport(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kMapSize))
        return std::nullopt;
    reader.Skip(4);
    MapReportParams params;
    params.m_sizeFlag = reader.U8();
    params.m_mapSize = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
}

// 0x23 game loaded: the head F7 23 04 00 alone.
std::vector<std::uint8_t> BuildGameLoaded()
{
    CByteWriter writer = Begin(GamePacketType::kGameLoadedSelf, kGamePacketHeadSize);
    return Finish(writer);
}

bool IsGameLoaded(std::span<const std::uint8_t> packet)
{
    return IsEmptyPacket(packet, GamePacketType::kGameLoadedSelf);
}

// 0x27 keepalive:
//   0   4    head F7 27 09 00
//   4   u8   unknown
//   5   u32  game-state checksum
std::vector<std::uint8_t> BuildKeepalive(const KeepaliveParams& params)
{
    CByteWriter writer = Begin(GamePacketType::kOutgoingKeepalive, 9);
    writer.U8(params.m_unknown).U32(params.m_checksum);
    return Finish(writer);
}

std::optional<KeepaliveParams> ParseKeepalive(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kOutgoingKeepalive))
        return std::nullopt;
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
        params.m_text.size() > kChatTextMaxLength || HasNul(params.m_text) ||
        (!inGame && params.m_kind != ChatKind::kLobby))
        return {};
    CByteWriter writer = Begin(GamePacketType::kChatToHost,
                               kChatToHostHeadSize + receivers.size() + params.m_text.size() + 1);
    writer.U8(static_cast<std::uint8_t>(receivers.size())).Bytes(receivers);
    writer.U8(params.m_sender).U8(static_cast<std::uint8_t>(params.m_kind));
    if (inGame)
        writer.U32(params.m_flags);
    writer.CString(params.m_text);
    return Finish(writer);
}

std::optional<ChatToHostParams> ParseChatToHost(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kChatToHost))
        return std::nullopt;
    ChatToHostParams params;
    const std::uint8_t count = reader.U8();
    if (count == 0 || count > kChatReceiversMax)
        return std::nullopt;
    const auto receivers = reader.Bytes(count);
    params.m_receivers.assign(receivers.begin(), receivers.end());
    params.m_sender = reader.U8();
    const std::uint8_t kind = reader.U8();
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
    CByteWriter writer = Begin(GamePacketType::kLeaveGame, 8);
    writer.U32(params.m_reason);
    return Finish(writer);
}

std::optional<LeaveGameParams> ParseLeaveGame(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kLeaveGame))
        return std::nullopt;
    LeaveGameParams params;
    params.m_reason = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return params;
}

// 0x30 announcement (what the game reads of it):
//   0    4    head F7 30 L
//   4    u32  product
//   8    u32  version
//   12   u32  host counter
//   16   u32  entry key
//   20   n+1  game name, NUL-terminated
//   ..        stat string, slot counts, uptime
//   L-2  u16  TCP game port, little-endian
// A packet of at least 6 bytes always yields the port; the keys and name need the full layout.
std::optional<ParsedGameInfo> ParseGameInfo(std::span<const std::uint8_t> packet)
{
    CByteReader head(packet);
    if (!ReadHead(head, packet, GamePacketType::kGameInfo) ||
        packet.size() < kGamePacketHeadSize + kGameInfoPortSize)
        return std::nullopt;
    ParsedGameInfo info;
    const std::size_t portAt = packet.size() - kGameInfoPortSize;
    info.m_gamePort = static_cast<std::uint16_t>(packet[portAt] | (packet[portAt + 1] << 8));
    if (portAt <= kGameInfoNameOffset)
        return info;
    CByteReader reader(packet.first(portAt));
    reader.Skip(12);
    const std::uint32_t hostCounter = reader.U32();
    const std::uint32_t entryKey = reader.U32();
    std::string name = reader.CString(kGameNameMaxLength);
    if (reader.Ok())
    {
        info.m_hostCounter = hostCounter;
        info.m_entryKey = entryKey;
        info.m_gameName = std::move(name);
    }
    return info;
}

// 0x0C time slot:
//   0   4    head F7 0C L
//   4   u16  interval in milliseconds
//   6   u16  checksum of the action blocks (absent in the 6-byte empty slot)
//   8   action blocks to the end: u8 player id, u16 length n, n action bytes
std::optional<ParsedTimeSlot> ParseTimeSlot(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kIncomingAction))
        return std::nullopt;
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
        GameActionBlock block;
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

// 0x0F chat from host:
//   0     4    head F7 0F L
//   4     u8   number of receivers r (1 to 24)
//   5     r    receiver ids
//   5+r   u8   sender id
//   6+r   u8   kind
//   7+r        kind 0x10: text, NUL-terminated
//              kind 0x11-0x14: u8 new value
//              kind 0x20: u32 flags, then text, NUL-terminated
std::optional<ParsedChatFromHost> ParseChatFromHost(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kChatFromHost))
        return std::nullopt;
    ParsedChatFromHost chat;
    const std::uint8_t count = reader.U8();
    if (count == 0 || count > kChatReceiversMax)
        return std::nullopt;
    const auto receivers = reader.Bytes(count);
    chat.m_receivers.assign(receivers.begin(), receivers.end());
    chat.m_sender = reader.U8();
    chat.m_kind = reader.U8();
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

// 0x1B leave acknowledgement: the head F7 1B 04 00 alone.
bool IsLeaveAck(std::span<const std::uint8_t> packet)
{
    const auto ack = BuildLeaveAck();
    return std::equal(packet.begin(), packet.end(), ack.begin(), ack.end());
}

// 0x3D map check:
//   0    4    head F7 3D L
//   4    u32  1
//   8    k+1  map path, NUL-terminated
//   ..   u32  map file size        } the map facts, when the packet goes on after the path
//   ..   u32  CRC-32 of the file    }
//   ..   u32  scripts hash (xoro)   }
//   ..   20   scripts SHA-1, from patch 1.23
std::optional<ParsedMapCheck> ParseMapCheck(std::span<const std::uint8_t> packet)
{
    CByteReader reader(packet);
    if (!ReadHead(reader, packet, GamePacketType::kMapCheck))
        return std::nullopt;
    ParsedMapCheck check;
    check.m_unknown = reader.U32();
    check.m_mapPath = reader.CString(kMapPathMaxLength);
    if (!reader.Ok())
        return std::nullopt;
    if (reader.AtEnd())
        return check;
    ParsedMapFacts facts;
    facts.m_mapSize = reader.U32();
    facts.m_mapCrc32 = reader.U32();
    facts.m_mapXoro = reader.U32();
    if (!reader.AtEnd())
    {
        const auto sha1 = reader.Bytes(kSha1Size);
        if (reader.Ok())
            std::copy(sha1.begin(), sha1.end(), facts.m_sha1.emplace().begin());
    }
    if (!reader.AtEnd())
        return std::nullopt;
    check.m_facts = facts;
    return check;
}

} // namespace velt
