#pragma once

#include <cstdint>

namespace velt
{

// Message codes of the match server protocol. One code can mean different things in the two
// directions; the comments give request / reply.
enum class MessageCode : std::uint8_t
{
    MSG_GAME_DATA = 0x3E,          // match id, offset / match id, offset, count, data, seconds
    MSG_MATCH_INFO = 0x3F,         // channel id / one match record
    MSG_REPLAY_HEADER = 0x40,      // match id / match id and the 1752-byte replay header
    MSG_IGNORED_FIRST = 0x41,      // first of a range the server may send and the client ignores
    MSG_IGNORED_LAST = 0x46,       // last of that range
    MSG_CHANNEL_INVALID_47 = 0x47, // reply only: handled as MSG_CHANNEL_INVALID
    MSG_CHANNEL_INVALID_48 = 0x48, // reply only: handled as MSG_CHANNEL_INVALID
    MSG_LIST_END = 0x49,           // reply only: the match list is complete
    MSG_CHANNEL_INVALID = 0x4A,    // reply only: the server refuses the channel
    MSG_MATCH_STATS = 0x4B,        // reply only: visits and ratings of one match
    MSG_RATE = 0x4C,               // request only: channel id, match id, rating 1 to 5
};

constexpr std::uint8_t CodeByte(MessageCode code)
{
    return static_cast<std::uint8_t>(code);
}

} // namespace velt
