#include "host/ReplayHeaderCheck.h"

#include <algorithm>

#include "host/ReplayHeader.h"
#include "host/packets/LobbyPackets.h"

namespace velt
{

namespace
{

using H = ReplayHeader;

// A packet field: its length byte must fit the field, and what it spans must parse.
struct PacketField
{
    const char* m_name;
    std::size_t m_offset;
    std::size_t m_lengthOffset;
    std::size_t m_size;
    bool (*m_valid)(std::span<const std::uint8_t> packet);
};

const PacketField kPacketFields[] = {
    {"LAN announcement", H::kAnnouncementOffset, H::kAnnouncementLengthOffset, H::kAnnouncementSize,
     [](std::span<const std::uint8_t> p) { return ParseGameInfoDetails(p).has_value(); }},
    {"join reply", H::kJoinReplyOffset, H::kJoinReplyLengthOffset, H::kJoinReplySize,
     [](std::span<const std::uint8_t> p) { return ParseSlotInfoJoin(p).has_value(); }},
    {"map check", H::kMapCheckOffset, H::kMapCheckLengthOffset, H::kMapCheckSize,
     [](std::span<const std::uint8_t> p) { return ParseMapCheck(p).has_value(); }},
    {"slot table", H::kSlotTableOffset, H::kSlotTableLengthOffset, H::kSlotTableSize,
     [](std::span<const std::uint8_t> p) { return ParseSlotInfo(p).has_value(); }},
};

struct TextField
{
    const char* m_name;
    std::size_t m_offset;
    std::size_t m_size;
};

// The texts the host shows the viewer; the tag is never read.
const TextField kTextFields[] = {
    {"presenter name", H::kPresenterOffset, H::kPresenterSize},
    {"slogan", H::kSloganOffset, H::kSloganSize},
};

std::optional<std::string> PacketProblem(std::span<const std::uint8_t> header,
                                         const PacketField& field)
{
    const std::size_t length = header[field.m_lengthOffset];
    if (length > field.m_size)
        return "its " + std::string(field.m_name) + " is said to be " + std::to_string(length) +
               " bytes long, in a field of " + std::to_string(field.m_size);
    if (!field.m_valid(header.subspan(field.m_offset, length)))
        return "its " + std::string(field.m_name) + " is not a valid game packet";
    return std::nullopt;
}

std::optional<std::string> PlayerProblem(std::span<const std::uint8_t> header, std::size_t id)
{
    // A record of length 0 is a player id without a packet (the viewer's own, for one).
    const std::size_t record = H::PlayerRecordOffset(id);
    const std::size_t length = header[record];
    if (length == 0)
        return std::nullopt;
    if (length > H::kPlayerRecordSize - 1)
        return "the packet of player " + std::to_string(id) + " is said to be " +
               std::to_string(length) + " bytes long, in a record of " +
               std::to_string(H::kPlayerRecordSize);
    if (!ParsePlayerInfo(header.subspan(record + 1, length)))
        return "the packet of player " + std::to_string(id) + " is not a valid game packet";
    return std::nullopt;
}

} // namespace

std::optional<std::string> ReplayHeaderProblem(std::span<const std::uint8_t> header)
{
    if (header.size() != H::kHeaderSize)
        return "it is " + std::to_string(header.size()) + " bytes long, not " +
               std::to_string(H::kHeaderSize);
    for (const TextField& text : kTextFields)
    {
        const auto field = header.subspan(text.m_offset, text.m_size);
        if (std::find(field.begin(), field.end(), 0) == field.end())
            return "its " + std::string(text.m_name) + " does not end inside its field";
    }
    const std::size_t players = header[H::kPlayerCountOffset];
    if (players > H::kMaxPlayers)
        return "it names " + std::to_string(players) + " players, and holds records for " +
               std::to_string(H::kMaxPlayers);
    if (header[H::kAnnouncementLengthOffset] == 0)
        return "it has no LAN announcement, so the game would never see the match";
    for (const PacketField& field : kPacketFields)
        if (auto problem = PacketProblem(header, field))
            return problem;
    for (std::size_t id = 1; id <= players; ++id)
        if (auto problem = PlayerProblem(header, id))
            return problem;
    const auto countdown = header.subspan(H::kCountdownOffset, H::kCountdownSize);
    if (!IsHeadOnlyGamePacket(countdown.first(4), GamePacketType::kCountdownStart) ||
        !IsHeadOnlyGamePacket(countdown.subspan(4), GamePacketType::kCountdownEnd))
        return "its countdown is not the two countdown packets";
    return std::nullopt;
}

} // namespace velt
