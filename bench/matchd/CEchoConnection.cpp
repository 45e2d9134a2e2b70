#include "bench/matchd/CEchoConnection.h"

#include <asio/dispatch.hpp>
#include <asio/write.hpp>
#include <cstring>

namespace velt::bench
{

namespace
{

// A data request: length 9, code, match id, offset.
constexpr std::size_t kRequestBytes = 13;
// Where the answer carries the offset asked for.
constexpr std::size_t kAnswerOffsetAt = 9;

} // namespace

CEchoConnection::CEchoConnection(asio::ip::tcp::socket socket,
                                 const std::vector<std::uint8_t>& answer)
    : m_socket(std::move(socket)), m_answer(answer)
{
}

void CEchoConnection::Start()
{
    asio::dispatch(m_socket.get_executor(),
                   [self = shared_from_this()]
                   {
                       std::error_code ignored;
                       self->m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
                       self->Read();
                   });
}

void CEchoConnection::Read()
{
    m_socket.async_read_some(
        asio::buffer(m_input.data() + m_inputUsed, m_input.size() - m_inputUsed),
        [self = shared_from_this()](const std::error_code& error, std::size_t received)
        {
            if (error)
                return;
            self->m_inputUsed += received;
            std::size_t consumed = 0;
            while (self->m_inputUsed - consumed >= kRequestBytes)
            {
                std::vector<std::uint8_t>& tail = self->m_answers.Tail();
                const std::size_t at = tail.size();
                tail.insert(tail.end(), self->m_answer.begin(), self->m_answer.end());
                std::memcpy(tail.data() + at + kAnswerOffsetAt, self->m_input.data() + consumed + 9,
                            4);
                consumed += kRequestBytes;
            }
            std::memmove(self->m_input.data(), self->m_input.data() + consumed,
                         self->m_inputUsed - consumed);
            self->m_inputUsed -= consumed;
            self->Write();
            self->Read();
        });
}

void CEchoConnection::Write()
{
    const auto bytes = m_answers.StartWrite();
    if (bytes.empty())
        return;
    asio::async_write(m_socket, asio::buffer(bytes.data(), bytes.size()),
                      [self = shared_from_this()](const std::error_code& error, std::size_t)
                      {
                          self->m_answers.WriteEnded();
                          if (!error)
                              self->Write();
                      });
}

} // namespace velt::bench
