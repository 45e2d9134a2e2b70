#pragma once

#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "platform/GameLauncher.h"
#include "platform/UserNotice.h"
#include "server/CLinkSupervisor.h"
#include "server/MatchCatalogue.h"
#include "server/ServerAddress.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

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
    // How the clients keep the server connection of a running game.
    ReconnectPolicy m_reconnect;
    // Where VELT.ini and the skin file live; empty: the working directory.
    std::string m_settingsFolder;
    // For a server that the program runs itself and starts in the background: waits until it
    // listens and gives its address, or nothing when it did not start. Called off the UI thread.
    std::function<std::optional<ServerAddress>()> m_serverReady;
    // Asks the viewer a yes/no question (a jump back restarts the game); true for yes. Empty:
    // a message box asks.
    std::function<bool(const std::string&)> m_ask;
};

} // namespace velt
