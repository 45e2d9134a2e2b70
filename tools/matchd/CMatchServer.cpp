#include "tools/matchd/CMatchServer.h"

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>
#include <thread>

#include "tools/matchd/CMatchConnection.h"

#include "platform/Thread.h"

namespace velt
{

namespace
{

// Room for a burst of clients connecting at once; a full queue delays a connect by a second.
constexpr int kListenBacklog = 4096;
// A failed accept (say, out of descriptors) is tried again after this, not in a tight loop.
constexpr std::chrono::milliseconds kAcceptRetry{50};

unsigned ThreadCount(unsigned asked)
{
    if (asked > 0)
        return asked;
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

struct CMatchServer::EventLoop
{
    explicit EventLoop(unsigned threads)
        : m_io(static_cast<int>(threads)), m_work(asio::make_work_guard(m_io)), m_acceptor(m_io),
          m_retry(m_io), m_threads(threads)
    {
    }

    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_retry;
    std::vector<CThread> m_threads;
};

CMatchServer::CMatchServer(const CMatchArchive& archive, CStatsStore& stats,
                           MatchServerSettings settings)
    : m_settings(std::move(settings)), m_handler(archive, stats, m_settings.m_channels)
{
}

CMatchServer::~CMatchServer()
{
    Stop();
}

bool CMatchServer::Start()
{
    Stop();
    const unsigned threads = ThreadCount(m_settings.m_threads);
    auto loop = std::make_unique<EventLoop>(threads);
    std::error_code error;
    const auto address = asio::ip::make_address(m_settings.m_listenHost, error);
    const asio::ip::tcp::endpoint endpoint(address, m_settings.m_listenPort);
    if (!error)
        loop->m_acceptor.open(endpoint.protocol(), error);
    if (!error)
        loop->m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error)
        loop->m_acceptor.bind(endpoint, error);
    if (!error)
        loop->m_acceptor.listen(kListenBacklog, error);
    if (error)
    {
        m_error = "cannot listen on " + m_settings.m_listenHost + ":" +
                  std::to_string(m_settings.m_listenPort) + ": " + error.message();
        return false;
    }
    m_port = loop->m_acceptor.local_endpoint(error).port();
    m_loop = std::move(loop);
    Accept();
    for (CThread& thread : m_loop->m_threads)
    {
        if (!thread.Start([this] { m_loop->m_io.run(); }))
        {
            Stop();
            m_error = "cannot start the server's threads";
            return false;
        }
    }
    return true;
}

void CMatchServer::Stop()
{
    if (!m_loop)
        return;
    m_loop->m_io.stop();
    for (CThread& thread : m_loop->m_threads)
        thread.Join();
    // Destroying the loop drops the pending operations, and with them every connection.
    m_loop.reset();
}

std::string CMatchServer::ListenAddress() const
{
    return m_settings.m_listenHost + ":" + std::to_string(Port());
}

void CMatchServer::Accept()
{
    // Each connection gets a strand of its own: its handlers never run at once, those of
    // different connections run on any thread.
    m_loop->m_acceptor.async_accept(
        asio::make_strand(m_loop->m_io),
        [this](const std::error_code& error, asio::ip::tcp::socket socket)
        {
            if (error == asio::error::operation_aborted)
                return;
            if (error)
            {
                RetryAccept();
                return;
            }
            if (m_tally.Active() >= m_settings.m_maxClients)
            {
                m_tally.Refused();
                std::error_code ignored;
                socket.close(ignored);
            }
            else
            {
                std::make_shared<CMatchConnection>(std::move(socket), m_handler,
                                                   m_settings.m_limits, m_tally)
                    ->Start();
            }
            Accept();
        });
}

void CMatchServer::RetryAccept()
{
    m_loop->m_retry.expires_after(kAcceptRetry);
    m_loop->m_retry.async_wait(
        [this](const std::error_code& error)
        {
            if (!error)
                Accept();
        });
}

} // namespace velt
