#pragma once

// Packets that a LAN game host sends to the game once play runs: time slots, chat lines, a
// player's leave and the leave acknowledgement. The host builds its own (chat lines, empty
// slots, the acknowledgement) and reads a few fields of the recorded ones it forwards; the
// stand-ins build recorded streams and the stand-in game parses everything strictly.
//
// Builders return the whole packet (head included), or an empty vector when the content does
// not fit. The strict parsers take exactly one packet whose length field must match.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/packets/GamePacket.h"

namespace velt
{

// ---- 0x0C time slot ------------------------------------------------------------------------

struct ActionBlock
{
    std::uint8_t m_playerId = 0;
    std::vector<std::uint8_t> m_actions; // one or more actions back to back

    bool operator==(const ActionBlock&) const = default;
};

struct TimeSlotParams
{
    std::uint16_t m_intervalMs = 100;
    std::vector<ActionBlock> m_blocks;
};

// Offsets inside a time slot with actions: the first block's player id and first action id.
constexpr std::size_t kTimeSlotFirstPlayerOffset = 8;
constexpr std::size_t kTimeSlotFirstActionOffset = 11;

// The 16-bit checksum of a slot's action blocks (every byte after the checksum field). It is
// zlib's CRC-32, which the core does not link: whoever builds slots with actions passes it in.
using TimeSlotChecksumFunction = std::uint16_t (*)(std::span<const std::uint8_t> actionBlocks);

// A slot without blocks carries no checksum (6 bytes) and may be built without the function;
// with blocks and no function nothing is built.
std::vector<std::uint8_t> BuildTimeSlot(const TimeSlotParams& params,
                                        TimeSlotChecksumFunction checksum);
// A time slot with no interval and no actions, F7 0C 06 00 00 00: holds a waiting game.
std::vector<std::uint8_t> BuildEmptyTimeSlot();

struct ParsedTimeSlot
{
    std::uint16_t m_intervalMs = 0;
    std::optional<std::uint16_t> m_checksum; // present when the slot is longer than 6 bytes
    std::vector<ActionBlock> m_blocks;
    std::size_t m_blocksOffset = 0; // where the action blocks start in the packet

    bool IsEmpty() const { return m_intervalMs == 0 && m_blocks.empty(); }

    bool operator==(const ParsedTimeSlot&) const = default;
};
std::optional<ParsedTimeSlot> ParseTimeSlot(std::span<const std::uint8_t> packet);

// What the feed reads from a recorded time slot that it forwards as it is: as much as the
// bytes hold, even from a damaged slot.
struct TimeSlotFacts
{
    std::uint16_t m_intervalMs = 0;
    std::optional<std::uint8_t> m_firstPlayer; // of the first action block
    std::optional<std::uint8_t> m_firstAction; // id of its first action
};
TimeSlotFacts ReadTimeSlot(std::span<const std::uint8_t> packet);

// ---- 0x0F chat from host -------------------------------------------------------------------

// The game truncates in-game chat beyond this; recorded lines stay within it.
constexpr std::size_t kRecordedChatMaxLength = 127;

struct ChatFromHostParams
{
    std::vector<std::uint8_t> m_receivers;
    std::uint8_t m_sender = 0;
    ChatKind m_kind = ChatKind::kInGame;
    std::uint32_t m_scope = 0; // in-game only: 0 all, 1 allies, 2 observers, 3+N private
    std::string m_text;
};

std::vector<std::uint8_t> BuildChatFromHost(const ChatFromHostParams& params);

// The host's own lines: from player 1 to player 2, never more than kChatPacketCapacity bytes.
constexpr std::size_t kChatPacketCapacity = 128;
constexpr std::uint8_t kHostPlayerId = 1;   // the host speaks as player 1
constexpr std::uint8_t kViewerPlayerId = 2; // the viewer is player 2

struct HostChatLine
{
    ChatKind m_kind = ChatKind::kLobby;
    std::string_view m_text; // at most MaxChatText(m_kind) bytes
};

// Longest text one chat line of the kind holds: 119 bytes in the lobby, 115 in game.
std::size_t MaxChatText(ChatKind kind);
// One chat line from player 1 to player 2. The text is cut to what the line holds, and at a
// NUL of its own, where the game would stop showing it.
std::vector<std::uint8_t> BuildHostChat(const HostChatLine& line);
// Pieces of at most maxBytes bytes each, cut only between UTF-8 characters; joined they give
// the text back. An empty text gives one empty piece.
std::vector<std::string_view> SplitChatText(std::string_view text, std::size_t maxBytes);

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
std::optional<ParsedChatFromHost> ParseChatFromHost(std::span<const std::uint8_t> packet);

// The sender of a recorded chat line; nothing when the packet is too short to name one.
std::optional<std::uint8_t> RecordedChatSender(std::span<const std::uint8_t> packet);

// ---- 0x07 a player left --------------------------------------------------------------------

struct PlayerLeaveParams
{
    std::uint8_t m_playerId = 0;
    std::uint32_t m_reason = kLeaveReasonLost; // the codes of the game's own leave
};

std::vector<std::uint8_t> BuildPlayerLeave(const PlayerLeaveParams& params);
std::optional<PlayerLeaveParams> ParsePlayerLeave(std::span<const std::uint8_t> packet);

// ---- 0x1B leave acknowledgement ------------------------------------------------------------

// F7 1B 04 00: the head alone.
std::vector<std::uint8_t> BuildLeaveAck();
bool IsLeaveAck(std::span<const std::uint8_t> packet);

} // namespace velt
