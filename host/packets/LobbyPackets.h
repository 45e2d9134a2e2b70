#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/packets/GamePacket.h"
#include "host/packets/StatString.h"

namespace velt
{

// Packets that a LAN game host sends to the game before play: what a match's replay header
// holds (announcement, join reply, players, map check, slot table, countdown) and the loaded
// batch. Builders return the whole packet (head included), or an empty vector when the content
// does not fit (a packet's 16-bit length, a name or text too long). Parsers take exactly one
// packet whose length field must match.

// Product ids as the little-endian dwords that the wire carries reversed ("PX3W", "3RAW").
constexpr std::uint32_t kProductFrozenThrone = 0x57335850; // W3XP
constexpr std::uint32_t kProductReignOfChaos = 0x57415233; // WAR3
// Patch 1.26: the last LAN protocol that the game's UDP discovery on port 6112 serves.
constexpr std::uint32_t kGameVersion126 = 26;

constexpr std::size_t kMaxSlots = 24;      // from patch 1.29; 12 before
constexpr std::uint8_t kObserverTeam = 12; // team and colour of observer slots up to patch 1.28

// ---- 0x30 announcement --------------------------------------------------------------------

struct GameInfoParams
{
    std::uint32_t m_product = kProductFrozenThrone;
    std::uint32_t m_version = kGameVersion126;
    std::uint32_t m_hostCounter = 1;
    std::uint32_t m_entryKey = 0;
    std::string m_gameName;
    StatStringFields m_stat;
    std::uint32_t m_slotsTotal = 12;
    std::uint32_t m_gameType = 1; // custom game, not saved
    std::uint32_t m_slotsUsed = 1;
    std::uint32_t m_slotsOpen = 12;
    std::uint32_t m_uptimeSeconds = 0;
    std::uint16_t m_port = 0; // TCP game port, little-endian in the last two bytes
};

std::vector<std::uint8_t> BuildGameInfo(const GameInfoParams& params);
// The same packet with a stat string given as its decoded bytes (a recorded game's, kept as it
// was) instead of one built from m_stat, which is not read.
std::vector<std::uint8_t> BuildGameInfoWithStat(const GameInfoParams& params,
                                                std::span<const std::uint8_t> decodedStat);
// Every field, the stat string decoded (ParseGameInfo reads only what the game needs).
std::optional<GameInfoParams> ParseGameInfoDetails(std::span<const std::uint8_t> packet);

// Every field as the wire has it, the stat string still encoded: what the game's multicast DNS
// record repeats byte for byte.
struct GameInfoFields
{
    std::uint32_t m_product = 0;
    std::uint32_t m_version = 0;
    std::uint32_t m_hostCounter = 0;
    std::uint32_t m_entryKey = 0;
    std::string m_gameName;
    std::vector<std::uint8_t> m_encodedStat; // without its NUL
    std::uint32_t m_slotsTotal = 0;
    std::uint32_t m_gameType = 0; // also called the game flags
    std::uint32_t m_slotsUsed = 0;
    std::uint32_t m_slotsOpen = 0;
    std::uint32_t m_uptimeSeconds = 0;
    std::uint16_t m_port = 0;

    bool operator==(const GameInfoFields&) const = default;
};

std::optional<GameInfoFields> ParseGameInfoFields(std::span<const std::uint8_t> packet);

// A LAN announcement as the game reads it. Only the port is certain: a host may announce a
// short packet whose last two bytes are the port. The game name and keys are filled in when
// the packet carries them.
struct ParsedGameInfo
{
    std::uint16_t m_gamePort = 0;
    std::uint32_t m_hostCounter = 0;
    std::uint32_t m_entryKey = 0;
    std::optional<std::string> m_gameName;

    bool operator==(const ParsedGameInfo&) const = default;
};

std::optional<ParsedGameInfo> ParseGameInfo(std::span<const std::uint8_t> packet);

// ---- slot table (0x04 join reply, 0x09 slot info) ----------------------------------------

struct SlotRecord
{
    std::uint8_t m_playerId = 0;
    std::uint8_t m_downloadStatus = 100; // percent of the map; 100 = has it
    std::uint8_t m_slotStatus = 2;       // 0 open, 1 closed, 2 occupied
    std::uint8_t m_computer = 0;
    std::uint8_t m_team = 0;
    std::uint8_t m_colour = 0;
    std::uint8_t m_race = 0x20; // random
    std::uint8_t m_computerType = 1;
    std::uint8_t m_handicap = 100;

    bool operator==(const SlotRecord&) const = default;
};

struct SlotTable
{
    std::vector<SlotRecord> m_slots;
    std::uint32_t m_randomSeed = 0;
    std::uint8_t m_layoutStyle = 0;
    std::uint8_t m_playerSlots = 0; // start positions of the map

    bool operator==(const SlotTable&) const = default;
};

struct SlotInfoJoinParams
{
    SlotTable m_table;
    std::uint8_t m_playerId = 0; // the id given to the joining game
    std::uint16_t m_port = 0;    // the game's port as the host sees it
    std::array<std::uint8_t, 4> m_ip{};
};

std::vector<std::uint8_t> BuildSlotInfoJoin(const SlotInfoJoinParams& params);
std::optional<SlotInfoJoinParams> ParseSlotInfoJoin(std::span<const std::uint8_t> packet);

std::vector<std::uint8_t> BuildSlotInfo(const SlotTable& table);
std::optional<SlotTable> ParseSlotInfo(std::span<const std::uint8_t> packet);

// Where the 0x09 slot table's records start, their size, and a record's team byte.
constexpr std::size_t kSlotInfoRecordsOffset = 7;
constexpr std::size_t kSlotRecordSize = 9;
// The shorter records of recorded games: no handicap before patch 1.07, no computer type
// before 1.03.
constexpr std::size_t kSlotRecordSizeBefore107 = 8;
constexpr std::size_t kSlotRecordSizeBefore103 = 7;

// Reads one slot record of recordSize bytes (one of the three sizes); the fields that a
// shorter record lacks keep their defaults. The reader's failure is the caller's to check.
void ReadSlotRecord(CByteReader& reader, std::size_t recordSize, SlotRecord& slot);
constexpr std::size_t kSlotRecordTeamOffset = 4;

// ---- 0x06 player info ----------------------------------------------------------------------

struct PlayerInfoParams
{
    std::uint32_t m_joinCounter = 2;
    std::uint8_t m_playerId = 0;
    std::string m_name;
    std::uint8_t m_paddingCount = 1; // zero bytes after the name: 1 before patch 1.31, 2 from it
};

// The padding of the player info that a game of this version expects (the announcement's
// version number: 26 for 1.26, 10031 for 1.31).
std::uint8_t PlayerInfoPaddingFor(std::uint32_t version);

// Offset of the player's name inside the player-info packet.
constexpr std::size_t kPlayerInfoNameOffset = 9;

std::vector<std::uint8_t> BuildPlayerInfo(const PlayerInfoParams& params);
std::optional<PlayerInfoParams> ParsePlayerInfo(std::span<const std::uint8_t> packet);

// ---- 0x3D map check ------------------------------------------------------------------------

struct MapCheckParams
{
    std::string m_mapPath;
    std::uint32_t m_fileSize = 0;
    std::uint32_t m_fileCrc = 0; // CRC-32 of the whole map file
    std::uint32_t m_mapXoro = 0; // scripts hash
    std::array<std::uint8_t, 20> m_sha1{};
};

// Offset of the map path inside the map-check packet.
constexpr std::size_t kMapCheckPathOffset = 8;

std::vector<std::uint8_t> BuildMapCheck(const MapCheckParams& params);

struct ParsedMapFacts
{
    std::uint32_t m_mapSize = 0;
    std::uint32_t m_mapCrc32 = 0;
    std::uint32_t m_mapXoro = 0;
    std::optional<std::array<std::uint8_t, 20>> m_sha1;

    bool operator==(const ParsedMapFacts&) const = default;
};

struct ParsedMapCheck
{
    std::uint32_t m_unknown = 0;
    std::string m_mapPath;
    std::optional<ParsedMapFacts> m_facts; // absent when the packet ends after the path

    bool operator==(const ParsedMapCheck&) const = default;
};

std::optional<ParsedMapCheck> ParseMapCheck(std::span<const std::uint8_t> packet);

// ---- 0x0A, 0x0B countdown ------------------------------------------------------------------

std::vector<std::uint8_t> BuildCountdownStart();
std::vector<std::uint8_t> BuildCountdownEnd();

// ---- 0x08 a player has loaded ------------------------------------------------------------

// One player has loaded, F7 08 05 00 and the player id.
std::vector<std::uint8_t> BuildPlayerLoaded(std::uint8_t playerId);

} // namespace velt
