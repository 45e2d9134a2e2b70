#pragma once

#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"

#include <cstdint>
#include <string>

namespace velt
{

// The stand-in match server that "veltplayer --demo" runs inside the program: made-up matches,
// a few of them live and some visited and rated, served on a free port of 127.0.0.1.
class CDemoServer
{
public:
    static constexpr std::uint32_t kMatchCount = 12;
    static constexpr std::uint32_t kLiveCount = 2;
    static constexpr std::uint64_t kSeed = 7;

    CDemoServer();
    CDemoServer(const CDemoServer&) = delete;
    CDemoServer& operator=(const CDemoServer&) = delete;

    // False, with the reason in LastError(), when the server cannot listen.
    bool Start();
    void Stop();
    std::uint16_t Port() const { return m_server.Port(); }
    std::string LastError() const { return m_error; }

private:
    CStatsStore m_stats;
    CMatchArchive m_archive;
    CMatchServer m_server;
    std::string m_error;
};

} // namespace velt
