#include "tools/replay/ReforgedMetadata.h"

#include <algorithm>
#include <string>

#include "platform/ByteReader.h"

namespace velt
{
namespace
{

constexpr int kMaxVarintBytes = 10;
constexpr int kMaxNesting = 2; // a record holds profiles, a profile holds no messages we read

enum class WireType : std::uint8_t
{
    kVarint = 0,
    kFixed64 = 1,
    kLengthDelimited = 2,
    kFixed32 = 5,
};

bool ReadVarint(CByteReader& reader, std::uint64_t& value)
{
    value = 0;
    for (int i = 0; i < kMaxVarintBytes; ++i)
    {
        const std::uint8_t byte = reader.U8();
        if (!reader.Ok())
            return false;
        value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

struct Field
{
    std::uint64_t m_number = 0;
    WireType m_type = WireType::kVarint;
    std::uint64_t m_value = 0;             // varint fields
    std::span<const std::uint8_t> m_bytes; // length-delimited fields
};

bool ReadField(CByteReader& reader, Field& field)
{
    std::uint64_t key = 0;
    if (!ReadVarint(reader, key))
        return false;
    field.m_number = key >> 3;
    field.m_type = static_cast<WireType>(key & 7);
    switch (field.m_type)
    {
    case WireType::kVarint:
        return ReadVarint(reader, field.m_value);
    case WireType::kFixed64:
        reader.Skip(8);
        return reader.Ok();
    case WireType::kFixed32:
        reader.Skip(4);
        return reader.Ok();
    case WireType::kLengthDelimited:
        if (!ReadVarint(reader, field.m_value) || field.m_value > reader.Remaining())
            return false;
        field.m_bytes = reader.Bytes(static_cast<std::size_t>(field.m_value));
        return reader.Ok();
    }
    return false;
}

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
        Field field;
        if (!ReadField(reader, field))
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
