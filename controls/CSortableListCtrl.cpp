#include "controls/CSortableListCtrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <string>

namespace velt
{

CSortableListCtrl::CSortableListCtrl(QWidget* parent) : QTreeView(parent)
{
    setModel(&m_model);
    // Always a report: flat rows, no in-place editing, scroll bars as needed.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSortingEnabled(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, &CSortableListCtrl::OnColumnClick);
    SetExtendedStyle(0);
}

void CSortableListCtrl::SetExtendedStyle(std::uint32_t style)
{
    m_extendedStyle = style | kListExFullRowSelect | kListExSubItemImages;
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    header()->setSectionsMovable((m_extendedStyle & kListExHeaderDragDrop) != 0);
}

int CSortableListCtrl::InsertColumn(int column, const QString& title, int width)
{
    const int index = m_model.InsertColumn(column, title, SystemTextColor(), SystemWindowColor());
    if (index >= 0)
        header()->resizeSection(index, width);
    return index;
}

int CSortableListCtrl::InsertItem(int row, const QString& text, std::uint32_t param)
{
    ResetSortState();
    ListRowData data;
    data.m_userData = param;
    const auto columns = static_cast<std::size_t>(GetColumnCount());
    data.m_textColors.assign(columns, SystemTextColor());
    data.m_backColors.assign(columns, SystemWindowColor());
    return m_model.InsertRow(row, text, std::move(data));
}

bool CSortableListCtrl::SetItemText(int row, int column, const QString& text)
{
    ResetSortState();
    return m_model.SetText(row, column, text);
}

QString CSortableListCtrl::GetItemText(int row, int column) const
{
    return m_model.Text(row, column);
}

bool CSortableListCtrl::SetItemData(int row, std::uint32_t data)
{
    ListRowData* rowData = m_model.RowData(row);
    if (rowData == nullptr)
        return false;
    rowData->m_userData = data;
    return true;
}

std::uint32_t CSortableListCtrl::GetItemData(int row) const
{
    const ListRowData* rowData = m_model.RowData(row);
    return rowData == nullptr ? 0 : rowData->m_userData;
}

void CSortableListCtrl::SetCellTextColor(int row, int column, ColorRef color, bool redraw)
{
    if (color == kDefaultColor)
        color = SystemTextColor();
    const int rows = GetItemCount();
    const int columns = GetColumnCount();
    const bool validRow = row >= 0 && row < rows;
    const bool validColumn = column >= 0 && column < columns;
    const int firstRow = validRow ? row : 0;
    const int lastRow = validRow ? row : rows - 1;
    const int firstColumn = validColumn ? column : 0;
    const int lastColumn = validColumn ? column : columns - 1;
    for (int r = firstRow; r <= lastRow; ++r)
    {
        ListRowData* data = m_model.RowData(r);
        for (int c = firstColumn; c <= lastColumn; ++c)
            data->m_textColors[static_cast<std::size_t>(c)] = color;
    }
    m_model.ColorsChanged(validRow ? row : -1, validColumn ? column : -1);
    if (redraw)
        viewport()->repaint();
}

ColorRef CSortableListCtrl::GetCellTextColor(int row, int column) const
{
    const ListRowData* data = m_model.RowData(row);
    if (data == nullptr || column < 0 ||
        static_cast<std::size_t>(column) >= data->m_textColors.size())
        return kDefaultColor;
    return data->m_textColors[static_cast<std::size_t>(column)];
}

ColorRef CSortableListCtrl::GetCellBackColor(int row, int column) const
{
    const ListRowData* data = m_model.RowData(row);
    if (data == nullptr || column < 0 ||
        static_cast<std::size_t>(column) >= data->m_backColors.size())
        return kDefaultColor;
    return data->m_backColors[static_cast<std::size_t>(column)];
}

int CSortableListCtrl::DeleteAllItems()
{
    // One repaint for the whole removal, not one per row.
    const bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    const int count = m_model.RemoveAll();
    setUpdatesEnabled(wasEnabled);
    return count;
}

void CSortableListCtrl::SortByColumn(int column, bool ascending)
{
    if (column < 0 || column >= GetColumnCount() || isHeaderHidden() ||
        !header()->sectionsClickable())
        return;
    m_sortColumn = column;
    m_sortAscending = ascending;
    SortRange(0, GetItemCount() - 1);
    emit ListSorted(column, ascending);
}

namespace
{

std::vector<std::size_t> TextOrder(const std::vector<std::string>& cells, bool ascending)
{
    std::vector<std::size_t> order(cells.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b)
                     { return ascending ? cells[a] < cells[b] : cells[b] < cells[a]; });
    return order;
}

} // namespace

void CSortableListCtrl::SortRange(int first, int last)
{
    if (first >= last || first < 0 || last >= GetItemCount())
        return;
    const auto count = static_cast<std::size_t>(last - first + 1);
    std::vector<std::string> texts(count);
    for (std::size_t k = 0; k < count; ++k)
        texts[k] = m_model.Text(first + static_cast<int>(k), m_sortColumn).toStdString();
    const std::vector<std::size_t> sorted =
        m_rowOrder ? m_rowOrder(texts, m_sortAscending) : TextOrder(texts, m_sortAscending);
    std::vector<int> order(static_cast<std::size_t>(GetItemCount()));
    for (std::size_t r = 0; r < order.size(); ++r)
        order[r] = static_cast<int>(r);
    for (std::size_t k = 0; k < count; ++k)
        order[static_cast<std::size_t>(first) + k] = first + static_cast<int>(sorted[k]);
    m_model.Reorder(order);
}

int CSortableListCtrl::GetFirstSelectedItem() const
{
    if (selectionModel() == nullptr)
        return -1;
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows())
    {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return first;
}

void CSortableListCtrl::SetColumnHeaderShown(bool shown)
{
    setHeaderHidden(!shown);
}

void CSortableListCtrl::keyPressEvent(QKeyEvent* event)
{
    // Space would toggle the focused row's selection; the list ignores it.
    if (event->key() == Qt::Key_Space)
    {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
    {
        event->accept();
        emit EnterPressed();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CSortableListCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit Clicked();
}

void CSortableListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked(indexAt(event->position().toPoint()).isValid());
}

void CSortableListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    QTreeView::drawRow(painter, option, index);
    if (!hasFocus() || index.row() != currentIndex().row())
        return;
    // Drawn in the text colour, which stands out on the base and on the selection alike.
    const bool selected = selectionModel()->isRowSelected(index.row(), index.parent());
    painter->save();
    QPen pen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void CSortableListCtrl::OnColumnClick(int column)
{
    if (column == m_sortColumn)
        SortByColumn(column, !m_sortAscending);
    else
        SortByColumn(column, true);
}

void CSortableListCtrl::ResetSortState()
{
    m_sortColumn = -1;
    m_sortAscending = true;
}

ColorRef CSortableListCtrl::SystemTextColor() const
{
    return FromQColor(palette().color(QPalette::Active, QPalette::Text));
}

ColorRef CSortableListCtrl::SystemWindowColor() const
{
    return FromQColor(palette().color(QPalette::Active, QPalette::Base));
}

} // namespace velt
