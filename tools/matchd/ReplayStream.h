#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/matchd/ReplaySeating.h"
#include "tools/matchd/SyntheticMatch.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// What the conversion did with the recording's game records.
struct ReplayStreamCounts
{
    std::uint32_t m_timeSlots = 0;      // recorded time slots, each one 0x0C
    std::uint32_t m_extraTimeSlots = 0; // zero-interval slots carrying further observer pings
    std::uint32_t m_observerPings = 0;  // observer pings, each starting a time slot packet
    std::uint32_t m_chat = 0;           // chat lines served
    std::uint32_t m_chatSkipped = 0;    // lobby slot changes (flags 0x11 to 0x14), unknown flags
    std::uint32_t m_leaves = 0;
    std::uint32_t m_leavesSkipped = 0; // of ids without a player packet
};

struct ReplayStream
{
    std::vector<std::uint8_t> m_bytes;
    std::vector<StreamMark> m_marks; // one per recorded time slot
    std::uint32_t m_durationMs = 0;
    ReplayStreamCounts m_counts;
};

// The recording's game as the stream a match server sends: per recorded time slot (fragments
// joined) one time slot packet 0x0C with the slot's whole interval and the checksum of its
// blocks; the chat and leave records between two slots as 0x0F and 0x07 packets before the
// later slot, in recorded ids mapped to served ones.
//
// The host notices a map ping only when it is the first action of a time slot packet (it reads
// the player id at offset 8 and the action id at offset 11). So an observer's ping that starts
// a command block is cut out of the block and put first in its slot; a slot's further observer
// pings, and all of them when the slot already starts with a hero-skill action that the host
// also notices, follow in zero-interval time slots right after it. Game time is unchanged, and
// pings do not change the game's state.
//
// Chat goes to the recorded audience (everyone, the sender's allies, the observers, or the one
// player of a private line) and always to the viewer as well. Nothing, with the reason in error,
// when a packet cannot be built or the stream outgrows the client's buffer.
std::optional<ReplayStream> ConvertReplayStream(const ReplayFile& replay,
                                                const ReplaySeating& seating, std::string& error);

} // namespace velt
