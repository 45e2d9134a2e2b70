#include "tests/doubles/HostRig.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "host/ReplayHeaderBuilder.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "server/MatchServerMessages.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/w3gs/TimeSlotChecksum.h"

namespace velt::test
{

HostTimings FastTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 20;
    timings.m_dataWaitMs = 1500;
    timings.m_emptyChunkHoldMs = 40;
    timings.m_haltPeriodMs = 30;
    timings.m_readWatchMs = 150;
    timings.m_bufferingHaltMs = 50;
    timings.m_startPauseMs = 5;
    timings.m_stopWaitMs = 500;
    timings.m_requestRetryMs = 5000;
    return timings;
}

HeaderOptions MatchHeader(bool live, std::uint16_t matchSeconds)
{
    HeaderOptions header;
    header.m_live = live;
    header.m_matchSeconds = matchSeconds;
    return header;
}

std::vector<std::uint8_t> BuildTestHeader(const HeaderOptions& options)
{
    ReplayHeaderContent content;
    content.m_tag = std::string(ReplayHeader::kDefaultTag);
    content.m_presenter = options.m_presenter;
    content.m_matchSeconds = options.m_matchSeconds;
    content.m_live = options.m_live;
    GameInfoParams info;
    info.m_gameName = options.m_gameName;
    info.m_version = options.m_gameVersion;
    info.m_entryKey = 0x1234;
    info.m_stat.m_mapPath = options.m_mapPath;
    info.m_stat.m_hostName = "VELT";
    content.m_announcement = BuildGameInfo(info);
    SlotTable table;
    for (std::size_t i = 0; i < options.m_players.size(); ++i)
    {
        SlotRecord slot;
        slot.m_playerId = static_cast<std::uint8_t>(i + 1);
        slot.m_team = options.m_players[i].m_team;
        slot.m_colour = options.m_players[i].m_team;
        table.m_slots.push_back(slot);
        content.m_playerPackets.push_back(
            options.m_players[i].m_name.empty()
                ? std::vector<std::uint8_t>{}
                : BuildPlayerInfo({2, static_cast<std::uint8_t>(i + 1), options.m_players[i].m_name,
                                   PlayerInfoPaddingFor(options.m_gameVersion)}));
    }
    content.m_joinReply = BuildSlotInfoJoin({table, 2, 6112, {127, 0, 0, 1}});
    MapCheckParams map;
    map.m_mapPath = options.m_mapPath;
    map.m_fileSize = 1000;
    content.m_mapCheck = BuildMapCheck(map);
    content.m_slotTable = BuildSlotInfo(table);
    content.m_countdown = BuildCountdownStart();
    const auto end = BuildCountdownEnd();
    content.m_countdown.insert(content.m_countdown.end(), end.begin(), end.end());
    content.m_slogan = "Watch and learn.";
    return BuildReplayHeader(content);
}

std::vector<std::uint8_t> Slot(std::uint16_t intervalMs, std::vector<ActionBlock> blocks)
{
    return BuildTimeSlot({intervalMs, std::move(blocks)}, TimeSlotChecksum);
}

std::vector<std::uint8_t> ActionSlot(std::uint16_t intervalMs, std::uint8_t player,
                                     std::vector<std::uint8_t> actions)
{
    return Slot(intervalMs, {{player, std::move(actions)}});
}

std::vector<std::uint8_t> PingSlot(std::uint16_t intervalMs, std::uint8_t player)
{
    return ActionSlot(intervalMs, player,
                      {0x68, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0xA0, 0x40});
}

std::vector<std::uint8_t> RecordedChat(std::uint8_t sender, const std::string& text)
{
    return BuildChatFromHost({{1, 2, 3}, sender, ChatKind::kInGame, 0, text});
}

std::vector<std::uint8_t> PlayerLeft(std::uint8_t player)
{
    return BuildPlayerLeave({player, kLeaveReasonLost});
}

CStreamBuilder& CStreamBuilder::Add(const std::vector<std::uint8_t>& bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

CStreamBuilder& CStreamBuilder::Slots(std::uint32_t count, std::uint16_t intervalMs)
{
    for (std::uint32_t i = 0; i < count; ++i)
        Add(ActionSlot(intervalMs, 1, {0x01}));
    return *this;
}

void SideBySide(std::size_t count, std::size_t atOnce, const std::function<void(std::size_t)>& run)
{
    for (std::size_t base = 0; base < count; base += atOnce)
    {
        std::vector<std::thread> runs;
        for (std::size_t i = base; i < std::min(count, base + atOnce); ++i)
            runs.emplace_back([&run, i] { run(i); });
        for (auto& thread : runs)
            thread.join();
    }
}

std::uint32_t SlotBytes(std::uint32_t slots)
{
    return slots * static_cast<std::uint32_t>(ActionSlot(100, 1, {0x01}).size());
}

std::string MinutesSecondsText(std::uint64_t ms)
{
    const std::uint64_t s = ms / 1000;
    return std::to_string(s / 60) + ":" + (s % 60 < 10 ? "0" : "") + std::to_string(s % 60);
}

std::string GameClockText(std::uint64_t gameMs)
{
    const std::uint64_t minutes = 8 * 60 + gameMs / 1000 * 3;
    return std::to_string(minutes / 60 % 24) + ":" + (minutes % 60 < 10 ? "0" : "") +
           std::to_string(minutes % 60);
}

bool HoldingTheGame(const GameSimRecord& record)
{
    // More than a speed change leaves in flight: five halt periods in a row.
    constexpr std::size_t kSlots = 5;
    const auto& log = record.m_slotLog;
    return log.size() > kSlots &&
           std::all_of(log.end() - kSlots, log.end(),
                       [](const GameSimSlot& s) { return s.m_intervalMs == 0; });
}

// ---- owner -------------------------------------------------------------------------------

CTestOwner::CTestOwner() = default;

CTestOwner::~CTestOwner() { StopServing(); }

void CTestOwner::Serve(CLocalGameHost& host)
{
    {
        std::lock_guard lock(m_mutex);
        m_host = &host;
        m_stopping = false;
    }
    m_thread.Start([this] { AnswerLoop(); });
}

void CTestOwner::StopServing()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.Join();
}

void CTestOwner::SetStream(std::vector<std::uint8_t> stream, std::uint32_t available, bool ended,
                           std::uint16_t matchSeconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_stream = std::move(stream);
        m_available = available;
        m_ended = ended;
        m_matchSeconds = matchSeconds;
    }
    m_changed.notify_all();
}

void CTestOwner::SetAvailable(std::uint32_t available, bool ended)
{
    {
        std::lock_guard lock(m_mutex);
        m_available = available;
        m_ended = ended;
    }
    m_changed.notify_all();
}

void CTestOwner::Grow(std::uint32_t available, std::uint16_t matchSeconds)
{
    {
        std::lock_guard lock(m_mutex);
        m_available = available;
        m_matchSeconds = matchSeconds;
    }
    m_changed.notify_all();
}

void CTestOwner::SetAnswering(Answering answering)
{
    {
        std::lock_guard lock(m_mutex);
        m_answering = answering;
    }
    m_changed.notify_all();
}

std::vector<CTestOwner::Request> CTestOwner::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::uint32_t CTestOwner::MaxOutstanding() const
{
    std::lock_guard lock(m_mutex);
    return m_maxOutstanding;
}

void CTestOwner::ResetMaxOutstanding()
{
    std::lock_guard lock(m_mutex);
    m_maxOutstanding = static_cast<std::uint32_t>(m_pending.size());
}

std::vector<std::vector<std::uint8_t>> CTestOwner::Ratings() const
{
    std::lock_guard lock(m_mutex);
    return m_ratings;
}

bool CTestOwner::WaitForRequests(std::size_t count, std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

bool CTestOwner::WaitIdle(std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return !m_inAnswer && (m_pending.empty() || m_answering == Answering::kSilent);
    });
}

std::string CTestOwner::LastMapQuery() const
{
    std::lock_guard lock(m_mutex);
    return m_lastMapQuery;
}

void CTestOwner::RequestGameData(std::uint32_t matchId, std::uint32_t offset)
{
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back({matchId, offset});
        m_pending.push_back({matchId, offset});
        m_maxOutstanding =
            std::max(m_maxOutstanding, static_cast<std::uint32_t>(m_pending.size()));
    }
    m_changed.notify_all();
}

bool CTestOwner::MapFileExists(const std::string& relativePath)
{
    {
        std::lock_guard lock(m_mutex);
        m_lastMapQuery = relativePath;
    }
    return m_mapExists.load();
}

void CTestOwner::SubmitRating(std::uint32_t matchId, std::uint8_t rating)
{
    std::lock_guard lock(m_mutex);
    m_ratings.push_back(BuildRateMessage({7, matchId, ClampRating(rating)}));
}

void CTestOwner::HoldAnswerAt(std::uint32_t offset, std::uint32_t holdMs)
{
    std::lock_guard lock(m_mutex);
    m_holdOffset = offset;
    m_holdMs = holdMs;
}

std::uint32_t CTestOwner::HeldAnswersSent() const
{
    std::lock_guard lock(m_mutex);
    return m_heldAnswersSent;
}

void CTestOwner::AnswerLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;)
    {
        const auto heldDue = [&] {
            return !m_held.empty() && m_held.front().first <= std::chrono::steady_clock::now();
        };
        // A silent server keeps its requests; they are answered once it speaks again.
        const auto ready = [&] {
            return m_stopping || heldDue() ||
                   (!m_pending.empty() && m_answering == Answering::kAnswer);
        };
        if (m_held.empty())
            m_changed.wait(lock, ready);
        else
            m_changed.wait_until(lock, m_held.front().first, ready);
        if (m_stopping)
            return;
        if (heldDue())
        {
            const Request request = m_held.front().second;
            m_held.pop_front();
            ++m_heldAnswersSent;
            Answer(lock, request);
            continue;
        }
        if (m_pending.empty() || m_answering != Answering::kAnswer)
            continue;
        const Request request = m_pending.front();
        m_pending.pop_front();
        if (m_holdOffset && *m_holdOffset == request.m_offset)
        {
            m_holdOffset.reset();
            m_held.emplace_back(std::chrono::steady_clock::now() + std::chrono::milliseconds(m_holdMs),
                                request);
            continue;
        }
        Answer(lock, request);
    }
}

void CTestOwner::Answer(std::unique_lock<std::mutex>& lock, const Request& request)
{
    std::vector<std::uint8_t> data;
    std::uint32_t count = 0;
    if (request.m_offset < m_available)
    {
        count = std::min<std::uint32_t>(CLocalGameHost::kFullChunk, m_available - request.m_offset);
        data.assign(m_stream.begin() + request.m_offset, m_stream.begin() + request.m_offset + count);
    }
    else if (m_ended)
    {
        count = CLocalGameHost::kFullChunk + 1;
    }
    const std::uint16_t seconds = m_matchSeconds;
    CLocalGameHost* host = m_host;
    m_inAnswer = true;
    lock.unlock();
    // As the receive thread does: the chunk goes to the host, which may ask for the next.
    host->AppendStreamChunk(request.m_offset, data.data(), count, seconds);
    lock.lock();
    m_inAnswer = false;
    m_changed.notify_all();
}

// ---- scripted game -----------------------------------------------------------------------

bool CScriptedGame::Connect(std::uint16_t port)
{
    m_socket = CTcpSocket::Connect("127.0.0.1", port);
    m_socket.SetNoDelay(true);
    return m_socket.IsValid();
}

bool CScriptedGame::Send(const std::vector<std::uint8_t>& bytes)
{
    return m_socket.Send(bytes.data(), bytes.size()) == static_cast<int>(bytes.size());
}

bool CScriptedGame::SendTogether(const std::vector<std::vector<std::uint8_t>>& packets)
{
    std::vector<std::uint8_t> all;
    for (const auto& packet : packets)
        all.insert(all.end(), packet.begin(), packet.end());
    return Send(all);
}

bool CScriptedGame::SendSplit(const std::vector<std::uint8_t>& packet, std::size_t firstPart)
{
    if (!Send(std::vector<std::uint8_t>(packet.begin(), packet.begin() + firstPart)))
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return Send(std::vector<std::uint8_t>(packet.begin() + firstPart, packet.end()));
}

std::optional<std::vector<std::uint8_t>> CScriptedGame::Read(std::uint32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        const GameFrame frame = FrameGamePacket(m_inbox);
        if (frame.m_kind == GameFrame::Kind::kWhole)
        {
            std::vector<std::uint8_t> packet(m_inbox.begin(), m_inbox.begin() + frame.m_length);
            m_inbox.erase(m_inbox.begin(), m_inbox.begin() + frame.m_length);
            return packet;
        }
        if (frame.m_kind == GameFrame::Kind::kMalformed || m_closed)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_socket.WaitReadable(static_cast<int>(left.count())))
            return std::nullopt;
        std::uint8_t buffer[4096];
        const int n = m_socket.Recv(buffer, sizeof buffer);
        if (n <= 0)
        {
            m_closed = true;
            continue;
        }
        m_inbox.insert(m_inbox.end(), buffer, buffer + n);
    }
}

std::optional<std::vector<std::vector<std::uint8_t>>> CScriptedGame::ReadThrough(
    GamePacketType type, std::uint32_t timeoutMs)
{
    std::vector<std::vector<std::uint8_t>> packets;
    for (;;)
    {
        auto packet = Read(timeoutMs);
        if (!packet)
            return std::nullopt;
        packets.push_back(*packet);
        if (IsType(*packet, type))
            return packets;
    }
}

bool CScriptedGame::Quiet(std::uint32_t ms)
{
    return m_inbox.empty() && !m_socket.WaitReadable(static_cast<int>(ms));
}

std::optional<std::vector<std::vector<std::uint8_t>>> CScriptedGame::Join()
{
    if (!Send(BuildJoinRequest({})))
        return std::nullopt;
    return ReadThrough(GamePacketType::kMapCheck);
}

bool CScriptedGame::MapReport() { return Send(BuildMapReport({kMapReportHaveMap, 1000})); }

bool CScriptedGame::Chat(ChatKind kind, const std::string& text)
{
    ChatToHostParams chat;
    chat.m_kind = kind;
    chat.m_text = text;
    return Send(BuildChatToHost(chat));
}

bool CScriptedGame::Keepalive() { return Send(BuildKeepalive({})); }

bool CScriptedGame::Leave() { return Send(BuildLeaveGame({})); }

std::vector<std::string> CScriptedGame::LobbyLines(std::uint32_t quietMs)
{
    std::vector<std::string> lines;
    while (auto packet = Read(quietMs))
    {
        if (auto text = ChatText(*packet))
            lines.push_back(*text);
    }
    return lines;
}

bool CScriptedGame::JoinAndStart(std::uint16_t port, const std::function<void()>& beforeLoaded)
{
    if (!Connect(port) || !Join() || !MapReport() || !Chat(ChatKind::kLobby, "/fs"))
        return false;
    if (!ReadThrough(GamePacketType::kCountdownEnd))
        return false;
    if (beforeLoaded)
        beforeLoaded();
    if (!Send(BuildGameLoaded()))
        return false;
    // The players' loaded packets, then the slogan.
    return ReadThrough(GamePacketType::kChatFromHost).has_value();
}

std::optional<std::string> ChatText(const std::vector<std::uint8_t>& packet)
{
    if (!IsType(packet, GamePacketType::kChatFromHost))
        return std::nullopt;
    const auto chat = ParseChatFromHost(packet);
    if (!chat)
        return std::nullopt;
    return chat->m_text;
}

std::vector<std::uint8_t> GameChat(const std::string& text)
{
    ChatToHostParams params;
    params.m_kind = ChatKind::kInGame;
    params.m_text = text;
    return BuildChatToHost(params);
}

std::vector<std::string> ChatTexts(const std::vector<std::vector<std::uint8_t>>& packets)
{
    std::vector<std::string> texts;
    for (const auto& packet : packets)
        if (auto text = ChatText(packet))
            texts.push_back(*text);
    return texts;
}

bool IsType(const std::vector<std::uint8_t>& packet, GamePacketType type)
{
    return HasGamePacketType(packet, type);
}

bool IsEmptySlot(const std::vector<std::uint8_t>& packet)
{
    return packet == BuildEmptyTimeSlot();
}

bool IsStreamSlot(const std::vector<std::uint8_t>& packet)
{
    return IsType(packet, GamePacketType::kIncomingAction) && !IsEmptySlot(packet);
}

// ---- rig ---------------------------------------------------------------------------------

HostRig::HostRig(HeaderOptions header, HostTimings timings, IClock& clock)
    : m_host(std::make_unique<CLocalGameHost>(m_owner, clock, timings))
{
    m_host->SetMatchId(42);
    m_host->SetHeader(BuildTestHeader(header));
    m_owner.Serve(*m_host);
}

HostRig::~HostRig()
{
    m_owner.StopServing();
    m_host.reset();
}

bool HostRig::JoinAndStart(CScriptedGame& game)
{
    return game.JoinAndStart(Port(), [this] { m_owner.WaitIdle(kWaitMs); });
}

bool HostRig::Start(std::uint16_t announcePort)
{
    if (announcePort == 0)
    {
        // Nobody listens there: a port of the rig's own, so no other test hears it.
        m_sink.Bind("127.0.0.1", 0);
        announcePort = m_sink.LocalPort();
    }
    m_host->SetAnnouncePort(announcePort);
    m_host->SetListenPort(0);
    return m_host->StartListener();
}

} // namespace velt::test
