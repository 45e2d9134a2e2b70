#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velt
{

// Everything a match's 1752-byte replay header carries: the pre-built packets that the host
// replays in the join handshake, and the facts about the match.
struct ReplayHeaderContent
{
    std::string m_tag;       // offset 0, not read by the host
    std::string m_presenter; // shown in the lobby welcome
    std::uint16_t m_matchSeconds = 0;
    bool m_live = false;
    std::vector<std::uint8_t> m_announcement; // 0x30, its last two bytes the game port
    std::vector<std::uint8_t> m_joinReply;    // 0x04
    // Player packets (0x06) of ids 1 to n, index id - 1; an empty entry is an id without one.
    std::vector<std::vector<std::uint8_t>> m_playerPackets;
    std::vector<std::uint8_t> m_mapCheck;  // 0x3D, the map path at its offset 8
    std::vector<std::uint8_t> m_slotTable; // 0x09
    std::vector<std::uint8_t> m_countdown; // 0x0A and 0x0B, 8 bytes
    std::string m_slogan;                  // sent as game chat when play starts

    bool operator==(const ReplayHeaderContent&) const = default;
};

// The whole 1752-byte block, or an empty vector when a part does not fit its place (a packet
// longer than its field or than its length byte can say, a text without room for its NUL,
// more than 12 player records, a countdown that is not 8 bytes).
std::vector<std::uint8_t> BuildReplayHeader(const ReplayHeaderContent& content);

// Reads the parts back from a block. Nothing when the block is not 1752 bytes, a length byte
// exceeds its field, or a text has no NUL inside its field.
std::optional<ReplayHeaderContent> SplitReplayHeader(std::span<const std::uint8_t> header);

// Rewrites the facts that change while a live match is played: its length so far and whether
// it is still live. The block must be a whole header.
void PatchReplayHeaderProgress(std::span<std::uint8_t> header, std::uint16_t matchSeconds,
                               bool live);

} // namespace velt
