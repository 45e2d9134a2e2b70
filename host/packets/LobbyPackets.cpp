#include "host/packets/LobbyPackets.h"

#include <algorithm>

namespace velt
{

namespace
{

constexpr std::size_t kSlotBlockFixedSize = 7; // count byte, seed u32, layout, player slots
constexpr std::size_t kGameInfoPortSize = 2;
constexpr std::size_t kGameInfoNameOffset = 20;
constexpr std::size_t kSha1Size = 20;
constexpr std::uint8_t kPlayerInfoMaxPadding = 2;
// Patch 1.31 in the announcement's numbering: the player info's padding grows to two bytes.
constexpr std::uint32_t kFirstVersionWithLongPlayerPadding = 10031;

// Slot block:
//   0     u8    slot count n
//   1     9·n   slot records: pid, download %, status, computer, team, colour, race,
//               computer type, handicap
//   1+9n  u32   random seed
//   5+9n  u8    layout style
//   6+9n  u8    player slots
std::size_t SlotBlockSize(const SlotTable& table)
{
    return kSlotBlockFixedSize + kSlotRecordSize * table.m_slots.size();
}

void WriteSlotBlock(CByteWriter& writer, const SlotTable& table)
{
    writer.U8(static_cast<std::uint8_t>(table.m_slots.size()));
    for (const SlotRecord& slot : table.m_slots)
    {
        writer.U8(slot.m_playerId)
            .U8(slot.m_downloadStatus)
            .U8(slot.m_slotStatus)
            .U8(slot.m_computer)
            .U8(slot.m_team)
            .U8(slot.m_colour)
            .U8(slot.m_race)
            .U8(slot.m_computerType)
            .U8(slot.m_handicap);
    }
    writer.U32(table.m_randomSeed).U8(table.m_layoutStyle).U8(table.m_playerSlots);
}

// Reads a block whose length field the packet gave; the records must fill it exactly.
std::optional<SlotTable> ReadSlotBlock(CByteReader& reader, std::size_t blockLength)
{
    const std::size_t count = reader.U8();
    if (!reader.Ok() || count > kMaxSlots ||
        blockLength != kSlotBlockFixedSize + kSlotRecordSize * count)
        return std::nullopt;
    SlotTable table;
    table.m_slots.resize(count);
    for (SlotRecord& slot : table.m_slots)
        ReadSlotRecord(reader, kSlotRecordSize, slot);
    table.m_randomSeed = reader.U32();
    table.m_layoutStyle = reader.U8();
    table.m_playerSlots = reader.U8();
    if (!reader.Ok())
        return std::nullopt;
    return table;
}

} // namespace

// Slot record (9 bytes; 8 before 1.07, 7 before 1.03):
//   0  u8  player id
//   1  u8  download %
//   2  u8  slot status
//   3  u8  computer
//   4  u8  team
//   5  u8  colour
//   6  u8  race
//   7  u8  computer type (from 1.03)
//   8  u8  handicap (from 1.07)
void ReadSlotRecord(CByteReader& reader, std::size_t recordSize, SlotRecord& slot)
{
    slot.m_playerId = reader.U8();
    slot.m_downloadStatus = reader.U8();
    slot.m_slotStatus = reader.U8();
    slot.m_computer = reader.U8();
    slot.m_team = reader.U8();
    slot.m_colour = reader.U8();
    slot.m_race = reader.U8();
    if (recordSize >= kSlotRecordSizeBefore107)
        slot.m_computerType = reader.U8();
    if (recordSize >= kSlotRecordSize)
        slot.m_handicap = reader.U8();
}

// 0x30 announcement:
//   0   4   head F7 30 len
//   4   u32 product          8   u32 version       12  u32 host counter   16  u32 entry key
//   20  str game name        ..  u8 0              ..  str encoded stat string
//   ..  u32 slots total      ..  u32 game type     ..  u32 slots used     ..  u32 slots open
//   ..  u32 uptime seconds   ..  u16 TCP game port (the last two bytes)
std::vector<std::uint8_t> BuildGameInfo(const GameInfoParams& params)
{
    if (!FitsGameText(params.m_gameName, kGameNameMaxLength) ||
        !FitsGameText(params.m_stat.m_mapPath, kStatStringMaxText) ||
        !FitsGameText(params.m_stat.m_hostName, kStatStringMaxText))
        return {};
    return BuildGameInfoWithStat(params, BuildStatString(params.m_stat));
}

std::vector<std::uint8_t> BuildGameInfoWithStat(const GameInfoParams& params,
                                                std::span<const std::uint8_t> decodedStat)
{
    if (!FitsGameText(params.m_gameName, kGamePacketMaxSize))
        return {};
    const auto encoded = EncodeStatString(decodedStat);
    CByteWriter writer =
        StartGamePacket(GamePacketType::kGameInfo, 64 + params.m_gameName.size() + encoded.size());
    writer.U32(params.m_product)
        .U32(params.m_version)
        .U32(params.m_hostCounter)
        .U32(params.m_entryKey)
        .CString(params.m_gameName)
        .U8(0)
        .Bytes(encoded)
        .U8(0)
        .U32(params.m_slotsTotal)
        .U32(params.m_gameType)
        .U32(params.m_slotsUsed)
        .U32(params.m_slotsOpen)
        .U32(params.m_uptimeSeconds)
        .U16(params.m_port);
    return FinishGamePacket(writer);
}

std::optional<GameInfoFields> ParseGameInfoFields(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kGameInfo);
    if (!reader)
        return std::nullopt;
    GameInfoFields fields;
    fields.m_product = reader->U32();
    fields.m_version = reader->U32();
    fields.m_hostCounter = reader->U32();
    fields.m_entryKey = reader->U32();
    fields.m_gameName = reader->CString(kGameNameMaxLength);
    const bool padZero = reader->U8() == 0;
    const std::string encoded = reader->CString(kGamePacketMaxSize);
    fields.m_encodedStat.assign(encoded.begin(), encoded.end());
    fields.m_slotsTotal = reader->U32();
    fields.m_gameType = reader->U32();
    fields.m_slotsUsed = reader->U32();
    fields.m_slotsOpen = reader->U32();
    fields.m_uptimeSeconds = reader->U32();
    fields.m_port = reader->U16();
    if (!reader->AtEnd() || !padZero)
        return std::nullopt;
    return fields;
}

std::optional<GameInfoParams> ParseGameInfoDetails(std::span<const std::uint8_t> packet)
{
    const auto fields = ParseGameInfoFields(packet);
    if (!fields)
        return std::nullopt;
    const auto decoded = DecodeStatString(fields->m_encodedStat);
    if (!decoded)
        return std::nullopt;
    auto stat = ParseStatString(*decoded);
    if (!stat)
        return std::nullopt;
    GameInfoParams params;
    params.m_product = fields->m_product;
    params.m_version = fields->m_version;
    params.m_hostCounter = fields->m_hostCounter;
    params.m_entryKey = fields->m_entryKey;
    params.m_gameName = fields->m_gameName;
    params.m_stat = std::move(*stat);
    params.m_slotsTotal = fields->m_slotsTotal;
    params.m_gameType = fields->m_gameType;
    params.m_slotsUsed = fields->m_slotsUsed;
    params.m_slotsOpen = fields->m_slotsOpen;
    params.m_uptimeSeconds = fields->m_uptimeSeconds;
    params.m_port = fields->m_port;
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
    if (!OpenGamePacket(packet, GamePacketType::kGameInfo) ||
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

// 0x04 join reply:
//   0     4      head F7 04 len
//   4     u16    slot block length (7 + 9n)
//   6     7+9n   slot block
//   13+9n u8     player id given to the joining game
//   14+9n 16     sockaddr of the joining game
std::vector<std::uint8_t> BuildSlotInfoJoin(const SlotInfoJoinParams& params)
{
    if (params.m_table.m_slots.size() > kMaxSlots)
        return {};
    CByteWriter writer = StartGamePacket(GamePacketType::kSlotInfoJoin, 160);
    writer.U16(static_cast<std::uint16_t>(SlotBlockSize(params.m_table)));
    WriteSlotBlock(writer, params.m_table);
    writer.U8(params.m_playerId);
    WriteGameSockAddr(writer, {kSockAddrFamilyInet, params.m_port, params.m_ip});
    return FinishGamePacket(writer);
}

std::optional<SlotInfoJoinParams> ParseSlotInfoJoin(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kSlotInfoJoin);
    if (!reader)
        return std::nullopt;
    const std::size_t blockLength = reader->U16();
    auto table = ReadSlotBlock(*reader, blockLength);
    if (!table)
        return std::nullopt;
    SlotInfoJoinParams params;
    params.m_table = std::move(*table);
    params.m_playerId = reader->U8();
    const GameSockAddr address = ReadGameSockAddr(*reader);
    params.m_port = address.m_port;
    params.m_ip = address.m_ip;
    if (!reader->AtEnd())
        return std::nullopt;
    return params;
}

// 0x09 slot info:
//   0   4     head F7 09 len
//   4   u16   slot block length (7 + 9n)
//   6   7+9n  slot block; the records start at packet offset 7
std::vector<std::uint8_t> BuildSlotInfo(const SlotTable& table)
{
    if (table.m_slots.size() > kMaxSlots)
        return {};
    CByteWriter writer = StartGamePacket(GamePacketType::kSlotInfo, 128);
    writer.U16(static_cast<std::uint16_t>(SlotBlockSize(table)));
    WriteSlotBlock(writer, table);
    return FinishGamePacket(writer);
}

std::optional<SlotTable> ParseSlotInfo(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kSlotInfo);
    if (!reader)
        return std::nullopt;
    const std::size_t blockLength = reader->U16();
    auto table = ReadSlotBlock(*reader, blockLength);
    if (!table || !reader->AtEnd())
        return std::nullopt;
    return table;
}

std::uint8_t PlayerInfoPaddingFor(std::uint32_t version)
{
    return version >= kFirstVersionWithLongPlayerPadding ? 2 : 1;
}

// 0x06 player info:
//   0   4    head F7 06 len
//   4   u32  join counter
//   8   u8   player id
//   9   str  name (at most 15 characters)
//   ..  u8   count c of zero bytes that follow (1 before patch 1.31, 2 from it)
//   ..  c    zero bytes
//   ..  16   external sockaddr (family 2, all else zero for a recorded player)
//   ..  16   internal sockaddr
std::vector<std::uint8_t> BuildPlayerInfo(const PlayerInfoParams& params)
{
    if (params.m_name.empty() || !FitsGameText(params.m_name, kPlayerNameMaxLength))
        return {};
    CByteWriter writer = StartGamePacket(GamePacketType::kPlayerInfo, 64);
    if (params.m_paddingCount > kPlayerInfoMaxPadding)
        return {};
    writer.U32(params.m_joinCounter)
        .U8(params.m_playerId)
        .CString(params.m_name)
        .U8(params.m_paddingCount)
        .Zeros(params.m_paddingCount);
    WriteGameSockAddr(writer, {});
    WriteGameSockAddr(writer, {});
    return FinishGamePacket(writer);
}

std::optional<PlayerInfoParams> ParsePlayerInfo(std::span<const std::uint8_t> packet)
{
    auto reader = OpenGamePacket(packet, GamePacketType::kPlayerInfo);
    if (!reader)
        return std::nullopt;
    PlayerInfoParams params;
    params.m_joinCounter = reader->U32();
    params.m_playerId = reader->U8();
    params.m_name = reader->CString(kPlayerNameMaxLength);
    params.m_paddingCount = reader->U8();
    if (params.m_paddingCount > kPlayerInfoMaxPadding)
        return std::nullopt;
    reader->Skip(params.m_paddingCount + 2 * kSockAddrSize);
    if (!reader->AtEnd())
        return std::nullopt;
    return params;
}

// 0x3D map check:
//   0    4    head F7 3D L
//   4    u32  1
//   8    k+1  map path, NUL-terminated
//   ..   u32  map file size        } the map facts, when the packet goes on after the path
//   ..   u32  CRC-32 of the file    }
//   ..   u32  scripts hash (xoro)   }
//   ..   20   scripts SHA-1, from patch 1.23
std::vector<std::uint8_t> BuildMapCheck(const MapCheckParams& params)
{
    if (!FitsGameText(params.m_mapPath, kMapPathMaxLength))
        return {};
    CByteWriter writer = StartGamePacket(GamePacketType::kMapCheck, 64 + params.m_mapPath.size());
    writer.U32(1)
        .CString(params.m_mapPath)
        .U32(params.m_fileSize)
        .U32(params.m_fileCrc)
        .U32(params.m_mapXoro)
        .Bytes(params.m_sha1);
    return FinishGamePacket(writer);
}

std::optional<ParsedMapCheck> ParseMapCheck(std::span<const std::uint8_t> packet)
{
    auto opened = OpenGamePacket(packet, GamePacketType::kMapCheck);
    if (!opened)
        return std::nullopt;
    CByteReader& reader = *opened;
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

// 0x0A and 0x0B: the head alone.
std::vector<std::uint8_t> BuildCountdownStart()
{
    return BuildHeadOnlyGamePacket(GamePacketType::kCountdownStart);
}

std::vector<std::uint8_t> BuildCountdownEnd()
{
    return BuildHeadOnlyGamePacket(GamePacketType::kCountdownEnd);
}

// 0x08 a player has loaded:
//   0   4    head F7 08 05 00
//   4   u8   player id
std::vector<std::uint8_t> BuildPlayerLoaded(std::uint8_t playerId)
{
    CByteWriter writer = StartGamePacket(GamePacketType::kGameLoadedOthers, 5);
    writer.U8(playerId);
    return FinishGamePacket(writer);
}

} // namespace velt
