#include "tools/replay/CActionTally.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/ByteReader.h"

namespace velt
{
namespace
{

constexpr std::uint32_t kPatch107 = 7;
constexpr std::uint32_t kPatch113 = 13;
// 1.14b renumbered the subgroup actions; 1.14 itself shares its version number and is taken
// as the new numbering (no sample predates it to tell).
constexpr std::uint32_t kPatch114b = 14;
constexpr std::size_t kObjectIdSize = 8;
constexpr std::size_t kCacheStrings = 3;
constexpr std::uint8_t kSelectModeRemove = 2;
constexpr std::uint8_t kRightClickOrder = 0x03;
constexpr std::uint8_t kLastBasicOrder = 0x19;

// Action ids in today's numbering, as far as the counting needs them.
enum ActionId : int
{
    kUnitOrder = 0x10,          // ability without target
    kPointOrder = 0x11,         // ... with a target point
    kTargetOrder = 0x12,        // ... with a target object (right click)
    kItemOrder = 0x13,          // give or drop an item
    kTwoTargetOrder = 0x14,     // two orders
    kTwoTargetItemOrder = 0x15, // two orders and an object
    kChangeSelection = 0x16,
    kAssignGroup = 0x17,
    kSelectGroup = 0x18,
    kSelectSubgroup = 0x19,
    kRemoveFromQueue = 0x1E,
    kTriggerChat = 0x60,
    kEscape = 0x61,
    kScenarioTrigger = 0x62,
    kCacheStoreInt = 0x6B,
    kCacheStoreReal = 0x6C,
    kCacheStoreBool = 0x6D,
    kCacheClearInt = 0x70,
    kCacheClearUnit = 0x73,
    kW3Api = 0x77,
    kSyncData = 0x78,
    kFrameEvent = 0x79,
};

// Payload sizes of the fixed-size actions in today's numbering; -1 where the size depends on
// the content or the version, or the id is unknown.
constexpr std::array<std::int8_t, 256> MakeFixedSizes()
{
    std::array<std::int8_t, 256> sizes{};
    for (auto& size : sizes)
        size = -1;
    for (int id : {0x01, 0x02, 0x04, 0x05, 0x1A, 0x61, 0x66, 0x67})
        sizes[id] = 0;
    for (int id :
         {0x20, 0x22, 0x23, 0x24, 0x25, 0x26, 0x29, 0x2A, 0x2B, 0x2C, 0x2F, 0x30, 0x31, 0x32})
        sizes[id] = 0; // single-player cheats
    sizes[0x03] = 1;   // set speed
    sizes[0x07] = 4;   // save finished
    sizes[0x18] = 2;   // select group: group, 3
    sizes[0x1B] = 9;   // select unit: flag + object
    sizes[0x1C] = 9;   // select ground item: flag + object
    sizes[0x1D] = 8;   // cancel hero revival: object
    sizes[0x1E] = 5;   // remove from queue: slot + id
    sizes[0x1F] = 5;
    sizes[0x21] = 8;
    sizes[0x27] = 5; // resource cheats
    sizes[0x28] = 5;
    sizes[0x2D] = 5;
    sizes[0x2E] = 4; // time of day
    sizes[0x50] = 5; // ally options: slot + flags
    sizes[0x51] = 9; // transfer resources: slot, gold, lumber
    sizes[0x63] = 8;
    sizes[0x64] = 8;  // trackable hit
    sizes[0x65] = 8;  // trackable track
    sizes[0x68] = 12; // minimap ping: x, y, duration
    sizes[0x69] = 16; // continue game
    sizes[0x6A] = 16;
    sizes[0x75] = 1;  // arrow key
    sizes[0x76] = 10; // mouse event
    sizes[0x7A] = 20;
    sizes[0x7B] = 16;
    sizes[0xA0] = 14;
    sizes[0xA1] = 9;
    return sizes;
}

constexpr std::array<std::int8_t, 256> kFixedSizes = MakeFixedSizes();

// Skips count cstrings; false when one is unterminated.
bool SkipStrings(CByteReader& reader, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        (void)reader.CString(reader.Remaining());
    return reader.Ok();
}

// Payload size of the action at the start of rest (after its id byte), or nothing when the
// id is unknown or the payload runs past the block.
std::optional<std::size_t> PayloadSize(int id, std::span<const std::uint8_t> rest,
                                       const ActionLayout& layout)
{
    const std::size_t flags = layout.m_wordAbilityFlags ? 2 : 1;
    const std::size_t dwords = layout.m_orderDwords ? 8 : 0;
    const std::size_t order = flags + 4 + dwords; // flags, order id, unknown dwords
    CByteReader reader(rest);
    switch (id)
    {
    case kUnitOrder:
        reader.Skip(order);
        break;
    case kPointOrder:
        reader.Skip(order + 8);
        break;
    case kTargetOrder:
        reader.Skip(order + 8 + kObjectIdSize);
        break;
    case kItemOrder:
        reader.Skip(order + 8 + 2 * kObjectIdSize);
        break;
    case kTwoTargetOrder:
    case kTwoTargetItemOrder:
        // x, y, order B, flags, category, owner, x, y; then an object for 0x15
        reader.Skip(order + 8 + 4 + 4 + 4 + 1 + 8 +
                    (id == kTwoTargetItemOrder ? kObjectIdSize : 0));
        break;
    case kChangeSelection:
    case kAssignGroup:
    {
        reader.Skip(1);
        const std::uint16_t count = reader.U16();
        reader.Skip(std::size_t{count} * kObjectIdSize);
        break;
    }
    case kSelectSubgroup:
        reader.Skip(layout.m_subgroupItems ? 4 + kObjectIdSize : 1);
        break;
    case 0x06: // save game: name
        SkipStrings(reader, 1);
        break;
    case kTriggerChat:
        reader.Skip(8);
        SkipStrings(reader, 1);
        break;
    case kScenarioTrigger:
        reader.Skip(layout.m_orderDwords ? 12 : 8);
        break;
    case kCacheStoreInt:
    case kCacheStoreReal:
        SkipStrings(reader, kCacheStrings);
        reader.Skip(4);
        break;
    case kCacheStoreBool:
        SkipStrings(reader, kCacheStrings);
        reader.Skip(1);
        break;
    case kW3Api:
    {
        reader.Skip(8);
        const std::uint32_t length = reader.U32();
        if (length > reader.Remaining())
            return std::nullopt;
        reader.Skip(length);
        break;
    }
    case kSyncData:
        SkipStrings(reader, 2);
        reader.Skip(4);
        break;
    case kFrameEvent:
        reader.Skip(16);
        SkipStrings(reader, 1);
        break;
    default:
        if (id >= kCacheClearInt && id <= kCacheClearUnit)
            SkipStrings(reader, kCacheStrings);
        else if (id < 0 || id > 0xFF || kFixedSizes[static_cast<std::size_t>(id)] < 0)
            return std::nullopt; // includes 0x6E, whose unit blob is not walked
        else
            reader.Skip(static_cast<std::size_t>(kFixedSizes[static_cast<std::size_t>(id)]));
        break;
    }
    if (!reader.Ok())
        return std::nullopt;
    return reader.Position();
}

} // namespace

ActionLayout ActionLayout::For(const W3gHeader& header, bool post202Format)
{
    const std::uint32_t patch = header.Patch();
    ActionLayout layout;
    layout.m_orderDwords = patch >= kPatch107;
    layout.m_wordAbilityFlags = patch >= kPatch113;
    layout.m_subgroupItems = patch >= kPatch114b;
    layout.m_menuIdsLower = patch < kPatch107;
    layout.m_post202Ids = post202Format;
    return layout;
}

CActionTally::CActionTally(ActionLayout layout) : m_layout(layout)
{
    m_index.fill(-1);
}

int CActionTally::ModernActionId(std::uint8_t storedId, const ActionLayout& layout)
{
    int id = storedId;
    if (layout.m_post202Ids && id >= kW3Api)
        ++id;
    if (layout.m_menuIdsLower && id >= 0x65)
        ++id;
    if (!layout.m_subgroupItems && id >= 0x1A && id <= 0x1E)
        ++id;
    return id;
}

PlayerActionCounts& CActionTally::Player(std::uint8_t playerId)
{
    if (m_index[playerId] < 0)
    {
        m_index[playerId] = static_cast<std::int16_t>(m_players.size());
        m_players.emplace_back().m_playerId = playerId;
    }
    return m_players[static_cast<std::size_t>(m_index[playerId])];
}

void CActionTally::Categorise(int id, std::span<const std::uint8_t> payload, bool& afterDeselect,
                              ActionCategoryCounts& counts) const
{
    const bool wasAfterDeselect = afterDeselect;
    afterDeselect = false;
    if (id >= kUnitOrder && id <= kTwoTargetOrder)
    {
        const std::size_t at = m_layout.m_wordAbilityFlags ? 2 : 1;
        const std::uint8_t* order = payload.data() + at; // payload sizes cover it
        // Numeric orders are 0x000D00xx; others are four-character object codes.
        const bool numeric = order[2] == 0x0D && order[3] == 0x00;
        const bool basic = numeric && order[0] <= kLastBasicOrder && order[1] == 0;
        const bool rightClick = numeric && order[0] == kRightClickOrder && order[1] == 0;
        if (id == kUnitOrder)
            ++counts.m_buildTrain;
        else if (id == kPointOrder && numeric)
            ++(basic ? counts.m_basic : counts.m_ability);
        else if (id == kTargetOrder)
            ++(rightClick ? counts.m_rightClick : basic ? counts.m_basic : counts.m_ability);
        else if (id == kItemOrder)
            ++counts.m_item;
        else if (id == kTwoTargetOrder)
            ++(rightClick ? counts.m_rightClick : counts.m_ability);
        return;
    }
    switch (id)
    {
    case kChangeSelection:
        if (payload[0] == kSelectModeRemove)
        {
            afterDeselect = true;
            ++counts.m_select;
        }
        else if (!wasAfterDeselect)
            ++counts.m_select;
        break;
    case kAssignGroup:
        ++counts.m_assignGroup;
        break;
    case kSelectGroup:
        ++counts.m_selectHotkey;
        break;
    case kRemoveFromQueue:
        ++counts.m_removeUnit;
        break;
    case kEscape:
        ++counts.m_esc;
        break;
    default:
        break;
    }
}

bool CActionTally::CountBlock(std::uint8_t playerId, std::span<const std::uint8_t> actions)
{
    PlayerActionCounts& player = Player(playerId);
    ++player.m_commandBlocks;
    bool afterDeselect = false;
    std::size_t pos = 0;
    while (pos < actions.size())
    {
        const std::uint8_t stored = actions[pos];
        const int id = ModernActionId(stored, m_layout);
        const auto rest = actions.subspan(pos + 1);
        const auto size = PayloadSize(id, rest, m_layout);
        if (!size)
            return false;
        ++player.m_byActionId[stored];
        Categorise(id, rest.first(*size), afterDeselect, player.m_categories);
        pos += 1 + *size;
    }
    return true;
}

std::vector<PlayerActionCounts> CActionTally::TakeCounts()
{
    std::sort(m_players.begin(), m_players.end(),
              [](const auto& a, const auto& b) { return a.m_playerId < b.m_playerId; });
    m_index.fill(-1);
    return std::move(m_players);
}

} // namespace velt
