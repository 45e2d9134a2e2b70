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

// The stand-in server with completed synthetic matches of one length range, in-process, on a
// free loopback port; statistics in memory.
struct StandInServer
{
    // adjust may change the matches before they are served.
    void Start(std::uint32_t seed, std::uint32_t count, std::uint32_t minSeconds,
               std::uint32_t maxSeconds,
               const std::function<void(std::vector<SyntheticMatch>&)>& adjust = {})
    {
        SocketLayerStart();
        SyntheticSettings settings;
        settings.m_seed = seed;
        settings.m_count = count;
        settings.m_minSeconds = minSeconds;
        settings.m_maxSeconds = maxSeconds;
        std::vector<SyntheticMatch> matches = GenerateSyntheticMatches(settings);
        if (adjust)
            adjust(matches);
        m_archive = std::make_unique<CMatchArchive>(std::move(matches), CSystemClock::Instance());
        ASSERT_TRUE(m_stats.Open(""));
        MatchServerSettings server;
        server.m_listenPort = 0;
        m_server = std::make_unique<CMatchServer>(*m_archive, m_stats, server);
        ASSERT_TRUE(m_server->Start());
    }

    std::unique_ptr<CMatchArchive> m_archive;
    CStatsStore m_stats;
    std::unique_ptr<CMatchServer> m_server;
};

} // namespace velt::test
