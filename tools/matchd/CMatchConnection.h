#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/matchd/CAnswerQueue.h"
#include "tools/matchd/CRequestHandler.h"
#include "tools/matchd/ConnectionLimits.h"

namespace velt
{

class CConnectionTally;

// One client's connection on the server's event loop. It reads requests as they come, answers
// them in order, and goes when the client does, sends a frame the protocol does not allow,
// stays silent or half-way through a request too long, or leaves too many answers unread.
// Every handler runs on the one thread of the socket's event loop, so the connection needs no
// lock; the pending operations keep it alive and it closes its socket as the last one ends.
class CMatchConnection : public std::enable_shared_from_this<CMatchConnection>
{
public:
    CMatchConnection(asio::ip::tcp::socket socket, const CRequestHandler& handler,
                     const ConnectionLimits& limits, CConnectionTally& tally);
    ~CMatchConnection();
    CMatchConnection(const CMatchConnection&) = delete;
    CMatchConnection& operator=(const CMatchConnection&) = delete;

    void Start();

private:
    using Clock = std::chrono::steady_clock;

    void Begin();
    void Read();
    void OnRead(const std::error_code& error, std::size_t received);
    // Cuts and answers the whole requests received; false when the client is to go.
    bool AnswerRequests();
    void Write();
    void OnWritten(const std::error_code& error);
    Clock::time_point Deadline() const;
    void WatchDeadline();
    void OnDeadline(const std::error_code& error);
    void Close();

    // Every request is at most this long with its length field, so a few fit.
    static constexpr std::size_t kInputBytes = 4 * (4 + kMaxRequestLength);

    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    const CRequestHandler& m_handler;
    const ConnectionLimits& m_limits;
    CConnectionTally& m_tally;
    std::array<std::uint8_t, kInputBytes> m_input{};
    std::size_t m_inputUsed = 0;
    CAnswerQueue m_answers;
    Clock::time_point m_lastInput;
    Clock::time_point m_partialSince; // when the first byte of the incomplete request came
    Clock::time_point m_watchedDeadline;
    bool m_endAfterWrite = false; // a refused frame: what was answered before it still goes out
    bool m_closed = false;
};

} // namespace velt
