#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/replay/ReplayFile.h"

namespace velt
{

// How the actions inside command blocks are laid out in a given game version.
struct ActionLayout
{
    bool m_orderDwords = true;      // orders carry two unknown dwords, from 1.07
    bool m_wordAbilityFlags = true; // ability flags are a u16 from 1.13, a byte before
    bool m_subgroupItems = true;    // 0x19 names an item and object and 0x1A exists, from 1.14b
    bool m_menuIdsLower = false;    // before 1.07 the ids from 0x66 on were stored one lower
    bool m_post202Ids = false;      // 0x38-format files store the ids from 0x78 on one lower

    static ActionLayout For(const W3gHeader& header, bool post202Format);
};

// Walks the actions of command blocks and counts them per player: by stored id byte, and in
// the categories of the w3gjs parser with its rules (section "APM convention" of the format
// notes): 0x10 is build/train whatever its order, 0x11 counts only numeric orders, a select
// directly after a deselect in the same block is not counted, 0x19 and pings are not counted.
class CActionTally
{
public:
    explicit CActionTally(ActionLayout layout);

    // False when the actions do not walk to the block's end; those before the fault count.
    bool CountBlock(std::uint8_t playerId, std::span<const std::uint8_t> actions);
    std::vector<PlayerActionCounts> TakeCounts();

    // The id in today's numbering, or -1 for an id no version stores.
    static int ModernActionId(std::uint8_t storedId, const ActionLayout& layout);

private:
    PlayerActionCounts& Player(std::uint8_t playerId);
    void Categorise(int modernId, std::span<const std::uint8_t> payload, bool& afterDeselect,
                    ActionCategoryCounts& counts) const;

    ActionLayout m_layout;
    std::array<std::int16_t, 256> m_index;
    std::vector<PlayerActionCounts> m_players;
};

} // namespace velt
