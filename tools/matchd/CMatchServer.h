#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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
    std::size_t m_maxClients = 10000; // connections beyond are closed
    // How long a connection past the maximum waits for a place before it is closed: a client
    // that has just left still counts until its loop has seen it go.
    std::chrono::milliseconds m_placeWait{500};
    unsigned m_threads = 0;           // threads of the event loop; 0: one per core
    ConnectionLimits m_limits;
    // Where the server tells what the operator should know (refused connections); none: silent.
    std::function<void(const std::string&)> m_report;
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

    // An accepted connection, and its wait for a place.
    struct Accepted;

    void Accept();
    void RetryAccept();
    // Serves an accepted connection, or lets it wait for a place when the server is full.
    void Take(std::shared_ptr<Accepted> accepted);
    void Serve(Accepted& accepted);
    void WaitForPlace(std::shared_ptr<Accepted> accepted);
    void Refuse(Accepted& accepted);

    const MatchServerSettings m_settings;
    const CRequestHandler m_handler;
    // Outlives the loop: the connections count themselves out as the loop lets them go.
    CConnectionTally m_tally;
    std::unique_ptr<EventLoop> m_loop;
    // The acceptor's thread only: connections waiting for a place, and the refusals not yet
    // told.
    std::size_t m_waiting = 0;
    std::uint64_t m_refusalsUntold = 0;
    std::chrono::steady_clock::time_point m_lastRefusalTold{};
    std::uint16_t m_port = 0;
    std::string m_error;
};

} // namespace velt
