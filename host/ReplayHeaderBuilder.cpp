#include "host/ReplayHeaderBuilder.h"

#include <algorithm>

#include "host/ReplayHeader.h"

namespace velt
{

namespace
{

using H = ReplayHeader;

// A text fits its field with its NUL and has none of its own.
bool TextFits(const std::string& text, std::size_t fieldSize)
{
    return text.size() < fieldSize && text.find('\0') == std::string::npos;
}

// A packet into its field; an empty one leaves the zeroed field and length byte as they are.
bool PutPacket(ReplayHeader& header, std::size_t offset, std::size_t lengthOffset,
               std::size_t fieldSize, const std::vector<std::uint8_t>& packet)
{
    return packet.empty() || header.SetPacket(offset, lengthOffset, fieldSize, packet);
}

// The text up to its NUL; nothing when the field has none.
std::optional<std::string> TextOf(std::span<const std::uint8_t> header, std::size_t offset,
                                  std::size_t fieldSize)
{
    const auto field = header.subspan(offset, fieldSize);
    const auto nul = std::find(field.begin(), field.end(), 0);
    if (nul == field.end())
        return std::nullopt;
    return std::string(field.begin(), nul);
}

// The packet whose length byte is at lengthOffset; nothing when that byte exceeds the field.
std::optional<std::vector<std::uint8_t>> PacketOf(std::span<const std::uint8_t> header,
                                                  std::size_t offset, std::size_t fieldSize,
                                                  std::size_t lengthOffset)
{
    const std::size_t length = header[lengthOffset];
    if (length > fieldSize)
        return std::nullopt;
    const auto packet = header.subspan(offset, length);
    return std::vector<std::uint8_t>(packet.begin(), packet.end());
}

} // namespace

std::vector<std::uint8_t> BuildReplayHeader(const ReplayHeaderContent& content)
{
    if (content.m_playerPackets.size() > H::kMaxPlayers ||
        content.m_countdown.size() != H::kCountdownSize || !TextFits(content.m_tag, H::kTagSize) ||
        !TextFits(content.m_presenter, H::kPresenterSize) ||
        !TextFits(content.m_slogan, H::kSloganSize))
        return {};
    ReplayHeader header;
    header.SetText(H::kTagOffset, H::kTagSize, content.m_tag);
    header.SetText(H::kPresenterOffset, H::kPresenterSize, content.m_presenter);
    header.SetText(H::kSloganOffset, H::kSloganSize, content.m_slogan);
    bool ok = PutPacket(header, H::kAnnouncementOffset, H::kAnnouncementLengthOffset,
                        H::kAnnouncementSize, content.m_announcement) &&
              PutPacket(header, H::kJoinReplyOffset, H::kJoinReplyLengthOffset, H::kJoinReplySize,
                        content.m_joinReply) &&
              PutPacket(header, H::kMapCheckOffset, H::kMapCheckLengthOffset, H::kMapCheckSize,
                        content.m_mapCheck) &&
              PutPacket(header, H::kSlotTableOffset, H::kSlotTableLengthOffset, H::kSlotTableSize,
                        content.m_slotTable);
    for (std::size_t i = 0; ok && i < content.m_playerPackets.size(); ++i)
    {
        const auto& packet = content.m_playerPackets[i];
        ok = packet.empty() || header.SetPlayerPacket(i + 1, packet);
    }
    if (!ok)
        return {};
    std::copy(content.m_countdown.begin(), content.m_countdown.end(),
              header.m_bytes.begin() + H::kCountdownOffset);
    header.SetU8(H::kPlayerCountOffset, static_cast<std::uint8_t>(content.m_playerPackets.size()));
    std::vector<std::uint8_t> block(header.m_bytes.begin(), header.m_bytes.end());
    PatchReplayHeaderProgress(block, content.m_matchSeconds, content.m_live);
    return block;
}

std::optional<ReplayHeaderContent> SplitReplayHeader(std::span<const std::uint8_t> header)
{
    if (header.size() != H::kHeaderSize || header[H::kPlayerCountOffset] > H::kMaxPlayers)
        return std::nullopt;
    auto tag = TextOf(header, H::kTagOffset, H::kTagSize);
    auto presenter = TextOf(header, H::kPresenterOffset, H::kPresenterSize);
    auto slogan = TextOf(header, H::kSloganOffset, H::kSloganSize);
    auto announcement = PacketOf(header, H::kAnnouncementOffset, H::kAnnouncementSize,
                                 H::kAnnouncementLengthOffset);
    auto joinReply =
        PacketOf(header, H::kJoinReplyOffset, H::kJoinReplySize, H::kJoinReplyLengthOffset);
    auto mapCheck =
        PacketOf(header, H::kMapCheckOffset, H::kMapCheckSize, H::kMapCheckLengthOffset);
    auto slotTable =
        PacketOf(header, H::kSlotTableOffset, H::kSlotTableSize, H::kSlotTableLengthOffset);
    if (!tag || !presenter || !slogan || !announcement || !joinReply || !mapCheck || !slotTable)
        return std::nullopt;
    ReplayHeaderContent content;
    content.m_tag = std::move(*tag);
    content.m_presenter = std::move(*presenter);
    content.m_slogan = std::move(*slogan);
    content.m_announcement = std::move(*announcement);
    content.m_joinReply = std::move(*joinReply);
    content.m_mapCheck = std::move(*mapCheck);
    content.m_slotTable = std::move(*slotTable);
    content.m_matchSeconds = static_cast<std::uint16_t>(header[H::kMatchSecondsOffset] |
                                                        (header[H::kMatchSecondsOffset + 1] << 8));
    content.m_live = header[H::kNotLiveOffset] == 0;
    const auto countdown = header.subspan(H::kCountdownOffset, H::kCountdownSize);
    content.m_countdown.assign(countdown.begin(), countdown.end());
    for (std::size_t id = 1; id <= header[H::kPlayerCountOffset]; ++id)
    {
        const std::size_t record = H::PlayerRecordOffset(id);
        auto packet = PacketOf(header, record + 1, H::kPlayerRecordSize - 1, record);
        if (!packet)
            return std::nullopt;
        content.m_playerPackets.push_back(std::move(*packet));
    }
    return content;
}

void PatchReplayHeaderProgress(std::span<std::uint8_t> header, std::uint16_t matchSeconds,
                               bool live)
{
    if (header.size() != H::kHeaderSize)
        return;
    header[H::kMatchSecondsOffset] = static_cast<std::uint8_t>(matchSeconds);
    header[H::kMatchSecondsOffset + 1] = static_cast<std::uint8_t>(matchSeconds >> 8);
    header[H::kNotLiveOffset] = live ? 0 : 1;
}

} // namespace velt
