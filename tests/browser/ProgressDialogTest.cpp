#include "browser/CProgressDialog.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace velt
{
namespace
{

TEST(ProgressDialogTest, HiddenUntilAWatchAndTheMapLineEvenForAnEmptyCell)
{
    QWidget owner;
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(&owner));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("VELT Beta 0.3"));
    EXPECT_EQ(dialog.parentWidget(), &owner);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.IsBusy(), 0);

    auto* map = dialog.findChild<QLabel*>(QStringLiteral("1001"));
    ASSERT_NE(map, nullptr);
    dialog.SetMapLine(QStringLiteral("Maps\\(4)LostTemple.w3x"));
    EXPECT_EQ(map->text(), QStringLiteral("Map: Maps\\(4)LostTemple.w3x"));
    dialog.SetMapLine(QString());
    EXPECT_EQ(map->text(), QStringLiteral("Map: "));
}

} // namespace
} // namespace velt
