#include "tools/matchd/CReplayFileServer.h"

#include <chrono>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "tools/matchd/ReplayFolder.h"
#include "tools/replay/ReplayReader.h"

namespace velt
{

namespace
{

// The program's own client may stay silent for as long as a game is watched or paused, with
// the whole file downloaded long ago; it must not be dropped as an idle client is.
constexpr std::chrono::hours kOwnClientIdleLimit{24 * 365};

// Why a path that ReadLocalFile did not read cannot be a replay.
std::string UnreadableFileProblem(const std::string& path, LocalFileRead::Status status)
{
    std::error_code error;
    const std::filesystem::path target = PathFromUtf8(path);
    switch (status)
    {
    case LocalFileRead::Status::kNotRegular:
        if (std::filesystem::is_directory(target, error))
            return path + ": is a folder, not a replay file";
        return path + ": is not a regular file (a device or a pipe), not a replay file";
    case LocalFileRead::Status::kTooLarge:
        return path + ": is larger than a replay can be (" +
               std::to_string(kMaxReplayFileSize >> 20) + " MiB)";
    case LocalFileRead::Status::kMissing:
    case LocalFileRead::Status::kRead:
        break;
    }
    if (!std::filesystem::exists(target, error) && !error)
        return path + ": no such file";
    if (error == std::errc::too_many_symbolic_link_levels)
        return path + ": is a loop of symbolic links, not a replay file";
    return path + ": cannot be opened (no permission to read it?)";
}

} // namespace

CReplayFileServer::~CReplayFileServer()
{
    Stop();
}

bool CReplayFileServer::Load(const std::string& path)
{
    m_problem.clear();
    const LocalFileRead file = ReadLocalFile(path, kMaxReplayFileSize);
    if (file.m_status != LocalFileRead::Status::kRead)
    {
        m_problem = UnreadableFileProblem(path, file.m_status);
        return false;
    }
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(file.m_bytes.data()), file.m_bytes.size());
    const ReplayReadResult read = ReadReplayFromMemory(bytes, path);
    if (!read.m_replay)
    {
        m_problem = read.m_error.Text();
        return false;
    }
    std::optional<SyntheticMatch> match =
        ServeRecording(*read.m_replay, PathFromUtf8(path), path, kMatchId, false, m_problem);
    if (!match)
        return false;
    match->m_info.m_streamer = kStreamer;
    std::vector<SyntheticMatch> matches;
    matches.push_back(std::move(*match));
    m_archive = std::make_unique<CMatchArchive>(std::move(matches), CSystemClock::Instance());
    return true;
}

bool CReplayFileServer::Start()
{
    if (!m_archive)
    {
        m_problem = "no replay file has been read";
        return false;
    }
    if (!m_stats.Open(""))
    {
        m_problem = m_stats.LastError();
        return false;
    }
    MatchServerSettings settings;
    settings.m_listenHost = "127.0.0.1";
    settings.m_listenPort = 0;
    settings.m_maxClients = kMaxClients;
    settings.m_threads = 1;
    settings.m_limits.m_idleTimeout = kOwnClientIdleLimit;
    m_server = std::make_unique<CMatchServer>(*m_archive, m_stats, settings);
    if (!m_server->Start())
    {
        m_problem = "the replay cannot be served on 127.0.0.1: " + m_server->LastError();
        m_server.reset();
        return false;
    }
    return true;
}

void CReplayFileServer::Stop()
{
    if (m_server)
        m_server->Stop();
}

std::uint16_t CReplayFileServer::Port() const
{
    return m_server ? m_server->Port() : 0;
}

const SyntheticMatch* CReplayFileServer::Match() const
{
    return m_archive ? m_archive->Find(kMatchId) : nullptr;
}

} // namespace velt
