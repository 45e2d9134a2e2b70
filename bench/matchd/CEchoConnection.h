#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/matchd/CAnswerQueue.h"

namespace velt::bench
{

// The reference the match server is measured against: a connection on the same library that
// answers every 13-byte data request with a full chunk of the same size as the server's, from
// one prepared frame, and does nothing else.
class CEchoConnection : public std::enable_shared_from_this<CEchoConnection>
{
public:
    CEchoConnection(asio::ip::tcp::socket socket, const std::vector<std::uint8_t>& answer);
    void Start();

private:
    void Read();
    void Write();

    asio::ip::tcp::socket m_socket;
    const std::vector<std::uint8_t>& m_answer;
    std::array<std::uint8_t, 64> m_input{};
    std::size_t m_inputUsed = 0;
    CAnswerQueue m_answers;
};

} // namespace velt::bench
