#include "tools/w3gs/ReplayHeaderBuilder.h"

#include <algorithm>
#include <cstring>

namespace velt
{

namespace
{

// Layout of the block (offset, width):
//   0     30   tag text                    30    20   presenter name
//   50    u16  match length so far (s)     52    u8   not-live flag (0 = live)
//   53    u8   n, player records 1..n      54    256  announcement
//   310   140  join reply                  370+80·i  80  player record of id i (1..12)
//   1410  144  map check                   1554  128  slot table
//   1682  8    countdown packets           1695  50   slogan
//   1745  u8 announcement length   1746 u8 join reply length   1747 u8 slot table length
//   1748  u8 map check length
// A player record is its packet's length byte followed by the packet.
constexpr std::size_t kHeaderSize = 1752;
constexpr std::size_t kTagOffset = 0, kTagSize = 30;
constexpr std::size_t kPresenterOffset = 30, kPresenterSize = 20;
constexpr std::size_t kMatchSecondsOffset = 50;
constexpr std::size_t kNotLiveOffset = 52;
constexpr std::size_t kPlayerCountOffset = 53;
constexpr std::size_t kAnnouncementOffset = 54, kAnnouncementSize = 256;
constexpr std::size_t kJoinReplyOffset = 310, kJoinReplySize = 140;
constexpr std::size_t kPlayerRecordBase = 370, kPlayerRecordSize = 80;
constexpr std::size_t kMaxPlayerRecords = 12;
constexpr std::size_t kMapCheckOffset = 1410, kMapCheckSize = 144;
constexpr std::size_t kSlotTableOffset = 1554, kSlotTableSize = 128;
constexpr std::size_t kCountdownOffset = 1682, kCountdownSize = 8;
constexpr std::size_t kSloganOffset = 1695, kSloganSize = 50;
constexpr std::size_t kAnnouncementLengthOffset = 1745;
constexpr std::size_t kJoinReplyLengthOffset = 1746;
constexpr std::size_t kSlotTableLengthOffset = 1747;
constexpr std::size_t kMapCheckLengthOffset = 1748;
constexpr std::size_t kMaxLengthByte = 255;

std::size_t PlayerRecordOffset(std::size_t playerId)
{
    return kPlayerRecordBase + kPlayerRecordSize * playerId;
}

bool PutText(std::vector<std::uint8_t>& block, std::size_t offset, std::size_t size,
             const std::string& text)
{
    if (text.size() >= size || text.find('\0') != std::string::npos)
        return false;
    std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

// A packet with its length in a byte elsewhere in the block.
bool PutPacket(std::vector<std::uint8_t>& block, std::size_t offset, std::size_t size,
               std::size_t lengthOffset, const std::vector<std::uint8_t>& packet)
{
    if (packet.size() > size || packet.size() > kMaxLengthByte)
        return false;
    std::copy(packet.begin(), packet.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
    block[lengthOffset] = static_cast<std::uint8_t>(packet.size());
    return true;
}

std::optional<std::string> GetText(std::span<const std::uint8_t> header, std::size_t offset,
                                   std::size_t size)
{
    const auto field = header.subspan(offset, size);
    const auto nul = std::find(field.begin(), field.end(), 0);
    if (nul == field.end())
        return std::nullopt;
    return std::string(field.begin(), nul);
}

std::optional<std::vector<std::uint8_t>> GetPacket(std::span<const std::uint8_t> header,
                                                   std::size_t offset, std::size_t size,
                                                   std::size_t length)
{
    if (length > size)
        return std::nullopt;
    const auto field = header.subspan(offset, length);
    return std::vector<std::uint8_t>(field.begin(), field.end());
}

} // namespace

std::vector<std::uint8_t> BuildReplayHeader(const ReplayHeaderContent& content)
{
    std::vector<std::uint8_t> block(kHeaderSize, 0);
    if (content.m_playerPackets.size() > kMaxPlayerRecords ||
        content.m_countdown.size() != kCountdownSize)
        return {};
    bool ok = PutText(block, kTagOffset, kTagSize, content.m_tag) &&
              PutText(block, kPresenterOffset, kPresenterSize, content.m_presenter) &&
              PutText(block, kSloganOffset, kSloganSize, content.m_slogan) &&
              PutPacket(block, kAnnouncementOffset, kAnnouncementSize, kAnnouncementLengthOffset,
                        content.m_announcement) &&
              PutPacket(block, kJoinReplyOffset, kJoinReplySize, kJoinReplyLengthOffset,
                        content.m_joinReply) &&
              PutPacket(block, kMapCheckOffset, kMapCheckSize, kMapCheckLengthOffset,
                        content.m_mapCheck) &&
              PutPacket(block, kSlotTableOffset, kSlotTableSize, kSlotTableLengthOffset,
                        content.m_slotTable);
    for (std::size_t i = 0; ok && i < content.m_playerPackets.size(); ++i)
    {
        const auto& packet = content.m_playerPackets[i];
        const std::size_t record = PlayerRecordOffset(i + 1);
        ok = packet.size() < kPlayerRecordSize;
        if (ok)
        {
            block[record] = static_cast<std::uint8_t>(packet.size());
            std::copy(packet.begin(), packet.end(),
                      block.begin() + static_cast<std::ptrdiff_t>(record + 1));
        }
    }
    if (!ok)
        return {};
    std::copy(content.m_countdown.begin(), content.m_countdown.end(),
              block.begin() + static_cast<std::ptrdiff_t>(kCountdownOffset));
    block[kPlayerCountOffset] = static_cast<std::uint8_t>(content.m_playerPackets.size());
    PatchReplayHeaderProgress(block, content.m_matchSeconds, content.m_live);
    return block;
}

std::optional<ReplayHeaderContent> SplitReplayHeader(std::span<const std::uint8_t> header)
{
    if (header.size() != kHeaderSize || header[kPlayerCountOffset] > kMaxPlayerRecords)
        return std::nullopt;
    ReplayHeaderContent content;
    auto tag = GetText(header, kTagOffset, kTagSize);
    auto presenter = GetText(header, kPresenterOffset, kPresenterSize);
    auto slogan = GetText(header, kSloganOffset, kSloganSize);
    auto announcement = GetPacket(header, kAnnouncementOffset, kAnnouncementSize,
                                  header[kAnnouncementLengthOffset]);
    auto joinReply =
        GetPacket(header, kJoinReplyOffset, kJoinReplySize, header[kJoinReplyLengthOffset]);
    auto mapCheck =
        GetPacket(header, kMapCheckOffset, kMapCheckSize, header[kMapCheckLengthOffset]);
    auto slotTable =
        GetPacket(header, kSlotTableOffset, kSlotTableSize, header[kSlotTableLengthOffset]);
    if (!tag || !presenter || !slogan || !announcement || !joinReply || !mapCheck || !slotTable)
        return std::nullopt;
    content.m_tag = std::move(*tag);
    content.m_presenter = std::move(*presenter);
    content.m_slogan = std::move(*slogan);
    content.m_announcement = std::move(*announcement);
    content.m_joinReply = std::move(*joinReply);
    content.m_mapCheck = std::move(*mapCheck);
    content.m_slotTable = std::move(*slotTable);
    content.m_matchSeconds =
        static_cast<std::uint16_t>(header[kMatchSecondsOffset] | (header[kMatchSecondsOffset + 1] << 8));
    content.m_live = header[kNotLiveOffset] == 0;
    const auto countdown = header.subspan(kCountdownOffset, kCountdownSize);
    content.m_countdown.assign(countdown.begin(), countdown.end());
    for (std::size_t id = 1; id <= header[kPlayerCountOffset]; ++id)
    {
        const std::size_t record = PlayerRecordOffset(id);
        auto packet = GetPacket(header, record + 1, kPlayerRecordSize - 1, header[record]);
        if (!packet)
            return std::nullopt;
        content.m_playerPackets.push_back(std::move(*packet));
    }
    return content;
}

void PatchReplayHeaderProgress(std::span<std::uint8_t> header, std::uint16_t matchSeconds,
                               bool live)
{
    if (header.size() != kHeaderSize)
        return;
    header[kMatchSecondsOffset] = static_cast<std::uint8_t>(matchSeconds);
    header[kMatchSecondsOffset + 1] = static_cast<std::uint8_t>(matchSeconds >> 8);
    header[kNotLiveOffset] = live ? 0 : 1;
}

} // namespace velt
