#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/packets/LobbyPackets.h"

namespace velt
{

// Every length that a replay file states is checked against one of these before anything is
// read or allocated for it. They sit well above what real games produce (8 KB blocks, a few MB
// of data, 24 slots, 15-byte names) and well below what would hurt the machine.
constexpr std::size_t kMaxReplayFileSize = 64u << 20;
constexpr std::uint32_t kMaxReplayDecompressedSize = 128u << 20;
constexpr std::uint32_t kMaxReplayBlocks = 65536;
constexpr std::uint32_t kMaxReplayBlockCompressedSize = 1u << 20;
constexpr std::uint32_t kMaxReplayBlockDecompressedSize = 1u << 20;
constexpr std::size_t kMaxReplayMagicSearch = 4096;      // bytes a NetEase prefix may take
constexpr std::size_t kMaxReplayNameLength = 255;        // player, game and host names, map path
constexpr std::size_t kMaxReplayStatStringLength = 2048; // encoded, terminator excluded
constexpr std::size_t kMaxReplayPlayerRecords = 32;
constexpr std::size_t kMaxReplaySlots = 24;
constexpr std::size_t kMaxReplayMetadataRecords = 256;
constexpr std::uint32_t kMaxReplayMetadataSize = 65536;
constexpr std::size_t kMaxReplayChatLength = 65535; // the record's own u16 bounds it too

// Record ids of a replay's decompressed data, lobby first, then the game.
enum class ReplayRecordId : std::uint8_t
{
    kHostPlayer = 0x00,       // host player record (the one after the game-info prefix)
    kGameInfo = 0x10,         // first byte of the game-info prefix
    kPlayer = 0x16,           // further player records
    kPlayerLeft = 0x17,       // u32 reason, u8 pid, u32 result, u32 counter
    kGameStart = 0x19,        // slot table, random seed, layout, start spots
    kCountdownStart = 0x1A,   // u32 1
    kCountdownEnd = 0x1B,     // u32 1
    kLoaded = 0x1C,           // u32 1
    kTimeSlotFragment = 0x1E, // part of an oversized time slot; the time slot itself up to 1.02
    kTimeSlot = 0x1F,         // u16 n, u16 increment, command blocks
    kChat = 0x20,             // chat; the checksum record up to 1.02
    kChecksum = 0x22,         // u8 k, k bytes
    kDesync = 0x23,           // u32, u8, u32, u8
    kForcedGameEnd = 0x2F,    // u32 mode, u32 seconds left
    kMetadataPost202 = 0x38,  // Reforged protobuf metadata, 2.0.2 numbering
    kMetadata = 0x39,         // Reforged protobuf metadata
};

// Fixed header and sub-header. The version is the sub-header's number: 2 for 1.02, 26 for
// 1.26, 10032 for 1.32, 10100 for 2.0.
struct W3gHeader
{
    std::size_t m_fileOffset = 0; // where the magic starts (NetEase files carry a prefix)
    std::uint32_t m_headerSize = 0;
    std::uint32_t m_fileSize = 0;
    std::uint32_t m_headerVersion = 0;
    std::uint32_t m_decompressedSize = 0;
    std::uint32_t m_blockCount = 0;
    std::string m_product; // "W3XP" or "WAR3"
    std::uint32_t m_version = 0;
    std::uint16_t m_build = 0;
    std::uint16_t m_flags = 0; // 0x8000 multiplayer
    std::uint32_t m_lengthMs = 0;
    std::uint32_t m_crc = 0;
    std::size_t m_blockHeaderSize = 0; // 8, or 12 from 1.32 on

    // 26 for 1.26 and for 10026 alike; 100 for 2.0.
    std::uint32_t Patch() const { return m_version >= 10000 ? m_version - 10000 : m_version; }
};

struct ReplayPlayerRecord
{
    std::uint8_t m_recordId = 0; // 0x00 host, 0x16 others
    std::uint8_t m_playerId = 0;
    std::string m_name;                // as recorded; Reforged cuts it to 15 bytes
    std::vector<std::uint8_t> m_extra; // 1 byte custom, 8 bytes ladder (runtime, race)
    std::uint32_t m_trailer = 0;       // the u32 after a 0x16 record
};

// The map and settings block, decoded. m_decoded keeps every byte so that it can be encoded
// again unchanged for a game announcement.
struct ReplayStatString
{
    std::vector<std::uint8_t> m_decoded;
    std::uint32_t m_gameFlags = 0; // speed, visibility, observers, teams
    std::uint8_t m_unknown = 0;
    std::uint16_t m_mapWidth = 0;
    std::uint16_t m_mapHeight = 0;
    std::uint32_t m_mapChecksum = 0; // "xoro"
    std::string m_mapPath;
    std::string m_hostName;
    std::optional<std::array<std::uint8_t, 20>> m_mapSha1; // absent before 1.07
};

// One slot of the 0x19 table: the LAN slot record, whose fields a recorded game's shorter
// records leave at their defaults.
using ReplaySlot = SlotRecord;

struct ReplayMetadataRecord
{
    std::uint8_t m_recordId = 0;      // 0x39 or 0x38
    std::uint8_t m_subtype = 0;       // 3 profile, 4 skins, 5 unknown
    std::vector<std::uint8_t> m_body; // protobuf
};

// A Reforged player profile from a subtype-3 metadata record.
struct ReplayProfile
{
    std::uint8_t m_playerId = 0;
    std::string m_battleTag;
    std::string m_clan;
    std::string m_portrait;
    bool m_nested = false; // one of several profiles in one record, as early 1.32 writes them
};

struct ReplayLobby
{
    std::uint32_t m_gameInfoPrefix = 0; // 0x00000110
    ReplayPlayerRecord m_host;
    std::string m_gameName;
    std::string m_privateString; // nearly always empty; a password in one known file
    std::vector<std::uint8_t> m_encodedStatString; // as stored, without the terminator
    ReplayStatString m_stat;
    std::uint32_t m_playerCount = 0; // slots in custom games, players in ladder games
    std::uint32_t m_gameType = 0;
    std::uint32_t m_language = 0;
    std::vector<ReplayPlayerRecord> m_players; // the 0x16 records, host not included
    std::vector<ReplayMetadataRecord> m_metadata;
    std::vector<ReplayProfile> m_profiles;
    bool m_post202Format = false; // 0x38 metadata: stored action ids from 0x77 on are shifted
    // The 0x19 record from its u16 byte count to the start-spot byte: for 9-byte slots the
    // same bytes as the slot part of the LAN slot info.
    std::vector<std::uint8_t> m_slotTable;
    std::size_t m_slotRecordSize = 9; // 7 before 1.03, 8 up to 1.06
    std::vector<ReplaySlot> m_slots;
    std::uint32_t m_randomSeed = 0;
    std::uint8_t m_selectMode = 0; // layout style; opaque
    std::uint8_t m_startSpots = 0;
};

// One time slot, its 0x1E fragments joined in front of the closing record.
struct ReplayTimeSlot
{
    std::uint32_t m_timeMs = 0;     // game time when the slot has been played
    std::uint32_t m_intervalMs = 0; // the closing record's increment plus its fragments'
    std::uint32_t m_dataOffset = 0; // command blocks in ReplayFile::m_commandData
    std::uint32_t m_dataSize = 0;
    std::uint16_t m_fragments = 0;   // 0x1E pieces joined in front
    std::uint8_t m_checksumSize = 0; // 0 when no checksum record follows
    std::uint32_t m_checksum = 0;    // its first four bytes
};

struct ReplayChat
{
    std::uint32_t m_timeMs = 0;
    std::uint32_t m_afterSlot = 0; // number of time slots before it
    std::uint8_t m_senderId = 0;
    std::uint8_t m_flags = 0; // 0x20 in game, 0x10 lobby, 0x11-0x14 lobby changes
    std::uint32_t m_mode = 0; // with flag 0x20: 0 all, 1 allies, 2 observers, 3+N slot N
    std::string m_text;
    std::vector<std::uint8_t> m_payload; // everything after the flag byte, as recorded
};

struct ReplayLeave
{
    std::uint32_t m_timeMs = 0;
    std::uint32_t m_afterSlot = 0;
    std::uint32_t m_reason = 0; // 0x01 remote, 0x0C the saver, or LAN codes from host bots
    std::uint8_t m_playerId = 0;
    std::uint32_t m_result = 0; // LAN "player left" codes
    std::uint32_t m_counter = 0;
};

// Per-player totals in the categories that the w3gjs parser reports, counted its way.
struct ActionCategoryCounts
{
    std::uint32_t m_rightClick = 0;
    std::uint32_t m_select = 0;
    std::uint32_t m_selectHotkey = 0;
    std::uint32_t m_assignGroup = 0;
    std::uint32_t m_basic = 0;
    std::uint32_t m_buildTrain = 0;
    std::uint32_t m_ability = 0;
    std::uint32_t m_item = 0;
    std::uint32_t m_esc = 0;
    std::uint32_t m_removeUnit = 0;
};

struct PlayerActionCounts
{
    std::uint8_t m_playerId = 0;
    std::uint32_t m_commandBlocks = 0;
    std::array<std::uint32_t, 256> m_byActionId{}; // by the id byte as stored
    ActionCategoryCounts m_categories;
};

struct ReplayFile
{
    std::string m_name; // file name, for messages
    W3gHeader m_header;
    ReplayLobby m_lobby;
    std::vector<ReplayTimeSlot> m_timeSlots;
    std::vector<std::uint8_t> m_commandData; // every slot's command blocks, back to back
    std::vector<ReplayChat> m_chat;
    std::vector<ReplayLeave> m_leaves;
    std::array<std::uint32_t, 256> m_recordCounts{}; // records by id byte, lobby excluded
    std::vector<PlayerActionCounts> m_actions;       // ordered by player id
    std::uint32_t m_actionWalkErrors = 0; // command blocks whose actions could not be walked
    std::uint32_t m_durationMs = 0;       // sum of all time increments

    std::span<const std::uint8_t> CommandBytes(const ReplayTimeSlot& slot) const;
    const PlayerActionCounts* ActionsOf(std::uint8_t playerId) const;
    // Observers and referees sit on this team: 12 before 1.29, 24 from then on.
    std::uint8_t ObserverTeam() const;
    const ReplaySlot* SlotOf(std::uint8_t playerId) const;
    // The name in the player records, or empty when the id has none.
    std::string RecordedName(std::uint8_t playerId) const;
    // The Reforged BattleTag when a profile gives one, else the recorded name.
    std::string DisplayName(std::uint8_t playerId) const;
};

} // namespace velt
