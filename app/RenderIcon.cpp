// Build helper, not part of the program: writes the application icon as a PNG of the given side,
// for the icon theme folders of the package. Usage: velt_render_icon SIDE FILE
#include "skin/VeltArt.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fputs("usage: velt_render_icon SIDE FILE\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int side = std::atoi(argv[1]);
    if (side < 16 || side > 1024)
    {
        std::fputs("velt_render_icon: SIDE must be 16 to 1024\n", stderr);
        return 2;
    }
    if (!velt::AppIconImage(side).save(QString::fromLocal8Bit(argv[2]), "PNG"))
    {
        std::fprintf(stderr, "velt_render_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
