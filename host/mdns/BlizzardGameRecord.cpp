#include "host/mdns/BlizzardGameRecord.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "formats/ProtobufWire.h"

namespace velt
{

namespace
{

constexpr std::uint32_t kFieldGameName = 1;
constexpr std::uint32_t kFieldMessageId = 2;
constexpr std::uint32_t kFieldEntry = 3;
constexpr std::uint32_t kFieldKey = 1;
constexpr std::uint32_t kFieldValue = 2;

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void WriteText(CByteWriter& writer, std::uint32_t field, std::string_view text)
{
    WriteLengthDelimited(
        writer, field, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::uint64_t ZigZag(std::int64_t value)
{
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t UnZigZag(std::uint64_t value)
{
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

std::optional<std::string> Text(const WireField& field)
{
    if (field.m_bytes.size() > kGameRecordMaxText)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(field.m_bytes.data()), field.m_bytes.size());
}

std::optional<std::pair<std::string, std::string>> ParseEntry(std::span<const std::uint8_t> bytes)
{
    CByteReader reader(bytes);
    std::pair<std::string, std::string> entry;
    while (reader.Ok() && !reader.AtEnd())
    {
        WireField field;
        if (!ReadWireField(reader, field))
            return std::nullopt;
        if ((field.m_number == kFieldKey || field.m_number == kFieldValue) &&
            field.m_type == WireType::kLengthDelimited)
        {
            auto text = Text(field);
            if (!text)
                return std::nullopt;
            (field.m_number == kFieldKey ? entry.first : entry.second) = std::move(*text);
        }
    }
    return entry;
}

std::string Decimal(std::uint64_t value)
{
    return std::to_string(value);
}

} // namespace

bool FindsGamesOverMdns(std::uint32_t version)
{
    return version >= kFirstMdnsGameVersion;
}

std::optional<std::string> BlizzardGameRecord::Entry(std::string_view key) const
{
    for (const auto& [name, value] : m_entries)
        if (name == key)
            return value;
    return std::nullopt;
}

std::vector<std::uint8_t> BuildBlizzardGameRecord(const BlizzardGameRecord& record)
{
    CByteWriter writer(512);
    WriteText(writer, kFieldGameName, record.m_gameName);
    WriteVarint(writer, (kFieldMessageId << 3) | static_cast<std::uint64_t>(WireType::kVarint));
    WriteVarint(writer, ZigZag(record.m_messageId));
    for (const auto& [key, value] : record.m_entries)
    {
        CByteWriter entry(16 + key.size() + value.size());
        WriteText(entry, kFieldKey, key);
        WriteText(entry, kFieldValue, value);
        WriteLengthDelimited(writer, kFieldEntry, entry.View());
    }
    return writer.Take();
}

std::optional<BlizzardGameRecord> ParseBlizzardGameRecord(std::span<const std::uint8_t> bytes)
{
    CByteReader reader(bytes);
    BlizzardGameRecord record;
    while (reader.Ok() && !reader.AtEnd())
    {
        WireField field;
        if (!ReadWireField(reader, field))
            return std::nullopt;
        if (field.m_number == kFieldGameName && field.m_type == WireType::kLengthDelimited)
        {
            auto text = Text(field);
            if (!text)
                return std::nullopt;
            record.m_gameName = std::move(*text);
        }
        else if (field.m_number == kFieldMessageId && field.m_type == WireType::kVarint)
            record.m_messageId = UnZigZag(field.m_value);
        else if (field.m_number == kFieldEntry && field.m_type == WireType::kLengthDelimited)
        {
            auto entry = ParseEntry(field.m_bytes);
            if (!entry || record.m_entries.size() == kGameRecordMaxEntries)
                return std::nullopt;
            record.m_entries.push_back(std::move(*entry));
        }
    }
    return record;
}

BlizzardGameRecord GameRecordFromAnnouncement(const GameInfoFields& info, std::uint64_t createTime,
                                              std::int64_t messageId)
{
    BlizzardGameRecord record;
    record.m_gameName = info.m_gameName;
    record.m_messageId = messageId;
    record.m_entries = {
        {"game_id", Decimal(info.m_hostCounter)},
        {"game_secret", Decimal(info.m_entryKey)},
        {"game_create_time", Decimal(createTime)},
        {"players_max", Decimal(info.m_slotsTotal)},
        {"players_num", Decimal(info.m_slotsUsed)},
        {"game_data", EncodeBase64(BuildGameData(info))},
    };
    if (info.m_version >= kFirstVersionWithNamedEntries)
    {
        record.m_entries.emplace_back("_name", info.m_gameName);
        record.m_entries.emplace_back("_type", "1");
        record.m_entries.emplace_back("_subtype", "0");
        record.m_entries.emplace_back("_flags", "0");
    }
    return record;
}

std::vector<std::uint8_t> BuildGameData(const GameInfoFields& info)
{
    CByteWriter writer(64 + info.m_gameName.size() + info.m_encodedStat.size());
    if (info.m_version >= kFirstReforgedGameVersion)
    {
        writer.CString(info.m_gameName).U8(0).Bytes(info.m_encodedStat).U8(0);
        writer.U32(info.m_slotsTotal).U32(info.m_gameType).U16(info.m_port);
    }
    else
    {
        writer.U32(info.m_gameType).Bytes(info.m_encodedStat).U8(0).U32(info.m_slotsTotal);
        writer.CString(info.m_gameName).U8(0).U16(info.m_port);
    }
    return writer.Take();
}

std::optional<GameInfoFields> ParseGameData(std::span<const std::uint8_t> bytes,
                                            std::uint32_t version)
{
    CByteReader reader(bytes);
    GameInfoFields info;
    info.m_version = version;
    std::string stat;
    bool zeroAfterName = false;
    if (version >= kFirstReforgedGameVersion)
    {
        info.m_gameName = reader.CString(kGameNameMaxLength);
        zeroAfterName = reader.U8() == 0;
        stat = reader.CString(kGamePacketMaxSize);
        info.m_slotsTotal = reader.U32();
        info.m_gameType = reader.U32();
    }
    else
    {
        info.m_gameType = reader.U32();
        stat = reader.CString(kGamePacketMaxSize);
        info.m_slotsTotal = reader.U32();
        info.m_gameName = reader.CString(kGameNameMaxLength);
        zeroAfterName = reader.U8() == 0;
    }
    info.m_port = reader.U16();
    if (!reader.AtEnd() || !zeroAfterName)
        return std::nullopt;
    info.m_encodedStat.assign(stat.begin(), stat.end());
    return info;
}

std::string EncodeBase64(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3)
    {
        const std::size_t have = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (have > 1)
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (have > 2)
            group |= bytes[i + 2];
        for (std::size_t j = 0; j < 4; ++j)
            text.push_back(j <= have ? kBase64Alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=');
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4)
    {
        // Padding only at the very end: "xxx=" or "xx==".
        std::size_t padding = 0;
        if (i + 4 == text.size() && text[i + 3] == '=')
            padding = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4 - padding; ++j)
        {
            const std::size_t value = kBase64Alphabet.find(text[i + j]);
            if (value == std::string_view::npos)
                return std::nullopt;
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        group <<= 6 * padding;
        const std::array<std::uint8_t, 3> three = {static_cast<std::uint8_t>(group >> 16),
                                                   static_cast<std::uint8_t>(group >> 8),
                                                   static_cast<std::uint8_t>(group)};
        bytes.insert(bytes.end(), three.begin(),
                     three.end() - static_cast<std::ptrdiff_t>(padding));
        // The bits that padding drops must be zero, so that each text has one reading.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return std::nullopt;
    }
    return bytes;
}

} // namespace velt
