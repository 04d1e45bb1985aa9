#pragma once
// A report list as a table model: rows of one kind (visited pages, objects or
// links elsewhere), columns from the shared column table. Rows are snapshots:
// a row shows its values as they were when the crawl reported it. A row is
// coloured by its verdict: broken red, unverifiable amber.

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
    // The row's verdict, as the number of its TVerdict.
    static constexpr int VerdictRole = Qt::UserRole + 1;
    // The row's address, as the crawl's bytes.
    static constexpr int AddressRole = Qt::UserRole + 2;

    TReportModel(TColumns columns, QIcon brokenIcon, QObject* parent = nullptr)
        : QAbstractTableModel(parent), FColumns(columns), FBrokenIcon(std::move(brokenIcon)) {}

    void Append(const Row& row) {
        const int at = static_cast<int>(FRows.size());
        beginInsertRows({}, at, at);
        FRows.push_back(row);
        endInsertRows();
    }
    void Replace(int at, const Row& row) {
        FRows[static_cast<std::size_t>(at)] = row;
        emit dataChanged(index(at, 0), index(at, columnCount() - 1));
    }
    void Clear() {
        beginResetModel();
        FRows.clear();
        endResetModel();
    }
    const Row& RowAt(int at) const { return FRows[static_cast<std::size_t>(at)]; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(FColumns.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        const Row& row = FRows[static_cast<std::size_t>(index.row())];
        const TReportColumn<Row>& column = FColumns[static_cast<std::size_t>(index.column())];
        const bool first = index.column() == 0;
        // Both colours are set, so that the text reads in light and dark themes.
        const bool broken = row.Verdict == TVerdict::Broken;
        const bool unverifiable = row.Verdict == TVerdict::Unverifiable;
        switch (role) {
        case Qt::DisplayRole: return TAnsiText::ToDisplay(column.Text(row));
        case Qt::TextAlignmentRole: return Alignment(column);
        case Qt::ToolTipRole:
            return row.Reason.empty() ? QVariant() : TAnsiText::ToDisplay(row.Reason);
        case Qt::DecorationRole: return first && broken ? QVariant(FBrokenIcon) : QVariant();
        case Qt::BackgroundRole:
            return broken         ? QVariant(QBrush(BrokenBackground))
                   : unverifiable ? QVariant(QBrush(UnverifiableBackground))
                                  : QVariant();
        case Qt::ForegroundRole:
            return broken         ? QVariant(QBrush(BrokenText))
                   : unverifiable ? QVariant(QBrush(UnverifiableText))
                                  : QVariant();
        case SortRole:
            return column.Numeric ? QVariant(qlonglong(column.Number(row)))
                                  : QVariant(TAnsiText::ToDisplay(column.Text(row)));
        case VerdictRole: return static_cast<int>(row.Verdict);
        case AddressRole: return QByteArray::fromStdString(row.Url);
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

    // The colours of a broken row and of an unverifiable one.
    static inline const QColor BrokenBackground{0xff, 0xe4, 0xe0};
    static inline const QColor BrokenText{0xa0, 0x10, 0x10};
    static inline const QColor UnverifiableBackground{0xff, 0xf0, 0xc8};
    static inline const QColor UnverifiableText{0x7a, 0x48, 0x00};

private:
    static QVariant Alignment(const TReportColumn<Row>& column) {
        return QVariant::fromValue(column.Align == TColumnAlign::Right
                                       ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                       : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }

    TColumns FColumns;
    QIcon FBrokenIcon;
    std::vector<Row> FRows;
};
