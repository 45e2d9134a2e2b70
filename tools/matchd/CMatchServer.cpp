#include "tools/matchd/CMatchServer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "server/Framing.h"

namespace velt
{

namespace
{

// Room for a burst of clients connecting at once; a full queue delays a connect by a second.
constexpr int kListenBacklog = 1024;
// A failed accept (say, out of descriptors) is tried again after this, not in a tight loop.
constexpr std::uint32_t kAcceptRetryMs = 50;

} // namespace

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
    const auto error =
        m_listener.Open(m_settings.m_listenHost, m_settings.m_listenPort, kListenBacklog);
    if (error != CTcpListener::Error::kNone)
    {
        m_error = "cannot listen on " + m_settings.m_listenHost + ":" +
                  std::to_string(m_settings.m_listenPort);
        return false;
    }
    m_stopping.store(false, std::memory_order_release);
    m_stopEvent.Reset();
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
    m_stopEvent.Set();
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
    return static_cast<std::size_t>(std::count_if(m_sessions.begin(), m_sessions.end(),
                                                  [](const auto& session)
                                                  { return !session->m_thread.Finished(); }));
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
            if (m_stopping.load(std::memory_order_acquire) || !m_listener.IsValid() ||
                m_stopEvent.Wait(kAcceptRetryMs))
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

// Collects the client's bytes and answers each whole request; every request is at most
// kMaxRequestLength after its length field, so a small buffer does.
void CMatchServer::Serve(CTcpSocket& socket)
{
    std::array<std::uint8_t, 4 * (kFrameLengthBytes + kMaxRequestLength)> buffer{};
    std::vector<std::uint8_t> answer;
    std::size_t used = 0;
    bool keep = true;
    while (keep)
    {
        const int received = socket.Recv(buffer.data() + used, buffer.size() - used);
        if (received <= 0)
            break;
        used += static_cast<std::size_t>(received);
        std::size_t consumed = 0;
        for (;;)
        {
            const RequestCut cut = CutRequest(
                std::span<const std::uint8_t>(buffer).subspan(consumed, used - consumed));
            if (cut.m_kind == RequestCut::Kind::kNeedMore)
                break;
            answer.clear();
            keep = cut.m_kind == RequestCut::Kind::kRequest && m_handler.Handle(cut.m_body, answer);
            if (keep && !answer.empty())
                keep = socket.Send(answer.data(), answer.size()) == static_cast<int>(answer.size());
            if (!keep)
                break;
            consumed += cut.m_size;
        }
        std::memmove(buffer.data(), buffer.data() + consumed, used - consumed);
        used -= consumed;
    }
    // The descriptor itself is released when the session is reaped.
    socket.Shutdown();
}

} // namespace velt
