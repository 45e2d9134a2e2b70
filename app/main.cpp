#include "app/CDemoServer.h"
#include "app/CMessageBoxNotice.h"
#include "app/CPlayerApp.h"
#include "app/CommandLine.h"
#include "app/SettingsFolder.h"
#include "platform/Socket.h"
#include "res/GuiResources.h"
#include "skin/VeltArt.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>

namespace
{

// Making up the demo's matches takes a few seconds on a slow machine; a minute means it hangs.
constexpr std::uint32_t kDemoStartWaitMs = 60000;

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELTPlayer"));
    std::string error;
    auto options = velt::ParsePlayerArguments(QApplication::arguments(), &error);
    if (!options)
    {
        std::fprintf(stderr, "veltplayer: %s\n%s", error.c_str(), velt::kPlayerUsage);
        return 2;
    }
    if (options->m_help)
    {
        std::fputs(velt::kPlayerUsage, stdout);
        return 0;
    }
    velt::InitGuiResources();
    QApplication::setWindowIcon(velt::AppIcon());

    // The demo's server lives as long as the program, and is stopped after the window's clients.
    // Its matches are made up while the window comes up; Connect waits for it.
    std::unique_ptr<velt::CDemoServer> demo;
    velt::DesktopSeams seams;
    if (options->m_demo)
    {
        demo = std::make_unique<velt::CDemoServer>();
        if (!velt::SocketLayerStart() || !demo->StartInBackground())
        {
            std::fprintf(stderr, "veltplayer: the demo match server did not start\n");
            return 1;
        }
        options->m_server = velt::ServerAddress{"127.0.0.1", 0};
        seams.m_serverReady = [&demo]() -> std::optional<velt::ServerAddress>
        {
            const std::optional<std::uint16_t> port = demo->WaitStarted(kDemoStartWaitMs);
            if (!port)
            {
                std::fprintf(stderr, "veltplayer: the demo match server did not start\n");
                return std::nullopt;
            }
            return velt::ServerAddress{"127.0.0.1", *port};
        };
    }
    velt::CMessageBoxNotice notices(QApplication::applicationName());
    seams.m_ports = options->m_ports;
    seams.m_settingsFolder = velt::SettingsFolderOfThisRun();
    velt::CPlayerApp playerApp(options->m_server, notices, velt::PlayerAppHooks::System(), seams);
    // A notice from a network thread opens over the main window, never behind it.
    notices.SetOwnerWindow(&playerApp.MainDialog());
    playerApp.MainDialog().OpenAtStart(options->m_files);
    return playerApp.Run();
}
