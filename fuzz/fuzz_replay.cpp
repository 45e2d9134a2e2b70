// The replay reader over arbitrary bytes. The first byte picks how the rest is used: as a whole
// file; as decompressed data wrapped in a valid header and zlib blocks; or as game records
// after a fixed valid lobby, also wrapped. The wrapped modes let the fuzzer reach the lobby,
// record and action parsers instead of stopping at the magic and the compression.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include <zlib.h>

#include "platform/ByteWriter.h"
#include "tools/replay/ReplayReader.h"

namespace
{

constexpr std::size_t kBlockSize = 8192;
// Versions whose layouts differ: 1.02, 1.06 (version-0 header), 1.13, 1.26, 1.29, 1.32, 2.0.
constexpr std::array<std::uint32_t, 7> kVersions = {2, 6, 13, 26, 29, 10032, 10100};

std::uint16_t Fold(uLong crc)
{
    return static_cast<std::uint16_t>((crc ^ (crc >> 16)) & 0xFFFF);
}

std::vector<std::uint8_t> Wrap(std::span<const std::uint8_t> data, std::uint32_t version)
{
    const bool v1 = version >= 7;
    const bool largeBlocks = version >= 10032;
    velt::CByteWriter blocks;
    std::uint32_t count = 0;
    for (std::size_t at = 0; at < data.size(); at += kBlockSize, ++count)
    {
        std::vector<std::uint8_t> plain(kBlockSize, 0);
        const std::size_t take = std::min(kBlockSize, data.size() - at);
        std::memcpy(plain.data(), data.data() + at, take);
        std::vector<std::uint8_t> packed(compressBound(kBlockSize));
        uLongf packedSize = static_cast<uLongf>(packed.size());
        compress2(packed.data(), &packedSize, plain.data(), kBlockSize, 1);
        velt::CByteWriter head;
        if (largeBlocks)
            head.U32(static_cast<std::uint32_t>(packedSize)).U32(kBlockSize);
        else
            head.U16(static_cast<std::uint16_t>(packedSize)).U16(kBlockSize);
        head.U32(0);
        // The reader refuses blocks whose checksums fail.
        head.PatchU16(head.Size() - 4,
                      Fold(crc32(0, head.View().data(), static_cast<uInt>(head.Size()))));
        head.PatchU16(head.Size() - 2, Fold(crc32(0, packed.data(), packedSize)));
        blocks.Bytes(head.View()).Bytes(std::span(packed).first(packedSize));
    }
    static const char kMagic[] = "Warcraft III recorded game\x1A";
    velt::CByteWriter file;
    file.Bytes(std::span(reinterpret_cast<const std::uint8_t*>(kMagic), sizeof kMagic));
    file.U32(v1 ? 0x44 : 0x40).U32(0).U32(v1 ? 1 : 0);
    file.U32(static_cast<std::uint32_t>(data.size())).U32(count);
    if (v1)
        file.U8('P').U8('X').U8('3').U8('W').U32(version).U16(6000);
    else
        file.U16(0).U16(static_cast<std::uint16_t>(version)).U16(4531);
    file.U16(0x8000).U32(60000).U32(0);
    file.PatchU32(file.Size() - 4, static_cast<std::uint32_t>(crc32(
                                       0, file.View().data(), static_cast<uInt>(file.Size()))));
    return file.Bytes(blocks.View()).Take();
}

// Every byte of command data belongs to exactly one time slot.
std::vector<std::uint8_t> EncodeStatString(std::span<const std::uint8_t> decoded)
{
    std::vector<std::uint8_t> out;
    for (std::size_t group = 0; group < decoded.size(); group += 7)
    {
        const std::size_t maskAt = out.size();
        out.push_back(1);
        for (std::size_t k = 0; k < 7 && group + k < decoded.size(); ++k)
        {
            const std::uint8_t byte = decoded[group + k];
            out.push_back(byte % 2 == 0 ? static_cast<std::uint8_t>(byte + 1) : byte);
            if (byte % 2 != 0)
                out[maskAt] |= static_cast<std::uint8_t>(1u << (k + 1));
        }
    }
    return out;
}

// A two-player lobby whose game records the input supplies.
std::vector<std::uint8_t> Lobby()
{
    velt::CByteWriter stat;
    stat.U32(0x00067802).U8(0).U16(64).U16(64).U32(0x12345678).CString("Maps\\x.w3x");
    stat.CString("Host").CString("").Zeros(20);
    velt::CByteWriter lobby;
    lobby.U32(0x110).U8(0).U8(1).CString("Host").U8(1).U8(0).CString("Game").CString("");
    lobby.Bytes(EncodeStatString(stat.View())).U8(0).U32(12).U32(9).U32(0);
    lobby.U8(0x16).U8(2).CString("Guest").U8(1).U8(0).U32(0);
    lobby.U8(0x19).U16(25).U8(2);
    for (std::uint8_t id : {1, 2})
        lobby.U8(id).U8(100).U8(2).U8(0).U8(id - 1).U8(id - 1).U8(0x60).U8(1).U8(100);
    lobby.U32(7).U8(0).U8(2);
    return lobby.Take();
}

void Check(const velt::ReplayFile& replay)
{
    std::size_t total = 0;
    for (const auto& slot : replay.m_timeSlots)
        total += replay.CommandBytes(slot).size();
    for (const auto& chat : replay.m_chat)
        (void)replay.DisplayName(chat.m_senderId);
    if (total != replay.m_commandData.size())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 2)
        return 0;
    static const std::vector<std::uint8_t> kLobby = Lobby();
    const std::span input(bytes + 2, size - 2);
    const std::uint32_t version = kVersions[bytes[1] % kVersions.size()];
    velt::ReplayReadResult result;
    switch (bytes[0] % 3)
    {
    case 0:
        result = velt::ReadReplayFromMemory(input, "fuzz.w3g");
        break;
    case 1:
        result = velt::ReadReplayFromMemory(Wrap(input, version), "fuzz.w3g");
        break;
    default:
    {
        std::vector<std::uint8_t> data = kLobby;
        data.insert(data.end(), input.begin(), input.end());
        result = velt::ReadReplayFromMemory(Wrap(data, version), "fuzz.w3g");
        break;
    }
    }
    if (result.m_replay)
        Check(*result.m_replay);
    else if (result.m_error.m_message.empty())
        __builtin_trap(); // every failure must say why
    return 0;
}
