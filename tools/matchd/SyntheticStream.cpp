#include "tools/matchd/SyntheticStream.h"

#include <array>
#include <bit>
#include <span>
#include <string_view>

#include "host/packets/PlayPackets.h"
#include "platform/ByteWriter.h"
#include "tools/w3gs/TimeSlotChecksum.h"

namespace velt
{

namespace
{

constexpr std::uint32_t kMinIntervalMs = 90;
constexpr std::uint32_t kMaxIntervalMs = 110;
constexpr std::uint32_t kActionSlotPercent = 35;
// Gaps between the recorded events, in ms of game time.
constexpr std::uint32_t kPingGapMin = 15000, kPingGapMax = 40000;
constexpr std::uint32_t kSkillGapMin = 30000, kSkillGapMax = 90000;
constexpr std::uint32_t kChatGapMin = 20000, kChatGapMax = 60000;
constexpr std::uint32_t kLeaveBeforeEndMin = 1000, kLeaveBeforeEndMax = 3000;
constexpr std::uint32_t kChatToObserversScope = 2;

constexpr std::uint8_t kActionAbility = 0x10;
constexpr std::uint8_t kActionAbilityAtPoint = 0x11;
constexpr std::uint8_t kActionSelection = 0x16;
constexpr std::uint8_t kActionAssignGroup = 0x17;
constexpr std::uint8_t kActionSelectGroup = 0x18;
constexpr std::uint8_t kActionSubgroup = 0x19;
constexpr std::uint8_t kActionPreSubselection = 0x1A;
constexpr std::uint8_t kActionHeroSkillMenu = 0x66;
constexpr std::uint8_t kActionMinimapPing = 0x68;

constexpr std::array<std::uint32_t, 4> kPointOrders = {0x000D0003, 0x000D000F, 0x000D0012,
                                                       0x000D0016}; // smart, attack, move, patrol
constexpr std::array<std::uint32_t, 4> kTrainOrders = {0x61657065, 0x6F677275, 0x68666F6F,
                                                       0x75676864};

constexpr std::array<std::string_view, 10> kPlayerLines = {
    "gl hf", "gg", "wp", "nice micro", "lag?", "brb", "go go", "ez creeps", "hf", "well played"};
constexpr std::array<std::string_view, 8> kObserverLines = {
    "what a fight",  "he should expand now", "that creep route though", "close game",
    "hero died lol", "nice timing",          "tower rush incoming?",    "gg soon"};

std::uint32_t FloatBits(CSeededRandom& random, std::uint32_t range)
{
    const float value =
        static_cast<float>(random.Between(0, 2 * range)) - static_cast<float>(range);
    return std::bit_cast<std::uint32_t>(value);
}

void WriteObjectPairs(CByteWriter& writer, CSeededRandom& random, std::uint32_t count)
{
    for (std::uint32_t i = 0; i < count; ++i)
    {
        const std::uint32_t object = random.Between(0x1000, 0x9FFF);
        writer.U32(object).U32(object);
    }
}

// One ordinary action of a player, in its recorded layout.
void WriteOrdinaryAction(CByteWriter& writer, CSeededRandom& random)
{
    switch (random.Between(0, 5))
    {
    case 0:
    {
        const std::uint32_t count = random.Between(1, 4);
        writer.U8(kActionSelection).U8(1).U16(static_cast<std::uint16_t>(count));
        WriteObjectPairs(writer, random, count);
        break;
    }
    case 1:
        writer.U8(kActionAbilityAtPoint).U16(0x0040).U32(random.Pick(kPointOrders));
        writer.U32(0xFFFFFFFF).U32(0xFFFFFFFF).U32(FloatBits(random, 6000));
        writer.U32(FloatBits(random, 6000));
        break;
    case 2:
        writer.U8(kActionAbility).U16(0x0000).U32(random.Pick(kTrainOrders));
        writer.U32(0xFFFFFFFF).U32(0xFFFFFFFF);
        break;
    case 3:
        writer.U8(kActionSelectGroup).U8(static_cast<std::uint8_t>(random.Between(0, 9))).U8(3);
        break;
    case 4:
    {
        const std::uint32_t count = random.Between(1, 3);
        writer.U8(kActionAssignGroup).U8(static_cast<std::uint8_t>(random.Between(0, 9)));
        writer.U16(static_cast<std::uint16_t>(count));
        WriteObjectPairs(writer, random, count);
        break;
    }
    default:
        writer.U8(kActionPreSubselection).U8(kActionSubgroup).U32(random.Pick(kTrainOrders));
        WriteObjectPairs(writer, random, 1);
        break;
    }
}

ActionBlock OrdinaryBlock(std::uint8_t playerId, CSeededRandom& random)
{
    CByteWriter writer(64);
    const std::uint32_t actions = random.Between(1, 3);
    for (std::uint32_t i = 0; i < actions; ++i)
        WriteOrdinaryAction(writer, random);
    return {playerId, writer.Take()};
}

ActionBlock PingBlock(std::uint8_t playerId, CSeededRandom& random)
{
    CByteWriter writer(13);
    writer.U8(kActionMinimapPing).U32(FloatBits(random, 6000)).U32(FloatBits(random, 6000));
    writer.U32(std::bit_cast<std::uint32_t>(5.0f));
    return {playerId, writer.Take()};
}

// The submenu opens first; most of the time the hero then learns a skill in the same block.
ActionBlock SkillBlock(std::uint8_t playerId, CSeededRandom& random)
{
    CByteWriter writer(16);
    writer.U8(kActionHeroSkillMenu);
    if (random.Percent(80))
    {
        writer.U8(kActionAbility).U16(0x0000).U32(random.Between(0x000D0200, 0x000D02FF));
        writer.U32(0xFFFFFFFF).U32(0xFFFFFFFF);
    }
    return {playerId, writer.Take()};
}

// A line as the replay recorded it: in-game chat, to everyone from a player, to the observers
// from an observer. The viewer is among the receivers.
std::vector<std::uint8_t> ChatPacket(const MatchRoster& roster, bool fromObserver,
                                     CSeededRandom& random)
{
    const RosterEntry& sender =
        fromObserver ? random.Pick(roster.m_observers) : random.Pick(roster.m_players);
    ChatFromHostParams chat;
    chat.m_sender = sender.m_playerId;
    chat.m_kind = ChatKind::kInGame;
    chat.m_scope = fromObserver ? kChatToObserversScope : 0;
    chat.m_text =
        std::string(fromObserver ? random.Pick(kObserverLines) : random.Pick(kPlayerLines));
    chat.m_receivers.push_back(kViewerPlayerId);
    for (const auto& entry : roster.m_observers)
        if (entry.m_playerId != sender.m_playerId)
            chat.m_receivers.push_back(entry.m_playerId);
    if (!fromObserver)
        for (const auto& entry : roster.m_players)
            if (entry.m_playerId != sender.m_playerId)
                chat.m_receivers.push_back(entry.m_playerId);
    return BuildChatFromHost(chat);
}

TimeSlotParams NextSlot(const MatchRoster& roster, std::uint32_t now, std::uint32_t& nextPing,
                        std::uint32_t& nextSkill, CSeededRandom& random)
{
    TimeSlotParams slot;
    slot.m_intervalMs = static_cast<std::uint16_t>(random.Between(kMinIntervalMs, kMaxIntervalMs));
    if (now >= nextPing)
    {
        slot.m_blocks.push_back(PingBlock(random.Pick(roster.m_observers).m_playerId, random));
        nextPing = now + random.Between(kPingGapMin, kPingGapMax);
    }
    else if (now >= nextSkill)
    {
        slot.m_blocks.push_back(SkillBlock(random.Pick(roster.m_players).m_playerId, random));
        nextSkill = now + random.Between(kSkillGapMin, kSkillGapMax);
    }
    if (slot.m_blocks.empty() && !random.Percent(kActionSlotPercent))
        return slot;
    const std::uint32_t extra = random.Between(slot.m_blocks.empty() ? 1 : 0, 2);
    for (std::uint32_t i = 0; i < extra; ++i)
    {
        const RosterEntry& player = random.Pick(roster.m_players);
        // Players ping too now and then; only the observers' pings earn a notice.
        slot.m_blocks.push_back(random.Percent(3) ? PingBlock(player.m_playerId, random)
                                                  : OrdinaryBlock(player.m_playerId, random));
    }
    return slot;
}

void Append(std::vector<std::uint8_t>& stream, const std::vector<std::uint8_t>& packet)
{
    stream.insert(stream.end(), packet.begin(), packet.end());
}

} // namespace

SyntheticStream GenerateSyntheticStream(const MatchRoster& roster, std::uint32_t targetMs,
                                        CSeededRandom& random)
{
    SyntheticStream out;
    if (roster.m_players.empty() || roster.m_observers.empty())
        return out;
    out.m_bytes.reserve(targetMs / 5);
    out.m_marks.reserve(targetMs / kMinIntervalMs + 1);
    std::uint32_t nextPing = random.Between(kPingGapMin / 3, kPingGapMax);
    std::uint32_t nextSkill = random.Between(kSkillGapMin / 3, kSkillGapMax);
    std::uint32_t nextChat = random.Between(kChatGapMin / 4, kChatGapMax);
    const std::uint32_t leaveAt =
        targetMs - std::min(targetMs / 2, random.Between(kLeaveBeforeEndMin, kLeaveBeforeEndMax));
    const RosterEntry& leaver = random.Pick(roster.m_players);
    bool left = false;
    std::uint32_t now = 0;
    // A stream that would outgrow the client's buffer ends early (the last slot, a chat line
    // and the leave fit the reserve).
    constexpr std::size_t kReserve = 4096;
    while (now < targetMs && out.m_bytes.size() + kReserve < kMaxStreamSize)
    {
        const TimeSlotParams slot = NextSlot(roster, now, nextPing, nextSkill, random);
        Append(out.m_bytes, BuildTimeSlot(slot, TimeSlotChecksum));
        now += slot.m_intervalMs;
        if (now >= nextChat)
        {
            Append(out.m_bytes, ChatPacket(roster, random.Percent(35), random));
            nextChat = now + random.Between(kChatGapMin, kChatGapMax);
        }
        if (!left && (now >= leaveAt || out.m_bytes.size() + kReserve >= kMaxStreamSize))
        {
            Append(out.m_bytes, BuildPlayerLeave({leaver.m_playerId, kLeaveReasonLost}));
            left = true;
        }
        out.m_marks.push_back({now, static_cast<std::uint32_t>(out.m_bytes.size())});
    }
    out.m_durationMs = now;
    return out;
}

} // namespace velt
