#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/GamePacket.h"

namespace velt
{

// The chat lines the host builds never exceed this many bytes.
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
// One chat line from player 1 to player 2. The text is cut to what the line holds.
std::vector<std::uint8_t> BuildHostChat(const HostChatLine& line);
// Pieces of at most maxBytes bytes each, cut only between UTF-8 characters; joined they give
// the text back. An empty text gives one empty piece.
std::vector<std::string_view> SplitChatText(std::string_view text, std::size_t maxBytes);

// The leave acknowledgement, F7 1B 04 00: the head alone.
std::vector<std::uint8_t> BuildLeaveAck();
// A time slot with no interval and no actions, F7 0C 06 00 00 00: holds a waiting game.
std::vector<std::uint8_t> BuildEmptyTimeSlot();
// One player has loaded, F7 08 05 00 and the player id.
std::vector<std::uint8_t> BuildPlayerLoaded(std::uint8_t playerId);

// Chat typed by the viewer (0x28).
struct ViewerChat
{
    std::uint8_t m_kind = 0; // ChatKind for messages; other kinds are slot changes
    std::uint8_t m_sender = 0;
    std::string m_text; // empty unless the kind is a message kind
};
std::optional<ViewerChat> ParseViewerChat(std::span<const std::uint8_t> packet);

// The sender of a recorded chat line (0x0F); nothing when the packet is too short to name one.
std::optional<std::uint8_t> RecordedChatSender(std::span<const std::uint8_t> packet);

// What the feed reads from a recorded time slot (0x0C).
struct TimeSlotFacts
{
    std::uint16_t m_intervalMs = 0;
    std::optional<std::uint8_t> m_firstPlayer; // of the first action block
    std::optional<std::uint8_t> m_firstAction; // id of its first action
};
TimeSlotFacts ReadTimeSlot(std::span<const std::uint8_t> packet);

} // namespace velt
