#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/matchd/CConnectionTally.h"
#include "tools/matchd/CRequestHandler.h"
#include "tools/matchd/ConnectionLimits.h"

namespace velt
{

struct MatchServerSettings
{
    std::string m_listenHost = "127.0.0.1";
    std::uint16_t m_listenPort = 999; // 0 picks a free port
    std::vector<std::uint32_t> m_channels = {1};
    std::size_t m_maxClients = 10000; // connections beyond are closed at once
    unsigned m_threads = 0;           // threads of the event loop; 0: one per core
    ConnectionLimits m_limits;
};

// The stand-in match server: accepts clients on one TCP port and answers their requests from
// the archive, counting visits and ratings in the store.
//
// A few threads run one event loop that serves every connection; no read or write waits on a
// client, so a slow or vanished client holds up nobody else. A client that sends a frame the
// protocol does not allow (zero or oversized length, an unknown code, a payload of the wrong
// size), stays silent or half-way through a request too long, or leaves too many answers
// unread is disconnected. Stop() closes every connection and joins every thread.
class CMatchServer
{
public:
    CMatchServer(const CMatchArchive& archive, CStatsStore& stats, MatchServerSettings settings);
    ~CMatchServer();
    CMatchServer(const CMatchServer&) = delete;
    CMatchServer& operator=(const CMatchServer&) = delete;

    // Listens and starts serving. False with LastError() when the address cannot be used.
    bool Start();
    void Stop();

    std::uint16_t Port() const { return m_port; }
    // "HOST:PORT" with the real port.
    std::string ListenAddress() const;
    std::string LastError() const { return m_error; }

    // Clients whose connection is being served.
    std::size_t ActiveClients() const { return m_tally.Active(); }
    const CConnectionTally& Tally() const { return m_tally; }

private:
    struct EventLoop;

    void Accept();
    void RetryAccept();

    const MatchServerSettings m_settings;
    const CRequestHandler m_handler;
    // Outlives the loop: the connections count themselves out as the loop lets them go.
    CConnectionTally m_tally;
    std::unique_ptr<EventLoop> m_loop;
    std::uint16_t m_port = 0;
    std::string m_error;
};

} // namespace velt
