#include "tools/matchd/CMatchServer.h"

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <optional>
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
// A connection waiting for a place looks at the count this often; at most this many wait.
constexpr std::chrono::milliseconds kPlaceLook{5};
constexpr std::size_t kMaxWaitingForPlace = 256;
// Refusals are told at most once per this interval.
constexpr std::chrono::seconds kRefusalReportInterval{10};

unsigned ThreadCount(unsigned asked)
{
    if (asked > 0)
        return asked;
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

// One event loop per thread, each serving its share of the connections: a connection's
// handlers then always run on the same thread, with no hand-over between threads and no lock.
struct CMatchServer::EventLoop
{
    explicit EventLoop(unsigned threads) : m_threads(threads)
    {
        for (unsigned i = 0; i < threads; ++i)
        {
            m_contexts.push_back(std::make_unique<asio::io_context>(1));
            m_work.push_back(asio::make_work_guard(*m_contexts.back()));
        }
        m_acceptor.emplace(*m_contexts.front());
        m_retry.emplace(*m_contexts.front());
    }

    // The loop that takes the next connection.
    asio::io_context& Next() { return *m_contexts[m_next++ % m_contexts.size()]; }

    std::vector<std::unique_ptr<asio::io_context>> m_contexts;
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> m_work;
    std::optional<asio::ip::tcp::acceptor> m_acceptor;
    std::optional<asio::steady_timer> m_retry;
    std::size_t m_next = 0;
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
        loop->m_acceptor->open(endpoint.protocol(), error);
    if (!error)
        loop->m_acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
    if (!error)
        loop->m_acceptor->bind(endpoint, error);
    if (!error)
        loop->m_acceptor->listen(kListenBacklog, error);
    if (error)
    {
        m_error = "cannot listen on " + m_settings.m_listenHost + ":" +
                  std::to_string(m_settings.m_listenPort) + ": " + error.message();
        return false;
    }
    m_port = loop->m_acceptor->local_endpoint(error).port();
    m_loop = std::move(loop);
    Accept();
    for (std::size_t i = 0; i < m_loop->m_threads.size(); ++i)
    {
        asio::io_context& io = *m_loop->m_contexts[i];
        if (!m_loop->m_threads[i].Start([&io] { io.run(); }))
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
    for (auto& io : m_loop->m_contexts)
        io->stop();
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
    m_loop->m_acceptor->async_accept(
        m_loop->Next(),
        [this](const std::error_code& error, asio::ip::tcp::socket socket)
        {
            if (error == asio::error::operation_aborted)
                return;
            if (error)
            {
                RetryAccept();
                return;
            }
            Take(std::make_shared<Accepted>(std::move(socket), *m_loop->m_contexts.front()));
            Accept();
        });
}

struct CMatchServer::Accepted
{
    Accepted(asio::ip::tcp::socket socket, asio::io_context& acceptorLoop)
        : m_socket(std::move(socket)), m_timer(acceptorLoop)
    {
    }
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer; // on the acceptor's loop, as every look at the count
    std::chrono::steady_clock::time_point m_givenUpAt{};
};

void CMatchServer::Take(std::shared_ptr<Accepted> accepted)
{
    if (m_tally.Active() < m_settings.m_maxClients)
    {
        Serve(*accepted);
        return;
    }
    if (m_waiting >= kMaxWaitingForPlace || m_settings.m_placeWait.count() <= 0)
    {
        Refuse(*accepted);
        return;
    }
    ++m_waiting;
    accepted->m_givenUpAt = std::chrono::steady_clock::now() + m_settings.m_placeWait;
    WaitForPlace(std::move(accepted));
}

void CMatchServer::Serve(Accepted& accepted)
{
    // Counted at once (the connection's constructor), so that the next look sees it.
    std::make_shared<CMatchConnection>(std::move(accepted.m_socket), m_handler, m_settings.m_limits,
                                       m_tally)
        ->Start();
}

void CMatchServer::WaitForPlace(std::shared_ptr<Accepted> accepted)
{
    Accepted& waiting = *accepted;
    waiting.m_timer.expires_after(kPlaceLook);
    waiting.m_timer.async_wait(
        [this, accepted = std::move(accepted)](const std::error_code& error)
        {
            if (error == asio::error::operation_aborted)
                return;
            if (m_tally.Active() < m_settings.m_maxClients)
            {
                --m_waiting;
                Serve(*accepted);
            }
            else if (std::chrono::steady_clock::now() >= accepted->m_givenUpAt)
            {
                --m_waiting;
                Refuse(*accepted);
            }
            else
            {
                WaitForPlace(accepted);
            }
        });
}

void CMatchServer::Refuse(Accepted& accepted)
{
    m_tally.Refused();
    // Told at once, then at most once per interval with the count since, so that a flood of
    // refusals costs the log a line now and then.
    ++m_refusalsUntold;
    const auto now = std::chrono::steady_clock::now();
    if (m_settings.m_report && (m_lastRefusalTold.time_since_epoch().count() == 0 ||
                                now - m_lastRefusalTold >= kRefusalReportInterval))
    {
        m_settings.m_report("refused " + std::to_string(m_refusalsUntold) + " connection" +
                            (m_refusalsUntold == 1 ? "" : "s") +
                            ": the server is full (--max-clients " +
                            std::to_string(m_settings.m_maxClients) + ")");
        m_refusalsUntold = 0;
        m_lastRefusalTold = now;
    }
    // Closed once told, so that whoever sees the close finds the line written.
    std::error_code ignored;
    accepted.m_socket.close(ignored);
}

void CMatchServer::RetryAccept()
{
    m_loop->m_retry->expires_after(kAcceptRetry);
    m_loop->m_retry->async_wait(
        [this](const std::error_code& error)
        {
            if (!error)
                Accept();
        });
}

} // namespace velt
