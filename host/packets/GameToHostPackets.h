#pragma once

// What Warcraft III sends to a LAN host: builders for the stand-in game and the tests, parsers
// for the host and the stand-ins.
//
// Builders return the whole packet with its length filled in, or an empty vector when the
// parameters cannot be put on the wire (a name or text too long, a NUL inside a text).
// Parsers take exactly one packet (as the framer cut it) and return nothing when the bytes do
// not hold a well-formed packet of that type. The parsers undo the builders, so the parameter
// structs double as their results.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/packets/GamePacket.h"

namespace velt
{

// Map report size flag: the game has the map and reports its file size.
constexpr std::uint8_t kMapReportHaveMap = 1;

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
// What a game from patch 1.32 sends after the join reply: a kind, then a protobuf message
// (profile, skins, ...). The sources show no more of it, and the host reads none of it.
struct PlayerExtraParams
{
    std::uint32_t m_kind = 0;
    std::vector<std::uint8_t> m_data;

    bool operator==(const PlayerExtraParams&) const = default;
};

std::vector<std::uint8_t> BuildChatToHost(const ChatToHostParams& params);
std::vector<std::uint8_t> BuildLeaveGame(const LeaveGameParams& params);
std::vector<std::uint8_t> BuildPlayerExtra(const PlayerExtraParams& params);

std::optional<JoinRequestParams> ParseJoinRequest(std::span<const std::uint8_t> packet);
std::optional<MapReportParams> ParseMapReport(std::span<const std::uint8_t> packet);
bool IsGameLoaded(std::span<const std::uint8_t> packet); // F7 23 04 00
std::optional<KeepaliveParams> ParseKeepalive(std::span<const std::uint8_t> packet);
std::optional<ChatToHostParams> ParseChatToHost(std::span<const std::uint8_t> packet);
std::optional<LeaveGameParams> ParseLeaveGame(std::span<const std::uint8_t> packet);
std::optional<PlayerExtraParams> ParsePlayerExtra(std::span<const std::uint8_t> packet);

// Chat typed by the viewer (0x28), read as the host reads it: forgiving where the game is
// loose (any receiver count, a text without its NUL, other kinds), so no line typed is lost.
struct ViewerChat
{
    std::uint8_t m_kind = 0; // ChatKind for messages; other kinds are slot changes
    std::uint8_t m_sender = 0;
    std::string m_text; // empty unless the kind is a message kind
};
std::optional<ViewerChat> ParseViewerChat(std::span<const std::uint8_t> packet);

} // namespace velt
