#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"

namespace velt
{

class CGameSimulator;

// The one way a front end (velt demo) starts the stand-in Warcraft III: it joins the game
// announced to its port, types its lobby lines, and plays at its own pace on the clock, as the
// real game does, so that it keeps up with a live match instead of running into its edge. The
// stand-in game's own library stays behind this header.
class CStandInGame
{
public:
    CStandInGame(std::vector<std::string> lobbyChat, IClock& clock);
    // Stops and joins.
    ~CStandInGame();
    CStandInGame(const CStandInGame&) = delete;
    CStandInGame& operator=(const CStandInGame&) = delete;

    // Called on the game's thread for every chat line received. Set before Start.
    void SetLineObserver(std::function<void(bool inGame, const std::string& text)> observer);
    // Binds the UDP port that hosts announce to and starts the game's thread.
    bool Start();
    std::uint16_t AnnouncePort() const;
    // Types a line now: lobby kind before the start, in-game kind after it.
    void TypeChat(std::string text);
    void Stop();

    // Waits until the session's game time reaches atMs; false after timeoutMs.
    bool WaitGameTime(std::uint64_t atMs, std::uint32_t timeoutMs);
    // Game lines so far that begin with prefix, and a wait for more than count of them.
    std::size_t GameLinesStartingWith(std::string_view prefix) const;
    bool WaitGameLinesStartingWith(std::string_view prefix, std::size_t count,
                                   std::uint32_t timeoutMs);

    // How the session went, for a closing line.
    struct Summary
    {
        std::uint32_t m_timeSlots = 0;
        std::uint64_t m_gameTimeMs = 0;
        bool m_leaveAckReceived = false;
    };
    Summary Summarize() const;

private:
    std::unique_ptr<CGameSimulator> m_game;
};

} // namespace velt
