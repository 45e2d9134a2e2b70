#include "tools/replay/ReplayContainer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include <zlib.h>

#include "platform/ByteReader.h"
#include "tools/replay/CBlockInflater.h"

namespace velt
{
namespace
{

constexpr std::array<std::uint8_t, 28> kMagic = {'W', 'a', 'r', 'c', 'r', 'a', 'f',  't', ' ', 'I',
                                                 'I', 'I', ' ', 'r', 'e', 'c', 'o',  'r', 'd', 'e',
                                                 'd', ' ', 'g', 'a', 'm', 'e', 0x1A, 0x00};
constexpr std::uint32_t kHeaderSizeV0 = 0x40;
constexpr std::uint32_t kHeaderSizeV1 = 0x44;
constexpr std::uint32_t kFirstReforgedVersion = 10032; // 12-byte block headers from here on
constexpr std::size_t kSmallBlockHeader = 8;
constexpr std::size_t kLargeBlockHeader = 12;
// Inflated data is collected block by block; this much is reserved up front at most.
constexpr std::size_t kInitialReserve = 8u << 20;

bool Fail(ReplayError& error, std::size_t offset, std::string message)
{
    error.m_area = ReplayErrorArea::kFile;
    error.m_offset = offset;
    error.m_message = std::move(message);
    return false;
}

// Versions that the layouts below are known for: 1.00 to 1.06 in a version-0 header; 1.07 to
// 1.31 and the 10030-based numbering of 1.30.2 onwards (Reforged, 2.x) in a version-1 header.
bool KnownVersion(std::uint32_t headerVersion, std::uint32_t version)
{
    if (headerVersion == 0)
        return version <= 6;
    return (version >= 7 && version <= 31) || (version >= 10030 && version < 10200);
}

std::uint16_t FoldCrc(uLong crc)
{
    return static_cast<std::uint16_t>((crc ^ (crc >> 16)) & 0xFFFF);
}

std::uint32_t HeaderCrc(std::span<const std::uint8_t> header, std::size_t crcOffset)
{
    std::array<std::uint8_t, kHeaderSizeV1> copy{};
    std::memcpy(copy.data(), header.data(), header.size());
    std::memset(copy.data() + crcOffset, 0, 4);
    return static_cast<std::uint32_t>(crc32(0, copy.data(), static_cast<uInt>(header.size())));
}

struct BlockHeader
{
    std::uint32_t m_compressedSize = 0;
    std::uint32_t m_decompressedSize = 0;
    std::uint16_t m_headerCrc = 0;
    std::uint16_t m_dataCrc = 0;
};

BlockHeader ReadBlockHeader(CByteReader& reader, std::size_t headerSize)
{
    BlockHeader block;
    if (headerSize == kLargeBlockHeader)
    {
        block.m_compressedSize = reader.U32();
        block.m_decompressedSize = reader.U32();
    }
    else
    {
        block.m_compressedSize = reader.U16();
        block.m_decompressedSize = reader.U16();
    }
    block.m_headerCrc = reader.U16();
    block.m_dataCrc = reader.U16();
    return block;
}

bool BlockHeaderCrcMatches(std::span<const std::uint8_t> head, const BlockHeader& block)
{
    std::array<std::uint8_t, kLargeBlockHeader> copy{};
    std::memcpy(copy.data(), head.data(), head.size());
    std::memset(copy.data() + head.size() - 4, 0, 4);
    return FoldCrc(crc32(0, copy.data(), static_cast<uInt>(head.size()))) == block.m_headerCrc;
}

bool BlockDataCrcMatches(std::span<const std::uint8_t> data, const BlockHeader& block)
{
    return FoldCrc(crc32(0, data.data(), static_cast<uInt>(data.size()))) == block.m_dataCrc;
}

} // namespace

// Fixed header, offsets from the magic:
//   0x00  28     magic "Warcraft III recorded game" 0x1A 0x00
//   0x1C  u32    header size: 0x40 (version 0) or 0x44 (version 1)
//   0x20  u32    file size
//   0x24  u32    header version
//   0x28  u32    decompressed size
//   0x2C  u32    block count
// Version 1 sub-header:                 Version 0 sub-header:
//   0x30  4      product, reversed       0x30  u16  0
//   0x34  u32    version                 0x32  u16  version
//   0x38  u16    build                   0x34  u16  build
//   0x3A  u16    flags                   0x36  u16  flags
//   0x3C  u32    length in ms            0x38  u32  length in ms
//   0x40  u32    CRC-32 of the header    0x3C  u32  CRC-32 of the header
bool ParseW3gHeader(std::span<const std::uint8_t> file, W3gHeader& header, ReplayError& error)
{
    const auto searchEnd =
        file.begin() +
        static_cast<std::ptrdiff_t>(std::min(file.size(), kMaxReplayMagicSearch + kMagic.size()));
    const auto magic = std::search(file.begin(), searchEnd, kMagic.begin(), kMagic.end());
    if (magic == searchEnd)
        return Fail(error, 0,
                    "not a Warcraft III replay (no \"Warcraft III recorded game\" header)");
    const auto start = static_cast<std::size_t>(magic - file.begin());
    header.m_fileOffset = start;

    CByteReader reader(file.subspan(start));
    reader.Skip(kMagic.size());
    header.m_headerSize = reader.U32();
    header.m_fileSize = reader.U32();
    header.m_headerVersion = reader.U32();
    header.m_decompressedSize = reader.U32();
    header.m_blockCount = reader.U32();
    if (!reader.Ok())
        return Fail(error, file.size(), "file ends inside the replay header");
    if (header.m_headerVersion > 1)
        return Fail(error, start + 0x24,
                    "unknown header version " + std::to_string(header.m_headerVersion));
    const std::uint32_t expectedSize = header.m_headerVersion == 0 ? kHeaderSizeV0 : kHeaderSizeV1;
    if (header.m_headerSize != expectedSize)
        return Fail(error, start + 0x1C,
                    "header size " + std::to_string(header.m_headerSize) +
                        " does not match header version " + std::to_string(header.m_headerVersion));
    if (header.m_headerVersion == 1)
    {
        const auto product = reader.Bytes(4);
        if (reader.Ok())
            header.m_product.assign(product.rbegin(), product.rend());
        header.m_version = reader.U32();
    }
    else
    {
        header.m_product = "WAR3";
        reader.Skip(2);
        header.m_version = reader.U16();
    }
    header.m_build = reader.U16();
    header.m_flags = reader.U16();
    header.m_lengthMs = reader.U32();
    header.m_crc = reader.U32();
    if (!reader.Ok())
        return Fail(error, file.size(), "file ends inside the replay header");
    // Every version writes it. Checked before the fields are read for their meaning, so that a
    // damaged byte is not taken for an unknown version or a lying size.
    if (HeaderCrc(file.subspan(start, header.m_headerSize), header.m_headerSize - 4) !=
        header.m_crc)
        return Fail(error, start + header.m_headerSize - 4,
                    "the replay header is damaged: it does not match its checksum");
    if (header.m_product != "W3XP" && header.m_product != "WAR3")
        return Fail(error, start + 0x30, "unknown product id");
    if (!KnownVersion(header.m_headerVersion, header.m_version))
        return Fail(error, start + (header.m_headerVersion == 1 ? 0x34 : 0x32),
                    "unknown game version " + std::to_string(header.m_version));
    header.m_blockHeaderSize =
        header.m_headerVersion == 1 && header.m_version >= kFirstReforgedVersion
            ? kLargeBlockHeader
            : kSmallBlockHeader;
    if (header.m_decompressedSize > kMaxReplayDecompressedSize)
        return Fail(error, start + 0x28,
                    "decompressed size " + std::to_string(header.m_decompressedSize) +
                        " is beyond the limit");
    const std::size_t blockBytes = file.size() - start - header.m_headerSize;
    if (header.m_blockCount > kMaxReplayBlocks ||
        std::size_t{header.m_blockCount} * header.m_blockHeaderSize > blockBytes)
        return Fail(error, start + 0x2C,
                    std::to_string(header.m_blockCount) + " blocks cannot fit in the file");
    return true;
}

// Block, from the header size on, one after the other:
//   u16/u32  compressed size  (u32 from 1.32 on)
//   u16/u32  decompressed size
//   u16      CRC-32 of this header (last 4 bytes zeroed), folded to 16 bits
//   u16      CRC-32 of the compressed bytes, folded to 16 bits
//   ..       zlib stream
bool InflateReplayBlocks(std::span<const std::uint8_t> file, const W3gHeader& header,
                         std::vector<std::uint8_t>& data, ReplayError& error)
{
    const std::size_t base = header.m_fileOffset + header.m_headerSize;
    CByteReader reader(file.subspan(base));
    CBlockInflater inflater;
    if (!inflater.Ok())
        return Fail(error, base, "zlib could not be started");
    data.clear();
    data.reserve(std::min<std::size_t>(header.m_decompressedSize, kInitialReserve));
    for (std::uint32_t index = 0;
         index < header.m_blockCount && data.size() < header.m_decompressedSize; ++index)
    {
        const std::size_t blockOffset = base + reader.Position();
        const auto head = reader.Bytes(header.m_blockHeaderSize);
        CByteReader headReader(head);
        const BlockHeader block = ReadBlockHeader(headReader, header.m_blockHeaderSize);
        const std::string name = "block " + std::to_string(index);
        if (!reader.Ok())
            return Fail(error, blockOffset, "file ends inside the header of " + name);
        if (block.m_compressedSize > kMaxReplayBlockCompressedSize ||
            block.m_compressedSize > reader.Remaining())
            return Fail(error, blockOffset,
                        name + " claims " + std::to_string(block.m_compressedSize) +
                            " compressed bytes; the file has " +
                            std::to_string(reader.Remaining()) + " left");
        if (block.m_decompressedSize == 0 ||
            block.m_decompressedSize > kMaxReplayBlockDecompressedSize)
            return Fail(error, blockOffset,
                        name + " claims a decompressed size of " +
                            std::to_string(block.m_decompressedSize));
        // Both checksums are in every version's block header; the game writes them right.
        if (!BlockHeaderCrcMatches(head, block))
            return Fail(error, blockOffset,
                        name + " is damaged: its header does not match its checksum");
        const auto compressed = reader.Bytes(block.m_compressedSize);
        if (!BlockDataCrcMatches(compressed, block))
            return Fail(error, blockOffset,
                        name + " is damaged: its data does not match its checksum");

        const std::size_t before = data.size();
        data.resize(before + block.m_decompressedSize);
        bool corrupt = false;
        const std::size_t produced =
            inflater.Inflate(compressed, std::span(data).subspan(before), corrupt);
        if (corrupt)
            return Fail(error, blockOffset, name + " holds corrupt zlib data");
        if (produced != block.m_decompressedSize)
            return Fail(error, blockOffset,
                        name + " inflates to " + std::to_string(produced) + " bytes instead of " +
                            std::to_string(block.m_decompressedSize));
    }
    if (data.size() < header.m_decompressedSize)
        return Fail(error, base + reader.Position(),
                    "the blocks hold " + std::to_string(data.size()) +
                        " bytes; the header declares " + std::to_string(header.m_decompressedSize));
    data.resize(header.m_decompressedSize);
    return true;
}

} // namespace velt
