#include "app/CDemoServer.h"
#include "app/CMessageBoxNotice.h"
#include "app/CPlayerApp.h"
#include "app/CommandLine.h"
#include "app/GuiResources.h"
#include "platform/Socket.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <memory>

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
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/icon.xpm")));

    // The demo's server lives as long as the program, and is stopped after the window's clients.
    std::unique_ptr<velt::CDemoServer> demo;
    if (options->m_demo)
    {
        demo = std::make_unique<velt::CDemoServer>();
        if (!velt::SocketLayerStart() || !demo->Start())
        {
            std::fprintf(stderr, "veltplayer: the demo match server did not start: %s\n",
                         demo->LastError().c_str());
            return 1;
        }
        options->m_server = velt::ServerAddress{"127.0.0.1", demo->Port()};
    }
    velt::CMessageBoxNotice notices(QApplication::applicationName());
    velt::DesktopSeams seams;
    seams.m_ports = options->m_ports;
    velt::CPlayerApp playerApp(options->m_server, notices, velt::PlayerAppHooks::System(), seams);
    return playerApp.Run();
}
