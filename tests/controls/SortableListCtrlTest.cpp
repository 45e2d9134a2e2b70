#include "controls/CSortableListCtrl.h"

#include "listing/ListOrder.h"

#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

#include <vector>

namespace velt
{
namespace
{

QStringList ToQStrings(const std::vector<const char*>& texts)
{
    QStringList out;
    for (const char* text : texts)
        out << QString::fromUtf8(text);
    return out;
}

// A shown list with `columns` columns; row r's data word is 100 + r.
class ListFixture : public ::testing::Test
{
protected:
    void Build(const QStringList& cells, int columns = 2)
    {
        m_list.SetRowOrder(&SortRowOrder);
        for (int c = 0; c < columns; ++c)
            m_list.InsertColumn(c, QStringLiteral("Column %1").arg(c), 90);
        for (int r = 0; r < cells.size(); ++r)
        {
            ASSERT_EQ(m_list.InsertItem(r, cells[r], 100u + static_cast<unsigned>(r)), r);
            if (columns > 1)
                m_list.SetItemText(r, 1, QStringLiteral("row %1").arg(r));
        }
        m_list.resize(400, 300);
        m_list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_list));
    }

    QStringList Column(int column) const
    {
        QStringList out;
        for (int r = 0; r < m_list.GetItemCount(); ++r)
            out << m_list.GetItemText(r, column);
        return out;
    }

    void ClickHeader(int column)
    {
        QHeaderView* header = m_list.header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }

    QPoint RowCenter(int row) { return m_list.visualRect(m_list.model()->index(row, 0)).center(); }

    CSortableListCtrl m_list;
};

struct SortRow
{
    const char* m_name;
    std::vector<const char*> m_cells;
    std::vector<const char*> m_ascending;
};

void PrintTo(const SortRow& c, std::ostream* os)
{
    *os << c.m_name;
}

class SortRules : public ListFixture, public ::testing::WithParamInterface<SortRow>
{
};

TEST_P(SortRules, AscendingThenDescending)
{
    const SortRow& row = GetParam();
    Build(ToQStrings(row.m_cells));
    m_list.SortByColumn(0, true);
    EXPECT_EQ(Column(0), ToQStrings(row.m_ascending));
    m_list.SortByColumn(0, false);
    QStringList descending = ToQStrings(row.m_ascending);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(Column(0), descending);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SortRules,
    ::testing::Values(
        SortRow{"Hex", {"10", "1A", "9", "2", "0x0B"}, {"2", "9", "0x0B", "10", "1A"}},
        SortRow{"Decimal", {"10", "2.5", "-1.5", "3.25"}, {"-1.5", "2.5", "3.25", "10"}},
        SortRow{"Percent", {"12%", "9%", "100%", "0.5%"}, {"0.5%", "9%", "12%", "100%"}},
        SortRow{"Time",
                {"01:02:00", "00:35:12", "1:00 PM", "23:59"},
                {"00:35:12", "01:02:00", "1:00 PM", "23:59"}},
        SortRow{"Date",
                {"2009-05-01 20:15", "04/30/2009", "01.05.2009 09:00", "2008-12-31 23:59:59"},
                {"2008-12-31 23:59:59", "04/30/2009", "01.05.2009 09:00", "2009-05-01 20:15"}},
        SortRow{"Text",
                {"Live!", "Broken", "Completed", "apple"},
                {"Broken", "Completed", "Live!", "apple"}},
        SortRow{"EmptyCells", {"b", "", "a", ""}, {"", "", "a", "b"}}),
    [](const ::testing::TestParamInfo<SortRow>& info) { return std::string(info.param.m_name); });

TEST_F(ListFixture, MixedKindsComparePairByPair)
{
    // Numbers among themselves, texts among themselves, and a number against a text as bytes.
    Build(ToQStrings({"Unrated", "4.5(Hot!)", "4.0", "3.5", "4.5(Hot!)"}));
    m_list.SortByColumn(0, true);
    EXPECT_EQ(Column(0), ToQStrings({"3.5", "4.0", "4.5(Hot!)", "4.5(Hot!)", "Unrated"}));
}

TEST_F(ListFixture, HeaderClicksToggleAndContentChangesReset)
{
    Build(ToQStrings({"3", "1", "2"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), ToQStrings({"1", "2", "3"}));
    ClickHeader(0);
    EXPECT_EQ(Column(0), ToQStrings({"3", "2", "1"}));
    EXPECT_FALSE(m_list.SortAscending());

    ClickHeader(1); // another column starts ascending
    EXPECT_EQ(m_list.SortColumn(), 1);
    EXPECT_TRUE(m_list.SortAscending());
    ClickHeader(0);
    EXPECT_TRUE(m_list.SortAscending());

    m_list.SetItemText(0, 1, QStringLiteral("changed"));
    EXPECT_EQ(m_list.SortColumn(), -1);
    ClickHeader(0);
    EXPECT_TRUE(m_list.SortAscending()) << "a text change makes the next click ascending";

    m_list.InsertItem(3, QStringLiteral("0"));
    EXPECT_EQ(m_list.SortColumn(), -1);
    ClickHeader(0);
    EXPECT_EQ(Column(0), ToQStrings({"0", "1", "2", "3"}));

    m_list.DeleteAllItems();
    EXPECT_EQ(m_list.SortColumn(), 0) << "deleting rows keeps the sort state";
}

TEST_F(ListFixture, SortedSignalEvenForNoOrOneRow)
{
    Build({});
    QSignalSpy spy(&m_list, &CSortableListCtrl::ListSorted);
    m_list.SortByColumn(1, false);
    m_list.InsertItem(0, QStringLiteral("only"));
    m_list.SortByColumn(0, true);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy[0][0].toInt(), 1);
    EXPECT_FALSE(spy[0][1].toBool());
    EXPECT_EQ(m_list.GetItemText(0, 0), QStringLiteral("only"));

    // No sort and no signal for a column out of range or without clickable headers.
    m_list.SortByColumn(2, true);
    m_list.SortByColumn(-1, true);
    m_list.SetColumnHeaderShown(false);
    m_list.SortByColumn(0, true);
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(ListFixture, DataWordsSelectionAndFocusTravelWithTheirRow)
{
    Build(ToQStrings({"c", "a", "d", "b"}));
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, RowCenter(2)); // "d", data 102
    ASSERT_EQ(m_list.GetFirstSelectedItem(), 2);

    m_list.SortByColumn(0, true);
    EXPECT_EQ(Column(0), ToQStrings({"a", "b", "c", "d"}));
    const std::vector<std::uint32_t> expected = {101, 103, 100, 102};
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(m_list.GetItemData(r), expected[static_cast<std::size_t>(r)]) << "row " << r;
    EXPECT_EQ(m_list.GetFirstSelectedItem(), 3);
    EXPECT_EQ(m_list.currentIndex().row(), 3);
    EXPECT_EQ(m_list.GetItemText(3, 1), QStringLiteral("row 2")) << "the other cells moved too";
}

TEST_F(ListFixture, SpaceKeyIsIgnored)
{
    Build(ToQStrings({"a", "b", "c"}));
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    QTest::mouseClick(m_list.viewport(), Qt::LeftButton, {}, RowCenter(0));
    // Focus on another row without selecting it: a plain list would select it on Space.
    m_list.selectionModel()->setCurrentIndex(m_list.model()->index(2, 0),
                                             QItemSelectionModel::NoUpdate);
    m_list.setFocus();
    QTest::keyClick(&m_list, Qt::Key_Space);
    EXPECT_EQ(m_list.GetFirstSelectedItem(), 0);
    EXPECT_EQ(m_list.currentIndex().row(), 2);
}

struct ColorCase
{
    const char* m_name;
    int m_row;
    int m_column;
    std::vector<std::pair<int, int>> m_coloured; // cells that change
};

void PrintTo(const ColorCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class CellTextColor : public ListFixture, public ::testing::WithParamInterface<ColorCase>
{
};

TEST_P(CellTextColor, FourRowColumnCases)
{
    const ColorCase& c = GetParam();
    Build(ToQStrings({"a", "b", "c"}), 3);
    const ColorRef system = m_list.GetCellTextColor(0, 0);
    const ColorRef red = MakeColorRef(255, 0, 0);
    m_list.SetCellTextColor(c.m_row, c.m_column, red, true);
    for (int r = 0; r < 3; ++r)
    {
        for (int col = 0; col < 3; ++col)
        {
            const bool coloured = std::find(c.m_coloured.begin(), c.m_coloured.end(),
                                            std::pair{r, col}) != c.m_coloured.end();
            EXPECT_EQ(m_list.GetCellTextColor(r, col), coloured ? red : system) << r << "," << col;
            const QVariant drawn =
                m_list.model()->data(m_list.model()->index(r, col), Qt::ForegroundRole);
            EXPECT_EQ(drawn.value<QColor>(), ToQColor(coloured ? red : system)) << r << "," << col;
            EXPECT_EQ(m_list.GetCellBackColor(r, col),
                      FromQColor(m_list.palette().color(QPalette::Base)));
        }
    }
    m_list.SetCellTextColor(c.m_row, c.m_column, kDefaultColor, false);
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            EXPECT_EQ(m_list.GetCellTextColor(r, col), system);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CellTextColor,
    ::testing::Values(
        ColorCase{"OneCell", 1, 2, {{1, 2}}}, ColorCase{"WholeRow", 1, 7, {{1, 0}, {1, 1}, {1, 2}}},
        ColorCase{"WholeColumn", -1, 2, {{0, 2}, {1, 2}, {2, 2}}},
        ColorCase{"Everything",
                  5,
                  -1,
                  {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}}}),
    [](const ::testing::TestParamInfo<ColorCase>& info) { return std::string(info.param.m_name); });

TEST_F(ListFixture, CellColourReachesTheScreen)
{
    QFont big = m_list.font();
    big.setPixelSize(20);
    big.setBold(true);
    m_list.setFont(big);
    Build(ToQStrings({"MMMMMMMM", "MMMMMMMM"}), 2);
    m_list.SetCellTextColor(1, 0, MakeColorRef(255, 0, 0), true);
    const QImage image = m_list.viewport()->grab().toImage();
    const auto countRed = [&](int row)
    {
        const QRect cell = m_list.visualRect(m_list.model()->index(row, 0));
        int red = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
            {
                const QColor pixel = image.pixelColor(x, y);
                red += pixel.red() > 180 && pixel.green() < 90 && pixel.blue() < 90 ? 1 : 0;
            }
        return red;
    };
    EXPECT_GT(countRed(1), 20);
    EXPECT_EQ(countRed(0), 0);
}

TEST_F(ListFixture, ColumnsInsertedLaterGetColourEntries)
{
    Build(ToQStrings({"a", "b"}), 1);
    m_list.SetCellTextColor(-1, 0, MakeColorRef(1, 2, 3), false);
    EXPECT_EQ(m_list.InsertColumn(0, QStringLiteral("first"), 50), 0);
    EXPECT_EQ(m_list.InsertColumn(9, QStringLiteral("last"), 50), 2) << "past the end appends";
    EXPECT_EQ(m_list.GetColumnCount(), 3);
    EXPECT_EQ(m_list.GetCellTextColor(1, 1), MakeColorRef(1, 2, 3))
        << "the old column shifted right";
    EXPECT_NE(m_list.GetCellTextColor(1, 0), MakeColorRef(1, 2, 3));
    EXPECT_NE(m_list.GetCellTextColor(1, 2), kDefaultColor);
    EXPECT_EQ(m_list.GetItemText(1, 1), QStringLiteral("b"));
    EXPECT_EQ(m_list.DeleteAllItems(), 2);
    EXPECT_EQ(m_list.GetItemCount(), 0);
    EXPECT_EQ(m_list.GetItemData(0), 0u);
    EXPECT_FALSE(m_list.SetItemData(0, 5));
    EXPECT_EQ(m_list.InsertItem(-1, QStringLiteral("x")), -1);
}

} // namespace
} // namespace velt
