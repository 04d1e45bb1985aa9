#pragma once
// A report list as a table model: rows of one kind (visited pages, objects or
// links elsewhere), columns from the shared column table. It keeps no copy of
// its rows: it is told how many there are and reads each one, through its
// reader, from where the crawl keeps it, so a row shows what the crawl knows
// of it now. Rows told are shown together a moment later, so that a burst of
// them is one insert and one layout of the list, not one a row.
//
// The model sorts and filters itself, with one number (4 bytes) a row shown
// once sorted or filtered, and its verdict (1 byte) a row: a click on a
// heading sorts the rows once; rows told later take their sorted places; a
// row that changes keeps its place until the next sort, unless its new
// verdict takes it out of (or into) the filter. A row is coloured by its
// verdict: broken red, unverifiable amber.

#include "TReportFilter.h"
#include "crawl/TAnsiText.h"
#include "report/TReportColumns.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QIcon>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

template <class Row> class TReportModel : public QAbstractTableModel {
public:
    using TColumns = std::span<const TReportColumn<Row>>;
    // The row at a place (from 0) among those told; any row, when the place
    // is no longer there.
    using TRead = std::function<Row(std::size_t place)>;
    using TVerdictRows = std::array<std::size_t, TVerdicts::Count>;

    // The row's verdict, as the number of its TVerdict.
    static constexpr int VerdictRole = Qt::UserRole + 1;
    // The row's address, as the crawl's bytes.
    static constexpr int AddressRole = Qt::UserRole + 2;
    // How long rows told wait for those that follow them (ms).
    static constexpr int BatchMs = 100;

    TReportModel(TColumns columns, TRead read, QIcon brokenIcon, QObject* parent = nullptr)
        : QAbstractTableModel(parent), FColumns(columns), FRead(std::move(read)),
          FBrokenIcon(std::move(brokenIcon)) {
        FBatch.setSingleShot(true);
        FBatch.setInterval(BatchMs);
        connect(&FBatch, &QTimer::timeout, this, [this] { Flush(); });
    }

    // The reader now has rows places; those beyond the ones told before are
    // new, and shown with the batch.
    void Grow(std::size_t rows) {
        if (rows <= FVerdicts.size())
            return;
        Tell(rows);
        Later();
    }
    // The row at place has changed: it is shown anew with the batch.
    void Change(std::size_t place) {
        if (place >= FVerdicts.size())
            return;
        const TVerdict was = FVerdicts[place];
        const TVerdict now = FRead(place).Verdict;
        --FCounts[Slot(was)];
        ++FCounts[Slot(now)];
        FVerdicts[place] = now;
        FCachedPlace = NoPlace;
        if (place >= FShownPlaces || FRestart)
            return; // shown as it is when its batch comes
        FRefilter = FRefilter || FFilter.AcceptsVerdict(was) != FFilter.AcceptsVerdict(now);
        FChanged.push_back(static_cast<std::uint32_t>(place));
        Later();
    }
    // Starts over with rows places, all shown at once; sorted and filtered
    // as before.
    void Reset(std::size_t rows = 0) {
        beginResetModel();
        FBatch.stop();
        FRestart = false;
        FVerdicts.clear();
        FCounts = {};
        FShownPlaces = 0;
        FRefilter = false;
        FChanged.clear();
        FCachedPlace = NoPlace;
        Tell(rows);
        FShownPlaces = rows;
        FOrder = Arranged();
        FMapped = Arranging();
        endResetModel();
    }
    // Starts over with no rows, as Reset, but the views hear of it with the
    // batch: a list that starts over with every page is laid out once a
    // batch, not once a page. Meanwhile they may read rows that are gone.
    void Restart() {
        FVerdicts.clear();
        FCounts = {};
        FCachedPlace = NoPlace;
        FRestart = true;
        Later();
    }
    // Shows what the batch holds now.
    void Flush() {
        FBatch.stop();
        if (FRestart) {
            Reset(FVerdicts.size());
            return;
        }
        ShowChanged();
        ShowNew();
    }
    void SetFilter(const TReportFilter& filter) {
        if (filter == FFilter)
            return;
        Flush();
        FFilter = filter;
        Rearrange(Arranged(), Arranging());
    }

    // Every row told, shown or not.
    std::size_t Rows() const noexcept { return FVerdicts.size(); }
    // The rows told, by verdict.
    const TVerdictRows& Verdicts() const noexcept { return FCounts; }

    void sort(int column, Qt::SortOrder order) override {
        Flush();
        FSortColumn = column >= 0 && column < columnCount() ? column : -1;
        FSortOrder = order;
        Rearrange(Arranged(), Arranging());
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        if (parent.isValid())
            return 0;
        return static_cast<int>(FMapped ? FOrder.size() : FShownPlaces);
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(FColumns.size());
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        // No row has children: the tree view lays a million rows out faster.
        return QAbstractTableModel::flags(index) | Qt::ItemNeverHasChildren;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount())
            return {};
        const Row& row = Read(Place(index.row()));
        const TReportColumn<Row>& column = FColumns[static_cast<std::size_t>(index.column())];
        const bool first = index.column() == 0;
        // Both colours are set, so that the text reads in light and dark themes.
        const bool broken = row.Verdict == TVerdict::Broken;
        const bool unverifiable = row.Verdict == TVerdict::Unverifiable;
        switch (role) {
        case Qt::DisplayRole:
            return TAnsiText::ToDisplay(column.Text(row));
        case Qt::TextAlignmentRole:
            return Alignment(column);
        case Qt::ToolTipRole:
            return row.Reason.empty() ? QVariant() : TAnsiText::ToDisplay(row.Reason);
        case Qt::DecorationRole:
            return first && broken ? QVariant(FBrokenIcon) : QVariant();
        case Qt::BackgroundRole:
            return broken         ? QVariant(QBrush(BrokenBackground))
                   : unverifiable ? QVariant(QBrush(UnverifiableBackground))
                                  : QVariant();
        case Qt::ForegroundRole:
            return broken         ? QVariant(QBrush(BrokenText))
                   : unverifiable ? QVariant(QBrush(UnverifiableText))
                                  : QVariant();
        case VerdictRole:
            return static_cast<int>(row.Verdict);
        case AddressRole:
            return QByteArray::fromStdString(row.Url);
        default:
            return {};
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
    static constexpr std::size_t NoPlace = std::numeric_limits<std::size_t>::max();

    // What a row sorts by in the column sorted: its number, or its text
    // (bytes, which for UTF-8 is the order of the characters).
    struct TKeyed {
        std::int64_t Number = 0;
        std::string Text;
        std::uint32_t Place = 0;
    };

    static std::size_t Slot(TVerdict verdict) { return static_cast<std::size_t>(verdict); }

    static QVariant Alignment(const TReportColumn<Row>& column) {
        return QVariant::fromValue(column.Align == TColumnAlign::Right
                                       ? Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)
                                       : Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }

    // The one place a row is read; a view asks for several roles and
    // columns of a row in a row, so the last one read is kept.
    const Row& Read(std::size_t place) const {
        if (place != FCachedPlace) {
            FCached = FRead(place);
            FCachedPlace = place;
        }
        return FCached;
    }
    std::size_t Place(int row) const {
        return FMapped ? FOrder[static_cast<std::size_t>(row)] : static_cast<std::size_t>(row);
    }

    void Tell(std::size_t rows) {
        for (std::size_t place = FVerdicts.size(); place < rows; ++place) {
            const TVerdict verdict = FRead(place).Verdict;
            FVerdicts.push_back(verdict);
            ++FCounts[Slot(verdict)];
        }
    }
    void Later() {
        if (!FBatch.isActive())
            FBatch.start();
    }

    // Rows are sorted or filtered: the view's rows are places in FOrder.
    bool Arranging() const { return FSortColumn >= 0 || FFilter.Active(); }
    bool Accepts(std::size_t place) const {
        return FFilter.AcceptsVerdict(FVerdicts[place]) &&
               (FFilter.AddressText().isEmpty() || FFilter.AcceptsAddress(FRead(place).Url));
    }
    TKeyed Keyed(std::uint32_t place) const {
        const Row row = FRead(place);
        const TReportColumn<Row>& column = FColumns[static_cast<std::size_t>(FSortColumn)];
        TKeyed keyed;
        keyed.Place = place;
        if (column.Numeric)
            keyed.Number = column.Number(row);
        else
            keyed.Text = column.Text(row);
        return keyed;
    }
    // a before b in the sorted order; rows that sort alike stay in the order
    // they were told, either way.
    bool Before(const TKeyed& a, const TKeyed& b) const {
        const bool numeric = FColumns[static_cast<std::size_t>(FSortColumn)].Numeric;
        const int order = numeric ? (a.Number < b.Number   ? -1
                                     : a.Number > b.Number ? 1
                                                           : 0)
                                  : a.Text.compare(b.Text);
        if (order != 0)
            return FSortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
        return a.Place < b.Place;
    }
    // The places shown, filtered and sorted; none when nothing is.
    std::vector<std::uint32_t> Arranged() const {
        std::vector<std::uint32_t> order;
        if (!Arranging())
            return order;
        order.reserve(FShownPlaces);
        for (std::size_t place = 0; place < FShownPlaces; ++place)
            if (Accepts(place))
                order.push_back(static_cast<std::uint32_t>(place));
        if (FSortColumn < 0)
            return order;
        std::vector<TKeyed> keyed;
        keyed.reserve(order.size());
        for (const std::uint32_t place : order)
            keyed.push_back(Keyed(place));
        std::sort(keyed.begin(), keyed.end(),
                  [this](const TKeyed& a, const TKeyed& b) { return Before(a, b); });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            order[i] = keyed[i].Place;
        return order;
    }

    // The rows shown become order (mapped) or every place (not): the views
    // lay the list out again, and keep the rows they hold where they went.
    void Rearrange(std::vector<std::uint32_t> order, bool mapped) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<int> now; // the row each place is shown in, -1: hidden
        if (!before.isEmpty() && mapped) {
            now.assign(FShownPlaces, -1);
            for (std::size_t row = 0; row < order.size(); ++row)
                now[order[row]] = static_cast<int>(row);
        }
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& index : before) {
            const std::size_t place = Place(index.row());
            const int row = !mapped              ? static_cast<int>(place)
                            : place < now.size() ? now[place]
                                                 : -1;
            after << (row < 0 ? QModelIndex() : createIndex(row, index.column()));
        }
        FOrder = std::move(order);
        FMapped = mapped;
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    void ShowChanged() {
        if (FChanged.empty())
            return;
        std::vector<std::uint32_t> changed;
        changed.swap(FChanged);
        if (FRefilter) {
            FRefilter = false;
            Rearrange(Arranged(), Arranging());
            return;
        }
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        // Sorted or filtered, where each is shown is found in one pass.
        std::vector<int> shown;
        if (FMapped) {
            shown.assign(FShownPlaces, -1);
            for (std::size_t row = 0; row < FOrder.size(); ++row)
                shown[FOrder[row]] = static_cast<int>(row);
        }
        for (const std::uint32_t place : changed) {
            const int row = FMapped ? shown[place] : static_cast<int>(place);
            if (row >= 0)
                emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        }
    }

    void ShowNew() {
        const std::size_t from = FShownPlaces, to = FVerdicts.size();
        if (from >= to)
            return;
        if (!FMapped) {
            beginInsertRows({}, static_cast<int>(from), static_cast<int>(to - 1));
            FShownPlaces = to;
            endInsertRows();
            return;
        }
        std::vector<std::uint32_t> added;
        for (std::size_t place = from; place < to; ++place)
            if (Accepts(place))
                added.push_back(static_cast<std::uint32_t>(place));
        FShownPlaces = to;
        if (added.empty())
            return;
        if (FSortColumn < 0) {
            const int at = rowCount();
            beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
            FOrder.insert(FOrder.end(), added.begin(), added.end());
            endInsertRows();
            return;
        }
        // Each new row into its sorted place, in one pass over the rows.
        std::vector<TKeyed> keyed;
        keyed.reserve(added.size());
        for (const std::uint32_t place : added)
            keyed.push_back(Keyed(place));
        std::sort(keyed.begin(), keyed.end(),
                  [this](const TKeyed& a, const TKeyed& b) { return Before(a, b); });
        std::vector<std::uint32_t> order;
        order.reserve(FOrder.size() + keyed.size());
        auto next = FOrder.begin();
        for (const TKeyed& row : keyed) {
            const auto at = std::upper_bound(
                next, FOrder.end(), row,
                [this](const TKeyed& a, std::uint32_t place) { return Before(a, Keyed(place)); });
            order.insert(order.end(), next, at);
            order.push_back(row.Place);
            next = at;
        }
        order.insert(order.end(), next, FOrder.end());
        Rearrange(std::move(order), true);
    }

    TColumns FColumns;
    TRead FRead;
    QIcon FBrokenIcon;
    QTimer FBatch;
    // The verdict of every row told, by place, and the rows by verdict.
    std::vector<TVerdict> FVerdicts;
    TVerdictRows FCounts{};
    // The places the views know of; those after them wait for the batch.
    std::size_t FShownPlaces = 0;
    // Sorted or filtered: the places shown, in the order shown.
    bool FMapped = false;
    std::vector<std::uint32_t> FOrder;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    TReportFilter FFilter;
    // The places changed since the last batch, and whether one of them
    // went into or out of the filter.
    std::vector<std::uint32_t> FChanged;
    bool FRefilter = false;
    // Restart: the views still show the rows before it.
    bool FRestart = false;
    mutable std::size_t FCachedPlace = NoPlace;
    mutable Row FCached;
};
