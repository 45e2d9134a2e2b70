#include "tests/doubles/CScriptedMatchServer.h"

#include <algorithm>
#include <chrono>

#include "server/CFrameAssembler.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"

namespace velt
{

CScriptedMatchServer::CScriptedMatchServer(IClock& clock) : m_clock(clock) {}

CScriptedMatchServer::~CScriptedMatchServer()
{
    Stop();
}

bool CScriptedMatchServer::Start(std::uint16_t port)
{
    if (m_listener.Open("127.0.0.1", port, 16) != CTcpListener::Error::kNone)
        return false;
    return m_acceptThread.Start([this] { AcceptLoop(); });
}

void CScriptedMatchServer::Stop()
{
    m_stopping.store(true, std::memory_order_release);
    m_listener.Shutdown();
    m_acceptThread.Join();
    {
        std::lock_guard lock(m_mutex);
        for (auto& client : m_clients)
            client->m_socket.Shutdown();
    }
    // The accept thread has ended, so the list no longer grows; the readers take m_mutex, so
    // they are joined without it.
    for (auto& client : m_clients)
        client->m_reader.Join();
    m_listener.Close();
}

void CScriptedMatchServer::AcceptLoop()
{
    while (!m_stopping.load(std::memory_order_acquire))
    {
        CTcpSocket socket = m_listener.Accept();
        if (!socket.IsValid())
            return;
        socket.SetNoDelay(true);
        AcceptHandler onAccept;
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping.load(std::memory_order_acquire))
                return;
            auto client = std::make_unique<Client>();
            client->m_socket = std::move(socket);
            index = m_clients.size();
            Client& added = *client;
            m_clients.push_back(std::move(client));
            added.m_reader.Start([this, index, &added] { ReadLoop(index, added); });
            onAccept = m_acceptHandler;
        }
        m_changed.notify_all();
        if (onAccept)
            onAccept(*this, index);
    }
}

void CScriptedMatchServer::ReadLoop(std::size_t index, Client& client)
{
    // One receive takes whatever has arrived, often a whole request, and the frames are cut
    // from it: the server answers at once and costs a client as little as it can.
    auto assembler = std::make_unique<CFrameAssembler>();
    for (bool open = true; open && !assembler->Broken();)
    {
        const std::span<std::uint8_t> space = assembler->FreeSpace();
        const int received = client.m_socket.Recv(space.data(), space.size());
        if (received <= 0)
            break;
        assembler->Commit(static_cast<std::size_t>(received));
        while (auto body = assembler->Next())
        {
            if (body->empty())
                continue;
            ReceivedFrame frame{index, (*body)[0],
                                std::vector<std::uint8_t>(body->begin() + 1, body->end())};
            {
                std::lock_guard lock(m_mutex);
                m_frames.push_back(frame);
            }
            m_changed.notify_all();
            OnFrame(frame);
        }
    }
    client.m_socket.Shutdown();
    {
        std::lock_guard lock(m_mutex);
        client.m_closed.store(true, std::memory_order_release);
    }
    m_changed.notify_all();
}

void CScriptedMatchServer::OnFrame(const ReceivedFrame& frame)
{
    FrameHandler handler;
    std::vector<std::vector<std::uint8_t>> answer;
    SendPlan plan;
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_handlers.find(frame.m_code); found != m_handlers.end())
            handler = found->second;
        else if (frame.m_code == CodeByte(MessageCode::MSG_MATCH_INFO))
        {
            answer = ListAnswer(m_listScript);
            plan = m_listScript.m_plan;
        }
    }
    if (handler)
    {
        handler(*this, frame.m_client, frame);
        return;
    }
    if (ServeMatchRequest(frame))
        return;
    for (const auto& buffer : answer)
        if (!Send(frame.m_client, buffer, plan))
            return;
}

std::vector<std::vector<std::uint8_t>> CScriptedMatchServer::ListAnswer(const ListScript& script)
{
    std::vector<std::vector<std::uint8_t>> buffers = script.m_frames;
    if (script.m_ending == ListEnding::kListEnd)
        buffers.push_back(BuildFrame({CodeByte(MessageCode::MSG_LIST_END), {}}));
    else if (script.m_ending == ListEnding::kChannelInvalid)
        buffers.push_back(BuildFrame({script.m_refusalCode, {}}));
    if (!script.m_coalesce || buffers.size() < 2)
        return buffers;
    std::vector<std::uint8_t> joined;
    for (const auto& buffer : buffers)
        joined.insert(joined.end(), buffer.begin(), buffer.end());
    return {std::move(joined)};
}

bool CScriptedMatchServer::ServeMatchRequest(const ReceivedFrame& frame)
{
    std::vector<std::uint8_t> answer;
    bool drop = false;
    if (frame.m_code == CodeByte(MessageCode::MSG_REPLAY_HEADER))
    {
        const auto request = ParseReplayHeaderRequest(frame.m_payload);
        if (!request)
            return true;
        std::lock_guard lock(m_mutex);
        const auto found = m_matches.find(request->m_matchId);
        if (found == m_matches.end())
            return true;
        answer = BuildReplayHeaderReply({request->m_matchId, found->second.m_header});
    }
    else if (frame.m_code == CodeByte(MessageCode::MSG_GAME_DATA))
    {
        const auto request = ParseGameDataRequest(frame.m_payload);
        if (!request)
            return true;
        std::lock_guard lock(m_mutex);
        const auto found = m_matches.find(request->m_matchId);
        if (found == m_matches.end())
            return true;
        ScriptedMatch& match = found->second;
        answer = ChunkFor(match, request->m_offset);
        if (match.m_dropAtOffset && request->m_offset >= *match.m_dropAtOffset)
        {
            match.m_dropAtOffset.reset();
            answer.resize(answer.size() / 2);
            drop = true;
        }
    }
    else
    {
        return false;
    }
    Send(frame.m_client, answer);
    if (drop)
        CloseClient(frame.m_client);
    return true;
}

std::vector<std::uint8_t> CScriptedMatchServer::ChunkFor(const ScriptedMatch& match,
                                                         std::uint32_t offset)
{
    const std::uint32_t available = std::min<std::uint32_t>(
        match.m_available, static_cast<std::uint32_t>(match.m_stream.size()));
    if (offset >= available)
    {
        const std::uint32_t count = match.m_ended ? kEndMarkerCount : 0;
        return BuildGameDataChunk({match.m_matchId, offset, count, {}, match.m_matchSeconds});
    }
    const std::uint32_t count = std::min(match.m_chunkLimit, available - offset);
    return BuildGameDataChunk({match.m_matchId, offset, count,
                               std::span(match.m_stream).subspan(offset, count),
                               match.m_matchSeconds});
}

void CScriptedMatchServer::AddMatch(ScriptedMatch match)
{
    std::lock_guard lock(m_mutex);
    const std::uint32_t matchId = match.m_matchId;
    m_matches.insert_or_assign(matchId, std::move(match));
}

void CScriptedMatchServer::ReleaseStream(std::uint32_t matchId, std::uint32_t available,
                                         std::uint16_t matchSeconds)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_matches.find(matchId); found != m_matches.end())
    {
        found->second.m_available = available;
        found->second.m_matchSeconds = matchSeconds;
    }
}

void CScriptedMatchServer::EndStream(std::uint32_t matchId)
{
    std::lock_guard lock(m_mutex);
    if (const auto found = m_matches.find(matchId); found != m_matches.end())
        found->second.m_ended = true;
}

std::vector<CScriptedMatchServer::DataRequest> CScriptedMatchServer::DataRequests() const
{
    std::lock_guard lock(m_mutex);
    std::vector<DataRequest> requests;
    for (const ReceivedFrame& frame : m_frames)
        if (frame.m_code == CodeByte(MessageCode::MSG_GAME_DATA))
            if (const auto request = ParseGameDataRequest(frame.m_payload))
                requests.push_back({frame.m_client, request->m_matchId, request->m_offset});
    return requests;
}

std::vector<std::uint32_t> CScriptedMatchServer::DataRequestOffsets(std::uint32_t matchId) const
{
    std::vector<std::uint32_t> offsets;
    for (const DataRequest& request : DataRequests())
        if (request.m_matchId == matchId)
            offsets.push_back(request.m_offset);
    return offsets;
}

bool CScriptedMatchServer::HasDataRequest(std::uint32_t matchId, std::uint32_t offset) const
{
    return std::any_of(m_frames.begin(), m_frames.end(),
                       [&](const ReceivedFrame& frame)
                       {
                           if (frame.m_code != CodeByte(MessageCode::MSG_GAME_DATA))
                               return false;
                           const auto request = ParseGameDataRequest(frame.m_payload);
                           return request && request->m_matchId == matchId &&
                                  request->m_offset == offset;
                       });
}

bool CScriptedMatchServer::WaitForDataRequest(std::uint32_t matchId, std::uint32_t offset,
                                              std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return HasDataRequest(matchId, offset); });
}

void CScriptedMatchServer::SetListScript(ListScript script)
{
    std::lock_guard lock(m_mutex);
    m_listScript = std::move(script);
}

void CScriptedMatchServer::SetHandler(MessageCode code, FrameHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[CodeByte(code)] = std::move(handler);
}

void CScriptedMatchServer::SetAcceptHandler(AcceptHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_acceptHandler = std::move(handler);
}

std::size_t CScriptedMatchServer::ClientCount() const
{
    std::lock_guard lock(m_mutex);
    return m_clients.size();
}

bool CScriptedMatchServer::WaitForClients(std::size_t count, std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_clients.size() >= count; });
}

CScriptedMatchServer::Client* CScriptedMatchServer::FindClient(std::size_t index) const
{
    std::lock_guard lock(m_mutex);
    return index < m_clients.size() ? m_clients[index].get() : nullptr;
}

bool CScriptedMatchServer::Send(std::size_t client, std::span<const std::uint8_t> bytes,
                                const SendPlan& plan)
{
    Client* target = FindClient(client);
    if (target == nullptr)
        return false;
    std::lock_guard sendLock(target->m_sendMutex);
    return SendLocked(*target, bytes, plan);
}

bool CScriptedMatchServer::SendLocked(Client& client, std::span<const std::uint8_t> bytes,
                                      const SendPlan& plan)
{
    if (plan.m_kind == SendPlan::Kind::kWhole)
        return client.m_socket.Send(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
    std::vector<std::size_t> starts{0};
    if (plan.m_kind == SendPlan::Kind::kByteByByte)
        for (std::size_t at = 1; at < bytes.size(); ++at)
            starts.push_back(at);
    else if (plan.m_kind == SendPlan::Kind::kAtCuts)
        for (std::size_t cut : plan.m_cuts)
            if (cut > starts.back() && cut < bytes.size())
                starts.push_back(cut);
    starts.push_back(bytes.size());
    for (std::size_t piece = 0; piece + 1 < starts.size(); ++piece)
    {
        if (piece > 0 && plan.m_pauseMs > 0)
            m_clock.SleepMs(plan.m_pauseMs);
        const auto part = bytes.subspan(starts[piece], starts[piece + 1] - starts[piece]);
        if (client.m_socket.Send(part.data(), part.size()) != static_cast<int>(part.size()))
            return false;
    }
    return true;
}

bool CScriptedMatchServer::SendFrames(std::size_t client,
                                      const std::vector<std::vector<std::uint8_t>>& frames,
                                      bool coalesce, const SendPlan& plan)
{
    if (!coalesce)
    {
        for (const auto& frame : frames)
            if (!Send(client, frame, plan))
                return false;
        return true;
    }
    std::vector<std::uint8_t> joined;
    for (const auto& frame : frames)
        joined.insert(joined.end(), frame.begin(), frame.end());
    return Send(client, joined, plan);
}

void CScriptedMatchServer::CloseClient(std::size_t client)
{
    if (Client* target = FindClient(client))
        target->m_socket.Shutdown();
}

bool CScriptedMatchServer::WaitClientClosed(std::size_t client, std::uint32_t timeoutMs)
{
    Client* target = FindClient(client);
    if (target == nullptr)
        return false;
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return target->m_closed.load(std::memory_order_acquire); });
}

std::vector<CScriptedMatchServer::ReceivedFrame> CScriptedMatchServer::Frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

std::size_t CScriptedMatchServer::FrameCount(MessageCode code) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_frames.begin(), m_frames.end(),
                                                  [&](const ReceivedFrame& frame)
                                                  { return frame.m_code == CodeByte(code); }));
}

std::optional<CScriptedMatchServer::ReceivedFrame>
CScriptedMatchServer::WaitForFrame(MessageCode code, std::uint32_t timeoutMs, std::size_t nth)
{
    std::unique_lock lock(m_mutex);
    std::optional<ReceivedFrame> found;
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&]
                       {
                           std::size_t seen = 0;
                           for (const ReceivedFrame& frame : m_frames)
                               if (frame.m_code == CodeByte(code) && seen++ == nth)
                               {
                                   found = frame;
                                   return true;
                               }
                           return false;
                       });
    return found;
}

} // namespace velt
