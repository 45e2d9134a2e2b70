#pragma once

// The game's LAN packets: codes, bounds, and the head that every builder and parser of
// host/packets/ writes and checks. Nothing outside host/packets/ reads or writes packet bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

// Every game packet starts with this byte, then the type, then a 16-bit little-endian total
// length that counts the 4 head bytes.
constexpr std::uint8_t kGamePacketSignature = 0xF7;
constexpr std::uint16_t kGamePacketHeadSize = 4;
constexpr std::size_t kGamePacketLengthOffset = 2;

// Packet types of the game's LAN protocol.
enum class GamePacketType : std::uint8_t
{
    kPingFromHost = 0x01,      // host to game: u32 tick value
    kSlotInfoJoin = 0x04,      // host to game: join accepted, slot table, player id
    kRejectJoin = 0x05,        // host to game: u32 reason
    kPlayerInfo = 0x06,        // host to game: one other player
    kPlayerLeaveOthers = 0x07, // host to game: a player left
    kGameLoadedOthers = 0x08,  // host to game: a player finished loading
    kSlotInfo = 0x09,          // host to game: slot table
    kCountdownStart = 0x0A,    // host to game: lobby countdown begins
    kCountdownEnd = 0x0B,      // host to game: start loading
    kIncomingAction = 0x0C,    // host to game: one time slot
    kDesync = 0x0D,            // host to game: desync notice
    kChatFromHost = 0x0F,      // host to game: chat line
    kStartLag = 0x10,          // host to game: lag screen on
    kStopLag = 0x11,           // host to game: lag screen off
    kGameOver = 0x14,          // host to game: game over
    kLeaveAck = 0x1B,          // host to game: answer to a leave
    kHostKickPlayer = 0x1C,    // host to game: kicked
    kReqJoin = 0x1E,           // game to host: join request
    kLeaveGame = 0x21,         // game to host: the game leaves
    kGameLoadedSelf = 0x23,    // game to host: finished loading
    kOutgoingAction = 0x26,    // game to host: the viewer's own actions
    kOutgoingKeepalive = 0x27, // game to host: one per time slot processed
    kChatToHost = 0x28,        // game to host: chat typed by the viewer
    kDropReq = 0x29,           // game to host: vote to drop laggers
    kSearchGame = 0x2F,        // game to LAN: looking for games
    kGameInfo = 0x30,          // host to LAN: game announcement
    kCreateGame = 0x31,        // host to LAN: a game was created
    kRefreshGame = 0x32,       // host to LAN: player count changed
    kDecreateGame = 0x33,      // host to LAN: game gone
    kMapCheck = 0x3D,          // host to game: map path, size and checksums
    kStartDownload = 0x3F,     // both: map download
    kMapSize = 0x42,           // game to host: map report
    kMapPart = 0x43,           // host to game: map download part
    kMapPartOk = 0x44,         // game to host: map part received
    kMapPartError = 0x45,      // game to host: map part failed
    kPongToHost = 0x46,        // game to host: answer to a ping
    kIncomingAction2 = 0x48,   // host to game: overflow fragment of a time slot
    kPlayerExtra = 0x59,       // both, from patch 1.32: a player's profile and skins (protobuf)
};

// Chat kinds inside chat packets (0x0F and 0x28).
enum class ChatKind : std::uint8_t
{
    kLobby = 0x10,  // lobby message: the text follows the kind
    kInGame = 0x20, // in-game message: four flag bytes, then the text
};

// Bounds that every builder and parser keeps.
constexpr std::size_t kGamePacketMaxSize = 0xFFFF; // the 16-bit length field
constexpr std::size_t kPlayerNameMaxLength = 15;   // the game refuses longer names
constexpr std::size_t kGameNameMaxLength = 255;
constexpr std::size_t kMapPathMaxLength = 255;
constexpr std::size_t kChatReceiversMax = 24;   // one per slot on 24-slot patches
constexpr std::size_t kChatToHostHeadSize = 11; // head, r, sender, kind, 4 flag bytes
constexpr std::size_t kChatTextMaxLength =
    kGamePacketMaxSize - kChatToHostHeadSize - kChatReceiversMax - 1;

// Leave reasons the game puts into 0x21 and a host into 0x07.
constexpr std::uint32_t kLeaveReasonLost = 0x07;  // the viewer quit a running game
constexpr std::uint32_t kLeaveReasonLobby = 0x0D; // the viewer left the lobby

// Whether a text fits a packet's string: not too long, and no NUL of its own.
bool FitsGameText(std::string_view text, std::size_t maxLength);

// sockaddr_in as the game writes it: u16 family 2 (little-endian), u16 port (big-endian),
// 4 IPv4 bytes, 8 zero bytes.
constexpr std::size_t kSockAddrSize = 16;
constexpr std::uint16_t kSockAddrFamilyInet = 2;
struct GameSockAddr
{
    std::uint16_t m_family = kSockAddrFamilyInet;
    std::uint16_t m_port = 0;
    std::array<std::uint8_t, 4> m_ip{};
};
void WriteGameSockAddr(CByteWriter& writer, const GameSockAddr& address);
// The zero bytes are skipped unread; a short reader keeps its failure for the caller to see.
GameSockAddr ReadGameSockAddr(CByteReader& reader);

// What chat packets of both directions (0x0F from the host, 0x28 from the game) hold after
// their head:
//   0     u8   receiver count r
//   1     r    receiver ids
//   1+r   u8   sender id
//   2+r   u8   kind
//   3+r   u32  in-game kind only: flags
//   ..    text, NUL-terminated
void WriteChatMessage(CByteWriter& writer, std::span<const std::uint8_t> receivers,
                      std::uint8_t sender, ChatKind kind, std::uint32_t flags,
                      std::string_view text);
struct ChatHead
{
    std::vector<std::uint8_t> m_receivers;
    std::uint8_t m_sender = 0;
    std::uint8_t m_kind = 0; // what follows depends on it
};
// Up to the kind; nothing when there is no receiver or more than kChatReceiversMax.
std::optional<ChatHead> ReadChatHead(CByteReader& reader);

// The type in a packet's head (the length is not looked at): how a reader that has framed a
// packet tells what it holds. Nothing when the bytes do not start with a head.
std::optional<GamePacketType> GamePacketTypeOf(std::span<const std::uint8_t> packet);
bool HasGamePacketType(std::span<const std::uint8_t> packet, GamePacketType type);

// A writer holding the head of a packet of the type; FinishGamePacket fills in the length.
CByteWriter StartGamePacket(GamePacketType type, std::size_t reserve);
// The whole packet, or an empty vector when it outgrew the 16-bit length field.
std::vector<std::uint8_t> FinishGamePacket(CByteWriter& writer);

// Packets that are their head alone (F7, type, 04 00): countdown, loaded, leave acknowledgement.
std::vector<std::uint8_t> BuildHeadOnlyGamePacket(GamePacketType type);
bool IsHeadOnlyGamePacket(std::span<const std::uint8_t> packet, GamePacketType type);

// A reader past the head of exactly one packet of the type: the signature, the type, and a
// length field equal to the span's size. Nothing when the head says otherwise.
std::optional<CByteReader> OpenGamePacket(std::span<const std::uint8_t> packet,
                                          GamePacketType type);

} // namespace velt
