#include "tools/standins/CStandInGame.h"

#include <algorithm>

#include "tools/gamesim/CGameSimulator.h"

namespace velt
{

namespace
{

GameSimScript PacedScript(std::vector<std::string> lobbyChat)
{
    GameSimScript script;
    script.m_lobbyChat = std::move(lobbyChat);
    script.m_keepPackets = false;
    script.m_paceByInterval = true;
    return script;
}

std::size_t GameLinesIn(const GameSimRecord& record, std::string_view prefix)
{
    return static_cast<std::size_t>(
        std::count_if(record.m_gameLines.begin(), record.m_gameLines.end(),
                      [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
}

} // namespace

CStandInGame::CStandInGame(std::vector<std::string> lobbyChat, IClock& clock)
    : m_game(std::make_unique<CGameSimulator>(PacedScript(std::move(lobbyChat)), clock))
{
}

CStandInGame::~CStandInGame() = default;

void CStandInGame::SetLineObserver(
    std::function<void(bool inGame, const std::string& text)> observer)
{
    m_game->SetLineObserver(std::move(observer));
}

bool CStandInGame::Start()
{
    return m_game->Start();
}

std::uint16_t CStandInGame::AnnouncePort() const
{
    return m_game->AnnouncePort();
}

void CStandInGame::TypeChat(std::string text)
{
    m_game->TypeChat(std::move(text));
}

void CStandInGame::Stop()
{
    m_game->Stop();
}

bool CStandInGame::WaitGameTime(std::uint64_t atMs, std::uint32_t timeoutMs)
{
    return m_game->WaitFor([&](const GameSimRecord& r) { return r.m_gameTimeMs >= atMs; },
                           timeoutMs);
}

std::size_t CStandInGame::GameLinesStartingWith(std::string_view prefix) const
{
    return GameLinesIn(m_game->Record(), prefix);
}

bool CStandInGame::WaitGameLinesStartingWith(std::string_view prefix, std::size_t count,
                                             std::uint32_t timeoutMs)
{
    return m_game->WaitFor(
        [&](const GameSimRecord& r) { return GameLinesIn(r, prefix) > count; }, timeoutMs);
}

CStandInGame::Summary CStandInGame::Summarize() const
{
    const GameSimRecord record = m_game->Record();
    return {record.m_timeSlots, record.m_gameTimeMs, record.m_leaveAckReceived};
}

} // namespace velt
