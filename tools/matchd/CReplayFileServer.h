#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatch.h"

namespace velt
{

// One recorded game from disk, served to this program's own match server client: read and
// converted once, as velt-matchd --replays does, then answered from memory by the stand-in
// server on a free port of 127.0.0.1. So a file is hosted by the same client, host and
// commands as any match of a server, down to the last chat line. velt play and the desktop
// client open files this way.
class CReplayFileServer
{
public:
    // The file's match id on its server.
    static constexpr std::uint32_t kMatchId = 1;
    // The streamer column of a file's match: a file has no streamer, and its row must stand
    // out among a server's matches.
    static constexpr const char* kStreamer = "(file)";
    // A client that this program does not run gets nothing: the server takes a few connections
    // only (the client's, and its reconnections).
    static constexpr std::size_t kMaxClients = 4;

    CReplayFileServer() = default;
    // Stops serving.
    ~CReplayFileServer();
    CReplayFileServer(const CReplayFileServer&) = delete;
    CReplayFileServer& operator=(const CReplayFileServer&) = delete;

    // Reads and converts the file (UTF-8 path). False, with one line naming the file and what
    // is wrong in Problem(), when it cannot be served: missing, a folder or a device, too
    // large, not a replay, damaged, or of a kind the converter cannot serve. Only a regular file
    // is opened, and no more than a replay's largest size is read, so a device or a pipe never
    // holds this up.
    bool Load(const std::string& path);
    // Listens on a free port of 127.0.0.1, after Load. False, with Problem(), when it cannot.
    bool Start();
    void Stop();

    std::uint16_t Port() const;
    const std::string& Problem() const { return m_problem; }
    // What was loaded: the catalogue record, the header and the stream.
    const SyntheticMatch* Match() const;

private:
    std::string m_problem;
    CStatsStore m_stats;
    std::unique_ptr<CMatchArchive> m_archive;
    std::unique_ptr<CMatchServer> m_server;
};

} // namespace velt
