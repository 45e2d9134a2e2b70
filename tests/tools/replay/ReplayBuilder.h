#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Writes small replays for tests: a lobby, game records, and the compressed container around
// them, with valid checksums. Defaults describe a 1.26 custom game of two players.
namespace velt::test
{

using Bytes = std::vector<std::uint8_t>;

struct LobbySpec
{
    std::uint8_t m_hostId = 1;
    std::string m_hostName = "Host";
    std::string m_gameName = "Test Game";
    std::string m_mapPath = "Maps\\(2)Test.w3x";
    std::string m_statHostName = "Host";
    bool m_mapSha1 = true;
    std::vector<std::pair<std::uint8_t, std::string>> m_others = {{2, "Guest"}};
    std::vector<Bytes> m_metadata; // whole records, id byte included
    std::size_t m_slotSize = 9;
    std::vector<Bytes> m_slots = {{1, 100, 2, 0, 0, 0, 0x01, 1, 100},
                                  {2, 100, 2, 0, 1, 1, 0x08, 1, 100}};
    std::uint32_t m_seed = 0x12345678;
};

struct ContainerOptions
{
    std::uint32_t m_headerVersion = 1;
    std::uint32_t m_version = 26;
    std::uint16_t m_build = 6059;
    std::string m_product = "PX3W";
    std::size_t m_blockSize = 8192;
    bool m_terminatedStreams = false; // as hosting bots write them
};

Bytes EncodeStatString(std::span<const std::uint8_t> decoded);
Bytes BuildLobby(const LobbySpec& wanted);

Bytes CommandBlock(std::uint8_t playerId, const Bytes& actions);
// id 0x1F, 0x1E, or 0x1E for the time slot of 1.02
Bytes TimeSlotRecord(std::uint8_t id, std::uint16_t increment, const Bytes& commandBlocks);
Bytes ChatRecord(std::uint8_t playerId, std::uint8_t flag, std::uint32_t mode,
                 const std::string& text);
Bytes LeaveRecord(std::uint8_t playerId, std::uint32_t reason, std::uint32_t result);
Bytes ChecksumRecord(std::uint8_t id, std::uint32_t value);
Bytes StartRecords(); // 0x1A, 0x1B, 0x1C
// A protobuf profile (pid, BattleTag) in a 0x39 record, flat or nested under field 1.
Bytes ProfileRecord(std::uint8_t playerId, const std::string& battleTag, bool nested);

Bytes Concat(std::initializer_list<Bytes> parts);
// A sample file's stem as a test name: anything but letters and digits becomes '_'.
std::string SampleTestName(std::string stem);
Bytes BuildReplayFile(std::span<const std::uint8_t> data, const ContainerOptions& wanted = {});

// A complete 1.26 replay: lobby, start records, three time slots with actions of both
// players, one chat line and a leave.
Bytes SmallReplay();

} // namespace velt::test
