#include "app/CMessageBoxNotice.h"
#include "app/CPlayerApp.h"
#include "app/SettingsFolder.h"
#include "app/CommandLine.h"
#include "platform/Thread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace velt
{
namespace
{

constexpr int kDeadlineMs = 10000;

// Runs the application in a scratch working directory and records what start-up and exit do.
class PlayerAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    }
    void TearDown() override { QDir::setCurrent(m_oldDir); }

    void WriteSkin(const char* text)
    {
        QFile file(m_dir.filePath(QStringLiteral("zeno.smf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    // Runs the app; while the main window is up, records its state and closes it.
    void RunApp(bool socketsStart)
    {
        CRecordingNotice notices;
        PlayerAppHooks hooks;
        hooks.m_startSockets = [this, socketsStart]
        {
            m_events.push_back("sockets start");
            return socketsStart;
        };
        CPlayerApp* appPointer = nullptr;
        hooks.m_stopSockets = [this, &appPointer]
        {
            m_events.push_back(appPointer->Skin().IsStarted() ? "sockets stop, skin running"
                                                              : "sockets stop");
        };
        CPlayerApp app(ServerAddress{"stream.example", 999}, notices, hooks);
        appPointer = &app;
        EXPECT_EQ(CPlayerApp::Instance(), &app);
        QTimer closer; // dies with this run, so it never fires after the app is gone
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout,
                         [this, &app]
                         {
                             CMainDialog& dialog = app.MainDialog();
                             m_events.push_back("window shown: " +
                                                dialog.windowTitle().toStdString());
                             m_skinName = app.Skin().SkinName().toStdString();
                             m_barHeight = dialog.Splitter().BarHeight();
                             m_modal = dialog.isModal();
                             dialog.done(0);
                         });
        closer.start(0);
        app.Run();
        m_events.push_back(app.Skin().IsStarted() ? "ended, skin running" : "ended");
    }

    QTemporaryDir m_dir;
    QString m_oldDir;
    std::vector<std::string> m_events;
    std::string m_skinName;
    int m_barHeight = 0;
    bool m_modal = false;
};

TEST_F(PlayerAppTest, NoWindowWithoutSockets)
{
    RunApp(false);
    EXPECT_EQ(m_events, (std::vector<std::string>{"sockets start", "ended"}));
}

struct SkinCase
{
    const char* m_name;
    const char* m_file; // null: no zeno.smf
    const char* m_skin;
};

void PrintTo(const SkinCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class StartupSkins : public PlayerAppTest, public ::testing::WithParamInterface<SkinCase>
{
};

TEST_P(StartupSkins, StartsRunsAndStopsInOrder)
{
    const SkinCase& c = GetParam();
    if (c.m_file != nullptr)
        WriteSkin(c.m_file);
    RunApp(true);
    EXPECT_EQ(m_events, (std::vector<std::string>{"sockets start", "window shown: VELT BETA 0.4",
                                                  "sockets stop", "ended"}))
        << "the skin stops before the sockets";
    EXPECT_EQ(m_skinName, c.m_skin);
    EXPECT_EQ(m_barHeight, 10) << "some skin is always in force: the file or the embedded one";
    EXPECT_TRUE(m_modal);
}

INSTANTIATE_TEST_SUITE_P(
    Files, StartupSkins,
    ::testing::Values(
        SkinCase{"Missing", nullptr, "VELT Default"},
        SkinCase{"Valid", "[Skin]\nFormat=VELT Skin 1\nName=Zeno Test\n", "Zeno Test"},
        SkinCase{"Broken",
                 "[Skin]\nFormat=VELT Skin 1\n[SkinGfxSplitter1]\nSplitterBox.Color=blue\n",
                 "VELT Default"},
        SkinCase{"Garbage", "\x01\x02\x03 not a skin", "VELT Default"}),
    [](const ::testing::TestParamInfo<SkinCase>& info) { return std::string(info.param.m_name); });

struct ArgumentCase
{
    const char* m_name;
    QStringList m_arguments;
    const char* m_environment; // null: VELT_SERVER unset
    bool m_valid;
    std::string m_host;
    int m_port;
    std::uint16_t m_announcePort = 6112;
    std::uint16_t m_firstGamePort = 10000;
    bool m_demo = false;
    std::vector<std::string> m_files = {};
};

void PrintTo(const ArgumentCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class PlayerArguments : public ::testing::TestWithParam<ArgumentCase>
{
};

TEST_P(PlayerArguments, CommandLineThenEnvironmentThenDefault)
{
    const ArgumentCase& c = GetParam();
    if (c.m_environment != nullptr)
        qputenv("VELT_SERVER", c.m_environment);
    else
        qunsetenv("VELT_SERVER");
    std::string error;
    const auto options =
        ParsePlayerArguments(QStringList{QStringLiteral("veltplayer")} + c.m_arguments, &error);
    qunsetenv("VELT_SERVER");
    ASSERT_EQ(options.has_value(), c.m_valid) << error;
    if (options)
    {
        EXPECT_EQ(options->m_server.m_host, c.m_host);
        EXPECT_EQ(options->m_server.m_port, c.m_port);
        EXPECT_EQ(options->m_ports.m_announcePort, c.m_announcePort);
        EXPECT_EQ(options->m_ports.m_firstGamePort, c.m_firstGamePort);
        EXPECT_EQ(options->m_demo, c.m_demo);
        EXPECT_EQ(options->m_files, c.m_files);
    }
    else
    {
        EXPECT_FALSE(error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerArguments,
    ::testing::Values(
        ArgumentCase{"Default", {}, nullptr, true, kDefaultServerHost, 999},
        ArgumentCase{"Environment", {}, "10.0.0.5:1234", true, "10.0.0.5", 1234},
        ArgumentCase{"EnvironmentHostOnly", {}, "matches.example", true, "matches.example", 999},
        ArgumentCase{"CommandLineWins",
                     {"--server", "127.0.0.1:4000"},
                     "10.0.0.5:1234",
                     true,
                     "127.0.0.1",
                     4000},
        ArgumentCase{"EqualsForm", {"--server=relay.example"}, nullptr, true, "relay.example", 999},
        ArgumentCase{"MissingValue", {"--server"}, nullptr, false, "", 0},
        ArgumentCase{"BadPort", {"--server", "host:70000"}, nullptr, false, "", 0},
        ArgumentCase{"Unknown", {"--verbose"}, nullptr, false, "", 0},
        ArgumentCase{"Ports",
                     {"--announce-port", "40123", "--port-base=0"},
                     nullptr,
                     true,
                     kDefaultServerHost,
                     999,
                     40123,
                     0},
        ArgumentCase{"AnnouncePortZero", {"--announce-port", "0"}, nullptr, false, "", 0},
        ArgumentCase{"PortBaseTooHigh", {"--port-base", "65536"}, nullptr, false, "", 0},
        ArgumentCase{"PortNotANumber", {"--port-base", "10k"}, nullptr, false, "", 0},
        ArgumentCase{"PortMissing", {"--announce-port"}, nullptr, false, "", 0},
        ArgumentCase{"Demo", {"--demo"}, nullptr, true, kDefaultServerHost, 999, 6112, 10000, true},
        ArgumentCase{"DemoWithServer", {"--demo", "--server", "h"}, nullptr, false, "", 0},
        ArgumentCase{"DemoWithValue", {"--demo=1"}, nullptr, false, "", 0},
        ArgumentCase{"ReplayFiles",
                     {"a.w3g", "--demo", "my games/b=c.w3g"},
                     nullptr,
                     true,
                     kDefaultServerHost,
                     999,
                     6112,
                     10000,
                     true,
                     {"a.w3g", "my games/b=c.w3g"}},
        ArgumentCase{"SingleDash", {"-v"}, nullptr, false, "", 0}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info)
    { return std::string(info.param.m_name); });

class MessageBoxNotice : public ::testing::TestWithParam<bool>
{
};

TEST_P(MessageBoxNotice, ShownOnTheUiThreadOverTheMainWindowAsPlainText)
{
    const bool fromNetworkThread = GetParam();
    CMessageBoxNotice notice(QStringLiteral("VELTPlayer"));
    // The main window, not active: the user works in another program meanwhile.
    QWidget mainWindow;
    notice.SetOwnerWindow(&mainWindow);
    QString caption;
    QString text;
    QWidget* parent = nullptr;
    Qt::TextFormat format = Qt::AutoText;
    QTimer answerer;
    // The box runs its own modal loop; answer it from inside that loop.
    QObject::connect(&answerer, &QTimer::timeout,
                     [&]
                     {
                         for (QWidget* widget : QApplication::topLevelWidgets())
                         {
                             auto* box = qobject_cast<QMessageBox*>(widget);
                             if (box == nullptr || !box->isVisible())
                                 continue;
                             caption = box->windowTitle();
                             text = box->text();
                             parent = box->parentWidget();
                             format = box->textFormat();
                             box->button(QMessageBox::Ok)->click();
                         }
                     });
    answerer.start(5);
    // A notice that carries the server's text, which must not turn into markup.
    const char* message = "Connection to <b>stream</b> velt server failed!";
    if (fromNetworkThread)
    {
        CThread network;
        network.Start([&notice, message] { notice.Notify(message); });
        network.Join();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !text.isEmpty(); }, kDeadlineMs));
    }
    else
    {
        // Modal at once: the call returns when the box has been answered.
        notice.Notify(message);
        EXPECT_FALSE(text.isEmpty());
    }
    EXPECT_EQ(caption, QStringLiteral("VELTPlayer"));
    EXPECT_EQ(text, QString::fromLatin1(message));
    EXPECT_EQ(parent, &mainWindow);
    EXPECT_EQ(format, Qt::PlainText);
}

INSTANTIATE_TEST_SUITE_P(Threads, MessageBoxNotice, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "FromNetworkThread" : "FromUiThread");
                         });

SettingsFolderFacts XdgFacts(bool installed, bool settingsHere, std::string xdg, std::string home)
{
    SettingsFolderFacts facts;
    facts.m_convention = SettingsConvention::kXdg;
    facts.m_installed = installed;
    facts.m_workingDirectoryHasSettings = settingsHere;
    facts.m_xdgConfigHome = std::move(xdg);
    facts.m_home = std::move(home);
    return facts;
}

SettingsFolderFacts WindowsFacts(bool installed, bool settingsHere, std::string appData,
                                 std::string shell)
{
    SettingsFolderFacts facts;
    facts.m_convention = SettingsConvention::kWindows;
    facts.m_installed = installed;
    facts.m_workingDirectoryHasSettings = settingsHere;
    facts.m_appData = std::move(appData);
    facts.m_shellAppData = std::move(shell);
    // The other system's variables never count.
    facts.m_xdgConfigHome = "/x";
    facts.m_home = "/home/u";
    return facts;
}

struct SettingsFolderCase
{
    const char* m_name;
    SettingsFolderFacts m_facts;
    std::string m_folder;
};

void PrintTo(const SettingsFolderCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class SettingsFolders : public ::testing::TestWithParam<SettingsFolderCase>
{
};

TEST_P(SettingsFolders, WorkingDirectoryUnlessInstalledAndStartedElsewhere)
{
    EXPECT_EQ(ChooseSettingsFolder(GetParam().m_facts), GetParam().m_folder);
}

const char* const kRoaming = "C:\\Users\\u\\AppData\\Roaming";
const char* const kShellRoaming = "C:\\Users\\u\\AppData\\Roaming (shell)";

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFolders,
    ::testing::Values(
        SettingsFolderCase{"BuildTree", XdgFacts(false, false, "/x", "/home/u"), ""},
        SettingsFolderCase{"FolderWithSettings", XdgFacts(true, true, "/x", "/home/u"), ""},
        SettingsFolderCase{"FromTheMenu", XdgFacts(true, false, "/x", "/home/u"), "/x/veltplayer"},
        SettingsFolderCase{"NoXdgVariable", XdgFacts(true, false, "", "/home/u"),
                           "/home/u/.config/veltplayer"},
        SettingsFolderCase{"RelativeXdgIsIgnored", XdgFacts(true, false, "cfg", "/home/u"),
                           "/home/u/.config/veltplayer"},
        SettingsFolderCase{"NoHomeAtAll", XdgFacts(true, false, "", ""), ""},
        SettingsFolderCase{"PortableCopy", WindowsFacts(false, false, kRoaming, kShellRoaming), ""},
        SettingsFolderCase{"InstalledWithSettingsHere",
                           WindowsFacts(true, true, kRoaming, kShellRoaming), ""},
        SettingsFolderCase{"InstalledStartedElsewhere",
                           WindowsFacts(true, false, kRoaming, kShellRoaming),
                           "C:\\Users\\u\\AppData\\Roaming\\VELTPlayer"},
        SettingsFolderCase{"AppDataWithClosingSeparator",
                           WindowsFacts(true, false, "D:/Profiles/u/", ""),
                           "D:/Profiles/u/VELTPlayer"},
        SettingsFolderCase{"AppDataOnAShare", WindowsFacts(true, false, "\\\\srv\\home\\u", ""),
                           "\\\\srv\\home\\u\\VELTPlayer"},
        SettingsFolderCase{"AppDataMissing", WindowsFacts(true, false, "", kShellRoaming),
                           std::string(kShellRoaming) + "\\VELTPlayer"},
        SettingsFolderCase{"AppDataRelativeToADrive",
                           WindowsFacts(true, false, "C:u", kShellRoaming),
                           std::string(kShellRoaming) + "\\VELTPlayer"},
        SettingsFolderCase{"AppDataRootedWithoutDrive",
                           WindowsFacts(true, false, "\\u\\Roaming", kShellRoaming),
                           std::string(kShellRoaming) + "\\VELTPlayer"},
        SettingsFolderCase{"NoRoamingFolderAtAll", WindowsFacts(true, false, "", ""), ""}),
    [](const ::testing::TestParamInfo<SettingsFolderCase>& info)
    { return std::string(info.param.m_name); });

// The rule as the program meets it on this system: a program folder, a working directory and
// the environment made for the row, the folder created. Rows of the other system are skipped.
enum class SettingsVariable
{
    kUnset,
    kScratchFolder, // a folder in the test's scratch folder
    kRelative,
    kUnderAFile, // a path below a regular file: cannot be created
};

enum class ExpectedFolder
{
    kWorkingDirectory,
    kInVariable,
    kInShellFolder,
};

struct SettingsRunCase
{
    const char* m_name;
    SettingsConvention m_convention;
    bool m_installed; // outside the build folder (Linux); beside the uninstaller (Windows)
    bool m_settingsHere;
    SettingsVariable m_variable; // XDG_CONFIG_HOME (Linux); APPDATA (Windows)
    ExpectedFolder m_expected;
};

void PrintTo(const SettingsRunCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class SettingsFolderRun : public ::testing::TestWithParam<SettingsRunCase>
{
protected:
    void SetUp() override
    {
        m_oldDir = QDir::currentPath();
        m_variableName =
            GetParam().m_convention == SettingsConvention::kWindows ? "APPDATA" : "XDG_CONFIG_HOME";
        m_oldVariable = qgetenv(m_variableName);
        m_hadVariable = qEnvironmentVariableIsSet(m_variableName);
        m_oldHome = qgetenv("HOME");
    }
    void TearDown() override
    {
        QDir::setCurrent(m_oldDir);
        if (m_hadVariable)
            qputenv(m_variableName, m_oldVariable);
        else
            qunsetenv(m_variableName);
        qputenv("HOME", m_oldHome);
    }

    QString Scratch(const char* name) const { return m_scratch.filePath(QLatin1String(name)); }

    QTemporaryDir m_scratch;
    QString m_oldDir;
    const char* m_variableName = "";
    QByteArray m_oldVariable;
    bool m_hadVariable = false;
    QByteArray m_oldHome;
};

TEST_P(SettingsFolderRun, ChosenAndCreated)
{
    const SettingsRunCase& c = GetParam();
    if (c.m_convention != kSystemSettingsConvention)
        GTEST_SKIP() << "a row of the other system";
    const bool windows = c.m_convention == SettingsConvention::kWindows;
    ASSERT_TRUE(m_scratch.isValid());
    QDir scratch(m_scratch.path());
    ASSERT_TRUE(scratch.mkpath(QStringLiteral("program")) && scratch.mkpath(QStringLiteral("run")));

    QString program = Scratch("program");
    if (windows && c.m_installed)
    {
        QFile uninstaller(QDir(program).filePath(QLatin1String(kUninstallerFileName)));
        ASSERT_TRUE(uninstaller.open(QIODevice::WriteOnly));
    }
    if (!windows && !c.m_installed)
        program = QCoreApplication::applicationDirPath(); // the test runs in the build folder
    if (c.m_settingsHere)
    {
        QFile settings(Scratch("run/VELT.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir::setCurrent(Scratch("run")));

    QString variable;
    switch (c.m_variable)
    {
    case SettingsVariable::kUnset:
        break;
    case SettingsVariable::kScratchFolder:
        variable = QDir::toNativeSeparators(Scratch("config"));
        break;
    case SettingsVariable::kRelative:
        variable = QStringLiteral("config");
        break;
    case SettingsVariable::kUnderAFile:
        ASSERT_TRUE(QFile(Scratch("file")).open(QIODevice::WriteOnly));
        variable = QDir::toNativeSeparators(Scratch("file/config"));
        break;
    }
    if (variable.isEmpty())
        qunsetenv(m_variableName);
    else
        qputenv(m_variableName, variable.toUtf8());
    // Never the user's own configuration folder.
    qputenv("HOME", QFile::encodeName(Scratch("home")));

    const std::string name = windows ? "\\VELTPlayer" : "/veltplayer";
    std::string expected;
    if (c.m_expected == ExpectedFolder::kInVariable)
    {
        expected = variable.toStdString() + name;
    }
    else if (c.m_expected == ExpectedFolder::kInShellFolder)
    {
        const std::string shell = ShellRoamingAppDataFolder();
        ASSERT_FALSE(shell.empty());
        // The test user's own folder: the empty folder made there stays, as the program
        // leaves it (rows run at once would remove it under each other).
        expected = shell + name;
    }

    EXPECT_EQ(PrepareSettingsFolder(SettingsFolderFactsOf(program.toStdString())), expected);
    if (!expected.empty())
    {
        EXPECT_TRUE(QFileInfo(QString::fromStdString(expected)).isDir()) << expected;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFolderRun,
    ::testing::Values(
        SettingsRunCase{"LinuxFromTheBuildFolder", SettingsConvention::kXdg, false, false,
                        SettingsVariable::kScratchFolder, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"LinuxInstalledWithSettingsHere", SettingsConvention::kXdg, true, true,
                        SettingsVariable::kScratchFolder, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"LinuxInstalledStartedElsewhere", SettingsConvention::kXdg, true, false,
                        SettingsVariable::kScratchFolder, ExpectedFolder::kInVariable},
        SettingsRunCase{"LinuxFolderCannotBeMade", SettingsConvention::kXdg, true, false,
                        SettingsVariable::kUnderAFile, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"WindowsPortableFirstRun", SettingsConvention::kWindows, false, false,
                        SettingsVariable::kScratchFolder, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"WindowsPortableWithSettings", SettingsConvention::kWindows, false, true,
                        SettingsVariable::kScratchFolder, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"WindowsInstalledWithSettingsHere", SettingsConvention::kWindows, true,
                        true, SettingsVariable::kScratchFolder, ExpectedFolder::kWorkingDirectory},
        SettingsRunCase{"WindowsInstalledStartedElsewhere", SettingsConvention::kWindows, true,
                        false, SettingsVariable::kScratchFolder, ExpectedFolder::kInVariable},
        SettingsRunCase{"WindowsAppDataMissing", SettingsConvention::kWindows, true, false,
                        SettingsVariable::kUnset, ExpectedFolder::kInShellFolder},
        SettingsRunCase{"WindowsAppDataRelative", SettingsConvention::kWindows, true, false,
                        SettingsVariable::kRelative, ExpectedFolder::kInShellFolder},
        SettingsRunCase{"WindowsFolderCannotBeMade", SettingsConvention::kWindows, true, false,
                        SettingsVariable::kUnderAFile, ExpectedFolder::kWorkingDirectory}),
    [](const ::testing::TestParamInfo<SettingsRunCase>& info)
    { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
