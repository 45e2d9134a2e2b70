#include "tools/matchd/CRawMatchClient.h"

#include <array>
#include <chrono>

#include "server/Framing.h"
#include "server/MessageCode.h"

namespace velt
{

namespace
{

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

bool CRawMatchClient::Connect(const std::string& dottedIp, std::uint16_t port)
{
    m_buffer.clear();
    m_socket = CTcpSocket::Connect(dottedIp, port);
    m_socket.SetNoDelay(true);
    return m_socket.IsValid();
}

bool CRawMatchClient::Send(std::span<const std::uint8_t> bytes)
{
    return m_socket.Send(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
}

bool CRawMatchClient::ReadMore(int timeoutMs)
{
    if (timeoutMs <= 0 || !m_socket.WaitReadable(timeoutMs))
        return false;
    std::array<std::uint8_t, 16384> chunk;
    const int received = m_socket.Recv(chunk.data(), chunk.size());
    if (received <= 0)
        return false;
    m_buffer.insert(m_buffer.end(), chunk.begin(), chunk.begin() + received);
    return true;
}

std::optional<std::vector<std::uint8_t>> CRawMatchClient::ReadFrame(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        const FrameCut cut = CutFrame(m_buffer);
        if (cut.m_status == FrameStatus::kMalformed ||
            (cut.m_status == FrameStatus::kFrame && cut.m_discard))
            return std::nullopt;
        if (cut.m_status == FrameStatus::kFrame)
        {
            std::vector<std::uint8_t> body(cut.m_body.begin(), cut.m_body.end());
            m_buffer.erase(m_buffer.begin(),
                           m_buffer.begin() + static_cast<std::ptrdiff_t>(cut.m_frameSize));
            return body;
        }
        if (!ReadMore(MsLeft(deadline)))
            return std::nullopt;
    }
}

std::optional<GameDataChunk> CRawMatchClient::RequestChunk(std::uint32_t matchId,
                                                           std::uint32_t offset,
                                                           std::vector<std::uint8_t>& body,
                                                           int timeoutMs)
{
    if (!Send(BuildGameDataRequest({matchId, offset})))
        return std::nullopt;
    auto frame = ReadFrame(timeoutMs);
    if (!frame || frame->empty() || frame->front() != CodeByte(MessageCode::MSG_GAME_DATA))
        return std::nullopt;
    body = std::move(*frame);
    return ParseGameDataChunk(std::span<const std::uint8_t>(body).subspan(1));
}

bool CRawMatchClient::ClosedByServer(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        const int left = MsLeft(deadline);
        if (left <= 0 || !m_socket.WaitReadable(left))
            return false;
        std::array<std::uint8_t, 4096> scratch;
        if (m_socket.Recv(scratch.data(), scratch.size()) <= 0)
            return true;
    }
}

} // namespace velt
