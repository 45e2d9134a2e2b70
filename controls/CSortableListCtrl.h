#pragma once

#include "controls/CListCtrlModel.h"
#include "controls/ListRowData.h"

#include <QTreeView>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velt
{

// Extended list styles, with the platform's bit values.
enum ListExStyle : std::uint32_t
{
    kListExSubItemImages = 0x00000002,  // accepted; cells carry no images here
    kListExHeaderDragDrop = 0x00000010, // columns can be reordered by dragging their headers
    kListExFullRowSelect = 0x00000020,  // the whole row shows the selection
};

// A report list whose cells carry their own text colours, that keeps a data word per row, and
// sorts by a column when its header is clicked, in the order its owner gives (by default the
// texts' byte order, ties kept). Selection and focus stay with their row through a sort.
class CSortableListCtrl : public QTreeView
{
    Q_OBJECT

public:
    explicit CSortableListCtrl(QWidget* parent = nullptr);

    // The order of a column's cells (UTF-8) after a sort: the row numbers in display order.
    using RowOrder = std::function<std::vector<std::size_t>(const std::vector<std::string>& cells,
                                                            bool ascending)>;
    void SetRowOrder(RowOrder order) { m_rowOrder = std::move(order); }

    // Sets the style plus kListExFullRowSelect and kListExSubItemImages, which always stay.
    void SetExtendedStyle(std::uint32_t style);
    std::uint32_t GetExtendedStyle() const { return m_extendedStyle; }

    // Left-aligned column of the given pixel width; returns its index or -1.
    int InsertColumn(int column, const QString& title, int width);
    // Returns the new row's index or -1; resets the sort state. The row's data word is param.
    int InsertItem(int row, const QString& text, std::uint32_t param = 0);
    // Resets the sort state, then sets the text.
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    bool SetItemData(int row, std::uint32_t data);
    std::uint32_t GetItemData(int row) const;
    // Row and column both valid: that cell; only the row valid: the whole row; only the column
    // valid: that column in every row; neither: every cell. kDefaultColor is the system text
    // colour. With redraw the list repaints at once.
    void SetCellTextColor(int row, int column, ColorRef color, bool redraw);
    ColorRef GetCellTextColor(int row, int column) const;
    ColorRef GetCellBackColor(int row, int column) const;
    int DeleteAllItems();
    void SortByColumn(int column, bool ascending);

    int GetItemCount() const { return m_model.rowCount(); }
    int GetColumnCount() const { return m_model.columnCount(); }
    // The first selected row, or -1.
    int GetFirstSelectedItem() const;
    int SortColumn() const { return m_sortColumn; }
    bool SortAscending() const { return m_sortAscending; }
    // Sorting needs visible, clickable column headers.
    void SetColumnHeaderShown(bool shown);

signals:
    // Sent after every sort, even of a list with no or one row.
    void ListSorted(int column, bool ascending);
    // A left click anywhere in the list, on a row or not.
    void Clicked();
    // A left double click; onRow is false on the empty space below or beside the rows, where
    // the earlier selection is still in force.
    void DoubleClicked(bool onRow);
    // Enter or Return in the list.
    void EnterPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The row with the keyboard focus gets a frame while the list has the focus, so that a
    // keyboard user sees where Enter and the arrows act.
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    void OnColumnClick(int column);
    void ResetSortState();
    void SortRange(int first, int last);
    ColorRef SystemTextColor() const;
    ColorRef SystemWindowColor() const;

    CListCtrlModel m_model;
    int m_sortColumn = -1;
    bool m_sortAscending = true;
    RowOrder m_rowOrder;
    std::uint32_t m_extendedStyle = kListExFullRowSelect | kListExSubItemImages;
};

} // namespace velt
