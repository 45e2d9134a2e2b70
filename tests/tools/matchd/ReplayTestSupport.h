#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/packets/GamePacketFramer.h"
#include "platform/FileSystem.h"
#include "tests/tools/replay/ReplayBuilder.h"
#include "tools/replay/ReplayReader.h"

// Recorded games for the converter's tests: small ones written on the spot with the replay
// builder and read back with the real reader, and the sample files.
namespace velt::test
{

// A slot record: player id, team, colour, race; occupied by a human unless said otherwise.
inline Bytes SlotBytes(std::uint8_t playerId, std::uint8_t team, std::uint8_t colour,
                       std::uint8_t race = 0x01, std::uint8_t status = 2, std::uint8_t computer = 0)
{
    return {playerId, 100, status, computer, team, colour, race, 1, 100};
}

inline Bytes OpenSlot(std::uint8_t team = 12)
{
    return SlotBytes(0, team, team, 0x60, 0);
}

// A minimap ping: id 0x68, x, y and the duration 5.0.
inline Bytes Ping()
{
    return {0x68, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0xA0, 0x40};
}

inline Bytes Action(std::initializer_list<std::uint8_t> bytes)
{
    return Bytes(bytes);
}

inline ReplayFile ReadBuilt(const Bytes& data, const ContainerOptions& wanted = {})
{
    auto result = ReadReplayFromMemory(BuildReplayFile(data, wanted), "built.w3g");
    EXPECT_TRUE(result.m_replay) << result.m_error.Text();
    return result.m_replay ? std::move(*result.m_replay) : ReplayFile{};
}

// The packets of a stream, in order; a stream that does not frame whole fails the test.
inline std::vector<Bytes> SplitPackets(std::span<const std::uint8_t> stream)
{
    std::vector<Bytes> packets;
    while (!stream.empty())
    {
        const GameFrame frame = FrameGamePacket(stream);
        EXPECT_EQ(frame.m_kind, GameFrame::Kind::kWhole);
        if (frame.m_kind != GameFrame::Kind::kWhole)
            break;
        packets.emplace_back(stream.begin(),
                             stream.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
        stream = stream.subspan(frame.m_length);
    }
    return packets;
}

// A new, empty folder under the system's temporary folder; parallel runs each get their own.
inline std::filesystem::path FreshTempDir(const std::string& prefix)
{
    return MakeFreshTempFolder(prefix);
}

inline std::optional<std::filesystem::path> SampleReplays()
{
    const char* dir = std::getenv("VELT_REPLAYS_DIR");
    if (dir == nullptr || !std::filesystem::is_directory(dir))
        return std::nullopt;
    return std::filesystem::path(dir);
}

} // namespace velt::test
