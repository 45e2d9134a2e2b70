#pragma once

#include <cstdint>

namespace velt
{

// Every game packet starts with this byte, then the type, then a 16-bit little-endian total
// length that counts the 4 head bytes.
constexpr std::uint8_t kGamePacketSignature = 0xF7;
constexpr std::uint16_t kGamePacketHeadSize = 4;

// Packet types of the game's LAN protocol.
enum class GamePacketType : std::uint8_t
{
    kPingFromHost = 0x01,        // host to game: u32 tick value
    kSlotInfoJoin = 0x04,        // host to game: join accepted, slot table, player id
    kRejectJoin = 0x05,          // host to game: u32 reason
    kPlayerInfo = 0x06,          // host to game: one other player
    kPlayerLeaveOthers = 0x07,   // host to game: a player left
    kGameLoadedOthers = 0x08,    // host to game: a player finished loading
    kSlotInfo = 0x09,            // host to game: slot table
    kCountdownStart = 0x0A,      // host to game: lobby countdown begins
    kCountdownEnd = 0x0B,        // host to game: start loading
    kIncomingAction = 0x0C,      // host to game: one time slot
    kDesync = 0x0D,              // host to game: desync notice
    kChatFromHost = 0x0F,        // host to game: chat line
    kStartLag = 0x10,            // host to game: lag screen on
    kStopLag = 0x11,             // host to game: lag screen off
    kGameOver = 0x14,            // host to game: game over
    kLeaveAck = 0x1B,            // host to game: answer to a leave
    kHostKickPlayer = 0x1C,      // host to game: kicked
    kReqJoin = 0x1E,             // game to host: join request
    kLeaveGame = 0x21,           // game to host: the game leaves
    kGameLoadedSelf = 0x23,      // game to host: finished loading
    kOutgoingAction = 0x26,      // game to host: the viewer's own actions
    kOutgoingKeepalive = 0x27,   // game to host: one per time slot processed
    kChatToHost = 0x28,          // game to host: chat typed by the viewer
    kDropReq = 0x29,             // game to host: vote to drop laggers
    kSearchGame = 0x2F,          // game to LAN: looking for games
    kGameInfo = 0x30,            // host to LAN: game announcement
    kCreateGame = 0x31,          // host to LAN: a game was created
    kRefreshGame = 0x32,         // host to LAN: player count changed
    kDecreateGame = 0x33,        // host to LAN: game gone
    kMapCheck = 0x3D,            // host to game: map path, size and checksums
    kStartDownload = 0x3F,       // both: map download
    kMapSize = 0x42,             // game to host: map report
    kMapPart = 0x43,             // host to game: map download part
    kMapPartOk = 0x44,           // game to host: map part received
    kMapPartError = 0x45,        // game to host: map part failed
    kPongToHost = 0x46,          // game to host: answer to a ping
    kIncomingAction2 = 0x48,     // host to game: overflow fragment of a time slot
};

// Chat kinds inside chat packets (0x0F and 0x28).
enum class ChatKind : std::uint8_t
{
    kLobby = 0x10,   // lobby message: the text follows the kind
    kInGame = 0x20,  // in-game message: four flag bytes, then the text
};

} // namespace velt
