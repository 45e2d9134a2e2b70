#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt::test
{

// The stand-in match server (velt-matchd's library) in-process, on a free port of 127.0.0.1
// unless told otherwise, with its statistics in memory: the one rig of the tests that watch
// matches of the stand-in server.
struct MatchdRig
{
    // Serves the matches, played on the clock; adjust may change the server's settings.
    void Serve(std::vector<SyntheticMatch> matches, IClock& clock = CSystemClock::Instance(),
               const std::function<void(MatchServerSettings&)>& adjust = {})
    {
        SocketLayerStart();
        m_archive = std::make_unique<CMatchArchive>(std::move(matches), clock);
        ASSERT_TRUE(m_stats.Open(""));
        MatchServerSettings settings;
        settings.m_listenPort = 0;
        if (adjust)
            adjust(settings);
        m_server = std::make_unique<CMatchServer>(*m_archive, m_stats, settings);
        ASSERT_TRUE(m_server->Start()) << m_server->LastError();
    }

    // Completed made-up matches of one length range; adjust may change them before they are
    // served.
    void Start(std::uint32_t seed, std::uint32_t count, std::uint32_t minSeconds,
               std::uint32_t maxSeconds,
               const std::function<void(std::vector<SyntheticMatch>&)>& adjust = {})
    {
        SyntheticSettings settings;
        settings.m_seed = seed;
        settings.m_count = count;
        settings.m_minSeconds = minSeconds;
        settings.m_maxSeconds = maxSeconds;
        std::vector<SyntheticMatch> matches = GenerateSyntheticMatches(settings);
        if (adjust)
            adjust(matches);
        Serve(std::move(matches));
    }

    // The server, then the archive: before the clock that the matches are played on goes.
    void StopServing()
    {
        m_server.reset();
        m_archive.reset();
    }

    std::unique_ptr<CMatchArchive> m_archive;
    CStatsStore m_stats;
    std::unique_ptr<CMatchServer> m_server;
};

} // namespace velt::test
