#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

// GUI tests need a QApplication; they run offscreen unless told otherwise. The offscreen platform
// draws with the font files of one folder and finds none by itself on Windows, so the Windows
// build puts some in fonts/ beside each test program.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString fonts =
        QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath() + QStringLiteral("/fonts");
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR") && QFileInfo(fonts).isDir())
        qputenv("QT_QPA_FONTDIR", QFile::encodeName(fonts));
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELTPlayer"));
    return RUN_ALL_TESTS();
}
