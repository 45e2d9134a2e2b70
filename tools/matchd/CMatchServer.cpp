#include "tools/matchd/CMatchServer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "server/MessageCode.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CStatsStore.h"

namespace velt
{

namespace
{

// Room for a burst of clients connecting at once; a full queue delays a connect by a second.
constexpr int kListenBacklog = 1024;

std::uint32_t LengthField(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& frame)
{
    out.insert(out.end(), frame.begin(), frame.end());
}

bool SendAll(CTcpSocket& socket, const std::vector<std::uint8_t>& bytes)
{
    return socket.Send(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
}

std::vector<std::uint8_t> EmptyFrame(MessageCode code)
{
    return BuildFrame({CodeByte(code), {}});
}

} // namespace

CMatchServer::CMatchServer(const CMatchArchive& archive, CStatsStore& stats,
                           MatchServerSettings settings)
    : m_archive(archive), m_stats(stats), m_settings(std::move(settings))
{
}

CMatchServer::~CMatchServer() { Stop(); }

bool CMatchServer::Start()
{
    const auto error = m_listener.Open(m_settings.m_listenHost, m_settings.m_listenPort,
                                       kListenBacklog);
    if (error != CTcpListener::Error::kNone)
    {
        m_error = "cannot listen on " + m_settings.m_listenHost + ":" +
                  std::to_string(m_settings.m_listenPort);
        return false;
    }
    m_stopping.store(false, std::memory_order_release);
    if (!m_acceptThread.Start([this] { AcceptLoop(); }))
    {
        m_listener.Close();
        m_error = "cannot start the accept thread";
        return false;
    }
    return true;
}

void CMatchServer::Stop()
{
    m_stopping.store(true, std::memory_order_release);
    m_listener.Shutdown();
    m_acceptThread.Join();
    m_listener.Close();
    std::lock_guard lock(m_sessionsMutex);
    for (auto& session : m_sessions)
        session->m_socket.Shutdown();
    // Each thread ends once its socket fails; joining happens as the sessions go.
    m_sessions.clear();
}

std::string CMatchServer::ListenAddress() const
{
    return m_settings.m_listenHost + ":" + std::to_string(Port());
}

std::size_t CMatchServer::ActiveClients()
{
    std::lock_guard lock(m_sessionsMutex);
    return static_cast<std::size_t>(std::count_if(
        m_sessions.begin(), m_sessions.end(),
        [](const auto& session) { return !session->m_thread.Finished(); }));
}

void CMatchServer::ReapFinished()
{
    std::lock_guard lock(m_sessionsMutex);
    m_sessions.remove_if([](const auto& session) { return session->m_thread.Finished(); });
}

void CMatchServer::AcceptLoop()
{
    while (!m_stopping.load(std::memory_order_acquire))
    {
        CTcpSocket socket = m_listener.Accept();
        if (!socket.IsValid())
        {
            if (m_stopping.load(std::memory_order_acquire) || !m_listener.IsValid())
                return;
            continue;
        }
        ReapFinished();
        std::lock_guard lock(m_sessionsMutex);
        if (m_stopping.load(std::memory_order_acquire) ||
            m_sessions.size() >= m_settings.m_maxClients)
            continue; // the socket closes as it goes out of scope
        socket.SetNoDelay(true);
        auto session = std::make_unique<ClientSession>();
        session->m_socket = std::move(socket);
        ClientSession* raw = session.get();
        if (raw->m_thread.Start([this, raw] { Serve(raw->m_socket); }))
            m_sessions.push_back(std::move(session));
    }
}

// Reads frames into a small buffer: every request is at most kMaxRequestLength after its
// length field, so a length beyond that is refused before its body is read.
void CMatchServer::Serve(CTcpSocket& socket)
{
    std::array<std::uint8_t, 4 * (kFrameLengthBytes + kMaxRequestLength)> buffer{};
    std::size_t used = 0;
    for (;;)
    {
        const int received = socket.Recv(buffer.data() + used, buffer.size() - used);
        if (received <= 0)
            break;
        used += static_cast<std::size_t>(received);
        bool keep = true;
        std::size_t consumed = 0;
        while (keep && used - consumed >= kFrameLengthBytes)
        {
            const auto pending = std::span<const std::uint8_t>(buffer).subspan(consumed, used - consumed);
            const std::uint32_t length = LengthField(pending);
            if (length == 0 || length > kMaxRequestLength)
            {
                keep = false;
                break;
            }
            const FrameCut cut = CutFrame(pending);
            if (cut.m_status == FrameStatus::kNeedMore)
                break;
            keep = cut.m_status == FrameStatus::kFrame && !cut.m_discard &&
                   Answer(socket, cut.m_body);
            consumed += cut.m_frameSize;
        }
        if (!keep)
            break;
        std::memmove(buffer.data(), buffer.data() + consumed, used - consumed);
        used -= consumed;
    }
    // Wakes nothing else; the descriptor itself is released when the session is reaped.
    socket.Shutdown();
}

bool CMatchServer::IsServed(std::uint32_t channelId) const
{
    return std::find(m_settings.m_channels.begin(), m_settings.m_channels.end(), channelId) !=
           m_settings.m_channels.end();
}

bool CMatchServer::AnswerList(CTcpSocket& socket, std::span<const std::uint8_t> payload)
{
    const auto request = ParseMatchListRequest(payload);
    if (!request)
        return false;
    if (!IsServed(request->m_channelId))
        return SendAll(socket, EmptyFrame(MessageCode::MSG_CHANNEL_INVALID));
    std::vector<std::uint8_t> answer;
    for (const CMatchInfo& info : m_archive.Records())
    {
        Append(answer, BuildMatchRecord(info));
        Append(answer, BuildMatchStats(m_stats.Stats(info.m_matchId)));
    }
    Append(answer, EmptyFrame(MessageCode::MSG_LIST_END));
    return SendAll(socket, answer);
}

bool CMatchServer::Answer(CTcpSocket& socket, std::span<const std::uint8_t> body)
{
    const std::uint8_t code = body[0];
    const auto payload = body.subspan(1);
    switch (static_cast<MessageCode>(code))
    {
    case MessageCode::MSG_MATCH_INFO:
        return AnswerList(socket, payload);
    case MessageCode::MSG_REPLAY_HEADER: {
        const auto request = ParseReplayHeaderRequest(payload);
        if (!request)
            return false;
        const auto header = m_archive.Header(request->m_matchId);
        // An unknown match gets no header at all.
        if (header.empty())
            return true;
        m_stats.AddVisit(request->m_matchId);
        return SendAll(socket, BuildReplayHeaderReply({request->m_matchId, header}));
    }
    case MessageCode::MSG_GAME_DATA: {
        const auto request = ParseGameDataRequest(payload);
        if (!request)
            return false;
        return SendAll(socket,
                       BuildGameDataChunk(m_archive.Chunk(request->m_matchId, request->m_offset)));
    }
    case MessageCode::MSG_RATE: {
        const auto request = ParseRateMessage(payload);
        if (!request)
            return false;
        // Ratings outside 1 to 5, for unknown matches or other channels do not count.
        if (IsServed(request->m_channelId) && m_archive.Find(request->m_matchId) != nullptr)
            m_stats.AddRating(request->m_matchId, static_cast<std::uint8_t>(request->m_rating));
        return true;
    }
    default:
        return false;
    }
}

} // namespace velt
