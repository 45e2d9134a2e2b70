// What the user does with the keyboard and with double clicks in the main window: which of them
// watch a match, what Esc and Enter do to the folder being changed, the Tab order, and the map
// column after a typed folder.
#include "DesktopTest.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include <ostream>

namespace velt
{
namespace
{

constexpr std::uint32_t kFirst = 5;  // newest, row 0
constexpr std::uint32_t kSecond = 6; // row 1

class KeyboardFlowTest : public DesktopTest
{
protected:
    void Connect(const std::string& settings)
    {
        WriteSettings(settings);
        ServeList({Match(kFirst), Match(kSecond, "2009-04-01 10:00")});
        OpenWindow();
        m_dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dialog.get()));
        Click(CVELTTopView::kIdConnect);
        ASSERT_EQ(List().GetItemCount(), 2);
    }
    QPoint RowCentre(int row) { return List().visualRect(List().model()->index(row, 0)).center(); }
    QPoint BelowTheRows() { return RowCentre(1) + QPoint(0, 80); }
    void Key(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }
};

// --- Double click and Enter in the list ------------------------------------------------------

enum class Gesture
{
    kDoubleClickRow0,
    kDoubleClickBelowAfterPickingRow1, // the old row stays selected under Qt
    kEnterOnPickedRow1,
    kEnterWithNothingSelected,
    kArrowDownFromRow0ThenEnter, // the keyboard moved the selection: Enter watches that row
};

struct ActivationCase
{
    const char* m_name;
    Gesture m_gesture;
    std::uint32_t m_watched; // 0: nothing is watched
};

void PrintTo(const ActivationCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class Activation : public KeyboardFlowTest, public ::testing::WithParamInterface<ActivationCase>
{
};

TEST_P(Activation, WatchesOnlyARowThatWasHitOrSelected)
{
    const ActivationCase& c = GetParam();
    Connect("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    QWidget* viewport = List().viewport();
    switch (c.m_gesture)
    {
    case Gesture::kDoubleClickRow0:
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, RowCentre(0));
        break;
    case Gesture::kDoubleClickBelowAfterPickingRow1:
        ClickRow(1);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, BelowTheRows());
        break;
    case Gesture::kEnterOnPickedRow1:
        ClickRow(1);
        Key(&List(), Qt::Key_Return);
        break;
    case Gesture::kEnterWithNothingSelected:
        List().setFocus();
        Key(&List(), Qt::Key_Enter);
        break;
    case Gesture::kArrowDownFromRow0ThenEnter:
        ClickRow(0);
        Key(&List(), Qt::Key_Down);
        Key(&List(), Qt::Key_Return);
        break;
    }
    if (c.m_watched == 0)
    {
        EXPECT_TRUE(m_starter.m_started.empty());
        EXPECT_FALSE(m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, 300));
        EXPECT_TRUE(Notices().empty());
        return;
    }
    EXPECT_EQ(m_starter.m_started.size(), 1u);
    EXPECT_EQ(ListView().SelectedMatchId(), c.m_watched);
    const auto request = m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, kDeadlineMs);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->m_payload[0], c.m_watched);
    EXPECT_TRUE(Notices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Gestures, Activation,
    ::testing::Values(
        ActivationCase{"DoubleClickOnARow", Gesture::kDoubleClickRow0, kFirst},
        ActivationCase{"DoubleClickBelowTheRows", Gesture::kDoubleClickBelowAfterPickingRow1, 0},
        ActivationCase{"EnterOnTheSelectedRow", Gesture::kEnterOnPickedRow1, kSecond},
        ActivationCase{"EnterWithoutSelection", Gesture::kEnterWithNothingSelected, 0},
        ActivationCase{"ArrowThenEnter", Gesture::kArrowDownFromRow0ThenEnter, kSecond}),
    [](const ::testing::TestParamInfo<ActivationCase>& info)
    { return std::string(info.param.m_name); });

// --- Esc and Enter while the folder is changed -----------------------------------------------

struct PathKeyCase
{
    const char* m_name;
    Qt::Key m_key;
    bool m_typeWithoutSeparator; // a folder typed without its closing separator
    const char* m_buttonAfter;
    bool m_saved;
};

void PrintTo(const PathKeyCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class PathKeys : public KeyboardFlowTest, public ::testing::WithParamInterface<PathKeyCase>
{
};

TEST_P(PathKeys, EscKeepsTheWindowAndTheFolderEnterConfirms)
{
    const PathKeyCase& c = GetParam();
    Connect("[SETTINGS]\r\nwarcraftpath=/nowhere/\r\n");
    // Nothing is installed in the stored folder: the map column is red.
    ASSERT_EQ(List().GetCellTextColor(0, 2), CVELTListView::kBrokenColor);
    Click(CVELTTopView::kIdChange);
    ASSERT_EQ(ChangeText(), QStringLiteral("Confirm Change"));
    std::string typed = WarcraftFolder();
    if (c.m_typeWithoutSeparator)
        typed.pop_back();
    TypeFolder(QString::fromStdString(typed));

    auto* edit = qobject_cast<QLineEdit*>(Control(CVELTTopView::kIdWarcraftPath));
    Key(edit, c.m_key);
    // Esc pressed in the window itself as well: only the close box ends the program.
    if (c.m_key == Qt::Key_Escape)
        Key(m_dialog.get(), Qt::Key_Escape);
    QApplication::processEvents();

    EXPECT_TRUE(m_dialog->isVisible());
    EXPECT_EQ(m_dialog->result(), 0);
    EXPECT_EQ(EditText().toStdString(), typed);
    EXPECT_EQ(ChangeText(), QLatin1String(c.m_buttonAfter));
    EXPECT_EQ(ReadSettings().find("warcraftpath=" + typed + "\r") != std::string::npos, c.m_saved);
    if (!c.m_saved)
        return;
    // The confirmed folder finds the maps, with or without its closing separator.
    Click(CVELTTopView::kIdRefresh);
    ASSERT_EQ(List().GetItemCount(), 2);
    EXPECT_EQ(List().GetCellTextColor(0, 2), CVELTListView::kCompletedColor);
    EXPECT_TRUE(Notices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PathKeys,
    ::testing::Values(PathKeyCase{"Escape", Qt::Key_Escape, false, "Confirm Change", false},
                      PathKeyCase{"Enter", Qt::Key_Return, false, "Change", true},
                      PathKeyCase{"EnterWithoutSeparator", Qt::Key_Enter, true, "Change", true}),
    [](const ::testing::TestParamInfo<PathKeyCase>& info)
    { return std::string(info.param.m_name); });

TEST_F(KeyboardFlowTest, EnterInTheLockedFolderChangesNothing)
{
    Connect("[SETTINGS]\r\nwarcraftpath=" + WarcraftFolder() + "\r\n");
    const std::string before = ReadSettings();
    auto* edit = qobject_cast<QLineEdit*>(Control(CVELTTopView::kIdWarcraftPath));
    edit->setFocus();
    Key(edit, Qt::Key_Return);
    EXPECT_EQ(ChangeText(), QStringLiteral("Change"));
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(ReadSettings(), before);
    EXPECT_TRUE(m_starter.m_started.empty());
}

// --- Tab order and the focused row -----------------------------------------------------------

TEST_F(KeyboardFlowTest, TabRunsThroughTheBarIntoTheListWhoseFocusedRowShows)
{
    Connect("");
    Control(CVELTTopView::kIdConnect)->setFocus(Qt::TabFocusReason);
    const QWidget* expected[] = {
        Control(CVELTTopView::kIdRefresh),      Control(CVELTTopView::kIdWatch),
        Control(CVELTTopView::kIdWindowMode),   Control(CVELTTopView::kIdOpenGLMode),
        Control(CVELTTopView::kIdWarcraftPath), Control(CVELTTopView::kIdChange),
        &List(),                                Control(CVELTTopView::kIdConnect)};
    for (const QWidget* next : expected)
    {
        Key(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next)
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                            : QStringLiteral("none"))
                   .toStdString();
    }

    // The focused row is marked while the list has the focus, selected or not.
    List().setFocus(Qt::TabFocusReason);
    List().setCurrentIndex(List().model()->index(1, 0));
    List().selectionModel()->clearSelection();
    const QRect row = List().visualRect(List().model()->index(1, 0));
    const QImage focused = List().viewport()->grab().toImage();
    const QRgb text = List().palette().color(QPalette::Text).rgb();
    const qreal ratio = focused.devicePixelRatio();
    // A dotted line in the text colour along the row's top edge, across the whole row.
    int dots = 0;
    for (int x = 0; x < List().viewport()->width(); ++x)
        dots += focused.pixel(QPoint(x, row.top()) * ratio) == text ? 1 : 0;
    EXPECT_GT(dots, List().viewport()->width() / 4);
}

} // namespace
} // namespace velt
