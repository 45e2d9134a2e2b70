#include "tools/replay/CRecordWalker.h"

#include <algorithm>
#include <limits>
#include <string>

namespace velt
{
namespace
{

constexpr std::uint32_t kLastLegacyVersion = 2; // 1.02
constexpr std::uint8_t kChatFlagInGame = 0x20;
constexpr std::uint8_t kChatFlagLobby = 0x10;
constexpr std::size_t kStartRecordPayload = 4;
constexpr std::size_t kDesyncPayload = 10;
constexpr std::size_t kForcedGameEndPayload = 8;

std::string Hex(unsigned value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
}

bool AllZero(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

} // namespace

CRecordWalker::CRecordWalker(std::span<const std::uint8_t> data, ReplayFile& replay)
    : m_data(data), m_replay(replay), m_reader(data),
      m_tally(ActionLayout::For(replay.m_header, replay.m_lobby.m_post202Format))
{
    m_legacyIds =
        replay.m_header.m_headerVersion == 0 && replay.m_header.m_version <= kLastLegacyVersion;
}

bool CRecordWalker::Fail(ReplayError& error, std::size_t offset, std::string message) const
{
    error.m_area = ReplayErrorArea::kData;
    error.m_offset = offset;
    error.m_message = std::move(message);
    return false;
}

bool CRecordWalker::Walk(std::size_t start, ReplayError& error)
{
    m_reader.Skip(start);
    m_replay.m_commandData.reserve(m_reader.Remaining());
    while (m_reader.Ok() && !m_reader.AtEnd())
    {
        const std::size_t at = m_reader.Position();
        const std::uint8_t id = m_reader.U8();
        if (id == 0)
        {
            // The last block is padded with zeros; anything else after a zero id is damage.
            if (!AllZero(m_data.subspan(at)))
                return Fail(error, at, "record id 0x00 before the end of the data");
            break;
        }
        if (!Record(id, at, error))
            return false;
        ++m_replay.m_recordCounts[id];
    }
    CloseSlot();
    m_replay.m_durationMs = static_cast<std::uint32_t>(m_timeMs);
    m_replay.m_actions = m_tally.TakeCounts();
    return true;
}

// Game records after the lobby; sizes include the id byte:
//   0x17  14     player left
//   0x1A  5      countdown start (u32 1)
//   0x1B  5      countdown end (u32 1)
//   0x1C  5      loaded (u32 1)
//   0x1E  3 + n  time slot fragment (the time slot itself up to 1.02)
//   0x1F  3 + n  time slot
//   0x20  4 + n  chat (the checksum record up to 1.02)
//   0x22  2 + k  checksum
//   0x23  11     desync
//   0x2F  9      forced game end countdown
bool CRecordWalker::Record(std::uint8_t id, std::size_t at, ReplayError& error)
{
    switch (static_cast<ReplayRecordId>(id))
    {
    case ReplayRecordId::kPlayerLeft:
        return Leave(at, error);
    case ReplayRecordId::kCountdownStart:
    case ReplayRecordId::kCountdownEnd:
    case ReplayRecordId::kLoaded:
        m_reader.Skip(kStartRecordPayload);
        break;
    case ReplayRecordId::kTimeSlotFragment:
        return TimeSlot(!m_legacyIds, at, error);
    case ReplayRecordId::kTimeSlot:
        return TimeSlot(false, at, error);
    case ReplayRecordId::kChat:
        return m_legacyIds ? Checksum(at, error) : Chat(at, error);
    case ReplayRecordId::kChecksum:
        return Checksum(at, error);
    case ReplayRecordId::kDesync:
        m_reader.Skip(kDesyncPayload);
        break;
    case ReplayRecordId::kForcedGameEnd:
        m_reader.Skip(kForcedGameEndPayload);
        break;
    default:
        return Fail(error, at, "unknown record id " + Hex(id));
    }
    return m_reader.Ok() || Fail(error, at, "record " + Hex(id) + " runs past the end of the data");
}

// Time slot (and fragment):
//   u16  n: bytes that follow
//   u16  time increment in ms
//   n-2  command blocks: u8 pid, u16 length L, L bytes of actions
bool CRecordWalker::TimeSlot(bool fragment, std::size_t at, ReplayError& error)
{
    const std::uint16_t size = m_reader.U16();
    if (!m_reader.Ok() || size < 2 || size > m_reader.Remaining())
        return Fail(error, at, "time slot size " + std::to_string(size) + " is wrong");
    const std::uint16_t increment = m_reader.U16();
    const auto blocks = m_reader.Bytes(size - 2u);

    // Every command block must end inside the slot before any byte of it is kept.
    CByteReader blockReader(blocks);
    while (!blockReader.AtEnd())
    {
        const std::size_t blockAt = at + 5 + blockReader.Position();
        const std::uint8_t playerId = blockReader.U8();
        const std::uint16_t length = blockReader.U16();
        const auto actions = blockReader.Bytes(length);
        if (!blockReader.Ok())
            return Fail(error, blockAt, "command block runs past the end of its time slot");
        if (!m_tally.CountBlock(playerId, actions))
            ++m_replay.m_actionWalkErrors;
    }

    m_timeMs += increment;
    if (m_timeMs > std::numeric_limits<std::uint32_t>::max())
        return Fail(error, at, "game time passes 2^32 ms");
    if (!m_slotOpen)
    {
        m_slot = ReplayTimeSlot{};
        m_slot.m_dataOffset = static_cast<std::uint32_t>(m_replay.m_commandData.size());
        m_slotOpen = true;
    }
    m_replay.m_commandData.insert(m_replay.m_commandData.end(), blocks.begin(), blocks.end());
    m_slot.m_intervalMs += increment;
    m_slot.m_dataSize += static_cast<std::uint32_t>(blocks.size());
    if (fragment)
        ++m_slot.m_fragments;
    else
        CloseSlot();
    return true;
}

void CRecordWalker::CloseSlot()
{
    if (!m_slotOpen)
        return;
    m_slot.m_timeMs = static_cast<std::uint32_t>(m_timeMs);
    m_replay.m_timeSlots.push_back(m_slot);
    m_slotOpen = false;
}

// Chat:
//   u8   sender pid
//   u16  n: bytes that follow
//   u8   flag
//   u32  mode (flag 0x20 only)
//   ..   cstring text (flags 0x10 and 0x20), or a u8 value (flags 0x11 to 0x14)
bool CRecordWalker::Chat(std::size_t at, ReplayError& error)
{
    ReplayChat chat;
    chat.m_timeMs = static_cast<std::uint32_t>(m_timeMs);
    chat.m_afterSlot = static_cast<std::uint32_t>(m_replay.m_timeSlots.size());
    chat.m_senderId = m_reader.U8();
    const std::uint16_t size = m_reader.U16();
    if (!m_reader.Ok() || size < 1 || size > m_reader.Remaining())
        return Fail(error, at, "chat record size " + std::to_string(size) + " is wrong");
    CByteReader body(m_reader.Bytes(size));
    chat.m_flags = body.U8();
    const auto payload = body.Bytes(body.Remaining());
    chat.m_payload.assign(payload.begin(), payload.end());

    // Lobby changes (0x11 to 0x14) and unknown kinds keep just their payload; the record's
    // size has carried the walk past them.
    CByteReader fields(payload);
    if (chat.m_flags == kChatFlagInGame || chat.m_flags == kChatFlagLobby)
    {
        if (chat.m_flags == kChatFlagInGame)
            chat.m_mode = fields.U32();
        chat.m_text = fields.CString(kMaxReplayChatLength);
        if (!fields.Ok())
            return Fail(error, at, "chat text is not terminated inside its record");
    }
    m_replay.m_chat.push_back(std::move(chat));
    return true;
}

// Checksum: u8 k, k bytes (4 in every known file).
bool CRecordWalker::Checksum(std::size_t at, ReplayError& error)
{
    const std::uint8_t size = m_reader.U8();
    const auto bytes = m_reader.Bytes(size);
    if (!m_reader.Ok())
        return Fail(error, at, "checksum record runs past the end of the data");
    if (!m_replay.m_timeSlots.empty())
    {
        auto& slot = m_replay.m_timeSlots.back();
        slot.m_checksumSize = size;
        slot.m_checksum = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(size, 4); ++i)
            slot.m_checksum |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    }
    return true;
}

// Player left: u32 reason, u8 pid, u32 result, u32 counter.
bool CRecordWalker::Leave(std::size_t at, ReplayError& error)
{
    ReplayLeave leave;
    leave.m_timeMs = static_cast<std::uint32_t>(m_timeMs);
    leave.m_afterSlot = static_cast<std::uint32_t>(m_replay.m_timeSlots.size());
    leave.m_reason = m_reader.U32();
    leave.m_playerId = m_reader.U8();
    leave.m_result = m_reader.U32();
    leave.m_counter = m_reader.U32();
    if (!m_reader.Ok())
        return Fail(error, at, "leave record runs past the end of the data");
    m_replay.m_leaves.push_back(leave);
    return true;
}

} // namespace velt
