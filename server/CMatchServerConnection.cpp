#include "server/CMatchServerConnection.h"

#include <algorithm>
#include <iterator>

#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CFrameAssembler.h"
#include "server/MessageCode.h"

namespace velt
{

// One connection to the server and the thread that reads it. The socket is shared with the
// senders, which may still hold it for a moment after the connection has been replaced.
struct CMatchServerConnection::Connection
{
    std::shared_ptr<CTcpSocket> m_socket;
    std::uint64_t m_generation = 0;
    std::uint64_t m_answers = 0; // game-data answers on it (under m_connectionMutex)
    CThread m_thread;            // last, so that it is joined before the socket goes
};

const CMatchServerConnection::DispatchRow CMatchServerConnection::kDispatchTable[] = {
    {CodeByte(MessageCode::MSG_GAME_DATA), CodeByte(MessageCode::MSG_GAME_DATA),
     &CMatchServerConnection::OnGameData},
    {CodeByte(MessageCode::MSG_MATCH_INFO), CodeByte(MessageCode::MSG_MATCH_INFO),
     &CMatchServerConnection::OnMatchRecord},
    {CodeByte(MessageCode::MSG_REPLAY_HEADER), CodeByte(MessageCode::MSG_REPLAY_HEADER),
     &CMatchServerConnection::OnReplayHeader},
    {CodeByte(MessageCode::MSG_IGNORED_FIRST), CodeByte(MessageCode::MSG_IGNORED_LAST),
     &CMatchServerConnection::OnIgnored},
    {CodeByte(MessageCode::MSG_CHANNEL_INVALID_47), CodeByte(MessageCode::MSG_CHANNEL_INVALID_48),
     &CMatchServerConnection::OnChannelInvalid},
    {CodeByte(MessageCode::MSG_LIST_END), CodeByte(MessageCode::MSG_LIST_END),
     &CMatchServerConnection::OnListEnd},
    {CodeByte(MessageCode::MSG_CHANNEL_INVALID), CodeByte(MessageCode::MSG_CHANNEL_INVALID),
     &CMatchServerConnection::OnChannelInvalid},
    {CodeByte(MessageCode::MSG_MATCH_STATS), CodeByte(MessageCode::MSG_MATCH_STATS),
     &CMatchServerConnection::OnMatchStats},
};

CMatchServerConnection::CMatchServerConnection(IServerMessages& messages) : m_messages(messages) {}

CMatchServerConnection::~CMatchServerConnection()
{
    Close();
}

void CMatchServerConnection::Close()
{
    // Wake every receive thread and wait for it before the tables and events go away.
    std::vector<std::unique_ptr<Connection>> ending;
    {
        std::lock_guard connectLock(m_connectMutex);
        std::lock_guard lock(m_connectionMutex);
        if (m_current)
            ending.push_back(std::move(m_current));
        for (auto& connection : m_retired)
            ending.push_back(std::move(connection));
        m_retired.clear();
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        m_connected.store(false, std::memory_order_release);
    }
    for (auto& connection : ending)
        connection->m_socket->Shutdown();
}

bool CMatchServerConnection::IsConnected() const
{
    return m_connected.load(std::memory_order_acquire);
}

bool CMatchServerConnection::Connect(const std::string& dottedIp, std::uint16_t port,
                                     std::uint32_t timeoutMs,
                                     const std::function<bool()>& cancelled)
{
    std::lock_guard connectLock(m_connectMutex);

    // Close the current connection first, whatever its state; its receive thread ends on the
    // shut-down socket and is joined later, so that a thread busy in a handler does not hold
    // up the caller.
    {
        std::lock_guard lock(m_connectionMutex);
        if (m_current)
        {
            m_current->m_socket->Shutdown();
            m_retired.push_back(std::move(m_current));
        }
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        m_connected.store(false, std::memory_order_release);
    }
    ReapEndedConnections();

    auto socket =
        std::make_shared<CTcpSocket>(CTcpSocket::Connect(dottedIp, port, timeoutMs, cancelled));
    if (!socket->IsValid())
        return false;

    auto connection = std::make_unique<Connection>();
    connection->m_socket = socket;
    Connection* started = connection.get();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_connectionMutex);
        generation = m_generation.fetch_add(1, std::memory_order_acq_rel) + 1;
        connection->m_generation = generation;
        m_current = std::move(connection);
        m_serverIp = dottedIp;
        m_serverPort = port;
        m_requestPendingSince.store(0);
        m_connected.store(true, std::memory_order_release);
        m_connectionLost.store(false, std::memory_order_release);
    }
    if (!started->m_thread.Start([this, socket, generation] { ReceiveLoop(socket, generation); }))
    {
        ClearConnected(generation);
        return false;
    }
    return true;
}

void CMatchServerConnection::ReapEndedConnections()
{
    std::erase_if(m_retired, [](const std::unique_ptr<Connection>& connection)
                  { return connection->m_thread.Finished(); });
}

void CMatchServerConnection::ReceiveLoop(std::shared_ptr<CTcpSocket> socket,
                                         std::uint64_t generation)
{
    auto assembler = std::make_unique<CFrameAssembler>();
    for (;;)
    {
        const std::span<std::uint8_t> space = assembler->FreeSpace();
        const int received = socket->Recv(space.data(), space.size());
        if (received <= 0)
            break;
        assembler->Commit(static_cast<std::size_t>(received));
        bool stale = false;
        while (auto body = assembler->Next())
        {
            // Frames still buffered from a replaced connection are not the new one's business.
            if (m_generation.load(std::memory_order_acquire) != generation)
            {
                stale = true;
                break;
            }
            Dispatch(*body, generation);
        }
        if (stale)
            break;
        if (assembler->Broken())
        {
            // A frame too large even to skip: the stream cannot be trusted any more.
            socket->Shutdown();
            break;
        }
    }
    // The server or the network ended the connection (unless it was replaced or torn down).
    ClearConnected(generation, true);
}

void CMatchServerConnection::DispatchFrame(std::span<const std::uint8_t> body)
{
    Dispatch(body, m_generation.load(std::memory_order_acquire));
}

void CMatchServerConnection::Dispatch(std::span<const std::uint8_t> body, std::uint64_t generation)
{
    if (!body.empty())
    {
        const std::uint8_t code = body[0];
        const auto row = std::find_if(std::begin(kDispatchTable), std::end(kDispatchTable),
                                      [code](const DispatchRow& r)
                                      { return code >= r.m_first && code <= r.m_last; });
        if (row != std::end(kDispatchTable))
            (this->*row->m_handler)(body.subspan(1), generation);
    }
    // Counted once handled, so that whoever watches the count sees the frame's effects.
    m_framesDispatched.fetch_add(1, std::memory_order_acq_rel);
}

void CMatchServerConnection::OnGameData(std::span<const std::uint8_t> payload,
                                        std::uint64_t generation)
{
    m_messages.OnGameData(payload, generation);
}

void CMatchServerConnection::OnMatchRecord(std::span<const std::uint8_t> payload, std::uint64_t)
{
    m_messages.OnMatchRecord(payload);
}

void CMatchServerConnection::OnReplayHeader(std::span<const std::uint8_t> payload, std::uint64_t)
{
    m_messages.OnReplayHeader(payload);
}

void CMatchServerConnection::OnMatchStats(std::span<const std::uint8_t> payload, std::uint64_t)
{
    m_messages.OnMatchStats(payload);
}

void CMatchServerConnection::OnIgnored(std::span<const std::uint8_t>, std::uint64_t) {}

void CMatchServerConnection::OnChannelInvalid(std::span<const std::uint8_t>,
                                              std::uint64_t generation)
{
    ClearConnected(generation);
    m_channelInvalidEvent.Set();
}

void CMatchServerConnection::OnListEnd(std::span<const std::uint8_t>, std::uint64_t)
{
    m_listEndEvent.Set();
}

void CMatchServerConnection::ClearConnected(std::uint64_t generation, bool lost)
{
    std::lock_guard lock(m_connectionMutex);
    if (m_generation.load(std::memory_order_acquire) != generation)
        return;
    if (lost && m_connected.load(std::memory_order_acquire))
        m_connectionLost.store(true, std::memory_order_release);
    m_connected.store(false, std::memory_order_release);
}

std::pair<std::shared_ptr<CTcpSocket>, std::uint64_t> CMatchServerConnection::CurrentSocket() const
{
    std::lock_guard lock(m_connectionMutex);
    if (!m_current)
        return {nullptr, m_generation.load(std::memory_order_acquire)};
    return {m_current->m_socket, m_current->m_generation};
}

bool CMatchServerConnection::Send(std::span<const std::uint8_t> frame)
{
    const auto [socket, generation] = CurrentSocket();
    if (socket && socket->Send(frame.data(), frame.size()) == static_cast<int>(frame.size()))
        return true;
    ClearConnected(generation);
    return false;
}

int CMatchServerConnection::SendRaw(const std::uint8_t* data, std::size_t size)
{
    const auto socket = CurrentSocket().first;
    if (!socket)
        return -1;
    return socket->Send(data, size);
}

void CMatchServerConnection::Drop()
{
    std::lock_guard lock(m_connectionMutex);
    if (m_current)
        m_current->m_socket->Shutdown();
}

LinkState CMatchServerConnection::State() const
{
    std::lock_guard lock(m_connectionMutex);
    if (!m_current)
        return {};
    return {m_connected.load(std::memory_order_acquire), m_current->m_generation,
            m_current->m_answers};
}

std::pair<std::string, std::uint16_t> CMatchServerConnection::LastAddress() const
{
    std::lock_guard lock(m_connectionMutex);
    return {m_serverIp, m_serverPort};
}

bool CMatchServerConnection::CountAnswer(std::uint64_t generation)
{
    std::lock_guard lock(m_connectionMutex);
    return m_current && m_current->m_generation == generation && m_current->m_answers++ == 0;
}

bool CMatchServerConnection::TakeLoss()
{
    return m_connectionLost.exchange(false, std::memory_order_acq_rel);
}

void CMatchServerConnection::ForgetLoss()
{
    m_connectionLost.store(false);
}

void CMatchServerConnection::NoteRequestSent(std::uint64_t nowMs)
{
    std::uint64_t none = 0;
    m_requestPendingSince.compare_exchange_strong(none, std::max<std::uint64_t>(1, nowMs));
}

void CMatchServerConnection::NoteAnswer()
{
    m_requestPendingSince.store(0);
}

std::uint64_t CMatchServerConnection::RequestPendingSince() const
{
    return m_requestPendingSince.load();
}

std::uint64_t CMatchServerConnection::FramesDispatched() const
{
    return m_framesDispatched.load(std::memory_order_acquire);
}

std::size_t CMatchServerConnection::ReceiveThreadsRunning() const
{
    std::lock_guard connectLock(m_connectMutex);
    std::size_t running = 0;
    if (m_current && !m_current->m_thread.Finished())
        ++running;
    for (const auto& connection : m_retired)
        running += connection->m_thread.Finished() ? 0 : 1;
    return running;
}

} // namespace velt
