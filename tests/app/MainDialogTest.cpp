#include "app/CMainDialog.h"

#include "browser/CVELTListView.h"
#include "browser/CVELTTopView.h"
#include "skin/CSkinEngine.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

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
    auto* logo = bar->findChild<QLabel*>(QStringLiteral("logo"));
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->pos(), bar->MapDialogRect(QRect(3, 0, 95, 33)).topLeft());
    EXPECT_EQ(logo->pixmap().size(), QSize(142, 50));
    auto* label = bar->findChild<QLabel*>(QStringLiteral("pathLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("War3 path"));
    EXPECT_EQ(label->geometry(), bar->MapDialogRect(QRect(112, 32, 37, 8)));
    // The whole bar fits its 60-pixel row.
    EXPECT_LE(bar->Form()->height(), 60);
}

} // namespace
} // namespace velt
