#pragma once

#include <cstdint>
#include <memory>

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "platform/Clock.h"
#include "platform/UserNotice.h"
#include "server/CMatchServerClient.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{

// The viewer's side of a match watched over loopback: the stand-in game, and the real client
// whose hosts announce to it, against whichever match server the test runs (the scripted one
// or the stand-in). The one rig of the tests that watch a match from end to end.
struct WatchRig
{
    // The game first: its announcement port is the client's.
    bool StartGame(GameSimScript script, IClock& clock = CSystemClock::Instance())
    {
        m_game = std::make_unique<CGameSimulator>(std::move(script), clock);
        return m_game->Start();
    }

    // A client with the timings, whose hosts announce to the game unless ports name another
    // announcement port.
    CMatchServerClient& MakeClient(IUserNotice& notices, const HostTimings& timings,
                                   LocalPortSettings ports)
    {
        if (ports.m_announcePort == 0)
            ports.m_announcePort = m_game->AnnouncePort();
        m_client = std::make_unique<CMatchServerClient>(notices, ports);
        m_client->SetHostTimings(timings);
        return *m_client;
    }

    bool Connect(std::uint16_t serverPort) { return m_client->Connect("127.0.0.1", serverPort); }

    // Watch! as the viewer reaches it: the list, the header, and the host that it makes.
    bool WatchFromTheList(std::uint32_t matchId, std::uint32_t timeoutMs)
    {
        return m_client->FetchMatchList(timeoutMs) == CMatchServerClient::ListOutcome::kListEnd &&
               m_client->RequestReplayHeader(matchId) && m_client->WaitForHost(matchId, timeoutMs);
    }

    // The client's hosts and the game go before the server they talk to.
    void StopViewer()
    {
        m_client.reset();
        m_game.reset();
    }

    std::unique_ptr<CGameSimulator> m_game;
    std::unique_ptr<CMatchServerClient> m_client;
};

} // namespace velt::test
