#include "skin/CSkinEngine.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

namespace velt
{
namespace
{

constexpr const char* kHeader = "[Skin]\nFormat=VELT Skin 1\n";

struct ParseCase
{
    const char* m_name;
    std::string m_text;
    bool m_loads;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class SkinFiles : public ::testing::TestWithParam<ParseCase>
{
protected:
    void SetUp() override
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::green);
        ASSERT_TRUE(image.save(m_dir.filePath(QStringLiteral("bar.png"))));
        QFile notAnImage(m_dir.filePath(QStringLiteral("fake.png")));
        notAnImage.open(QIODevice::WriteOnly);
        notAnImage.write("not a picture");
    }

    QTemporaryDir m_dir;
};

TEST_P(SkinFiles, LoadOrRefuse)
{
    const ParseCase& c = GetParam();
    const QString path = m_dir.filePath(QStringLiteral("zeno.smf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.m_text.data(), static_cast<qint64>(c.m_text.size()));
    file.close();
    QString error;
    const auto skin = CSkinFile::Load(path, &error);
    EXPECT_EQ(skin.has_value(), c.m_loads) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SkinFiles,
    ::testing::Values(
        ParseCase{"HeaderOnly", kHeader, true},
        ParseCase{"CommentsAndObjects",
                  std::string("; c\n# c\n") + kHeader +
                      "Name=Zeno\n\n[SkinGfxSplitter1]\nSplitterBox.Color=#102030\n"
                      "SplitterBox.Edge=#000000\r\nSplitterBox.Image=bar.png\n",
                  true},
        ParseCase{"Empty", "", false},
        ParseCase{"NoHeader", "[SkinGfxSplitter1]\nSplitterBox.Color=#102030\n", false},
        ParseCase{"WrongFormat", "[Skin]\nFormat=VELT Skin 2\n", false},
        ParseCase{"BadColour", std::string(kHeader) + "[A]\nBox.Color=red\n", false},
        ParseCase{"ShortColour", std::string(kHeader) + "[A]\nBox.Color=#123\n", false},
        ParseCase{"UnknownProperty", std::string(kHeader) + "[A]\nBox.Sound=#123456\n", false},
        ParseCase{"NoPart", std::string(kHeader) + "[A]\nColor=#123456\n", false},
        ParseCase{"NotKeyValue", std::string(kHeader) + "[A]\njust words\n", false},
        ParseCase{"UnclosedSection", std::string(kHeader) + "[A\n", false},
        ParseCase{"DuplicateObject", std::string(kHeader) + "[A]\n[A]\n", false},
        ParseCase{"LongObjectName", std::string(kHeader) + "[" + std::string(51, 'x') + "]\n",
                  false},
        ParseCase{"MissingImage", std::string(kHeader) + "[A]\nBox.Image=none.png\n", false},
        ParseCase{"ImageNotDecodable", std::string(kHeader) + "[A]\nBox.Image=fake.png\n", false},
        ParseCase{"AbsoluteImage", std::string(kHeader) + "[A]\nBox.Image=/etc/passwd\n", false},
        ParseCase{"ImageOutsideFolder", std::string(kHeader) + "[A]\nBox.Image=../bar.png\n",
                  false},
        ParseCase{"Binary", std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe", 12), false},
        ParseCase{"TooLarge", std::string(kHeader) + std::string(300 * 1024, ';'), false}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.m_name); });

class SkinEngineFixture : public ::testing::Test
{
protected:
    QString Write(const char* name, const std::string& text)
    {
        const QString path = m_dir.filePath(QLatin1String(name));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text.data(), static_cast<qint64>(text.size()));
        return path;
    }

    QTemporaryDir m_dir;
    CSkinEngine m_engine;
};

// Counts the skin messages it receives.
class CSubscriber : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() == kSkinMessageEvent)
            ++m_messages;
        return QObject::event(event);
    }
    int m_messages = 0;
};

TEST_F(SkinEngineFixture, MissingOrBrokenFilesLeaveTheEngineAsItWas)
{
    m_engine.SkinEngineStart();
    EXPECT_EQ(m_engine.SkinEngineOpenFile(m_dir.filePath(QStringLiteral("zeno.smf"))), 0);
    EXPECT_FALSE(m_engine.IsLoaded());
    EXPECT_EQ(m_engine.SkinEngineOpenResource(QStringLiteral("NOSUCH")), 0);

    ASSERT_EQ(m_engine.SkinEngineOpenResource(QStringLiteral("DEFAULT")), 1);
    const QString name = m_engine.SkinName();
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(m_engine.SkinEngineOpenFile(Write("broken.smf", "[Skin]\nFormat=nope\n")), 0);
    EXPECT_EQ(m_engine.SkinName(), name) << "a broken file does not replace the skin in force";
}

TEST_F(SkinEngineFixture, SubscribeOnlyWithASkin)
{
    CSubscriber subscriber;
    EXPECT_FALSE(m_engine.SkinEngineSubscribe(&subscriber, 0)) << "not started";
    m_engine.SkinEngineStart();
    EXPECT_FALSE(m_engine.SkinEngineSubscribe(&subscriber, 0)) << "no skin";
    EXPECT_EQ(subscriber.m_messages, 0);
    ASSERT_EQ(m_engine.SkinEngineOpenFile(Write("zeno.smf", kHeader)), 1);
    EXPECT_TRUE(m_engine.SkinEngineSubscribe(&subscriber, 0));
    EXPECT_EQ(subscriber.m_messages, 1) << "sent at once";
    m_engine.SkinEngineStop();
    EXPECT_FALSE(m_engine.SkinEngineSubscribe(&subscriber, 0));
}

TEST_F(SkinEngineFixture, DrawingNeedsAPartAndARectangle)
{
    QImage bar(2, 2, QImage::Format_RGB32);
    bar.fill(QColor(0, 200, 0));
    ASSERT_TRUE(bar.save(m_dir.filePath(QStringLiteral("bar.png"))));
    m_engine.SkinEngineStart();
    ASSERT_EQ(m_engine.SkinEngineOpenFile(
                  Write("zeno.smf", std::string(kHeader) +
                                        "[SkinGfxSplitter1]\nSplitterBox.Image=bar.png\n"
                                        "Backbround.Color=#FF0000\n")),
              1);
    SkinObjectHandle handle = m_engine.SkinEngineFindObject(QStringLiteral("SkinGfxSplitter1"));
    ASSERT_TRUE(handle);
    EXPECT_FALSE(m_engine.SkinEngineFindObject(QStringLiteral("Other")));

    QImage canvas(20, 20, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    EXPECT_EQ(m_engine.SkinEngineDrawBackground(handle, QStringLiteral("Backbround"), &painter,
                                                QRect(0, 0, 20, 0)),
              0)
        << "an empty rectangle draws nothing";
    EXPECT_EQ(m_engine.SkinEngineDrawBox(handle, QStringLiteral("NoSuchPart"), &painter,
                                         QRect(0, 0, 5, 5)),
              0);
    EXPECT_EQ(m_engine.SkinEngineDrawBox(nullptr, QStringLiteral("SplitterBox"), &painter,
                                         QRect(0, 0, 5, 5)),
              0);
    EXPECT_EQ(m_engine.SkinEngineDrawBackground(handle, QStringLiteral("Backbround"), &painter,
                                                QRect(0, 0, 10, 10)),
              1);
    EXPECT_EQ(m_engine.SkinEngineDrawBox(handle, QStringLiteral("SplitterBox"), &painter,
                                         QRect(10, 10, 10, 10)),
              1);
    painter.end();
    EXPECT_EQ(canvas.pixelColor(5, 5), QColor(255, 0, 0));
    EXPECT_EQ(canvas.pixelColor(15, 15), QColor(0, 200, 0));
    EXPECT_EQ(canvas.pixelColor(15, 5), QColor(Qt::white));

    m_engine.SkinEngineReleaseObject(handle);
    EXPECT_FALSE(handle);
}

TEST_F(SkinEngineFixture, DialogLookColoursWindowsUntilStopped)
{
    m_engine.SkinEngineStart();
    ASSERT_EQ(m_engine.SkinEngineOpenFile(
                  Write("zeno.smf", std::string(kHeader) + "[MainFrame]\nWindow.Color=#102030\n")),
              1);
    m_engine.SkinEngineDialogLook(QStringLiteral("MainFrame") + QString(60, QLatin1Char('x')));
    EXPECT_EQ(m_engine.DialogLook().size(), CSkinEngine::kMaxObjectNameLength);
    m_engine.SkinEngineDialogLook(QStringLiteral("MainFrame"));
    QWidget window;
    window.show();
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0x10, 0x20, 0x30));
    m_engine.SkinEngineStop();
    EXPECT_NE(window.palette().color(QPalette::Window), QColor(0x10, 0x20, 0x30));
}

} // namespace
} // namespace velt
