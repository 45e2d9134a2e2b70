#include "ReplayBuilder.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <zlib.h>

#include "platform/ByteWriter.h"

namespace velt::test
{
namespace
{

const char kMagic[] = "Warcraft III recorded game\x1A";

std::uint16_t Fold(uLong crc)
{
    return static_cast<std::uint16_t>((crc ^ (crc >> 16)) & 0xFFFF);
}

Bytes Deflate(std::span<const std::uint8_t> in, bool terminated)
{
    z_stream stream{};
    deflateInit(&stream, Z_DEFAULT_COMPRESSION);
    Bytes out(deflateBound(&stream, static_cast<uLong>(in.size())) + 64);
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, terminated ? Z_FINISH : Z_SYNC_FLUSH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

void PlayerRecord(CByteWriter& writer, std::uint8_t id, std::uint8_t playerId,
                  const std::string& name)
{
    writer.U8(id).U8(playerId).CString(name).U8(1).U8(0);
}

Bytes Varint(std::uint64_t value)
{
    Bytes out;
    do
    {
        out.push_back(static_cast<std::uint8_t>((value & 0x7F) | (value > 0x7F ? 0x80 : 0)));
        value >>= 7;
    } while (value != 0);
    return out;
}

} // namespace

Bytes EncodeStatString(std::span<const std::uint8_t> decoded)
{
    Bytes out;
    for (std::size_t group = 0; group < decoded.size(); group += 7)
    {
        const std::size_t maskAt = out.size();
        std::uint8_t mask = 1;
        out.push_back(0);
        for (std::size_t k = 0; k < 7 && group + k < decoded.size(); ++k)
        {
            const std::uint8_t byte = decoded[group + k];
            if (byte % 2 == 0)
                out.push_back(static_cast<std::uint8_t>(byte + 1));
            else
            {
                out.push_back(byte);
                mask |= static_cast<std::uint8_t>(1u << (k + 1));
            }
        }
        out[maskAt] = mask;
    }
    return out;
}

Bytes BuildLobby(const LobbySpec& wanted)
{
    CByteWriter stat;
    stat.U32(0x00067802).U8(0).U16(116).U16(84).U32(0xCAFEF00D);
    stat.CString(wanted.m_mapPath).CString(wanted.m_statHostName).CString("");
    if (wanted.m_mapSha1)
        for (int i = 0; i < 20; ++i)
            stat.U8(static_cast<std::uint8_t>(0xA0 + i));

    CByteWriter writer;
    writer.U32(0x110);
    PlayerRecord(writer, 0x00, wanted.m_hostId, wanted.m_hostName);
    writer.CString(wanted.m_gameName).CString("");
    writer.Bytes(EncodeStatString(stat.View())).U8(0);
    writer.U32(12).U32(0x09).U32(0);
    for (const auto& [id, name] : wanted.m_others)
    {
        PlayerRecord(writer, 0x16, id, name);
        writer.U32(0);
    }
    for (const auto& record : wanted.m_metadata)
        writer.Bytes(record);
    writer.U8(0x19);
    const std::size_t sizeAt = writer.Size();
    writer.U16(0).U8(static_cast<std::uint8_t>(wanted.m_slots.size()));
    for (const auto& slot : wanted.m_slots)
        writer.Bytes(std::span(slot).first(std::min(slot.size(), wanted.m_slotSize)));
    writer.U32(wanted.m_seed).U8(0).U8(2);
    writer.PatchU16(sizeAt, static_cast<std::uint16_t>(writer.Size() - sizeAt - 2));
    return writer.Take();
}

Bytes CommandBlock(std::uint8_t playerId, const Bytes& actions)
{
    return CByteWriter()
        .U8(playerId)
        .U16(static_cast<std::uint16_t>(actions.size()))
        .Bytes(actions)
        .Take();
}

Bytes TimeSlotRecord(std::uint8_t id, std::uint16_t increment, const Bytes& commandBlocks)
{
    return CByteWriter()
        .U8(id)
        .U16(static_cast<std::uint16_t>(commandBlocks.size() + 2))
        .U16(increment)
        .Bytes(commandBlocks)
        .Take();
}

Bytes ChatRecord(std::uint8_t playerId, std::uint8_t flag, std::uint32_t mode,
                 const std::string& text)
{
    CByteWriter writer;
    writer.U8(0x20).U8(playerId);
    const std::size_t sizeAt = writer.Size();
    writer.U16(0).U8(flag);
    if (flag == 0x20)
        writer.U32(mode);
    writer.CString(text);
    writer.PatchU16(sizeAt, static_cast<std::uint16_t>(writer.Size() - sizeAt - 2));
    return writer.Take();
}

Bytes LeaveRecord(std::uint8_t playerId, std::uint32_t reason, std::uint32_t result)
{
    return CByteWriter().U8(0x17).U32(reason).U8(playerId).U32(result).U32(7).Take();
}

Bytes ChecksumRecord(std::uint8_t id, std::uint32_t value)
{
    return CByteWriter().U8(id).U8(4).U32(value).Take();
}

Bytes StartRecords()
{
    return CByteWriter().U8(0x1A).U32(1).U8(0x1B).U32(1).U8(0x1C).U32(1).Take();
}

Bytes ProfileRecord(std::uint8_t playerId, const std::string& battleTag, bool nested)
{
    Bytes profile = {0x08};
    const Bytes pid = Varint(playerId);
    profile.insert(profile.end(), pid.begin(), pid.end());
    profile.push_back(0x12);
    const Bytes length = Varint(battleTag.size());
    profile.insert(profile.end(), length.begin(), length.end());
    profile.insert(profile.end(), battleTag.begin(), battleTag.end());
    profile.insert(profile.end(), {0x1A, 0x00}); // empty clan
    Bytes body = profile;
    if (nested)
    {
        body = {0x0A};
        const Bytes size = Varint(profile.size());
        body.insert(body.end(), size.begin(), size.end());
        body.insert(body.end(), profile.begin(), profile.end());
    }
    return CByteWriter()
        .U8(0x39)
        .U8(3)
        .U32(static_cast<std::uint32_t>(body.size()))
        .Bytes(body)
        .Take();
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes BuildReplayFile(std::span<const std::uint8_t> data, const ContainerOptions& wanted)
{
    const bool v1 = wanted.m_headerVersion == 1;
    const std::uint32_t headerSize = v1 ? 0x44 : 0x40;
    const bool largeBlocks = v1 && wanted.m_version >= 10032;
    CByteWriter blocks;
    std::uint32_t count = 0;
    for (std::size_t at = 0; at < data.size(); at += wanted.m_blockSize, ++count)
    {
        Bytes plain(wanted.m_blockSize, 0);
        const std::size_t take = std::min(wanted.m_blockSize, data.size() - at);
        std::memcpy(plain.data(), data.data() + at, take);
        const Bytes packed = Deflate(plain, wanted.m_terminatedStreams);
        CByteWriter head;
        if (largeBlocks)
            head.U32(static_cast<std::uint32_t>(packed.size()))
                .U32(static_cast<std::uint32_t>(plain.size()));
        else
            head.U16(static_cast<std::uint16_t>(packed.size()))
                .U16(static_cast<std::uint16_t>(plain.size()));
        head.U32(0);
        const auto headCrc = Fold(crc32(0, head.View().data(), static_cast<uInt>(head.Size())));
        const auto dataCrc = Fold(crc32(0, packed.data(), static_cast<uInt>(packed.size())));
        head.PatchU16(head.Size() - 4, headCrc);
        head.PatchU16(head.Size() - 2, dataCrc);
        blocks.Bytes(head.View()).Bytes(packed);
    }

    CByteWriter file;
    file.Bytes(std::span(reinterpret_cast<const std::uint8_t*>(kMagic), sizeof kMagic));
    file.U32(headerSize).U32(0).U32(wanted.m_headerVersion);
    file.U32(static_cast<std::uint32_t>(data.size())).U32(count);
    if (v1)
    {
        file.Bytes(std::span(reinterpret_cast<const std::uint8_t*>(wanted.m_product.data()), 4));
        file.U32(wanted.m_version).U16(wanted.m_build).U16(0x8000).U32(60000).U32(0);
    }
    else
        file.U16(0)
            .U16(static_cast<std::uint16_t>(wanted.m_version))
            .U16(wanted.m_build)
            .U16(0x8000)
            .U32(60000)
            .U32(0);
    file.PatchU32(0x20, static_cast<std::uint32_t>(headerSize + blocks.Size()));
    file.PatchU32(headerSize - 4, static_cast<std::uint32_t>(crc32(
                                      0, file.View().data(), static_cast<uInt>(file.Size()))));
    file.Bytes(blocks.View());
    return file.Take();
}

Bytes SmallReplay()
{
    const Bytes moves = {0x12, 0x40, 0x00, 0x03, 0x00, 0x0D, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    0,    0,    0,
                         0,    1,    0,    0,    0,    2,    0,    0,    0};
    const Bytes hotkey = {0x18, 0x01, 0x03};
    return Concat(
        {BuildLobby({}), StartRecords(), TimeSlotRecord(0x1F, 100, CommandBlock(1, moves)),
         ChecksumRecord(0x22, 0xAABBCCDD), ChatRecord(2, 0x20, 0, "gl hf"),
         TimeSlotRecord(0x1F, 100, Concat({CommandBlock(2, hotkey), CommandBlock(1, hotkey)})),
         ChecksumRecord(0x22, 1), TimeSlotRecord(0x1F, 250, {}), ChecksumRecord(0x22, 2),
         LeaveRecord(2, 0x01, 0x07)});
}

std::string SampleTestName(std::string stem)
{
    std::replace_if(
        stem.begin(), stem.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
        '_');
    return stem;
}

} // namespace velt::test
