#include "tools/gamesim/CGameSimulator.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"
#include "tools/w3gs/TimeSlotChecksum.h"

namespace velt
{

namespace
{

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::size_t kReadChunkSize = 4096;
constexpr std::array<const char*, 6> kStartWords = {"start", "s",          "kaishi",
                                                    "go",    "forcestart", "fs"};

// Whether a typed line is one of the host's start commands ("/start", "/FS", ...).
bool IsStartWord(const std::string& line)
{
    if (line.empty() || line[0] != '/')
        return false;
    std::string word = line.substr(1);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kStartWords.begin(), kStartWords.end(), word) != kStartWords.end();
}

// Clock milliseconds until due, as far as a wait needs to know.
std::uint32_t Remaining(std::uint64_t due, std::uint64_t now)
{
    return due <= now ? 0
                      : static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, UINT32_MAX));
}

} // namespace

std::size_t LinesStartingWith(const GameSimRecord& record, std::string_view text)
{
    const auto starts = [&](const std::string& line) { return line.rfind(text, 0) == 0; };
    return static_cast<std::size_t>(
        std::count_if(record.m_lobbyLines.begin(), record.m_lobbyLines.end(), starts) +
        std::count_if(record.m_gameLines.begin(), record.m_gameLines.end(), starts));
}

std::size_t SlotsWithTimeBetween(const GameSimRecord& record, std::uint64_t fromMs,
                                 std::uint64_t toMs)
{
    return static_cast<std::size_t>(std::count_if(
        record.m_slotLog.begin(), record.m_slotLog.end(),
        [&](const GameSimSlot& slot)
        { return slot.m_intervalMs != 0 && slot.m_atMs >= fromMs && slot.m_atMs <= toMs; }));
}

std::uint64_t GameTimeAt(const GameSimRecord& record, std::uint64_t atMs)
{
    std::uint64_t gameTime = 0;
    for (const GameSimSlot& slot : record.m_slotLog)
    {
        if (slot.m_atMs > atMs)
            break;
        gameTime = slot.m_gameTimeMs;
    }
    return gameTime;
}

std::vector<std::vector<std::uint8_t>> SessionPackets(const GameSimRecord& record,
                                                      std::uint32_t session)
{
    const auto& starts = record.m_sessionFirstPacket;
    if (session == 0 || session > starts.size())
        return {};
    const std::size_t first = starts[session - 1];
    const std::size_t end = session < starts.size() ? starts[session] : record.m_packets.size();
    return {record.m_packets.begin() + static_cast<std::ptrdiff_t>(first),
            record.m_packets.begin() + static_cast<std::ptrdiff_t>(end)};
}

CGameSimulator::CGameSimulator(GameSimScript script, IClock& clock)
    : m_script(std::move(script)), m_clock(clock), m_gameChatSent(m_script.m_gameChat.size(), false)
{
}

CGameSimulator::~CGameSimulator()
{
    Stop();
    m_announceSocket.Close();
    if (m_finder)
        m_finder->Close();
}

bool CGameSimulator::Start()
{
    if (m_thread.IsRunning() || m_announceSocket.IsValid())
        return false;
    SocketLayerStart();
    if (m_script.m_mdnsVersion != 0)
    {
        m_finder.emplace(m_script.m_product, m_script.m_mdnsVersion, m_clock);
        if (!m_finder->Open())
        {
            m_finder.reset();
            return false;
        }
    }
    else if (!m_announceSocket.Bind(kLoopback, m_script.m_announcePort))
    {
        m_announceSocket.Close();
        return false;
    }
    return m_thread.Start([this] { Run(); });
}

std::uint16_t CGameSimulator::AnnouncePort() const
{
    return m_announceSocket.LocalPort();
}

void CGameSimulator::Stop()
{
    m_stopping.store(true, std::memory_order_release);
    m_stopEvent.Set();
    {
        std::lock_guard lock(m_socketMutex);
        m_game.Shutdown();
    }
    m_announceSocket.Shutdown();
    m_thread.Join();
}

bool CGameSimulator::WaitFinished(std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_recordMutex);
    return m_recordChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return m_finished; });
}

bool CGameSimulator::WaitFor(const std::function<bool(const GameSimRecord&)>& predicate,
                             std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_recordMutex);
    return m_recordChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return predicate(m_record); });
}

GameSimRecord CGameSimulator::Record() const
{
    std::lock_guard lock(m_recordMutex);
    return m_record;
}

std::uint64_t CGameSimulator::GameTimeMs() const
{
    std::lock_guard lock(m_recordMutex);
    return m_record.m_gameTimeMs;
}

bool CGameSimulator::Finished() const
{
    std::lock_guard lock(m_recordMutex);
    return m_finished;
}

void CGameSimulator::TypeChat(std::string text)
{
    std::lock_guard lock(m_commandMutex);
    m_commands.push_back({false, std::move(text)});
}

void CGameSimulator::Leave()
{
    std::lock_guard lock(m_commandMutex);
    m_commands.push_back({true, {}});
}

void CGameSimulator::Rejoin()
{
    {
        std::lock_guard lock(m_recordMutex);
        ++m_rejoinsAsked;
        m_finished = false;
    }
    m_recordChanged.notify_all();
}

void CGameSimulator::SetLineObserver(std::function<void(bool, const std::string&)> observer)
{
    m_lineObserver = std::move(observer);
}

void CGameSimulator::Run()
{
    while (WaitForAnnouncement())
    {
        Session();
        CloseGameSocket();
        {
            std::lock_guard lock(m_recordMutex);
            ++m_record.m_sessionsEnded;
            m_finished = true;
        }
        m_recordChanged.notify_all();
        if (!AwaitRejoin())
            break;
        ResetSession();
    }
    CloseGameSocket();
    {
        std::lock_guard lock(m_recordMutex);
        m_finished = true;
    }
    m_recordChanged.notify_all();
}

bool CGameSimulator::AwaitRejoin()
{
    std::unique_lock lock(m_recordMutex);
    while (!Stopping())
    {
        const bool asked = m_rejoinsAsked > 0;
        if (asked || m_rejoinsDone < m_script.m_rejoins)
        {
            if (asked)
                --m_rejoinsAsked;
            else
                ++m_rejoinsDone;
            m_finished = false;
            return true;
        }
        m_recordChanged.wait_for(lock, std::chrono::milliseconds(kGameSimPollSliceMs));
    }
    return false;
}

// A new game on the LAN screen: everything of the previous session's is forgotten except the
// game chat already typed.
void CGameSimulator::ResetSession()
{
    m_phase = Phase::kAwaitingMapCheck;
    m_inbox.clear();
    m_pendingSlots.clear();
    m_lastSlotDueMs = 0;
    m_slotGameTimeMs = 0;
    m_lobbyQueue.clear();
    m_lobbyNext = 0;
    m_answerSinceTyped = false;
    m_leaveSentMs = 0;
    m_slotsAnswered = 0;
    Update(
        [](GameSimRecord& record)
        {
            record.m_gameTimeMs = 0;
            record.m_slotsInFlight = 0;
            record.m_gameStarted = false;
            record.m_leaveSent = false;
            record.m_leaveAckReceived = false;
            record.m_connectionClosedByHost = false;
        });
}

bool CGameSimulator::Stopping() const
{
    return m_stopping.load(std::memory_order_acquire);
}

// Listens until an announcement names a port that accepts the connection. A refused connection
// is recorded and the next announcement tried, as the game lets the viewer click again.
bool CGameSimulator::WaitForAnnouncement()
{
    std::vector<std::uint8_t> datagram(kGamePacketMaxSize);
    while (!Stopping())
    {
        std::string address = kLoopback;
        const auto info = m_finder ? FindOverMdns(address) : HearAnnouncement(datagram);
        if (!info)
            continue;
        CTcpSocket socket = CTcpSocket::Connect(address, info->m_gamePort);
        if (!socket.IsValid())
        {
            Update([](GameSimRecord& record) { record.m_connectFailed = true; });
            continue;
        }
        socket.SetNoDelay(true);
        {
            std::lock_guard lock(m_socketMutex);
            if (Stopping())
                return false;
            m_game = std::move(socket);
        }
        m_hostCounter = info->m_hostCounter;
        m_entryKey = info->m_entryKey;
        ++m_session;
        Update(
            [&](GameSimRecord& record)
            {
                record.m_joinedPort = info->m_gamePort;
                ++record.m_sessionsJoined;
                record.m_sessionFirstPacket.push_back(record.m_packets.size());
            });
        return true;
    }
    return false;
}

std::optional<ParsedGameInfo> CGameSimulator::HearAnnouncement(std::vector<std::uint8_t>& datagram)
{
    const int size = m_announceSocket.RecvFrom(datagram.data(), datagram.size(),
                                               static_cast<int>(kGameSimPollSliceMs));
    if (size <= 0)
        return std::nullopt;
    auto info = ParseGameInfo(std::span(datagram).first(static_cast<std::size_t>(size)));
    // The latest of the announcements queued meanwhile, as the LAN screen shows it.
    for (int more = 0; (more = m_announceSocket.RecvFrom(datagram.data(), datagram.size(), 0)) > 0;)
    {
        auto newer = ParseGameInfo(std::span(datagram).first(static_cast<std::size_t>(more)));
        if (newer && newer->m_gamePort != 0)
            info = newer;
    }
    if (!info || info->m_gamePort == 0)
        return std::nullopt;
    return info;
}

std::optional<ParsedGameInfo> CGameSimulator::FindOverMdns(std::string& address)
{
    const auto found = m_finder->Find([this] { return Stopping(); });
    if (!found || found->m_port == 0)
        return std::nullopt;
    address = found->m_address;
    Update(
        [&](GameSimRecord& record)
        {
            record.m_foundGameName = found->m_gameName;
            record.m_foundSrvPort = found->m_srvPort;
        });
    ParsedGameInfo info;
    info.m_gamePort = found->m_port;
    info.m_hostCounter = found->m_hostCounter;
    info.m_entryKey = found->m_entryKey;
    info.m_gameName = found->m_gameName;
    return info;
}

void CGameSimulator::Session()
{
    JoinRequestParams join;
    join.m_hostCounter = m_hostCounter;
    join.m_entryKey = m_entryKey;
    join.m_playerName = m_script.m_playerName;
    join.m_internalPort = m_game.LocalPort();
    // From 1.29 the join request carries two padding bytes.
    if (m_script.m_mdnsVersion != 0)
        join.m_paddingCount = 2;
    if (!SendUnit(BuildJoinRequest(join)))
        return;
    m_phase = Phase::kAwaitingMapCheck;
    m_lastPacketMs = m_clock.NowMs();
    while (!Stopping())
    {
        if (m_game.WaitReadable(static_cast<int>(NextWaitMs(m_clock.NowMs()))) && !ReadFromHost())
            return;
        if (!RunTimers() || !RunCommands())
            return;
    }
}

// Reads what is there and hands every whole packet on; a packet split over reads waits in the
// inbox for its rest.
bool CGameSimulator::ReadFromHost()
{
    std::array<std::uint8_t, kReadChunkSize> chunk;
    const int size = m_game.Recv(chunk.data(), chunk.size());
    if (size <= 0)
    {
        if (!Stopping())
            Update([](GameSimRecord& record) { record.m_connectionClosedByHost = true; });
        return false;
    }
    m_inbox.insert(m_inbox.end(), chunk.begin(), chunk.begin() + size);
    std::size_t used = 0;
    bool goOn = true;
    while (goOn)
    {
        const auto frame = FrameGamePacket(std::span(m_inbox).subspan(used));
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        if (frame.m_kind == GameFrame::Kind::kMalformed)
        {
            Update([](GameSimRecord& record) { record.m_streamCorrupt = true; });
            return false;
        }
        goOn = HandlePacket(std::span(m_inbox).subspan(used, frame.m_length));
        used += frame.m_length;
    }
    m_inbox.erase(m_inbox.begin(), m_inbox.begin() + static_cast<std::ptrdiff_t>(used));
    return goOn;
}

bool CGameSimulator::HandlePacket(std::span<const std::uint8_t> packet)
{
    m_lastPacketMs = m_clock.NowMs();
    if (m_script.m_keepPackets)
        Update([&](GameSimRecord& record)
               { record.m_packets.emplace_back(packet.begin(), packet.end()); });
    const auto type = GamePacketTypeOf(packet);
    if (!type)
        return true;
    switch (*type)
    {
    case GamePacketType::kIncomingAction:
        HandleTimeSlot(packet);
        return true;
    case GamePacketType::kChatFromHost:
        HandleChat(packet);
        return true;
    case GamePacketType::kMapCheck:
        return HandleMapCheck(packet);
    case GamePacketType::kCountdownEnd:
        return HandleCountdownEnd();
    case GamePacketType::kSlotInfoJoin:
        return AnswerJoinReply();
    case GamePacketType::kPlayerInfo:
        CheckPlayerInfo(packet);
        return true;
    case GamePacketType::kLeaveAck:
        if (!IsLeaveAck(packet))
        {
            CountMalformed();
            return true;
        }
        Update([](GameSimRecord& record) { record.m_leaveAckReceived = true; });
        return false;
    default:
        return true;
    }
}

// A game from 1.32 sends three 0x59 packets (profile, skins, one more) after the join reply.
// Their content is not known; the host must read and ignore them whatever they hold.
bool CGameSimulator::AnswerJoinReply()
{
    if (m_script.m_mdnsVersion < kFirstReforgedGameVersion)
        return true;
    static const std::uint8_t kProfile[] = {0x0A, 0x06, 'V', 'i', 'e', 'w', 'e', 'r'};
    for (const std::uint32_t kind : {3u, 4u, 5u})
    {
        if (!SendUnit(BuildPlayerExtra({kind, {std::begin(kProfile), std::end(kProfile)}})))
            return false;
        Update([](GameSimRecord& record) { ++record.m_playerExtrasSent; });
    }
    return true;
}

// A game of 1.31 or later reads two padding bytes after a player's name, an older one one.
void CGameSimulator::CheckPlayerInfo(std::span<const std::uint8_t> packet)
{
    if (m_script.m_mdnsVersion == 0)
        return;
    const auto info = ParsePlayerInfo(packet);
    if (!info || info->m_paddingCount != PlayerInfoPaddingFor(m_script.m_mdnsVersion))
        CountMalformed();
}

void CGameSimulator::CountMalformed()
{
    Update([](GameSimRecord& record) { ++record.m_malformedPackets; });
}

// The game simulates slots one after the other, each taking the slot delay; the keepalive of a
// slot goes out once its simulation is done.
void CGameSimulator::HandleTimeSlot(std::span<const std::uint8_t> packet)
{
    const auto slot = ParseTimeSlot(packet);
    if (!slot)
    {
        CountMalformed();
        return;
    }
    const bool checksumOk =
        !slot->m_checksum ||
        TimeSlotChecksum(packet.subspan(slot->m_blocksOffset)) == *slot->m_checksum;
    m_slotGameTimeMs += slot->m_intervalMs;
    const std::uint64_t now = m_clock.NowMs();
    // Its simulation begins once the whole read has been taken in (RunTimers), so that the
    // slots that came with it count as waiting.
    m_pendingSlots.push_back({now, slot->m_intervalMs, false, 0, m_slotGameTimeMs});
    Update(
        [&](GameSimRecord& record)
        {
            if (m_script.m_keepSlotLog)
                record.m_slotLog.push_back({now, slot->m_intervalMs,
                                            static_cast<std::uint16_t>(packet.size()),
                                            m_slotGameTimeMs, m_session});
            ++record.m_timeSlots;
            if (slot->IsEmpty())
                ++record.m_emptyTimeSlots;
            if (!checksumOk)
                ++record.m_checksumErrors;
            record.m_gameTimeMs = m_slotGameTimeMs;
            record.m_slotsInFlight = static_cast<std::uint32_t>(m_pendingSlots.size());
            record.m_maxSlotsInFlight = std::max(record.m_maxSlotsInFlight, record.m_slotsInFlight);
        });
}

void CGameSimulator::BeginFrontSlot(std::uint64_t previousDueMs)
{
    PendingSlot& front = m_pendingSlots.front();
    const std::uint64_t cost = m_script.m_paceByInterval
                                   ? front.m_intervalMs / m_pendingSlots.size()
                                   : m_script.m_slotDelayMs;
    front.m_dueMs = std::max(front.m_arrivedMs, previousDueMs) + cost;
    front.m_begun = true;
    m_lastSlotDueMs = front.m_dueMs;
}

void CGameSimulator::HandleChat(std::span<const std::uint8_t> packet)
{
    const auto chat = ParseChatFromHost(packet);
    if (!chat)
    {
        CountMalformed();
        return;
    }
    const bool lobby = chat->m_kind == static_cast<std::uint8_t>(ChatKind::kLobby);
    const bool inGame = chat->m_kind == static_cast<std::uint8_t>(ChatKind::kInGame);
    if (!lobby && !inGame)
        return;
    m_answerSinceTyped = true;
    if (m_lineObserver)
        m_lineObserver(inGame, chat->m_text);
    const std::uint64_t now = m_clock.NowMs();
    Update(
        [&](GameSimRecord& record)
        {
            (inGame ? record.m_gameLines : record.m_lobbyLines).push_back(chat->m_text);
            record.m_lineLog.push_back({now, inGame, m_session, chat->m_text, m_slotGameTimeMs});
        });
}

// The map check is answered with the map's size (the game has the map), or with a leave.
bool CGameSimulator::HandleMapCheck(std::span<const std::uint8_t> packet)
{
    const auto check = ParseMapCheck(packet);
    if (!check)
        CountMalformed();
    if (m_phase != Phase::kAwaitingMapCheck)
        return true;
    if (m_script.m_leaveInLobby)
        return SendLeave(kLeaveReasonLobby);
    MapReportParams report;
    report.m_mapSize = check && check->m_facts ? check->m_facts->m_mapSize : 0;
    if (!SendUnit(BuildMapReport(report)))
        return false;
    m_phase = Phase::kLobbyWelcome;
    return true;
}

// The countdown has ended: the game loads and reports once. Lobby lines not yet typed are
// dropped, as the viewer cannot type during loading.
bool CGameSimulator::HandleCountdownEnd()
{
    if (m_phase == Phase::kInGame || m_phase == Phase::kLeaving)
        return true;
    m_phase = Phase::kInGame;
    Update([](GameSimRecord& record) { record.m_gameStarted = true; });
    return SendUnit(BuildGameLoaded());
}

bool CGameSimulator::RunTimers()
{
    const std::uint64_t now = m_clock.NowMs();
    if (!AnswerDueSlots(now) || !TypeLobbyScript(now))
        return false;
    // Read again: a leave sent just now is stamped later than `now`.
    return !(m_phase == Phase::kLeaving &&
             m_clock.NowMs() - m_leaveSentMs >= kGameSimLeaveAckTimeoutMs);
}

bool CGameSimulator::AnswerDueSlots(std::uint64_t now)
{
    while (!m_pendingSlots.empty() && m_phase != Phase::kLeaving)
    {
        if (!m_pendingSlots.front().m_begun)
            BeginFrontSlot(m_lastSlotDueMs);
        // Less than a real millisecond early counts as due on a clock faster than real time: no
        // wait is that short, and the next slot's time counts from this one's, not from now.
        if (m_clock.RealMs(Remaining(m_pendingSlots.front().m_dueMs, now)) > 0)
            break;
        const PendingSlot slot = m_pendingSlots.front();
        m_pendingSlots.pop_front();
        const bool leaveNow =
            m_script.m_leaveAtGameTimeMs && slot.m_gameTimeMs >= *m_script.m_leaveAtGameTimeMs;
        if (leaveNow && m_script.m_vanishAtGameTimeMs)
        {
            // Gone mid-step: the host waits for this slot's keepalive and finds the connection
            // closed.
            CloseGameSocket();
            return false;
        }
        std::vector<std::vector<std::uint8_t>> packets;
        packets.push_back(BuildKeepalive({0, ++m_slotsAnswered}));
        for (std::size_t i = 0; i < m_script.m_gameChat.size(); ++i)
        {
            const GameSimChat& chat = m_script.m_gameChat[i];
            if (m_gameChatSent[i] || chat.m_atGameTimeMs > slot.m_gameTimeMs ||
                (chat.m_session != 0 && chat.m_session != m_session))
                continue;
            m_gameChatSent[i] = true;
            packets.push_back(BuildChat(m_script.m_gameChat[i].m_text, ChatKind::kInGame));
        }
        if (leaveNow)
            packets.push_back(BuildLeaveGame({kLeaveReasonLost}));
        // The record is brought up to date before the send, so that whoever sees the packets
        // finds the record in step with them.
        Update(
            [&](GameSimRecord& record)
            {
                ++record.m_keepalivesSent;
                record.m_slotsInFlight = static_cast<std::uint32_t>(m_pendingSlots.size());
            });
        if (leaveNow)
            MarkLeaving(now);
        if (!SendPackets(packets))
            return false;
    }
    return true;
}

bool CGameSimulator::TypeLobbyScript(std::uint64_t now)
{
    if (m_phase == Phase::kLobbyWelcome)
    {
        // The welcome lines come in one burst; the viewer types once they have stopped.
        if (now - m_lastPacketMs < kGameSimLobbyQuietMs)
            return true;
        BuildLobbyQueue();
        m_phase = Phase::kLobbyChat;
        m_answerSinceTyped = true;
    }
    if (m_phase != Phase::kLobbyChat)
        return true;
    if (!m_answerSinceTyped && now - m_lastTypedMs < kGameSimLobbyAnswerWaitMs)
        return true;
    if (m_lobbyNext < m_lobbyQueue.size())
    {
        m_answerSinceTyped = false;
        m_lastTypedMs = now;
        return SendUnit(BuildChat(m_lobbyQueue[m_lobbyNext++], ChatKind::kLobby));
    }
    if (m_script.m_leaveAfterLobbyChat)
        return SendLeave(kLeaveReasonLobby);
    m_phase = Phase::kLobby;
    return true;
}

void CGameSimulator::BuildLobbyQueue()
{
    m_lobbyQueue = m_script.m_lobbyChat;
    m_lobbyNext = 0;
    const bool hasStart = std::any_of(m_lobbyQueue.begin(), m_lobbyQueue.end(), IsStartWord);
    if (m_script.m_startAfterLobbyChat && !m_script.m_leaveAfterLobbyChat && !hasStart)
        m_lobbyQueue.emplace_back("/start");
}

bool CGameSimulator::RunCommands()
{
    std::vector<Command> commands;
    {
        std::lock_guard lock(m_commandMutex);
        commands.swap(m_commands);
    }
    for (const Command& command : commands)
    {
        if (m_phase == Phase::kLeaving)
            return true;
        const bool inGame = m_phase == Phase::kInGame;
        if (command.m_leave)
        {
            if (!SendLeave(inGame ? kLeaveReasonLost : kLeaveReasonLobby))
                return false;
        }
        else if (!SendUnit(
                     BuildChat(command.m_text, inGame ? ChatKind::kInGame : ChatKind::kLobby)))
            return false;
    }
    return true;
}

std::vector<std::uint8_t> CGameSimulator::BuildChat(const std::string& text, ChatKind kind) const
{
    ChatToHostParams chat;
    chat.m_kind = kind;
    chat.m_text = text;
    return BuildChatToHost(chat);
}

bool CGameSimulator::SendLeave(std::uint32_t reason)
{
    MarkLeaving(m_clock.NowMs());
    return SendUnit(BuildLeaveGame({reason}));
}

void CGameSimulator::MarkLeaving(std::uint64_t now)
{
    m_phase = Phase::kLeaving;
    m_leaveSentMs = now;
    Update([](GameSimRecord& record) { record.m_leaveSent = true; });
}

// Each packet on its own send, or all of them in one when coalescing.
bool CGameSimulator::SendPackets(const std::vector<std::vector<std::uint8_t>>& packets)
{
    if (!m_script.m_coalesce)
        return std::all_of(packets.begin(), packets.end(),
                           [this](const auto& packet) { return SendUnit(packet); });
    std::vector<std::uint8_t> unit;
    for (const auto& packet : packets)
        unit.insert(unit.end(), packet.begin(), packet.end());
    return SendUnit(unit);
}

// One TCP send, or two with a pause between them when splitting, so that the host's read can
// end in the middle of a packet. Nothing to send (a line the builder refused) is no failure.
bool CGameSimulator::SendUnit(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.empty())
        return true;
    std::size_t first = bytes.size();
    if (m_script.m_splitPackets && bytes.size() > 1)
        first = bytes.size() / 2;
    bool ok = m_game.Send(bytes.data(), first) == static_cast<int>(first);
    if (ok && first < bytes.size())
    {
        if (m_stopEvent.Wait(m_script.m_splitPauseMs))
            return false;
        const std::size_t rest = bytes.size() - first;
        ok = m_game.Send(bytes.data() + first, rest) == static_cast<int>(rest);
    }
    if (!ok && !Stopping())
        Update([](GameSimRecord& record) { record.m_connectionClosedByHost = true; });
    return ok;
}

std::uint32_t CGameSimulator::NextWaitMs(std::uint64_t now) const
{
    if (m_pendingSlots.empty() || m_phase == Phase::kLeaving)
        return kGameSimPollSliceMs;
    if (!m_pendingSlots.front().m_begun)
        return 0;
    // In real milliseconds: the simulator's clock may run faster than real time.
    return std::min(m_clock.RealMs(Remaining(m_pendingSlots.front().m_dueMs, now)),
                    kGameSimPollSliceMs);
}

void CGameSimulator::CloseGameSocket()
{
    std::lock_guard lock(m_socketMutex);
    m_game.Close();
}

} // namespace velt
