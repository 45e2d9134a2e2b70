// Damaged, truncated and lying replays: each gives an error that names the file and the offset,
// and none crashes or hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include <zlib.h>

#include "ReplayBuilder.h"
#include "tools/replay/ReplayReader.h"

using namespace velt;
using namespace velt::test;

namespace
{

constexpr std::size_t kBlockAt = 0x44;        // first block header of a version-1 file
constexpr std::size_t kZlibAt = kBlockAt + 8; // its compressed bytes
constexpr std::size_t kAtEnd = SIZE_MAX;      // the error points at the end of the file

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutU16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// The header's and block 0's checksums made right again after a damage, so that the check
// behind them is reached.
void Reseal(Bytes& f)
{
    const auto fold = [](uLong crc) { return static_cast<std::uint16_t>(crc ^ (crc >> 16)); };
    PutU32(f, 0x40, 0);
    PutU32(f, 0x40, static_cast<std::uint32_t>(crc32(0, f.data(), 0x44)));
    const auto packed =
        std::min<std::size_t>(f[kBlockAt] | f[kBlockAt + 1] << 8, f.size() - kZlibAt);
    PutU32(f, kBlockAt + 4, 0);
    PutU16(f, kBlockAt + 4, fold(crc32(0, f.data() + kBlockAt, 8)));
    PutU16(f, kBlockAt + 6, fold(crc32(0, f.data() + kZlibAt, static_cast<uInt>(packed))));
}

struct FileFaultRow
{
    const char* m_name;
    std::function<void(Bytes&)> m_damage;
    const char* m_message; // part of the error text
    std::size_t m_offset;
    bool m_resealed = true; // false: the damage is left for the checksums to find
};

void PrintTo(const FileFaultRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class FileFaultTest : public ::testing::TestWithParam<FileFaultRow>
{
};

TEST_P(FileFaultTest, GivesError)
{
    Bytes file = BuildReplayFile(SmallReplay());
    GetParam().m_damage(file);
    if (GetParam().m_resealed)
        Reseal(file);
    const auto result = ReadReplayFromMemory(file, "damaged.w3g");
    ASSERT_FALSE(result.m_replay);
    EXPECT_EQ(result.m_error.m_area, ReplayErrorArea::kFile);
    EXPECT_EQ(result.m_error.m_offset,
              GetParam().m_offset == kAtEnd ? file.size() : GetParam().m_offset);
    EXPECT_NE(result.m_error.Text().find(GetParam().m_message), std::string::npos)
        << result.m_error.Text();
    EXPECT_EQ(result.m_error.Text().rfind("damaged.w3g: ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Container, FileFaultTest,
    ::testing::Values(
        FileFaultRow{"NoMagic", [](Bytes& f) { f[0] = 'X'; }, "not a Warcraft III replay", 0},
        FileFaultRow{"HeaderVersionTwo", [](Bytes& f) { PutU32(f, 0x24, 2); },
                     "unknown header version 2", 0x24},
        FileFaultRow{"HeaderSizeMismatch", [](Bytes& f) { PutU32(f, 0x1C, 0x40); },
                     "header size 64", 0x1C},
        FileFaultRow{"UnknownProduct", [](Bytes& f) { f[0x30] = 'X'; }, "unknown product", 0x30},
        FileFaultRow{"VersionInTheGap", [](Bytes& f) { PutU32(f, 0x34, 50); },
                     "unknown game version 50", 0x34},
        FileFaultRow{"VersionFromTheFuture", [](Bytes& f) { PutU32(f, 0x34, 10300); },
                     "unknown game version 10300", 0x34},
        FileFaultRow{"DecompressedSizeOverLimit", [](Bytes& f) { PutU32(f, 0x28, 0xFFFFFFFF); },
                     "beyond the limit", 0x28},
        FileFaultRow{"BlockCountBeyondFile", [](Bytes& f) { PutU32(f, 0x2C, 100000); },
                     "blocks cannot fit", 0x2C},
        FileFaultRow{"DecompressedSizeBeyondBlocks", [](Bytes& f) { PutU32(f, 0x28, 9000); },
                     "the blocks hold 8192 bytes; the header declares 9000", kAtEnd},
        FileFaultRow{"MissingSecondBlock",
                     [](Bytes& f)
                     {
                         PutU32(f, 0x28, 9000);
                         PutU32(f, 0x2C, 2);
                     },
                     "file ends inside the header of block 1", kAtEnd},
        FileFaultRow{"CompressedSizeBeyondFile", [](Bytes& f) { PutU16(f, kBlockAt, 0xFFFF); },
                     "block 0 claims 65535 compressed bytes", kBlockAt},
        FileFaultRow{"DecompressedSizeOfBlockLies", [](Bytes& f) { PutU16(f, kBlockAt + 2, 9000); },
                     "block 0 inflates to 8192 bytes instead of 9000", kBlockAt},
        FileFaultRow{"CorruptZlibHeader", [](Bytes& f) { f[kZlibAt] = 0; },
                     "block 0 holds corrupt zlib data", kBlockAt},
        FileFaultRow{"CorruptDeflateData",
                     [](Bytes& f) { std::fill(f.begin() + kZlibAt + 2, f.end(), 0xFF); },
                     "block 0 holds corrupt zlib data", kBlockAt},
        // One byte changed on disk: each checksum that covers it refuses the file.
        FileFaultRow{"HeaderByteFlipped", [](Bytes& f) { f[0x3C] ^= 0x01; },
                     "the replay header is damaged: it does not match its checksum", 0x40, false},
        FileFaultRow{"BlockHeaderByteFlipped", [](Bytes& f) { f[kBlockAt + 2] ^= 0x01; },
                     "block 0 is damaged: its header does not match its checksum", kBlockAt, false},
        FileFaultRow{"BlockDataByteFlipped", [](Bytes& f) { f[kZlibAt + 40] ^= 0x10; },
                     "block 0 is damaged: its data does not match its checksum", kBlockAt, false}),
    [](const auto& info) { return std::string(info.param.m_name); });

// The lobby and records of SmallReplay, with the offset where the game records begin.
struct DataFaultRow
{
    const char* m_name;
    std::function<Bytes()> m_data;
    const char* m_message;
};

void PrintTo(const DataFaultRow& row, std::ostream* out)
{
    *out << row.m_name;
}

class DataFaultTest : public ::testing::TestWithParam<DataFaultRow>
{
};

TEST_P(DataFaultTest, GivesError)
{
    const auto result = ReadReplayFromMemory(BuildReplayFile(GetParam().m_data()), "damaged.w3g");
    ASSERT_FALSE(result.m_replay);
    EXPECT_EQ(result.m_error.m_area, ReplayErrorArea::kData);
    EXPECT_NE(result.m_error.Text().find(GetParam().m_message), std::string::npos)
        << result.m_error.Text();
    EXPECT_NE(result.m_error.Text().find("of the decompressed data"), std::string::npos);
}

Bytes Game(const Bytes& records)
{
    return Concat({BuildLobby({}), StartRecords(), records});
}

Bytes LobbyWith(const std::function<void(LobbySpec&)>& change)
{
    LobbySpec wanted;
    change(wanted);
    return Concat({BuildLobby(wanted), StartRecords()});
}

INSTANTIATE_TEST_SUITE_P(
    Records, DataFaultTest,
    ::testing::Values(
        DataFaultRow{"UnknownRecordId",
                     [] {
                         return Game({0x55, 1, 2, 3});
                     },
                     "unknown record id 0x55"},
        DataFaultRow{"ZeroBeforeMoreData",
                     [] {
                         return Game({0x00, 0x1A, 1, 0, 0, 0});
                     },
                     "record id 0x00 before the end"},
        DataFaultRow{"TimeSlotSizeTooSmall",
                     [] {
                         return Game({0x1F, 1, 0, 0});
                     },
                     "time slot size 1 is wrong"},
        DataFaultRow{"CommandBlockPastItsSlot",
                     [] {
                         return Game({0x1F, 5, 0, 100, 0, 1, 10, 0});
                     },
                     "command block runs past the end of its time slot"},
        DataFaultRow{"ChatPastTheEnd",
                     [] {
                         return Game({0x20, 1, 0xFF, 0, 0x20});
                     },
                     "chat record size 255"},
        DataFaultRow{"ChatTextUnterminated",
                     [] {
                         return Game({0x20, 1, 7, 0, 0x20, 0, 0, 0, 0, 'h', 'i'});
                     },
                     "chat text is not terminated"},
        DataFaultRow{"GameInfoPrefixWrong",
                     []
                     {
                         Bytes data = Game({});
                         data[0] = 0x11;
                         return data;
                     },
                     "does not start with the game information"},
        DataFaultRow{"HostNameTooLong",
                     [] { return LobbyWith([](LobbySpec& s) { s.m_hostName.assign(300, 'n'); }); },
                     "host player record is malformed"},
        DataFaultRow{"TooManySlots",
                     []
                     { return LobbyWith([](LobbySpec& s) { s.m_slots.resize(25, Bytes(9, 0)); }); },
                     "25 slots exceed the limit"},
        DataFaultRow{"UnknownSlotSize",
                     [] { return LobbyWith([](LobbySpec& s) { s.m_slotSize = 6; }); },
                     "slot record size 6 is unknown"},
        DataFaultRow{"MetadataSizeLies",
                     [] {
                         return LobbyWith(
                             [](LobbySpec& s) {
                                 s.m_metadata = {{0x39, 3, 0xFF, 0xFF, 0xFF, 0x7F}};
                             });
                     },
                     "metadata record size 2147483647 is wrong"},
        DataFaultRow{"NoGameStartRecord",
                     []
                     {
                         return LobbyWith(
                             [](LobbySpec& s)
                             {
                                 s.m_metadata = {
                                     {0x55}}; // a byte that is neither metadata nor 0x19
                             });
                     },
                     "expected the game start record (0x19) after the player list, found 0x55"}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(ReplayBrokenInputTest, ErrorTextNamesFileAndOffset)
{
    const Bytes lobby = BuildLobby({});
    const auto result = ReadReplayFromMemory(BuildReplayFile(Concat({lobby, {0x55}})), "x.w3g");
    ASSERT_FALSE(result.m_replay);
    EXPECT_EQ(result.m_error.m_offset, lobby.size());
    EXPECT_EQ(result.m_error.Text(), "x.w3g: unknown record id 0x55 (offset " +
                                         std::to_string(lobby.size()) +
                                         " of the decompressed data)");
}

// Every proper prefix of a file fails: the blocks' sizes and the header's counts see the cut.
TEST(ReplayBrokenInputTest, EveryTruncationOfTheFileFails)
{
    const Bytes file = BuildReplayFile(SmallReplay());
    for (std::size_t size = 0; size < file.size(); ++size)
    {
        const auto result = ReadReplayFromMemory(std::span(file).first(size), "cut.w3g");
        EXPECT_FALSE(result.m_replay) << "cut at " << size;
    }
    EXPECT_TRUE(ReadReplayFromMemory(file, "whole.w3g").m_replay);
}

// Cutting the data itself (and compressing it properly) fails everywhere except between two
// records, where what remains is a shorter but sound game.
TEST(ReplayBrokenInputTest, EveryTruncationOfTheDataFailsInsideARecord)
{
    const Bytes lobby = BuildLobby({});
    const Bytes data = SmallReplay();
    std::set<std::size_t> boundaries = {lobby.size()};
    for (std::size_t at = lobby.size(); at < data.size();)
    {
        // Record sizes of SmallReplay: start records 5, time slot 3 + n, checksum 6, chat 4 + n.
        const std::uint8_t id = data[at];
        std::size_t size = 5;
        if (id == 0x1F)
            size = 3u + (data[at + 1] | (data[at + 2] << 8));
        else if (id == 0x20)
            size = 4u + (data[at + 2] | (data[at + 3] << 8));
        else if (id == 0x22)
            size = 6;
        else if (id == 0x17)
            size = 14;
        at += size;
        boundaries.insert(at);
    }
    ASSERT_EQ(*boundaries.rbegin(), data.size());
    for (std::size_t size = 0; size <= data.size(); ++size)
    {
        const auto result =
            ReadReplayFromMemory(BuildReplayFile(std::span(data).first(size)), "cut.w3g");
        EXPECT_EQ(result.m_replay.has_value(), boundaries.count(size) == 1) << "cut at " << size;
    }
}

TEST(ReplayBrokenInputTest, EveryTruncationOfASampleFails)
{
    const char* dir = std::getenv("VELT_REPLAYS_DIR");
    const auto path = std::filesystem::path(dir != nullptr ? dir : "") / "w3gjs_2.0.2-Melee.w3g";
    if (dir == nullptr || !std::filesystem::exists(path))
        GTEST_SKIP() << "VELT_REPLAYS_DIR is not set or absent";
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t size = 0; size < file.size(); ++size)
        EXPECT_FALSE(ReadReplayFromMemory(std::span(file).first(size), "cut.w3g").m_replay)
            << "cut at " << size;
}

TEST(ReplayBrokenInputTest, FilesOnDisk)
{
    const auto missing =
        ReadReplay(std::filesystem::path(::testing::TempDir()) / "no-such-replay.w3g");
    ASSERT_FALSE(missing.m_replay);
    EXPECT_EQ(missing.m_error.Text().rfind("no-such-replay.w3g: cannot be read", 0), 0u);

    const auto path = std::filesystem::path(::testing::TempDir()) /
                      ("velt-replay-" + std::to_string(std::random_device{}()) + ".w3g");
    const Bytes file = BuildReplayFile(SmallReplay());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const auto read = ReadReplay(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(read.m_replay) << read.m_error.Text();
    EXPECT_EQ(read.m_replay->m_name, path.filename().string());
}

} // namespace
