#include "tools/replay/ReplayReader.h"

#include <fstream>
#include <system_error>

#include "tools/replay/CRecordWalker.h"
#include "tools/replay/LobbyParser.h"
#include "tools/replay/ReplayContainer.h"

namespace velt
{

std::string ReplayError::Text() const
{
    const std::string where =
        m_area == ReplayErrorArea::kFile
            ? "file offset " + std::to_string(m_offset)
            : "offset " + std::to_string(m_offset) + " of the decompressed data";
    return m_file + ": " + m_message + " (" + where + ")";
}

ReplayReadResult ReadReplayFromMemory(std::span<const std::uint8_t> bytes, std::string name)
{
    ReplayReadResult result;
    result.m_error.m_file = name;
    ReplayFile replay;
    replay.m_name = std::move(name);
    if (bytes.size() > kMaxReplayFileSize)
    {
        result.m_error.m_message = "file is larger than a replay can be";
        return result;
    }
    std::vector<std::uint8_t> data;
    if (!ParseW3gHeader(bytes, replay.m_header, result.m_error) ||
        !InflateReplayBlocks(bytes, replay.m_header, data, result.m_error))
        return result;

    CByteReader reader(data);
    if (!ParseReplayLobby(data, reader, replay.m_lobby, result.m_error))
        return result;
    CRecordWalker walker(data, replay);
    if (!walker.Walk(reader.Position(), result.m_error))
        return result;
    result.m_replay = std::move(replay);
    return result;
}

ReplayReadResult ReadReplay(const std::filesystem::path& path)
{
    const std::string name = path.filename().string();
    ReplayReadResult failed;
    failed.m_error.m_file = name;

    std::error_code code;
    const auto size = std::filesystem::file_size(path, code);
    if (code)
    {
        failed.m_error.m_message = "cannot be read: " + code.message();
        return failed;
    }
    if (size > kMaxReplayFileSize)
    {
        failed.m_error.m_message = "file is larger than a replay can be";
        return failed;
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    {
        failed.m_error.m_message = "cannot be read";
        return failed;
    }
    return ReadReplayFromMemory(bytes, name);
}

} // namespace velt
