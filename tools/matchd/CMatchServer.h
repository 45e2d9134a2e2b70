#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tools/matchd/CRequestHandler.h"

namespace velt
{

struct MatchServerSettings
{
    std::string m_listenHost = "127.0.0.1";
    std::uint16_t m_listenPort = 999; // 0 picks a free port
    std::vector<std::uint32_t> m_channels = {1};
    std::size_t m_maxClients = 256; // connections beyond are closed at once
};

// The stand-in match server: accepts clients on one TCP port and answers their requests from
// the archive, counting visits and ratings in the store.
//
// One thread accepts; each client gets a thread of its own that reads its requests and sends
// the answers, so a slow or vanished client holds up nobody else. A client that sends a frame
// the protocol does not allow (zero or oversized length, an unknown code, a payload of the
// wrong size) is disconnected. Stop() wakes and joins every thread.
class CMatchServer
{
public:
    CMatchServer(const CMatchArchive& archive, CStatsStore& stats, MatchServerSettings settings);
    ~CMatchServer();
    CMatchServer(const CMatchServer&) = delete;
    CMatchServer& operator=(const CMatchServer&) = delete;

    // Listens and starts accepting. False with LastError() when the address cannot be used.
    bool Start();
    void Stop();

    std::uint16_t Port() const { return m_listener.Port(); }
    // "HOST:PORT" with the real port.
    std::string ListenAddress() const;
    std::string LastError() const { return m_error; }

    // Clients whose connection is being served.
    std::size_t ActiveClients();

private:
    struct ClientSession
    {
        CTcpSocket m_socket;
        CThread m_thread;
    };

    void AcceptLoop();
    void ReapFinished();
    void Serve(CTcpSocket& socket);

    const MatchServerSettings m_settings;
    const CRequestHandler m_handler;
    CTcpListener m_listener;
    CThread m_acceptThread;
    std::atomic<bool> m_stopping{false};
    CEvent m_stopEvent{CEvent::Kind::kManualReset};
    std::mutex m_sessionsMutex;
    std::list<std::unique_ptr<ClientSession>> m_sessions;
    std::string m_error;
};

} // namespace velt
