#include "DesktopTest.h"

#include "server/MatchServerMessages.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#ifdef _WIN32
#include "tests/platform/CTemporaryRegistryKey.h"
#else
// Elsewhere the entry lives in the test's own Wine prefix, and there is no key to remove.
namespace velt
{
class CTemporaryRegistryKey
{
};
} // namespace velt
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

namespace velt
{

bool CFakeGameWindow::RaiseWindowTitled(const std::string& title)
{
    m_asked.push_back(title);
    return m_running;
}

bool CFakeProcessStarter::Start(const std::vector<std::string>& argv)
{
    m_started.push_back(argv);
    return !m_fails;
}

DesktopTest::DesktopTest() = default;
DesktopTest::~DesktopTest() = default;

void DesktopTest::SetUp()
{
    ASSERT_TRUE(m_workDir.isValid() && m_winePrefix.isValid() && m_warcraft.isValid());
    m_oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_workDir.path()));
    // Never the user's own Wine registry.
    m_hadWinePrefix = qEnvironmentVariableIsSet("WINEPREFIX");
    m_oldWinePrefix = qgetenv("WINEPREFIX");
    qputenv("WINEPREFIX", m_winePrefix.path().toLocal8Bit());

    ASSERT_TRUE(QDir(m_warcraft.path()).mkpath(QStringLiteral("Maps")));
    QFile map(m_warcraft.filePath(QStringLiteral("Maps/(2)EchoIsles.w3x")));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    QFile game(m_warcraft.filePath(QStringLiteral("war3.exe")));
    ASSERT_TRUE(game.open(QIODevice::WriteOnly));
    ASSERT_TRUE(m_server.Start());

    m_seams.m_notices = &m_notices;
    m_seams.m_gameWindow = &m_gameWindow;
    m_seams.m_processStarter = &m_starter;
    m_seams.m_listWaitMs = kDeadlineMs;
}

void DesktopTest::TearDown()
{
    m_dialog.reset();
    m_server.Stop();
    QDir::setCurrent(m_oldDir);
    if (m_hadWinePrefix)
        qputenv("WINEPREFIX", m_oldWinePrefix);
    else
        qunsetenv("WINEPREFIX");
}

void DesktopTest::OpenWindow()
{
    OpenWindowAt(ServerAddress{"127.0.0.1", m_server.Port()});
}

void DesktopTest::OpenWindowAt(const ServerAddress& server)
{
    m_dialog = std::make_unique<CMainDialog>(nullptr, server, m_seams);
    m_dialog->CreateContents();
    m_dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    ASSERT_NE(m_dialog->TopView(), nullptr);
    ASSERT_NE(m_dialog->ListView(), nullptr);
}

void DesktopTest::Click(int id)
{
    QWidget* control = Control(id);
    ASSERT_NE(control, nullptr) << id;
    const QPoint at = qobject_cast<QCheckBox*>(control) != nullptr
                          ? QPoint(4, control->height() / 2)
                          : control->rect().center();
    QTest::mouseClick(control, Qt::LeftButton, {}, at);
}

QString DesktopTest::EditText()
{
    return qobject_cast<QLineEdit*>(Control(CVELTTopView::kIdWarcraftPath))->text();
}

QString DesktopTest::ChangeText()
{
    return qobject_cast<QPushButton*>(Control(CVELTTopView::kIdChange))->text();
}

bool DesktopTest::Checked(int id)
{
    return qobject_cast<QCheckBox*>(Control(id))->isChecked();
}

void DesktopTest::TypeFolder(const QString& folder)
{
    auto* edit = qobject_cast<QLineEdit*>(Control(CVELTTopView::kIdWarcraftPath));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, folder);
}

void DesktopTest::ClickRow(int row)
{
    const QRect rect = List().visualRect(List().model()->index(row, 0));
    QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, rect.center());
}

int DesktopTest::RowOf(std::uint32_t matchId)
{
    for (int row = 0; row < List().GetItemCount(); ++row)
    {
        if (List().GetItemData(row) == matchId)
            return row;
    }
    return -1;
}

CMatchInfo Match(std::uint32_t id, const char* startTime, std::uint8_t status)
{
    CMatchInfo info;
    info.m_matchId = id;
    info.m_matchName = "Match " + std::to_string(id);
    info.m_streamer = "caster";
    info.m_playersInfo = "Grubby vs Moon";
    info.m_mapPath = kDesktopTestMap;
    info.m_length = 600;
    info.m_status = status;
    info.m_startTime = startTime;
    return info;
}

void DesktopTest::ServeList(const std::vector<CMatchInfo>& matches,
                            CScriptedMatchServer::ListEnding ending)
{
    CScriptedMatchServer::ListScript script;
    for (const CMatchInfo& info : matches)
        script.m_frames.push_back(BuildMatchRecord(info));
    script.m_ending = ending;
    m_server.SetListScript(script);
}

std::string DesktopTest::SettingsPath() const
{
    return m_workDir.filePath(QStringLiteral("VELT.ini")).toStdString();
}

void DesktopTest::WriteSettings(const std::string& text)
{
    std::ofstream(SettingsPath(), std::ios::binary) << text;
}

std::string DesktopTest::ReadSettings() const
{
    std::ifstream in(SettingsPath(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string DesktopTest::InstallRegistryEntry()
{
#ifdef _WIN32
    m_warcraftKey = std::make_unique<CTemporaryRegistryKey>(
        L"Software\\Blizzard Entertainment\\Warcraft III");
    if (!m_warcraftKey->Usable())
        return {};
    m_warcraftKey->Set(L"InstallPathX", L"C:\\Games\\Warcraft III");
    return "C:\\Games\\Warcraft III\\";
#else
    namespace fs = std::filesystem;
    const fs::path prefix = m_winePrefix.path().toStdString();
    const fs::path folder = prefix / "drive_c" / "Games" / "Warcraft III";
    // Without dosdevices links, drive C: is the prefix's drive_c.
    fs::create_directories(folder);
    std::ofstream(prefix / "user.reg")
        << "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
           "[Software\\\\Blizzard Entertainment\\\\Warcraft III] 1700000001\n"
           "#time=1da0000000000000\n"
           "\"InstallPathX\"=\"C:\\\\Games\\\\Warcraft III\"\n";
    return folder.string() + "/";
#endif
}

std::string DesktopTest::WarcraftFolder() const
{
    return m_warcraft.path().toStdString() + "/";
}

} // namespace velt
