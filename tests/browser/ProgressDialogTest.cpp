#include "browser/CProgressDialog.h"

#include "controls/DialogUnits.h"

#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <ostream>

namespace velt
{
namespace
{

struct ControlCase
{
    int m_id;
    QRect m_dialogUnits;
};

void PrintTo(const ControlCase& c, std::ostream* os)
{
    *os << c.m_id;
}

class ProgressTemplate : public ::testing::TestWithParam<ControlCase>
{
};

TEST_P(ProgressTemplate, ControlAtItsPlace)
{
    const ControlCase& c = GetParam();
    QWidget owner;
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(&owner));
    QWidget* control = dialog.findChild<QWidget*>(QString::number(c.m_id));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), MapDialogRect(c.m_dialogUnits, BaseUnitsOf(dialog.font())));
}

INSTANTIATE_TEST_SUITE_P(Template129, ProgressTemplate,
                         ::testing::Values(ControlCase{1000, QRect(0, 1, 212, 13)},
                                           ControlCase{1001, QRect(0, 13, 212, 12)},
                                           ControlCase{1002, QRect(4, 31, 201, 58)},
                                           ControlCase{1003, QRect(0, 95, 212, 14)},
                                           ControlCase{1004, QRect(8, 119, 199, 13)}));

TEST(ProgressDialogTest, CreatedHiddenOwnedAndIdle)
{
    QWidget owner;
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(&owner));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("VELT Beta 0.3"));
    EXPECT_EQ(dialog.parentWidget(), &owner);
    EXPECT_TRUE(dialog.isWindow());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.isModal());
    EXPECT_EQ(dialog.size(), MapDialogSize(QSize(212, 138), BaseUnitsOf(dialog.font())));
    EXPECT_EQ(dialog.ProgressBar()->minimum(), 0);
    EXPECT_EQ(dialog.ProgressBar()->maximum(), 100);
    EXPECT_EQ(dialog.IsBusy(), 0);
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("1002"))->pixmap().isNull());
}

TEST(ProgressDialogTest, MapLineShowsTheCellEvenWhenEmpty)
{
    QWidget owner;
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(&owner));
    auto* map = dialog.findChild<QLabel*>(QStringLiteral("1001"));
    dialog.SetMapLine(QStringLiteral("Maps\\(4)LostTemple.w3x"));
    EXPECT_EQ(map->text(), QStringLiteral("Map: Maps\\(4)LostTemple.w3x"));
    dialog.SetMapLine(QString());
    EXPECT_EQ(map->text(), QStringLiteral("Map: "));
}

} // namespace
} // namespace velt
