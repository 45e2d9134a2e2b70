#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "host/packets/LobbyPackets.h"

namespace velt
{

// The 1752-byte block of pre-built game packets and match facts that the match server prepares
// per match. The host replays the packets verbatim in the join handshake and reads only the
// fields below. Every length byte comes from the server, so every packet view is bounded by
// the field that holds it.
//
// offset   width  content
// 0        30     tag text, NUL-terminated (not read by the host)
// 30       20     presenter name, NUL-terminated
// 50       2      u16 match length so far, in seconds
// 52       1      u8 not-live flag (0: live match)
// 53       1      u8 n: players with a record (ids 1..n, at most 12)
// 54       256    LAN announcement packet; ends with the u16 game port
// 310      140    join reply packet
// 370+80i  80     player record of id i (1..12): u8 length L, then L packet bytes;
//                 the player's name at record offset 10
// 1410     144    map-check packet; the map path at 1418 (packet offset 8)
// 1554     128    slot-table packet; 9-byte slot records from packet offset 7
// 1682     8      the two countdown packets
// 1690     5      not read
// 1695     50     slogan line, NUL-terminated
// 1745     1      u8 announcement length
// 1746     1      u8 join reply length
// 1747     1      u8 slot-table length
// 1748     1      u8 map-check length
// 1749     3      not read
struct ReplayHeader
{
    static constexpr std::size_t kHeaderSize = 1752;

    static constexpr std::size_t kTagOffset = 0;
    static constexpr std::size_t kTagSize = 30;
    static constexpr std::size_t kPresenterOffset = 30;
    static constexpr std::size_t kPresenterSize = 20;
    static constexpr std::size_t kMatchSecondsOffset = 50;
    static constexpr std::size_t kNotLiveOffset = 52;
    static constexpr std::size_t kPlayerCountOffset = 53;
    static constexpr std::size_t kAnnouncementOffset = 54;
    static constexpr std::size_t kAnnouncementSize = 256;
    static constexpr std::size_t kJoinReplyOffset = 310;
    static constexpr std::size_t kJoinReplySize = 140;
    static constexpr std::size_t kPlayerRecordBase = 370; // record of id i at base + 80 * i
    static constexpr std::size_t kPlayerRecordSize = 80;
    // Inside a record: its length byte, then the player-info packet.
    static constexpr std::size_t kPlayerNameOffset = 1 + kPlayerInfoNameOffset;
    static constexpr std::size_t kMaxPlayers = 12;
    static constexpr std::size_t kMapCheckOffset = 1410;
    static constexpr std::size_t kMapCheckSize = 144;
    static constexpr std::size_t kMapPathOffset = kMapCheckOffset + kMapCheckPathOffset;
    static constexpr std::size_t kSlotTableOffset = 1554;
    static constexpr std::size_t kSlotTableSize = 128;
    static constexpr std::size_t kSlotRecordsOffset = kSlotInfoRecordsOffset;
    static constexpr std::size_t kSlotRecordSize = velt::kSlotRecordSize;
    static constexpr std::size_t kSlotTeamOffset = kSlotRecordTeamOffset;
    static constexpr std::size_t kSlotRecordsRead = 12;
    static constexpr std::uint8_t kObserverTeam = velt::kObserverTeam;
    static constexpr std::size_t kCountdownOffset = 1682;
    static constexpr std::size_t kCountdownSize = 8;
    static constexpr std::size_t kSloganOffset = 1695;
    static constexpr std::size_t kSloganSize = 50;
    static constexpr std::size_t kAnnouncementLengthOffset = 1745;
    static constexpr std::size_t kJoinReplyLengthOffset = 1746;
    static constexpr std::size_t kSlotTableLengthOffset = 1747;
    static constexpr std::size_t kMapCheckLengthOffset = 1748;

    static constexpr std::string_view kDefaultTag = "Zeno Platform warcraft Live";
    static constexpr std::string_view kDefaultPresenter = "Zeno Gaming";
    static constexpr std::string_view kDefaultSlogan = "By gamers, for gamers.";

    static constexpr std::size_t PlayerRecordOffset(std::size_t playerId)
    {
        return kPlayerRecordBase + kPlayerRecordSize * playerId;
    }

    std::array<std::uint8_t, kHeaderSize> m_bytes{};

    // Zeroes, then the three default texts.
    ReplayHeader()
    {
        SetText(kTagOffset, kTagSize, kDefaultTag);
        SetText(kPresenterOffset, kPresenterSize, kDefaultPresenter);
        SetText(kSloganOffset, kSloganSize, kDefaultSlogan);
    }

    // Copies a whole block; a shorter one leaves the rest zero, a longer one is cut.
    void Assign(std::span<const std::uint8_t> block)
    {
        m_bytes.fill(0);
        std::memcpy(m_bytes.data(), block.data(), std::min(block.size(), kHeaderSize));
    }

    std::uint8_t U8(std::size_t offset) const { return m_bytes[offset]; }
    std::uint16_t U16(std::size_t offset) const
    {
        return static_cast<std::uint16_t>(m_bytes[offset] | (m_bytes[offset + 1] << 8));
    }
    void SetU8(std::size_t offset, std::uint8_t value) { m_bytes[offset] = value; }
    void SetU16(std::size_t offset, std::uint16_t value)
    {
        m_bytes[offset] = static_cast<std::uint8_t>(value);
        m_bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }

    // The text at offset up to its NUL, or up to the end of its field when it has none.
    std::string Text(std::size_t offset, std::size_t fieldSize) const
    {
        const auto* begin = reinterpret_cast<const char*>(m_bytes.data() + offset);
        const std::size_t limit = std::min(fieldSize, kHeaderSize - offset);
        const void* nul = std::memchr(begin, 0, limit);
        const std::size_t length =
            nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : limit;
        return std::string(begin, length);
    }
    // Writes a text and its NUL, cut to fit the field.
    void SetText(std::size_t offset, std::size_t fieldSize, std::string_view text)
    {
        const std::size_t length = std::min(text.size(), fieldSize - 1);
        std::memcpy(m_bytes.data() + offset, text.data(), length);
        std::memset(m_bytes.data() + offset + length, 0, fieldSize - length);
    }

    // A packet whose length is a byte elsewhere; never longer than its field.
    std::span<const std::uint8_t> Packet(std::size_t offset, std::size_t lengthOffset,
                                         std::size_t fieldSize) const
    {
        const std::size_t length = std::min<std::size_t>(m_bytes[lengthOffset], fieldSize);
        return std::span<const std::uint8_t>(m_bytes.data() + offset, length);
    }
    // Stores a packet and its length byte; false (nothing written) when it does not fit.
    bool SetPacket(std::size_t offset, std::size_t lengthOffset, std::size_t fieldSize,
                   std::span<const std::uint8_t> packet)
    {
        if (packet.size() > fieldSize || packet.size() > 0xFF)
            return false;
        std::memcpy(m_bytes.data() + offset, packet.data(), packet.size());
        m_bytes[lengthOffset] = static_cast<std::uint8_t>(packet.size());
        return true;
    }

    std::span<const std::uint8_t> Announcement() const
    {
        return Packet(kAnnouncementOffset, kAnnouncementLengthOffset, kAnnouncementSize);
    }
    std::span<const std::uint8_t> JoinReply() const
    {
        return Packet(kJoinReplyOffset, kJoinReplyLengthOffset, kJoinReplySize);
    }
    std::span<const std::uint8_t> MapCheck() const
    {
        return Packet(kMapCheckOffset, kMapCheckLengthOffset, kMapCheckSize);
    }
    std::span<const std::uint8_t> SlotTable() const
    {
        return Packet(kSlotTableOffset, kSlotTableLengthOffset, kSlotTableSize);
    }
    std::span<const std::uint8_t> Countdown() const
    {
        return std::span<const std::uint8_t>(m_bytes.data() + kCountdownOffset, kCountdownSize);
    }

    // n, at most 12.
    std::size_t PlayerCount() const
    {
        return std::min<std::size_t>(m_bytes[kPlayerCountOffset], kMaxPlayers);
    }
    // The pre-built packet of player id 1..12; empty for other ids and empty records. The
    // length byte cannot reach past the record.
    std::span<const std::uint8_t> PlayerPacket(std::size_t playerId) const
    {
        if (playerId < 1 || playerId > kMaxPlayers)
            return {};
        const std::size_t record = PlayerRecordOffset(playerId);
        const std::size_t length = std::min<std::size_t>(m_bytes[record], kPlayerRecordSize - 1);
        return std::span<const std::uint8_t>(m_bytes.data() + record + 1, length);
    }
    // The player's name from the record; "UNKNOWN" for an id without one.
    std::string PlayerName(std::uint8_t playerId) const
    {
        if (PlayerPacket(playerId).empty())
            return "UNKNOWN";
        const std::size_t record = PlayerRecordOffset(playerId);
        return Text(record + kPlayerNameOffset, kPlayerRecordSize - kPlayerNameOffset);
    }
    // Whether the slot table puts the id in a team that plays; an id it does not list counts
    // as a player.
    bool IsPlayerSlot(std::uint8_t playerId) const
    {
        for (std::size_t j = 0; j < kSlotRecordsRead; ++j)
        {
            const std::size_t record = kSlotTableOffset + kSlotRecordsOffset + kSlotRecordSize * j;
            if (U8(record) == playerId)
                return U8(record + kSlotTeamOffset) != kObserverTeam;
        }
        return true;
    }
    bool LiveMatch() const { return U8(kNotLiveOffset) == 0; }

    bool SetPlayerPacket(std::size_t playerId, std::span<const std::uint8_t> packet)
    {
        if (playerId < 1 || playerId > kMaxPlayers || packet.size() > kPlayerRecordSize - 1)
            return false;
        const std::size_t record = PlayerRecordOffset(playerId);
        m_bytes[record] = static_cast<std::uint8_t>(packet.size());
        std::memcpy(m_bytes.data() + record + 1, packet.data(), packet.size());
        return true;
    }
};

} // namespace velt
