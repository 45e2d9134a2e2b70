#include "tools/replay/LobbyParser.h"

#include <algorithm>
#include <string>

#include "tools/replay/ReforgedMetadata.h"

namespace velt
{
namespace
{

constexpr std::uint8_t kGameInfoPrefixId = 0x10;
constexpr std::size_t kStatGroupSize = 8; // a mask byte and up to 7 data bytes
constexpr std::size_t kMapSha1Size = 20;
constexpr std::uint8_t kMetadataSubtypeProfile = 3;
// The slot table's count covers the slot count byte and the 6 bytes after the slots.
constexpr std::size_t kSlotTableFixedBytes = 7;

bool Fail(ReplayError& error, std::size_t offset, std::string message)
{
    error.m_area = ReplayErrorArea::kData;
    error.m_offset = offset;
    error.m_message = std::move(message);
    return false;
}

// The next byte without consuming it, or -1 at the end.
int Peek(std::span<const std::uint8_t> data, const CByteReader& reader)
{
    return reader.Ok() && reader.Position() < data.size() ? data[reader.Position()] : -1;
}

std::string Hex(int value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
}

// Player record:
//   u8       record id (0x00 host, 0x16 others)
//   u8       player id
//   cstring  name
//   u8       n
//   n bytes  1: custom game; 8: ladder runtime and race; 0 and 2 occur too
bool ReadPlayerRecord(CByteReader& reader, ReplayPlayerRecord& record)
{
    record.m_recordId = reader.U8();
    record.m_playerId = reader.U8();
    record.m_name = reader.CString(kMaxReplayNameLength);
    const std::uint8_t extraSize = reader.U8();
    const auto extra = reader.Bytes(extraSize);
    record.m_extra.assign(extra.begin(), extra.end());
    return reader.Ok();
}

// Game start record:
//   u8   0x19
//   u16  n: bytes that follow
//   u8   slot count N
//   N ×  slot (7, 8 or 9 bytes; the size is (n - 7) / N), read as the host reads its own
//   u32  random seed
//   u8   select mode (layout style)
//   u8   start spot count
bool ReadSlotTable(std::span<const std::uint8_t> data, CByteReader& reader, ReplayLobby& lobby,
                   ReplayError& error)
{
    const std::size_t at = reader.Position();
    if (Peek(data, reader) != static_cast<int>(ReplayRecordId::kGameStart))
        return Fail(
            error, at,
            "expected the game start record (0x19) after the player list, found " +
                (Peek(data, reader) < 0 ? std::string("the end") : Hex(Peek(data, reader))));
    reader.Skip(1);
    const std::uint16_t size = reader.U16();
    if (!reader.Ok() || size < kSlotTableFixedBytes || size > reader.Remaining())
        return Fail(error, at, "game start record size " + std::to_string(size) + " is wrong");
    const auto table = data.subspan(at + 1, size + 2u);
    lobby.m_slotTable.assign(table.begin(), table.end());

    const std::uint8_t count = reader.U8();
    const std::size_t slotBytes = size - kSlotTableFixedBytes;
    if (count > kMaxReplaySlots)
        return Fail(error, at, std::to_string(count) + " slots exceed the limit");
    if (count == 0 ? slotBytes != 0 : slotBytes % count != 0)
        return Fail(error, at, "slot table size does not divide into its slots");
    if (count > 0)
    {
        lobby.m_slotRecordSize = slotBytes / count;
        if (lobby.m_slotRecordSize != kSlotRecordSizeBefore103 &&
            lobby.m_slotRecordSize != kSlotRecordSizeBefore107 &&
            lobby.m_slotRecordSize != kSlotRecordSize)
            return Fail(error, at,
                        "slot record size " + std::to_string(lobby.m_slotRecordSize) +
                            " is unknown");
    }
    lobby.m_slots.resize(count);
    for (auto& slot : lobby.m_slots)
        ReadSlotRecord(reader, lobby.m_slotRecordSize, slot);
    lobby.m_randomSeed = reader.U32();
    lobby.m_selectMode = reader.U8();
    lobby.m_startSpots = reader.U8();
    return reader.Ok() || Fail(error, at, "game start record is truncated");
}

// Reforged metadata record: u8 0x39 or 0x38, u8 subtype, u32 n, n bytes of protobuf.
bool ReadMetadata(std::span<const std::uint8_t> data, CByteReader& reader, ReplayLobby& lobby,
                  ReplayError& error)
{
    while (Peek(data, reader) == static_cast<int>(ReplayRecordId::kMetadata) ||
           Peek(data, reader) == static_cast<int>(ReplayRecordId::kMetadataPost202))
    {
        const std::size_t at = reader.Position();
        if (lobby.m_metadata.size() == kMaxReplayMetadataRecords)
            return Fail(error, at, "too many metadata records");
        ReplayMetadataRecord record;
        record.m_recordId = reader.U8();
        record.m_subtype = reader.U8();
        const std::uint32_t size = reader.U32();
        if (!reader.Ok() || size > kMaxReplayMetadataSize || size > reader.Remaining())
            return Fail(error, at, "metadata record size " + std::to_string(size) + " is wrong");
        const auto body = reader.Bytes(size);
        record.m_body.assign(body.begin(), body.end());
        if (record.m_recordId == static_cast<std::uint8_t>(ReplayRecordId::kMetadataPost202))
            lobby.m_post202Format = true;
        if (record.m_subtype == kMetadataSubtypeProfile)
            for (auto& profile : DecodeReplayProfiles(record.m_body))
                lobby.m_profiles.push_back(std::move(profile));
        lobby.m_metadata.push_back(std::move(record));
    }
    return true;
}

bool ReadPlayerList(std::span<const std::uint8_t> data, CByteReader& reader, ReplayLobby& lobby,
                    ReplayError& error)
{
    while (Peek(data, reader) == static_cast<int>(ReplayRecordId::kPlayer))
    {
        const std::size_t at = reader.Position();
        if (lobby.m_players.size() == kMaxReplayPlayerRecords)
            return Fail(error, at, "too many player records");
        ReplayPlayerRecord record;
        const bool ok = ReadPlayerRecord(reader, record);
        record.m_trailer = reader.U32();
        if (!ok || !reader.Ok())
            return Fail(error, at, "player record is malformed");
        lobby.m_players.push_back(std::move(record));
    }
    return true;
}

} // namespace

std::vector<std::uint8_t> DecodeReplayStatString(std::span<const std::uint8_t> encoded)
{
    std::vector<std::uint8_t> decoded;
    decoded.reserve(encoded.size());
    for (std::size_t group = 0; group < encoded.size(); group += kStatGroupSize)
    {
        const std::uint8_t mask = encoded[group];
        for (std::size_t k = 1; k < kStatGroupSize && group + k < encoded.size(); ++k)
        {
            const std::uint8_t byte = encoded[group + k];
            decoded.push_back((mask & (1u << k)) != 0 ? byte : static_cast<std::uint8_t>(byte - 1));
        }
    }
    return decoded;
}

// Decoded stat string:
//   0   u32      game-setting flags
//   4   u8       unknown (0)
//   5   u16      map width
//   7   u16      map height
//   9   u32      map checksum
//   13  cstring  map path
//   ..  cstring  host name
//   ..  cstring  empty
//   ..  20 bytes map SHA-1 (from 1.07 on)
bool ParseReplayStatString(std::span<const std::uint8_t> decoded, ReplayStatString& stat)
{
    CByteReader reader(decoded);
    stat.m_decoded.assign(decoded.begin(), decoded.end());
    stat.m_gameFlags = reader.U32();
    stat.m_unknown = reader.U8();
    stat.m_mapWidth = reader.U16();
    stat.m_mapHeight = reader.U16();
    stat.m_mapChecksum = reader.U32();
    stat.m_mapPath = reader.CString(kMaxReplayNameLength);
    stat.m_hostName = reader.CString(kMaxReplayNameLength);
    (void)reader.CString(kMaxReplayNameLength);
    if (reader.Remaining() == kMapSha1Size)
    {
        const auto sha1 = reader.Bytes(kMapSha1Size);
        stat.m_mapSha1.emplace();
        std::copy(sha1.begin(), sha1.end(), stat.m_mapSha1->begin());
    }
    return reader.Ok();
}

// Lobby:
//   u32      game-info prefix 0x00000110
//   record   host player record
//   cstring  game name
//   cstring  private string
//   cstring  encoded stat string
//   u32      player count
//   u32      game type
//   u32      language
//   { player record (0x16), u32 }              while the next byte is 0x16
//   { u8 0x39|0x38, u8 subtype, u32 n, n bytes } Reforged metadata
//   game start record (0x19)
bool ParseReplayLobby(std::span<const std::uint8_t> data, CByteReader& reader, ReplayLobby& lobby,
                      ReplayError& error)
{
    lobby.m_gameInfoPrefix = reader.U32();
    if (!reader.Ok() || (lobby.m_gameInfoPrefix & 0xFF) != kGameInfoPrefixId)
        return Fail(error, 0, "the data does not start with the game information (0x10)");
    std::size_t at = reader.Position();
    if (!ReadPlayerRecord(reader, lobby.m_host) ||
        lobby.m_host.m_recordId != static_cast<std::uint8_t>(ReplayRecordId::kHostPlayer))
        return Fail(error, at, "host player record is malformed");

    at = reader.Position();
    lobby.m_gameName = reader.CString(kMaxReplayNameLength);
    lobby.m_privateString = reader.CString(kMaxReplayNameLength);
    if (!reader.Ok())
        return Fail(error, at, "game name is malformed");
    at = reader.Position();
    const std::string encoded = reader.CString(kMaxReplayStatStringLength);
    if (!reader.Ok())
        return Fail(error, at, "stat string is unterminated or too long");
    lobby.m_encodedStatString.assign(encoded.begin(), encoded.end());
    if (!ParseReplayStatString(DecodeReplayStatString(lobby.m_encodedStatString), lobby.m_stat))
        return Fail(error, at, "stat string does not hold the map and host fields");

    at = reader.Position();
    lobby.m_playerCount = reader.U32();
    lobby.m_gameType = reader.U32();
    lobby.m_language = reader.U32();
    if (!reader.Ok())
        return Fail(error, at, "data ends inside the game information");
    return ReadPlayerList(data, reader, lobby, error) && ReadMetadata(data, reader, lobby, error) &&
           ReadSlotTable(data, reader, lobby, error);
}

} // namespace velt
