#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace velt::bench
{

// What all connections of one load count together; one thread runs them all.
struct LoadTally
{
    std::vector<std::uint32_t> m_answerMicros; // each chunk request to its whole answer
    std::vector<std::uint32_t> m_listMicros;   // each list request to its end
    std::vector<std::uint32_t> m_lateMicros;   // how late each viewer's timer ran: own delays
    std::uint64_t m_dataBytes = 0;             // game data received
    std::uint64_t m_wireBytes = 0;             // everything received
    std::uint64_t m_failed = 0;                // connects, requests and connections that failed
    std::size_t m_connected = 0;
    bool m_measuring = false; // answers count only inside the measured window
};

// One client of the load generator. A viewer asks for the match list once, then for the next
// chunk of its match every interval, as the program does at normal speed; a bulk client asks
// for chunk after chunk as fast as the answers come, starting over at the end of the match.
class CLoadConnection : public std::enable_shared_from_this<CLoadConnection>
{
public:
    enum class Kind
    {
        kViewer,
        kBulk,
    };
    using Clock = std::chrono::steady_clock;

    CLoadConnection(asio::io_context& io, Kind kind, std::uint32_t matchId,
                    std::chrono::milliseconds interval, LoadTally& tally);

    // Connects; done is called once the connection is up or has failed.
    void Start(const asio::ip::tcp::endpoint& server, std::function<void()> done);
    void Close();
    // A request still unanswered after this long counts as failed.
    bool Overdue(Clock::time_point now, std::chrono::milliseconds limit) const;

private:
    void Read();
    void OnFrame(std::uint8_t code, std::span<const std::uint8_t> payload);
    void Send(const std::vector<std::uint8_t>& request);
    void AskChunk();
    void ScheduleChunk(Clock::time_point at);
    void Fail();

    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    const Kind m_kind;
    const std::uint32_t m_matchId;
    const std::chrono::milliseconds m_interval;
    LoadTally& m_tally;
    std::vector<std::uint8_t> m_input;
    std::size_t m_inputUsed = 0;
    std::vector<std::uint8_t> m_request;
    std::uint32_t m_offset = 0;
    Clock::time_point m_askedAt{};
    bool m_waiting = false; // a request is out
    bool m_listing = false;
    bool m_closed = false;
};

} // namespace velt::bench
