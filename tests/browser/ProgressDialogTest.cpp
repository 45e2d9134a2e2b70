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

// A match name or map from the server is shown letter for letter, never as markup.
TEST(ProgressDialogTest, ServerTextIsPlainText)
{
    QWidget owner;
    CProgressDialog dialog;
    ASSERT_TRUE(dialog.Create(&owner));
    const struct
    {
        const char* m_control;
        void (CProgressDialog::*m_set)(const QString&);
        QString m_shown;
    } lines[] = {{"1000", &CProgressDialog::SetNameLine, QStringLiteral("<b>x</b>")},
                 {"1001", &CProgressDialog::SetMapLine, QStringLiteral("Map: <b>x</b>")}};
    for (const auto& line : lines)
    {
        (dialog.*line.m_set)(QStringLiteral("<b>x</b>"));
        auto* label = dialog.findChild<QLabel*>(QLatin1String(line.m_control));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), line.m_shown);
        // Markup would leave a bold "x" alone, far narrower than the tags spelt out.
        EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(line.m_shown))
            << line.m_control;
    }
}

} // namespace
} // namespace velt
