#pragma once

// The game's side of the LAN protocol: builders for what Warcraft III sends to a host, parsers
// for what a host sends that the game reads, and the stream framer both sides use.
//
// Builders return the whole packet with its length filled in, or an empty vector when the
// parameters cannot be put on the wire (a name or text too long, a NUL inside a text).
// Parsers take exactly one packet (as the framer cut it) and return nothing when the bytes do
// not hold a well-formed packet of that type. The game-to-host parsers undo the builders, so
// the parameter structs double as their results.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/GamePacket.h"

namespace velt
{

// Bounds that every builder and parser keeps.
constexpr std::size_t kGamePacketMaxSize = 0xFFFF; // the 16-bit length field
constexpr std::size_t kPlayerNameMaxLength = 15;   // the game refuses longer names
constexpr std::size_t kGameNameMaxLength = 255;
constexpr std::size_t kMapPathMaxLength = 255;
constexpr std::size_t kChatReceiversMax = 24;   // one per slot on 24-slot patches
constexpr std::size_t kChatToHostHeadSize = 11; // head, r, sender, kind, 4 flag bytes
constexpr std::size_t kChatTextMaxLength =
    kGamePacketMaxSize - kChatToHostHeadSize - kChatReceiversMax - 1;

// Leave reasons the game puts into 0x21.
constexpr std::uint32_t kLeaveReasonLost = 0x07;  // the viewer quit a running game
constexpr std::uint32_t kLeaveReasonLobby = 0x0D; // the viewer left the lobby

// Map report size flag: the game has the map and reports its file size.
constexpr std::uint8_t kMapReportHaveMap = 1;

// ---------------------------------------------------------------------------------------------
// Stream framing

// The answer of the framer over buffered bytes: a whole packet of m_size bytes at the front,
// more bytes needed, or bytes that cannot start a packet (no 0xF7, or a length below 4).
struct GameStreamFrame
{
    enum class Kind
    {
        kPacket,
        kNeedMore,
        kMalformed,
    };
    Kind m_kind = Kind::kNeedMore;
    std::size_t m_size = 0;

    bool operator==(const GameStreamFrame&) const = default;
};

GameStreamFrame FrameGameStream(std::span<const std::uint8_t> buffered);

// ---------------------------------------------------------------------------------------------
// Game to host

struct JoinRequestParams
{
    std::uint32_t m_hostCounter = 0; // echoed from the announcement
    std::uint32_t m_entryKey = 0;    // echoed from the announcement
    std::uint16_t m_listenPort = 6112;
    std::uint32_t m_peerKey = 0;
    std::string m_playerName = "Viewer";
    std::uint8_t m_paddingCount = 1; // 1 before patch 1.29, 2 from it
    std::uint16_t m_internalPort = 0;
    std::array<std::uint8_t, 4> m_internalIp = {127, 0, 0, 1};

    bool operator==(const JoinRequestParams&) const = default;
};

struct MapReportParams
{
    std::uint8_t m_sizeFlag = kMapReportHaveMap;
    std::uint32_t m_mapSize = 0;

    bool operator==(const MapReportParams&) const = default;
};

struct KeepaliveParams
{
    std::uint8_t m_unknown = 0;
    std::uint32_t m_checksum = 0;

    bool operator==(const KeepaliveParams&) const = default;
};

struct ChatToHostParams
{
    std::vector<std::uint8_t> m_receivers = {1}; // the host is player 1
    std::uint8_t m_sender = 2;                   // the viewer is player 2
    ChatKind m_kind = ChatKind::kLobby;
    std::uint32_t m_flags = 0; // in-game only: 0 all, 1 allies, 2 observers
    std::string m_text;

    bool operator==(const ChatToHostParams&) const = default;
};

struct LeaveGameParams
{
    std::uint32_t m_reason = kLeaveReasonLost;

    bool operator==(const LeaveGameParams&) const = default;
};

std::vector<std::uint8_t> BuildJoinRequest(const JoinRequestParams& params);
std::vector<std::uint8_t> BuildMapReport(const MapReportParams& params);
std::vector<std::uint8_t> BuildGameLoaded();
std::vector<std::uint8_t> BuildKeepalive(const KeepaliveParams& params);
std::vector<std::uint8_t> BuildChatToHost(const ChatToHostParams& params);
std::vector<std::uint8_t> BuildLeaveGame(const LeaveGameParams& params);

std::optional<JoinRequestParams> ParseJoinRequest(std::span<const std::uint8_t> packet);
std::optional<MapReportParams> ParseMapReport(std::span<const std::uint8_t> packet);
bool IsGameLoaded(std::span<const std::uint8_t> packet); // F7 23 04 00
std::optional<KeepaliveParams> ParseKeepalive(std::span<const std::uint8_t> packet);
std::optional<ChatToHostParams> ParseChatToHost(std::span<const std::uint8_t> packet);
std::optional<LeaveGameParams> ParseLeaveGame(std::span<const std::uint8_t> packet);

// ---------------------------------------------------------------------------------------------
// Host to game

// A LAN announcement. Only the port is certain: a host may announce a short packet whose last
// two bytes are the port. The game name and keys are filled in when the packet carries them.
struct ParsedGameInfo
{
    std::uint16_t m_gamePort = 0;
    std::uint32_t m_hostCounter = 0;
    std::uint32_t m_entryKey = 0;
    std::optional<std::string> m_gameName;

    bool operator==(const ParsedGameInfo&) const = default;
};

struct GameActionBlock
{
    std::uint8_t m_playerId = 0;
    std::vector<std::uint8_t> m_actions;

    bool operator==(const GameActionBlock&) const = default;
};

struct ParsedTimeSlot
{
    std::uint16_t m_intervalMs = 0;
    std::optional<std::uint16_t> m_checksum; // present when the slot is longer than 6 bytes
    std::vector<GameActionBlock> m_blocks;
    std::size_t m_blocksOffset = 0; // where the action blocks start in the packet

    bool IsEmpty() const { return m_intervalMs == 0 && m_blocks.empty(); }

    bool operator==(const ParsedTimeSlot&) const = default;
};

struct ParsedChatFromHost
{
    std::vector<std::uint8_t> m_receivers;
    std::uint8_t m_sender = 0;
    std::uint8_t m_kind = 0;   // 0x10 lobby, 0x11-0x14 slot changes, 0x20 in game
    std::uint32_t m_flags = 0; // in-game kind only
    std::uint8_t m_value = 0;  // slot-change kinds only
    std::string m_text;        // lobby and in-game kinds only

    bool operator==(const ParsedChatFromHost&) const = default;
};

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

std::optional<ParsedGameInfo> ParseGameInfo(std::span<const std::uint8_t> packet);
std::optional<ParsedTimeSlot> ParseTimeSlot(std::span<const std::uint8_t> packet);
std::optional<ParsedChatFromHost> ParseChatFromHost(std::span<const std::uint8_t> packet);
bool IsLeaveAck(std::span<const std::uint8_t> packet); // F7 1B 04 00
std::optional<ParsedMapCheck> ParseMapCheck(std::span<const std::uint8_t> packet);

} // namespace velt
