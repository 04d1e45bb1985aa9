#pragma once
// A report list as a table model: rows of one kind (visited pages, or object
// records), columns from the shared column table. Rows are snapshots: a row
// shows its values as they were when the crawl reported it.

#include "crawl/TAnsiText.h"
#include "report/TReportColumns.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QIcon>

#include <array>
#include <span>
#include <cstdint>
#include <string>
#include <vector>

template <class Row> class TReportModel : public QAbstractTableModel {
public:
    using TColumns = std::span<const TReportColumn<Row>>;

    // Numbers for numeric columns, the text for the others.
    static constexpr int SortRole = Qt::UserRole;
    // True for a row whose status is 400 or more.
    static constexpr int BrokenRole = Qt::UserRole + 1;
    // The row's address, as the crawl's bytes.
    static constexpr int AddressRole = Qt::UserRole + 2;

    TReportModel(TColumns columns, QIcon brokenIcon, QObject* parent = nullptr)
        : QAbstractTableModel(parent), FColumns(columns), FBrokenIcon(std::move(brokenIcon)) {}

    void Append(const Row& row, const std::string& reason) {
        const int at = static_cast<int>(FRows.size());
        beginInsertRows({}, at, at);
        FRows.push_back({row, reason});
        endInsertRows();
    }
    void Replace(int at, const Row& row) {
        FRows[static_cast<std::size_t>(at)].Value = row;
        emit dataChanged(index(at, 0), index(at, columnCount() - 1));
    }
    // A row judged again: its values and its reason.
    void Replace(int at, const Row& row, const std::string& reason) {
        FRows[static_cast<std::size_t>(at)].Reason = reason;
        Replace(at, row);
    }
    void Clear() {
        beginResetModel();
        FRows.clear();
        endResetModel();
    }
    const Row& RowAt(int at) const { return FRows[static_cast<std::size_t>(at)].Value; }
    static bool IsBroken(const Row& row) { return std::int32_t{row.Status} >= 400; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(FColumns.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        const TEntry& entry = FRows[static_cast<std::size_t>(index.row())];
        const TReportColumn<Row>& column = FColumns[static_cast<std::size_t>(index.column())];
        const bool first = index.column() == 0;
        switch (role) {
        case Qt::DisplayRole: return TAnsiText::ToDisplay(column.Text(entry.Value));
        case Qt::TextAlignmentRole: return Alignment(column);
        case Qt::ToolTipRole:
            return entry.Reason.empty() ? QVariant() : TAnsiText::ToDisplay(entry.Reason);
        case Qt::DecorationRole:
            return first && IsBroken(entry.Value) ? QVariant(FBrokenIcon) : QVariant();
        case Qt::BackgroundRole:
            return IsBroken(entry.Value) ? QVariant(QBrush(QColor(0xff, 0xe4, 0xe0))) : QVariant();
        case Qt::ForegroundRole:
            return IsBroken(entry.Value) ? QVariant(QBrush(QColor(0xa0, 0x10, 0x10))) : QVariant();
        case SortRole:
            return column.Numeric ? QVariant(qlonglong(column.Number(entry.Value)))
                                  : QVariant(TAnsiText::ToDisplay(column.Text(entry.Value)));
        case BrokenRole: return IsBroken(entry.Value);
        case AddressRole: return QByteArray::fromStdString(entry.Value.Url);
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
            return {};
        const TReportColumn<Row>& column = FColumns[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(column.Name);
        if (role == Qt::TextAlignmentRole)
            return Alignment(column);
        return {};
    }

private:
    struct TEntry {
        Row Value;
        std::string Reason;
    };
    static QVariant Alignment(const TReportColumn<Row>& column) {
        return QVariant::fromValue(column.Align == TColumnAlign::Right
                                       ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                       : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }

    TColumns FColumns;
    QIcon FBrokenIcon;
    std::vector<TEntry> FRows;
};
