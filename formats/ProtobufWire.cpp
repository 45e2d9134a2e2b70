#include "formats/ProtobufWire.h"

namespace velt
{
namespace
{

constexpr int kMaxVarintBytes = 10;

bool Fail(CByteReader& reader)
{
    reader.Skip(reader.Remaining() + 1);
    return false;
}

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
    return Fail(reader);
}

} // namespace

bool ReadWireField(CByteReader& reader, WireField& field)
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
        if (!ReadVarint(reader, field.m_value))
            return false;
        if (field.m_value > reader.Remaining())
            return Fail(reader);
        field.m_bytes = reader.Bytes(static_cast<std::size_t>(field.m_value));
        return reader.Ok();
    }
    return Fail(reader);
}

void WriteVarint(CByteWriter& writer, std::uint64_t value)
{
    while (value >= 0x80)
    {
        writer.U8(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    writer.U8(static_cast<std::uint8_t>(value));
}

void WriteLengthDelimited(CByteWriter& writer, std::uint32_t field,
                          std::span<const std::uint8_t> bytes)
{
    WriteVarint(writer, (static_cast<std::uint64_t>(field) << 3) |
                            static_cast<std::uint64_t>(WireType::kLengthDelimited));
    WriteVarint(writer, bytes.size());
    writer.Bytes(bytes);
}

} // namespace velt
