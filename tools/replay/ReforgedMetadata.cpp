#include "tools/replay/ReforgedMetadata.h"

#include <algorithm>
#include <string>

#include "platform/ByteReader.h"
#include "formats/ProtobufWire.h"

namespace velt
{
namespace
{

constexpr int kMaxNesting = 2; // a record holds profiles, a profile holds no messages we read

std::string Text(std::span<const std::uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                          bytes.size(), kMaxReplayNameLength)));
}

// Profile fields: 1 pid, 2 BattleTag, 3 clan, 4 portrait, 5 team, 6 unknown.
void DecodeMessage(std::span<const std::uint8_t> body, int depth, std::vector<ReplayProfile>& out)
{
    CByteReader reader(body);
    ReplayProfile profile;
    bool hasPlayerId = false;
    while (reader.Ok() && !reader.AtEnd())
    {
        WireField field;
        if (!ReadWireField(reader, field))
            break;
        if (field.m_number == 1 && field.m_type == WireType::kLengthDelimited)
        {
            if (depth < kMaxNesting)
                DecodeMessage(field.m_bytes, depth + 1, out);
            continue;
        }
        if (field.m_type == WireType::kVarint && field.m_number == 1)
        {
            profile.m_playerId = static_cast<std::uint8_t>(field.m_value);
            hasPlayerId = true;
        }
        else if (field.m_type == WireType::kLengthDelimited)
        {
            if (field.m_number == 2)
                profile.m_battleTag = Text(field.m_bytes);
            else if (field.m_number == 3)
                profile.m_clan = Text(field.m_bytes);
            else if (field.m_number == 4)
                profile.m_portrait = Text(field.m_bytes);
        }
    }
    if (hasPlayerId)
    {
        profile.m_nested = depth > 1;
        out.push_back(std::move(profile));
    }
}

} // namespace

std::vector<ReplayProfile> DecodeReplayProfiles(std::span<const std::uint8_t> body)
{
    std::vector<ReplayProfile> profiles;
    DecodeMessage(body, 1, profiles);
    return profiles;
}

} // namespace velt
