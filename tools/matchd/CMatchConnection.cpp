#include "tools/matchd/CMatchConnection.h"

#include <asio/dispatch.hpp>
#include <asio/write.hpp>
#include <cstring>

#include "tools/matchd/CConnectionTally.h"

namespace velt
{

CMatchConnection::CMatchConnection(asio::ip::tcp::socket socket, const CRequestHandler& handler,
                                   const ConnectionLimits& limits, CConnectionTally& tally)
    : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_handler(handler),
      m_limits(limits), m_tally(tally)
{
    m_tally.Opened();
}

CMatchConnection::~CMatchConnection()
{
    m_tally.Closed();
}

void CMatchConnection::Start()
{
    // Everything the connection does runs on its own loop's thread, the start included.
    asio::dispatch(m_socket.get_executor(), [self = shared_from_this()] { self->Begin(); });
}

void CMatchConnection::Begin()
{
    std::error_code ignored;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    m_lastInput = Clock::now();
    m_partialSince = m_lastInput;
    WatchDeadline();
    Read();
}

void CMatchConnection::Read()
{
    m_socket.async_read_some(
        asio::buffer(m_input.data() + m_inputUsed, m_input.size() - m_inputUsed),
        [self = shared_from_this()](const std::error_code& error, std::size_t received)
        { self->OnRead(error, received); });
}

void CMatchConnection::OnRead(const std::error_code& error, std::size_t received)
{
    if (m_closed)
        return;
    if (error)
    {
        Close();
        return;
    }
    // A client that keeps asking while its earlier answers lie unread is dropped. What is
    // queued before the new requests counts, so that one large answer (a long list) passes.
    if (m_answers.Size() > m_limits.m_maxQueuedBytes)
    {
        m_tally.Overfilled();
        Close();
        return;
    }
    m_lastInput = Clock::now();
    if (m_inputUsed == 0)
        m_partialSince = m_lastInput;
    m_inputUsed += received;
    if (!AnswerRequests())
    {
        // What was answered before the refused frame still goes out, then the connection.
        m_endAfterWrite = true;
        if (m_answers.Empty())
            Close();
        else
            Write();
        return;
    }
    Write();
    // A partial request moves the deadline closer than the idle one the timer waits for.
    if (Deadline() < m_watchedDeadline)
        WatchDeadline();
    Read();
}

bool CMatchConnection::AnswerRequests()
{
    std::size_t consumed = 0;
    for (;;)
    {
        const RequestCut cut = CutRequest(
            std::span<const std::uint8_t>(m_input).subspan(consumed, m_inputUsed - consumed));
        if (cut.m_kind == RequestCut::Kind::kNeedMore)
            break;
        if (cut.m_kind == RequestCut::Kind::kRefused ||
            !m_handler.Handle(cut.m_body, m_answers.Tail()))
            return false;
        consumed += cut.m_size;
    }
    if (consumed > 0)
    {
        std::memmove(m_input.data(), m_input.data() + consumed, m_inputUsed - consumed);
        m_inputUsed -= consumed;
        // The rest, if any, is the start of a request that came with this read.
        m_partialSince = m_lastInput;
    }
    return true;
}

void CMatchConnection::Write()
{
    const auto bytes = m_answers.StartWrite();
    if (bytes.empty())
        return;
    asio::async_write(m_socket, asio::buffer(bytes.data(), bytes.size()),
                      [self = shared_from_this()](const std::error_code& error, std::size_t)
                      { self->OnWritten(error); });
}

void CMatchConnection::OnWritten(const std::error_code& error)
{
    m_answers.WriteEnded();
    if (m_closed)
        return;
    if (error)
    {
        Close();
        return;
    }
    if (m_endAfterWrite && m_answers.Empty())
    {
        Close();
        return;
    }
    Write();
}

CMatchConnection::Clock::time_point CMatchConnection::Deadline() const
{
    if (m_inputUsed > 0)
        return m_partialSince + m_limits.m_partialFrameTimeout;
    return m_lastInput + m_limits.m_idleTimeout;
}

// The timer is set again only when the deadline comes closer; a later one is noticed when
// the timer fires, so that a busy connection costs no timer operation per request.
void CMatchConnection::WatchDeadline()
{
    m_watchedDeadline = Deadline();
    m_timer.expires_at(m_watchedDeadline);
    m_timer.async_wait([self = shared_from_this()](const std::error_code& error)
                       { self->OnDeadline(error); });
}

void CMatchConnection::OnDeadline(const std::error_code& error)
{
    if (m_closed || error == asio::error::operation_aborted)
        return;
    if (Clock::now() >= Deadline())
    {
        m_tally.TimedOut();
        Close();
        return;
    }
    WatchDeadline();
}

void CMatchConnection::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_timer.cancel();
}

} // namespace velt
