#include "controls/CListCtrlModel.h"

#include <algorithm>

namespace velt
{

CListCtrlModel::CListCtrlModel(QObject* parent) : QAbstractTableModel(parent) {}

int CListCtrlModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CListCtrlModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant CListCtrlModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !IsValidRow(index.row()))
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    switch (role)
    {
    case Qt::DisplayRole:
        return column < row.m_texts.size() ? row.m_texts[column] : QString();
    case Qt::ForegroundRole:
        if (column < row.m_data.m_textColors.size())
            return ToQColor(row.m_data.m_textColors[column]);
        return {};
    case Qt::BackgroundRole:
        if (column < row.m_data.m_backColors.size())
            return ToQColor(row.m_data.m_backColors[column]);
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant CListCtrlModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_titles.size())
        return m_titles[section];
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags CListCtrlModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

int CListCtrlModel::InsertColumn(int column, const QString& title, ColorRef textColor,
                                 ColorRef backColor)
{
    if (column < 0)
        return -1;
    column = std::min(column, static_cast<int>(m_titles.size()));
    beginInsertColumns(QModelIndex(), column, column);
    m_titles.insert(column, title);
    for (Row& row : m_rows)
    {
        const auto at = static_cast<std::size_t>(column);
        row.m_texts.insert(row.m_texts.begin() +
                               static_cast<std::ptrdiff_t>(std::min(at, row.m_texts.size())),
                           QString());
        for (auto* colors : {&row.m_data.m_textColors, &row.m_data.m_backColors})
        {
            if (colors->size() < at)
                colors->resize(at, 0);
            colors->insert(colors->begin() + static_cast<std::ptrdiff_t>(at),
                           colors == &row.m_data.m_textColors ? textColor : backColor);
        }
    }
    endInsertColumns();
    return column;
}

int CListCtrlModel::InsertRow(int row, const QString& text, ListRowData data)
{
    if (row < 0)
        return -1;
    row = std::min(row, static_cast<int>(m_rows.size()));
    Row newRow;
    newRow.m_texts.resize(static_cast<std::size_t>(std::max<qsizetype>(m_titles.size(), 1)));
    newRow.m_texts[0] = text;
    newRow.m_data = std::move(data);
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, std::move(newRow));
    endInsertRows();
    return row;
}

bool CListCtrlModel::SetText(int row, int column, const QString& text)
{
    if (!IsValidRow(row) || column < 0 || column >= m_titles.size())
        return false;
    auto& texts = m_rows[static_cast<std::size_t>(row)].m_texts;
    if (texts.size() <= static_cast<std::size_t>(column))
        texts.resize(static_cast<std::size_t>(column) + 1);
    texts[static_cast<std::size_t>(column)] = text;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    return true;
}

QString CListCtrlModel::Text(int row, int column) const
{
    if (!IsValidRow(row) || column < 0)
        return {};
    const auto& texts = m_rows[static_cast<std::size_t>(row)].m_texts;
    return static_cast<std::size_t>(column) < texts.size() ? texts[static_cast<std::size_t>(column)]
                                                           : QString();
}

ListRowData* CListCtrlModel::RowData(int row)
{
    return IsValidRow(row) ? &m_rows[static_cast<std::size_t>(row)].m_data : nullptr;
}

const ListRowData* CListCtrlModel::RowData(int row) const
{
    return IsValidRow(row) ? &m_rows[static_cast<std::size_t>(row)].m_data : nullptr;
}

void CListCtrlModel::ColorsChanged(int row, int column)
{
    if (m_rows.empty() || m_titles.isEmpty())
        return;
    const int firstRow = row < 0 ? 0 : row;
    const int lastRow = row < 0 ? static_cast<int>(m_rows.size()) - 1 : row;
    const int firstColumn = column < 0 ? 0 : column;
    const int lastColumn = column < 0 ? static_cast<int>(m_titles.size()) - 1 : column;
    emit dataChanged(index(firstRow, firstColumn), index(lastRow, lastColumn),
                     {Qt::ForegroundRole, Qt::BackgroundRole});
}

int CListCtrlModel::RemoveAll()
{
    const int count = static_cast<int>(m_rows.size());
    beginResetModel();
    m_rows.clear();
    endResetModel();
    return count;
}

void CListCtrlModel::Reorder(const std::vector<int>& order)
{
    if (order.size() != m_rows.size())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newPosition(order.size());
    std::vector<Row> reordered;
    reordered.reserve(m_rows.size());
    for (std::size_t k = 0; k < order.size(); ++k)
    {
        newPosition[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
        reordered.push_back(std::move(m_rows[static_cast<std::size_t>(order[k])]));
    }
    m_rows = std::move(reordered);
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& old : persistent)
        moved.append(index(newPosition[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(persistent, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace velt
