#pragma once

#include "controls/CTimelineBar.h"
#include "steering/SteeringModel.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class QKeyEvent;
class QLabel;
class QPushButton;
class QSpinBox;

namespace velt
{

// The small window beside the main window that shows one hosted session and steers it: the
// match's name, its state, game time, data held and speed, the timeline, and a control for each
// of the viewer's playback commands. Each control sends the chat command it stands for through
// the session, so the game shows the command's own lines. A control the command would refuse
// now is disabled, its tooltip saying why. The panel takes the keys while it has focus; the
// match list hands them on (CWatchPanels).
class CWatchPanel : public QWidget
{
    Q_OBJECT

public:
    // Sends a command to the session; false when no game takes it.
    using SteerFunction = std::function<bool(const std::string&)>;
    // Asks the viewer a yes/no question; true for yes.
    using AskFunction = std::function<bool(const QString&)>;
    // The session as it stands now.
    using SnapshotFunction = std::function<SteeringModel()>;

    static constexpr const char* kObjectName = "watchPanel";
    static constexpr const char* kBackQuestion =
        "Going back restarts the game: it leaves and joins again, then plays up to the time "
        "chosen. Go back?";

    CWatchPanel(const QString& matchName, SteerFunction steer, AskFunction ask,
                SnapshotFunction snapshot, QWidget* parent = nullptr);

    // Shows the session as the model has it; what has not changed is not redrawn.
    void Show(const SteeringModel& model);
    const SteeringModel& Model() const { return m_model; }

    // What a control does when used, as a click or a key: sends its command if it is enabled
    // in the session as it stands now (the panel is brought up to date first: a click just after
    // a change must not meet the state before it). A jump back is asked about first, once per
    // panel (a panel lives for one session). True when a command went to the session.
    bool Use(SteerControl control, std::uint64_t target = 0);
    // The panel's keys; true when the key was one of them. A key held down acts once.
    bool HandleKey(const QKeyEvent& event);

    // For tests and the layout probe: the control's widget (kTimeline: the bar; kSpeed: the
    // level's button, target 1 to 4; kDelay: the button that sets the spin box's value).
    QWidget* ControlWidget(SteerControl control, int level = 1) const;
    CTimelineBar& Timeline() { return m_timeline; }
    QSpinBox& DelayBox() { return *m_delayBox; }
    QString StateText() const;
    QString TimeText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* AddButton(const QString& text, SteerControl control, const QString& key,
                           std::uint64_t target = 0);
    // Enables a control's widget, and gives it the tooltip of its key or of its refusal.
    void ApplyControl(QWidget* widget, SteerControl control, const QString& enabledTip);
    static void SetText(QLabel* label, const std::string& text);

    SteeringModel m_model;
    SteerFunction m_steer;
    AskFunction m_ask;
    SnapshotFunction m_snapshot;
    bool m_backAsked = false;
    QLabel* m_name = nullptr;
    QLabel* m_state = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_held = nullptr;
    QLabel* m_speed = nullptr;
    CTimelineBar m_timeline;
    QPushButton* m_pause = nullptr; // its text follows the state
    QSpinBox* m_delayBox = nullptr;
    // Each control's widget (the speed levels' buttons are apart), and its tooltip while it is
    // enabled: what it does and its key.
    std::array<QWidget*, kSteerControls> m_widgets{};
    std::array<QPushButton*, 4> m_levels{};
    std::array<QString, kSteerControls> m_tips;
};

} // namespace velt
