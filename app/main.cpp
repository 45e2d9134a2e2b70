#include "app/CMessageBoxNotice.h"
#include "app/CPlayerApp.h"
#include "app/CommandLine.h"
#include "app/GuiResources.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELTPlayer"));
    velt::InitGuiResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/res/icon.xpm")));
    std::string error;
    const auto server = velt::ServerFromArguments(QApplication::arguments(), &error);
    if (!server)
    {
        std::fprintf(stderr, "veltplayer: %s\nusage: veltplayer [--server HOST[:PORT]]\n",
                     error.c_str());
        return 2;
    }
    velt::CMessageBoxNotice notices(QApplication::applicationName());
    velt::CPlayerApp playerApp(*server, notices);
    return playerApp.Run();
}
