// Prints where the main window's controls are, in pixels from the window's top left corner, as
// the real program lays them out on the current display: the application object with its skin,
// two rows in the match list. The GUI smoke run (scripts/gui-smoke.sh) clicks at these places.
// Output: one "name x y" line per control; the watching panel's are relative to its window.
#include "app/CPlayerApp.h"
#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "browser/CWatchPanel.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace
{

using namespace velt;

void PrintAt(const char* name, const QWidget* control, const QPoint& local, const QWidget* window)
{
    const QPoint at = control->mapTo(window, local);
    std::printf("%s %d %d\n", name, at.x(), at.y());
}

void PrintLayout(CMainDialog& dialog)
{
    CVELTTopView* bar = dialog.TopView();
    CVELTListView* view = dialog.ListView();
    if (bar == nullptr || view == nullptr)
        return;
    const struct
    {
        const char* m_name;
        int m_id;
        bool m_checkBox;
    } controls[] = {{"connect", CVELTTopView::kIdConnect, false},
                    {"refresh", CVELTTopView::kIdRefresh, false},
                    {"watch", CVELTTopView::kIdWatch, false},
                    {"windowmode", CVELTTopView::kIdWindowMode, true},
                    {"openglmode", CVELTTopView::kIdOpenGLMode, true},
                    {"change", CVELTTopView::kIdChange, false}};
    for (const auto& control : controls)
    {
        const QWidget* widget = bar->Control(control.m_id);
        // A check box toggles on its box, at its left.
        const QPoint local =
            control.m_checkBox ? QPoint(4, widget->height() / 2) : widget->rect().center();
        PrintAt(control.m_name, widget, local, &dialog);
    }
    CSortableListCtrl& list = view->List();
    for (int row = 0; row < 2; ++row)
        list.InsertItem(row, QStringLiteral("row"));
    for (int row = 0; row < 2; ++row)
    {
        const QRect rect = list.visualRect(list.model()->index(row, 0));
        PrintAt(row == 0 ? "row0" : "row1", list.viewport(), rect.center(), &dialog);
    }
}

// The watching panel, as it stands beside the main window: where a click at three quarters of
// its timeline goes, and a spot of the panel that is no control (a click there gives it the
// keys). Relative to the panel's own window.
void PrintPanelLayout(CMainDialog& dialog)
{
    HostStatus status;
    status.m_sessionActive = true;
    status.m_inGame = true;
    status.m_state = FeedState::kPlay;
    status.m_matchSeconds = 600;
    CWatchPanel panel(QStringLiteral("Match"), {}, {}, {}, &dialog);
    panel.Show(BuildSteeringModel(status, true));
    panel.adjustSize();
    panel.show();
    CTimelineBar& bar = panel.Timeline();
    PrintAt("timeline75", &bar, QPoint(bar.XOf(bar.Marks().m_lengthMs * 3 / 4), bar.height() / 2),
            &panel);
    PrintAt("panelblank", &panel, QPoint(4, 4), &panel);
    std::printf("panelsize %d %d\n", panel.width(), panel.height());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CRecordingNotice notices;
    CPlayerApp app(DefaultServerAddress(), notices);
    QTimer::singleShot(0,
                       [&app]
                       {
                           PrintLayout(app.MainDialog());
                           PrintPanelLayout(app.MainDialog());
                           std::fflush(stdout);
                           app.MainDialog().done(0);
                       });
    return app.Run();
}
