#pragma once

#include "controls/CFormView.h"
#include "controls/CSkinSplitterWnd.h"

#include <cstdint>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velt
{

class IBrowserWindow;
class CMatchServerClient;

// The command bar above the match list: logo, Connect, Refresh, Watch!, the two launch modes and
// the Warcraft III folder with its Change button. It owns the three settings and the file they
// live in, "VELT.ini" in the working directory, and reaches the main window's channel table and
// the match list through the main window.
class CVELTTopView : public CFormView
{
    Q_OBJECT

public:
    static constexpr int kIdWatch = 1005;
    static constexpr int kIdConnect = 1006;
    static constexpr int kIdWindowMode = 1009;
    static constexpr int kIdOpenGLMode = 1010;
    static constexpr int kIdWarcraftPath = 1012;
    static constexpr int kIdChange = 1013;
    static constexpr int kIdRefresh = 1096;

    // The only channel that Connect selects.
    static constexpr std::uint32_t kConnectChannel = 1;

    static constexpr const char* kSettingsFileName = "VELT.ini";
    static constexpr const char* kSettingsSection = "SETTINGS";
    static constexpr const char* kWindowModeKey = "windowmode";
    static constexpr const char* kOpenGLModeKey = "openglmode";
    static constexpr const char* kWarcraftPathKey = "warcraftpath";
    // Seconds behind a live match's edge; missing or 0 plays at the edge. Read, never written.
    static constexpr const char* kLiveDelayKey = "livedelay";
    // The folder is read into a buffer of this many bytes, its terminator included.
    static constexpr std::size_t kWarcraftPathBuffer = 256;

    static constexpr const char* kChangeText = "Change";
    static constexpr const char* kConfirmChangeText = "Confirm Change";
    static constexpr const char* kConnectFirstMessage = "You need connect first";
    static constexpr const char* kInputPathMessage = "Please input the path of warcraft manually";

    explicit CVELTTopView(QWidget* parent = nullptr);

    static ViewClass RuntimeClass();

    void SetWindow(IBrowserWindow* window);

    int OpenGLMode() const { return m_openGLMode; }
    int WindowMode() const { return m_windowMode; }
    const std::string& WarcraftPath() const { return m_warcraftPath; }
    std::uint32_t LiveDelay() const { return m_liveDelaySeconds; }
    int PathLocked() const { return m_pathLocked; }
    int ConnectedOnce() const { return m_connectedOnce; }
    const std::string& SettingsFolder() const { return m_settingsFolder; }
    // Where the settings are read and written: the settings folder and "VELT.ini".
    std::string SettingsFilePath() const;

    // Copies the check boxes and the folder into the fields (fromControls) or back.
    void UpdateData(bool fromControls);

    // Reads the file into the fields; a stored 0 leaves a mode as it was. The controls are not
    // touched.
    void LoadSettings();
    // Takes the controls into the fields and writes all three keys.
    void SaveSettings();
    // What Connect does with the settings, for the client of a replay file opened before any
    // Connect: the file is read, and the folder goes to the client (or comes from Warcraft
    // III's registry entry through it) and into the controls. Once the settings have been read,
    // nothing happens: the list view gives each file's client the folder in force.
    void TakeSettingsBeforeConnect(CMatchServerClient& client);

public slots:
    void OnConnect();
    void OnRefresh();
    void OnWatch();
    void OnChangePath();
    void OnWindowMode();
    void OnOpenGLMode();

private:
    QPushButton* m_change = nullptr;
    QPushButton* m_watch = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_connect = nullptr;
    QCheckBox* m_windowModeBox = nullptr;
    QCheckBox* m_openGLModeBox = nullptr;
    QLineEdit* m_pathEdit = nullptr;

    int m_openGLMode = 0;
    int m_windowMode = 0;
    std::string m_warcraftPath;
    std::uint32_t m_liveDelaySeconds = 0;
    int m_pathLocked = 1;
    int m_connectedOnce = 0;
    std::string m_settingsFolder;
    IBrowserWindow* m_window = nullptr;

    // The settings folder chosen at start-up, or the working directory when none was.
    std::string ChosenSettingsFolder() const;
    // Reads the file and hands the folder and the live delay to the client; an empty folder is
    // filled from the registry through the client. Shows the result in the controls.
    void TakeSettings(CMatchServerClient& client);

    bool m_settingsTaken = false;
};

} // namespace velt
