#pragma once

#include "controls/CFormView.h"
#include "controls/CSkinSplitterWnd.h"

#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace velt
{

// The command bar above the match list: logo, Connect, Refresh, Watch!, the two launch modes and
// the Warcraft III folder with its Change button. It reaches the main window and the match list
// through the application object.
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
    static constexpr const char* kLogoResource = ":/res/logo.xpm"; // bitmap 135

    explicit CVELTTopView(QWidget* parent = nullptr);

    static ViewClass RuntimeClass();

    int OpenGLMode() const { return m_openGLMode; }
    int WindowMode() const { return m_windowMode; }
    const std::string& WarcraftPath() const { return m_warcraftPath; }
    int PathLocked() const { return m_pathLocked; }
    int ConnectedOnce() const { return m_connectedOnce; }

    // Copies the check boxes and the folder into the fields (toControls false) or back.
    void UpdateData(bool fromControls);

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
    int m_pathLocked = 1;
    int m_connectedOnce = 0;
    std::string m_settingsFolder;
};

} // namespace velt
