#pragma once

#include "app/CMainDialog.h"
#include "platform/UserNotice.h"
#include "server/ServerAddress.h"
#include "skin/CSkinEngine.h"

#include <functional>

namespace velt
{

// What start-up and exit need of the operating system, replaceable in tests.
struct PlayerAppHooks
{
    std::function<bool()> m_startSockets;
    std::function<void()> m_stopSockets;
    static PlayerAppHooks System();
};

// The application object: starts the socket layer and the skin engine, runs the main window as a
// modal dialog, and shuts both down again in reverse order. One exists at a time; the views reach
// the main window through it.
class CPlayerApp
{
public:
    static constexpr const char* kSkinFileName = "zeno.smf";
    static constexpr const char* kDefaultSkinResource = "DEFAULT";
    static constexpr const char* kSkinLook = "MainFrame";

    // The seams' notice sink is replaced by notices.
    CPlayerApp(ServerAddress server, IUserNotice& notices,
               PlayerAppHooks hooks = PlayerAppHooks::System(), DesktopSeams seams = {});
    ~CPlayerApp();
    CPlayerApp(const CPlayerApp&) = delete;
    CPlayerApp& operator=(const CPlayerApp&) = delete;

    // The application object in force, or null.
    static CPlayerApp* Instance();

    // Start-up and the modal main window; false always, as there is no message loop to follow.
    bool InitInstance();
    int ExitInstance();
    // InitInstance then ExitInstance; the process's exit code.
    int Run();

    CMainDialog& MainDialog() { return m_mainDialog; }
    CSkinEngine& Skin() { return m_skin; }
    IUserNotice& Notices() { return m_notices; }
    bool SocketsStarted() const { return m_socketsStarted; }

private:
    PlayerAppHooks m_hooks;
    IUserNotice& m_notices;
    CSkinEngine m_skin; // outlives the main window, which draws with it
    CMainDialog m_mainDialog;
    bool m_socketsStarted = false;
};

} // namespace velt
