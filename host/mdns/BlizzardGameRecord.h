#pragma once

// The game's own multicast DNS record (type 66): a protobuf message that describes one LAN
// game, with the game's announcement folded into base64 text inside it. Builders for the host's
// responder, parsers for the stand-in game that browses like the real one.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/packets/LobbyPackets.h"

namespace velt
{

// Version numbers as the announcement writes them: 10000 + 100 * (major - 1) + minor.
// From 1.30 the game's LAN screen finds games over multicast DNS only.
constexpr std::uint32_t kFirstMdnsGameVersion = 10030;
// From 1.31 the record carries the game's name and kind in entries of its own as well.
constexpr std::uint32_t kFirstVersionWithNamedEntries = 10031;
// From 1.32 (Reforged) game_data starts with the game's name.
constexpr std::uint32_t kFirstReforgedGameVersion = 10032;

// Whether a game of this version looks for LAN games over multicast DNS.
bool FindsGamesOverMdns(std::uint32_t version);

// Bounds the parsers keep: no text or value in the record is longer, nor are there more
// entries, than a game's record needs.
constexpr std::size_t kGameRecordMaxEntries = 32;
constexpr std::size_t kGameRecordMaxText = 2048;

// The record's protobuf message:
//   field 1  string    the game's name
//   field 2  varint    a message number, zigzag-encoded
//   field 3  repeated  entries {1: key string, 2: value string}
struct BlizzardGameRecord
{
    std::string m_gameName;
    std::int64_t m_messageId = 0;
    std::vector<std::pair<std::string, std::string>> m_entries;

    // The value of the first entry with the key, if any.
    std::optional<std::string> Entry(std::string_view key) const;
    bool operator==(const BlizzardGameRecord&) const = default;
};

std::vector<std::uint8_t> BuildBlizzardGameRecord(const BlizzardGameRecord& record);
// Nothing on any fault: a length past the end, a varint of more than 10 bytes, a wire type
// that no field of this message uses, or a bound passed. Fields of other numbers are skipped.
std::optional<BlizzardGameRecord> ParseBlizzardGameRecord(std::span<const std::uint8_t> bytes);

// What the game's record says about one announced game: the announcement's fields as entries,
// game_data as base64 of the layout that the version uses. createTime is in Unix seconds.
BlizzardGameRecord GameRecordFromAnnouncement(const GameInfoFields& info, std::uint64_t createTime,
                                              std::int64_t messageId);

// game_data, which differs by version (all integers little-endian):
//   from 1.32:      name, 0, 0, encoded stat string, 0, u32 slots total, u32 game flags, u16 port
//   1.30 and 1.31:  u32 game flags, encoded stat string, 0, u32 slots total, name, 0, 0, u16 port
// For 1.30 and 1.31 the sources disagree; this is gowarcraft3's layout (the other, the Aura
// host bot's, starts u32 1, name, 0 and has no game flags).
std::vector<std::uint8_t> BuildGameData(const GameInfoFields& info);
// The fields that game_data carries (the others stay zero), read as the version lays them out.
std::optional<GameInfoFields> ParseGameData(std::span<const std::uint8_t> bytes,
                                            std::uint32_t version);

// Standard base64 with padding.
std::string EncodeBase64(std::span<const std::uint8_t> bytes);
// Nothing unless the text is whole standard base64 with the right padding.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

} // namespace velt
