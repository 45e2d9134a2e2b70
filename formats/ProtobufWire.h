#pragma once

#include <cstdint>
#include <span>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

// The protobuf wire format, as far as the game's records need it: fields read one at a time
// from untrusted bytes, and varints and length-delimited fields written.
enum class WireType : std::uint8_t
{
    kVarint = 0,
    kFixed64 = 1,
    kLengthDelimited = 2,
    kFixed32 = 5,
};

struct WireField
{
    std::uint64_t m_number = 0;
    WireType m_type = WireType::kVarint;
    std::uint64_t m_value = 0;             // a varint field's value
    std::span<const std::uint8_t> m_bytes; // a length-delimited field's bytes
};

// Reads one field; a fixed-size field's value is skipped. False, with the reader failed, on an
// overlong varint, a field that runs past the end, or a wire type that nobody uses.
bool ReadWireField(CByteReader& reader, WireField& field);

void WriteVarint(CByteWriter& writer, std::uint64_t value);
void WriteLengthDelimited(CByteWriter& writer, std::uint32_t field,
                          std::span<const std::uint8_t> bytes);

} // namespace velt
