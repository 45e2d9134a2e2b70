#include "bench/matchd/CLoadConnection.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>
#include <cstring>
#include <random>

#include "server/Framing.h"
#include "server/MatchServerMessages.h"

namespace velt::bench
{

namespace
{

// Room for many frames per read: a bulk client takes 2,019 bytes per chunk.
constexpr std::size_t kInputBytes = 64 * 1024;

std::uint32_t MicrosSince(CLoadConnection::Clock::time_point start)
{
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(CLoadConnection::Clock::now() - start)
            .count());
}

} // namespace

CLoadConnection::CLoadConnection(asio::io_context& io, Kind kind, std::uint32_t matchId,
                                 std::chrono::milliseconds interval, LoadTally& tally)
    : m_socket(io), m_timer(io), m_kind(kind), m_matchId(matchId), m_interval(interval),
      m_tally(tally), m_input(kInputBytes)
{
}

void CLoadConnection::Start(const asio::ip::tcp::endpoint& server, std::function<void()> done)
{
    m_socket.async_connect(
        server,
        [self = shared_from_this(), done = std::move(done)](const std::error_code& error)
        {
            done();
            if (error)
            {
                self->Fail();
                return;
            }
            ++self->m_tally.m_connected;
            self->m_socket.set_option(asio::ip::tcp::no_delay(true));
            self->Read();
            if (self->m_kind == Kind::kBulk)
            {
                self->AskChunk();
                return;
            }
            self->m_listing = true;
            self->m_askedAt = Clock::now();
            self->m_waiting = true;
            self->Send(BuildMatchListRequest({1}));
            // Viewers are spread over the interval, as real ones are.
            static std::minstd_rand random(7);
            const auto phase = std::chrono::milliseconds(random() % self->m_interval.count());
            self->ScheduleChunk(Clock::now() + phase);
        });
}

void CLoadConnection::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    std::error_code ignored;
    m_timer.cancel();
    m_socket.close(ignored);
}

bool CLoadConnection::Overdue(Clock::time_point now, std::chrono::milliseconds limit) const
{
    return !m_closed && m_waiting && now - m_askedAt > limit;
}

void CLoadConnection::Fail()
{
    if (m_closed)
        return;
    ++m_tally.m_failed;
    Close();
}

void CLoadConnection::Send(const std::vector<std::uint8_t>& request)
{
    m_request = request;
    asio::async_write(m_socket, asio::buffer(m_request),
                      [self = shared_from_this()](const std::error_code& error, std::size_t)
                      {
                          if (error)
                              self->Fail();
                      });
}

void CLoadConnection::AskChunk()
{
    if (m_closed)
        return;
    if (m_waiting)
    {
        // The previous answer is late: a viewer would not ask again, and neither does this.
        return;
    }
    m_waiting = true;
    m_askedAt = Clock::now();
    Send(BuildGameDataRequest({m_matchId, m_offset}));
}

void CLoadConnection::ScheduleChunk(Clock::time_point at)
{
    m_timer.expires_at(at);
    m_timer.async_wait(
        [self = shared_from_this(), at](const std::error_code& error)
        {
            if (error || self->m_closed)
                return;
            if (self->m_tally.m_measuring)
                self->m_tally.m_lateMicros.push_back(MicrosSince(at));
            self->AskChunk();
            self->ScheduleChunk(at + self->m_interval);
        });
}

void CLoadConnection::Read()
{
    m_socket.async_read_some(
        asio::buffer(m_input.data() + m_inputUsed, m_input.size() - m_inputUsed),
        [self = shared_from_this()](const std::error_code& error, std::size_t received)
        {
            if (self->m_closed)
                return;
            if (error)
            {
                self->Fail();
                return;
            }
            if (self->m_tally.m_measuring)
                self->m_tally.m_wireBytes += received;
            self->m_inputUsed += received;
            std::size_t consumed = 0;
            for (;;)
            {
                const FrameCut cut = CutFrame(std::span<const std::uint8_t>(self->m_input)
                                                  .subspan(consumed, self->m_inputUsed - consumed));
                if (cut.m_status == FrameStatus::kNeedMore)
                    break;
                if (cut.m_status != FrameStatus::kFrame || cut.m_discard)
                {
                    self->Fail();
                    return;
                }
                self->OnFrame(cut.m_body[0], cut.m_body.subspan(1));
                consumed += cut.m_frameSize;
                if (self->m_closed)
                    return;
            }
            std::memmove(self->m_input.data(), self->m_input.data() + consumed,
                         self->m_inputUsed - consumed);
            self->m_inputUsed -= consumed;
            self->Read();
        });
}

void CLoadConnection::OnFrame(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    if (m_listing)
    {
        if (code == CodeByte(MessageCode::MSG_LIST_END))
        {
            m_listing = false;
            m_waiting = false;
            m_tally.m_listMicros.push_back(MicrosSince(m_askedAt));
        }
        else if (code != CodeByte(MessageCode::MSG_MATCH_INFO) &&
                 code != CodeByte(MessageCode::MSG_MATCH_STATS))
            Fail();
        return;
    }
    const auto chunk = ParseGameDataChunk(payload);
    if (code != CodeByte(MessageCode::MSG_GAME_DATA) || !m_waiting || !chunk ||
        chunk->m_offset != m_offset || chunk->m_count == 0)
    {
        Fail();
        return;
    }
    m_waiting = false;
    if (m_tally.m_measuring)
    {
        m_tally.m_answerMicros.push_back(MicrosSince(m_askedAt));
        if (chunk->m_count <= kFullChunkSize)
            m_tally.m_dataBytes += chunk->m_count;
    }
    m_offset = chunk->m_count <= kFullChunkSize ? m_offset + chunk->m_count : 0;
    if (m_kind == Kind::kBulk)
        AskChunk();
}

} // namespace velt::bench
