#pragma once

#include "app/CMainDialog.h"
#include "browser/DesktopSeams.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "server/CMatchInfo.h"
#include "server/CMatchServerClient.h"
#include "tests/doubles/CScriptedMatchServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velt
{

class CTemporaryRegistryKey;

// The game's window as the launcher looks for it: running or not, and every title asked for.
class CFakeGameWindow final : public IGameWindow
{
public:
    bool RaiseWindowTitled(const std::string& title) override;
    bool m_running = false;
    std::vector<std::string> m_asked;
};

// Records the programs the launcher would start, and starts none.
class CFakeProcessStarter final : public IProcessStarter
{
public:
    bool Start(const std::vector<std::string>& argv) override;
    std::vector<std::vector<std::string>> m_started;
    // Every start fails, as when the program that runs the game is not installed.
    bool m_fails = false;
};

// A completed match on kDesktopTestMap named "Match <id>".
inline constexpr const char* kDesktopTestMap = "Maps\\(2)EchoIsles.w3x";
CMatchInfo Match(std::uint32_t id, const char* startTime = "2009-05-01 20:15",
                 std::uint8_t status = 1);

// The main window against the scripted match server, in a scratch working directory and with an
// empty Wine prefix, with message boxes recorded and the game window and process start faked.
class DesktopTest : public ::testing::Test
{
protected:
    DesktopTest();
    ~DesktopTest() override;

    // Generous, for a loaded machine; only reached when something is wrong.
    static constexpr std::uint32_t kDeadlineMs = 20000;
    static constexpr const char* kMap = kDesktopTestMap;

    void SetUp() override;
    void TearDown() override;

    // The seams the window gets unless a test changes them first.
    DesktopSeams m_seams;
    // Opens the window for the scripted server (or the given address).
    void OpenWindow();
    void OpenWindowAt(const ServerAddress& server);

    CVELTTopView& Bar() { return *m_dialog->TopView(); }
    CVELTListView& ListView() { return *m_dialog->ListView(); }
    CSortableListCtrl& List() { return m_dialog->ListView()->List(); }
    CMatchServerClient* Client() { return m_dialog->CurrentClient(); }
    QWidget* Control(int id) { return Bar().Control(id); }

    // A mouse click on a command bar control (on a check box: on its box).
    void Click(int id);
    QString EditText();
    QString ChangeText();
    bool Checked(int id);
    // Replaces the folder edit's text by typing.
    void TypeFolder(const QString& folder);
    // A click on a row of the match list.
    void ClickRow(int row);
    int RowOf(std::uint32_t matchId);

    // The list answer: these records, then the ending.
    void
    ServeList(const std::vector<CMatchInfo>& matches,
              CScriptedMatchServer::ListEnding ending = CScriptedMatchServer::ListEnding::kListEnd);
    std::size_t ListRequests() { return m_server.FrameCount(MessageCode::MSG_MATCH_INFO); }
    std::size_t HeaderRequests() { return m_server.FrameCount(MessageCode::MSG_REPLAY_HEADER); }

    std::string SettingsPath() const;
    void WriteSettings(const std::string& text);
    std::string ReadSettings() const;
    // Warcraft III's registry entry naming C:\Games\Warcraft III, in the Wine prefix (on
    // Windows in the registry, for this test, unless an installation has written it); returns
    // that folder as this system sees it, or nothing when the entry could not be made.
    std::string InstallRegistryEntry();
    // A Warcraft III folder holding kMap, ending in a separator.
    std::string WarcraftFolder() const;

    std::vector<std::string> Notices() const { return m_notices.Texts(); }

    QTemporaryDir m_workDir;
    QTemporaryDir m_winePrefix;
    QTemporaryDir m_warcraft;
    QString m_oldDir;
    QByteArray m_oldWinePrefix;
    bool m_hadWinePrefix = false;
    CRecordingNotice m_notices;
    CFakeGameWindow m_gameWindow;
    CFakeProcessStarter m_starter;
    CScriptedMatchServer m_server;
    std::unique_ptr<CMainDialog> m_dialog;
    // Windows: the registry entry that InstallRegistryEntry made.
    std::unique_ptr<CTemporaryRegistryKey> m_warcraftKey;
};

} // namespace velt
