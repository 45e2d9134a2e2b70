#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ByteReader.h"
#include "tools/replay/CActionTally.h"
#include "tools/replay/ReplayError.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

// Walks the game records that follow the lobby, up to the end of the data or the zero
// padding, and fills the replay's time slots, chat, leaves, record counts and action counts.
// The replay's header and lobby must already be read: they decide the record and action ids.
class CRecordWalker
{
public:
    CRecordWalker(std::span<const std::uint8_t> data, ReplayFile& replay);

    bool Walk(std::size_t start, ReplayError& error);

private:
    bool Record(std::uint8_t id, std::size_t at, ReplayError& error);
    bool TimeSlot(bool fragment, std::size_t at, ReplayError& error);
    bool Chat(std::size_t at, ReplayError& error);
    bool Checksum(std::size_t at, ReplayError& error);
    bool Leave(std::size_t at, ReplayError& error);
    void CloseSlot();
    bool Fail(ReplayError& error, std::size_t offset, std::string message) const;

    std::span<const std::uint8_t> m_data;
    ReplayFile& m_replay;
    CByteReader m_reader;
    CActionTally m_tally;
    bool m_legacyIds = false; // up to 1.02: 0x1E is the time slot, 0x20 the checksum
    std::uint64_t m_timeMs = 0;
    // The slot being assembled from fragments, if any.
    bool m_slotOpen = false;
    ReplayTimeSlot m_slot;
};

} // namespace velt
