#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QProgressBar;

namespace velt
{

class IBrowserWindow;
class CPictureLinkStatic;

// The small window that a watch shows while it asks for the match: the match's name and map, a
// progress bar and a status line, stepped through map, game data, buffering and game start, and
// then the game launched or raised. Created hidden with the match list view; busy from the first
// step until the launch.
class CProgressDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* kCaption = "VELT Beta 0.3";
    static constexpr int kIdName = 1000;
    static constexpr int kIdMap = 1001;
    static constexpr int kIdPicture = 1002;
    static constexpr int kIdProgress = 1003;
    static constexpr int kIdStatus = 1004;

    static constexpr const char* kMapStepText = "Downloading map...";
    static constexpr const char* kGameDataStepText = "Downloading Game Data...";
    static constexpr const char* kBufferingStepText = "Buffering...Please Wait..";
    static constexpr const char* kGameStartStepText = "Game Start now,please enjoy...";

    CProgressDialog();

    // Modeless creation: owned by the owner's window, hidden. Returns true once created.
    bool Create(QWidget* owner);
    bool IsCreated() const { return m_created; }
    void SetWindow(IBrowserWindow* window) { m_window = window; }

    // "the name" and "Map: the map" lines.
    void SetNameLine(const QString& text);
    void SetMapLine(const QString& text);

    void StepMap();
    void StepGameData();
    void StepBuffering();
    // Ends in LaunchWarcraft.
    void StepGameStart();
    // Clears busy and hides the dialog, then brings a running game to the front or starts one
    // with the command bar's folder and switches.
    void LaunchWarcraft();

    int IsBusy() const { return m_busy; }
    const QString& StatusText() const { return m_statusText; }
    const QString& NameLine() const { return m_nameLine; }
    const QString& MapLine() const { return m_mapLine; }
    QProgressBar* ProgressBar() const { return m_progress; }

    // Shows the three texts in their controls.
    void UpdateData();

signals:
    // After every UpdateData, with the controls showing the fields.
    void DataShown();

private:
    void Step(int position, const char* text);
    QRect MapDialogRect(const QRect& dialogUnits) const;
    template <typename T> T* AddControl(int id, const QRect& dialogUnits);

    CPictureLinkStatic* m_picture = nullptr;
    QProgressBar* m_progress = nullptr;
    QString m_statusText;
    QString m_nameLine;
    QString m_mapLine;
    int m_busy = 0;

    QLabel* m_nameControl = nullptr;
    QLabel* m_mapControl = nullptr;
    QLabel* m_statusControl = nullptr;
    IBrowserWindow* m_window = nullptr;
    bool m_created = false;
};

} // namespace velt
