#pragma once

#include "controls/ListRowData.h"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>

#include <vector>

namespace velt
{

// The rows and columns behind CSortableListCtrl: per row the cell texts and its ListRowData.
// Reordering rows carries selection and focus along (persistent indexes follow their row).
class CListCtrlModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit CListCtrlModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Inserts a column (an index past the end appends); returns its index. Every row gets an
    // empty cell and the given colours for it.
    int InsertColumn(int column, const QString& title, ColorRef textColor, ColorRef backColor);
    // Inserts a row (a row past the end appends); -1 for a negative row.
    int InsertRow(int row, const QString& text, ListRowData data);
    bool SetText(int row, int column, const QString& text);
    QString Text(int row, int column) const;
    ListRowData* RowData(int row);
    const ListRowData* RowData(int row) const;
    // Tells the views that colours changed in the given cells (-1 = all rows / all columns).
    void ColorsChanged(int row, int column);
    // Removes every row; returns how many there were.
    int RemoveAll();
    // Puts row order[k] at position k for every k; order is a permutation of 0 .. rowCount-1.
    void Reorder(const std::vector<int>& order);

private:
    struct Row
    {
        std::vector<QString> m_texts;
        ListRowData m_data;
    };

    bool IsValidRow(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }

    QStringList m_titles;
    std::vector<Row> m_rows;
};

} // namespace velt
