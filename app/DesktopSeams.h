#pragma once

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "platform/GameLauncher.h"
#include "platform/UserNotice.h"
#include "server/MatchCatalogue.h"

#include <cstdint>

namespace velt
{

// What the main window and its views use of the world outside the program: where message boxes
// go, how the game's window is found and the game is started, the local ports and timings of
// the hosts that its clients create, and how long a match list is waited for. The defaults are
// the real ones; tests and the command line replace them.
struct DesktopSeams
{
    IUserNotice* m_notices = &CStderrNotice::Instance();
    IGameWindow* m_gameWindow = &SystemGameWindow();
    IProcessStarter* m_processStarter = &SystemProcessStarter();
    LocalPortSettings m_ports;
    HostTimings m_hostTimings;
    std::uint32_t m_listWaitMs = kListWaitMs;
};

} // namespace velt
