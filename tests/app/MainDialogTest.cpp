#include "app/CMainDialog.h"

#include "DarkPalette.h"

#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "controls/CLogoStatic.h"
#include "skin/CSkinEngine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QtMath>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace velt
{
namespace
{

class MainDialogTest : public ::testing::Test
{
protected:
    void Open(bool skinned)
    {
        m_engine.SkinEngineStart();
        if (skinned)
        {
            ASSERT_EQ(m_engine.SkinEngineOpenResource(QStringLiteral("DEFAULT")), 1);
        }
        m_dialog = std::make_unique<CMainDialog>(&m_engine, ServerAddress{"203.0.113.7", 1999});
        m_dialog->CreateContents();
        m_dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_dialog.get()));
    }

    CSkinEngine m_engine;
    std::unique_ptr<CMainDialog> m_dialog;
};

TEST_F(MainDialogTest, FixedWindowWithLockedRows)
{
    Open(false);
    EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("VELT BETA 0.4"));
    const QSize size = m_dialog->TemplateClientSize();
    EXPECT_EQ(m_dialog->size(), size);
    EXPECT_EQ(m_dialog->minimumSize(), size);
    EXPECT_EQ(m_dialog->maximumSize(), size) << "the window cannot be resized";
    EXPECT_FALSE(m_dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(m_dialog->Frame()->geometry(), QRect(QPoint(0, 0), size));

    CSkinSplitterWnd& splitter = m_dialog->Splitter();
    EXPECT_TRUE(splitter.BarsLocked());
    EXPECT_EQ(splitter.RowInfo(0).m_minSize, 60);
    EXPECT_EQ(splitter.RowInfo(1).m_minSize, 200);
    EXPECT_EQ(m_dialog->TopView()->geometry(), QRect(0, 0, size.width(), 60));
    EXPECT_EQ(m_dialog->ListView()->geometry(), QRect(0, 64, size.width(), size.height() - 64));
    EXPECT_EQ(splitter.FindKeyedView(CMainDialog::kListViewKey), m_dialog->ListView());
    EXPECT_EQ(splitter.FindKeyedView(CMainDialog::kTopViewKey), m_dialog->TopView());
    EXPECT_EQ(m_dialog->ListView()->List().GetColumnCount(), 9)
        << "the list view had its initial update";

    EXPECT_EQ(m_dialog->ServerHost(), "203.0.113.7");
    EXPECT_EQ(m_dialog->ServerPort(), 1999);
    EXPECT_TRUE(m_dialog->Channels().empty());
    EXPECT_EQ(m_dialog->CurrentClient(), nullptr);
}

TEST_F(MainDialogTest, SkinWidensTheBar)
{
    Open(true);
    EXPECT_EQ(m_dialog->Splitter().BarHeight(), 10);
    EXPECT_EQ(m_dialog->ListView()->y(), 70);
    EXPECT_EQ(m_dialog->TopView()->height(), 60);
}

struct ControlCase
{
    int m_id;
    const char* m_text;
    QRect m_dialogUnits;
};

void PrintTo(const ControlCase& c, std::ostream* os)
{
    *os << c.m_id;
}

class CommandBarControls : public MainDialogTest, public ::testing::WithParamInterface<ControlCase>
{
};

TEST_P(CommandBarControls, AtTheirTemplatePlaces)
{
    const ControlCase& c = GetParam();
    Open(false);
    CVELTTopView* bar = m_dialog->TopView();
    ASSERT_NE(bar, nullptr);
    QWidget* control = bar->Control(c.m_id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), bar->MapDialogRect(c.m_dialogUnits));
    if (auto* button = qobject_cast<QAbstractButton*>(control))
    {
        EXPECT_EQ(button->text(), QLatin1String(c.m_text));
    }
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
    {
        EXPECT_TRUE(edit->isReadOnly());
    }
}

INSTANTIATE_TEST_SUITE_P(Template137, CommandBarControls,
                         ::testing::Values(ControlCase{1006, "Connect", QRect(103, 5, 50, 17)},
                                           ControlCase{1096, "Refresh", QRect(165, 5, 50, 17)},
                                           ControlCase{1005, "Watch!", QRect(227, 5, 50, 17)},
                                           ControlCase{1009, "Window Mode", QRect(293, 11, 60, 10)},
                                           ControlCase{1010, "OpenGL Mode", QRect(358, 11, 60, 10)},
                                           ControlCase{1012, "", QRect(153, 27, 200, 13)},
                                           ControlCase{1013, "Change", QRect(358, 26, 68, 14)}));

TEST_F(MainDialogTest, LogoAndPathLabel)
{
    Open(false);
    CVELTTopView* bar = m_dialog->TopView();
    auto* logo = bar->findChild<CLogoStatic*>(QStringLiteral("logo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->pos(), bar->MapDialogRect(QRect(3, 0, 95, 33)).topLeft());
    EXPECT_EQ(logo->size(), QSize(142, 50));
    // On a screen scaled to 2x the logo has a pixel of its own for every screen pixel.
    for (const qreal ratio : {1.0, 1.5, 2.0})
    {
        const QPixmap shown = CLogoStatic::Render(ratio);
        EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(142, 50)) << ratio;
        EXPECT_EQ(shown.size(), QSize(qCeil(142 * ratio), qCeil(50 * ratio))) << ratio;
    }
    auto* label = bar->findChild<QLabel*>(QStringLiteral("pathLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("War3 path"));
    EXPECT_EQ(label->geometry(), bar->MapDialogRect(QRect(112, 32, 37, 8)));
    // The whole bar fits its 60-pixel row.
    EXPECT_LE(bar->Form()->height(), 60);
}

// --- Light and dark desktop themes ------------------------------------------------------------

double Luminance(const QColor& color)
{
    const auto channel = [](double c)
    { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

// The contrast ratio of two colours, from 1 (the same) to 21 (black on white).
double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

class DesktopThemes : public ::testing::TestWithParam<bool>
{
};

TEST_P(DesktopThemes, EveryTextOfTheSkinnedWindowIsReadable)
{
    const QPalette desktop = QApplication::palette();
    if (GetParam())
        QApplication::setPalette(DarkDesktopPalette());
    {
        CSkinEngine engine;
        engine.SkinEngineStart();
        ASSERT_EQ(engine.SkinEngineOpenResource(QStringLiteral("DEFAULT")), 1);
        engine.SkinEngineDialogLook(QStringLiteral("MainFrame"));
        CMainDialog dialog(&engine, ServerAddress{"203.0.113.7", 1999});
        engine.SkinEngineAttach(&dialog, QStringLiteral("MainFrame"));
        dialog.CreateContents();
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        CVELTTopView* bar = dialog.TopView();
        CSortableListCtrl& list = dialog.ListView()->List();
        list.InsertItem(0, QStringLiteral("row"));

        struct Pair
        {
            const char* m_what;
            const QWidget* m_widget;
            QPalette::ColorRole m_text;
            QPalette::ColorRole m_background;
        };
        const Pair pairs[] = {
            {"button", bar->Control(CVELTTopView::kIdConnect), QPalette::ButtonText,
             QPalette::Button},
            {"check box", bar->Control(CVELTTopView::kIdWindowMode), QPalette::WindowText,
             QPalette::Window},
            {"label", bar->findChild<QLabel*>(QStringLiteral("pathLabel")), QPalette::WindowText,
             QPalette::Window},
            {"edit", bar->Control(CVELTTopView::kIdWarcraftPath), QPalette::Text, QPalette::Base},
            {"list", &list, QPalette::Text, QPalette::Base},
            {"selected row", &list, QPalette::HighlightedText, QPalette::Highlight},
            {"list header", list.header(), QPalette::ButtonText, QPalette::Button},
        };
        for (const Pair& pair : pairs)
        {
            ASSERT_NE(pair.m_widget, nullptr) << pair.m_what;
            const QPalette& palette = pair.m_widget->palette();
            EXPECT_GE(Contrast(palette.color(pair.m_text), palette.color(pair.m_background)), 4.5)
                << pair.m_what;
        }
        // The cells' own colours: the default one and the three status colours on the list.
        const QColor base = list.palette().color(QPalette::Base);
        EXPECT_GE(Contrast(ToQColor(list.GetCellTextColor(0, 0)), base), 4.5);
        for (const ColorRef status : {CVELTListView::kLiveColor, CVELTListView::kCompletedColor,
                                      CVELTListView::kBrokenColor})
            EXPECT_GE(Contrast(ToQColor(status), base), 3.0) << std::hex << status;
    }
    QApplication::setPalette(desktop);
}

INSTANTIATE_TEST_SUITE_P(Themes, DesktopThemes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info)
                         { return std::string(info.param ? "Dark" : "Light"); });

} // namespace
} // namespace velt
