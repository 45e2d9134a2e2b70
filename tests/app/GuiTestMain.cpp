#include <QApplication>

#include <gtest/gtest.h>

// GUI tests need a QApplication; they run offscreen unless told otherwise.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELTPlayer"));
    return RUN_ALL_TESTS();
}
