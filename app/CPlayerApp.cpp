#include "app/CPlayerApp.h"

#include "platform/FileSystem.h"
#include "platform/Socket.h"

namespace velt
{

namespace
{

CPlayerApp* g_playerApp = nullptr;

DesktopSeams WithNotices(DesktopSeams seams, IUserNotice& notices)
{
    seams.m_notices = &notices;
    return seams;
}

} // namespace

PlayerAppHooks PlayerAppHooks::System()
{
    return PlayerAppHooks{[] { return SocketLayerStart(); }, [] { SocketLayerStop(); }};
}

CPlayerApp::CPlayerApp(ServerAddress server, IUserNotice& notices, PlayerAppHooks hooks,
                       DesktopSeams seams)
    : m_hooks(std::move(hooks)), m_notices(notices),
      m_mainDialog(&m_skin, std::move(server), WithNotices(seams, notices))
{
    g_playerApp = this;
}

CPlayerApp::~CPlayerApp()
{
    if (g_playerApp == this)
        g_playerApp = nullptr;
}

CPlayerApp* CPlayerApp::Instance()
{
    return g_playerApp;
}

bool CPlayerApp::InitInstance()
{
    // Without sockets there is nothing to watch: end without a window or a message.
    if (!m_hooks.m_startSockets())
        return false;
    m_socketsStarted = true;
    m_skin.SkinEngineStart();
    // The skin file lives beside the settings.
    const std::string& folder = m_mainDialog.Seams().m_settingsFolder;
    const QString skinFile = folder.empty() ? QLatin1String(kSkinFileName)
                                            : QString::fromStdString(JoinPath(folder, kSkinFileName));
    if (m_skin.SkinEngineOpenFile(skinFile) != 1)
        m_skin.SkinEngineOpenResource(QLatin1String(kDefaultSkinResource));
    m_skin.SkinEngineDialogLook(QLatin1String(kSkinLook));
    m_skin.SkinEngineAttach(&m_mainDialog, QLatin1String(kSkinLook));
    m_mainDialog.DoModal();
    return false;
}

int CPlayerApp::ExitInstance()
{
    m_skin.SkinEngineStop();
    if (m_socketsStarted)
    {
        m_hooks.m_stopSockets();
        m_socketsStarted = false;
    }
    return 0;
}

int CPlayerApp::Run()
{
    InitInstance();
    return ExitInstance();
}

} // namespace velt
