#include "TColumnFit.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

namespace {
// Rows measured when a list is filled at once: enough for its widest values
// in practice, and a swap to a big list stays quick.
constexpr int MeasuredAtOnce = 5000;
// Beside a heading: its margins, and the sort arrow's room.
constexpr int HeadingMargins = 20;
constexpr int SortArrow = 14;
} // namespace

TColumnFit::TColumnFit(QTreeView* list, std::vector<std::pair<int, int>> stretch)
    : QObject(list), FList(list), FStretch(std::move(stretch)) {
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(8);
    list->viewport()->installEventFilter(this);
    QAbstractItemModel* model = list->model();
    connect(model, &QAbstractItemModel::modelReset, this, [this] { Restart(); });
    connect(model, &QAbstractItemModel::layoutChanged, this, [this] { Fit(); });
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this] { Fit(); });
    // A burst of rows is measured as a list filled at once: the rows that
    // come later in it are like those before them.
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                Measure(first, std::min(last, first + MeasuredAtOnce - 1));
            });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                Measure(from.row(), std::min(to.row(), from.row() + MeasuredAtOnce - 1));
            });
    Restart();
}

bool TColumnFit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize)
        Fit();
    return QObject::eventFilter(watched, event);
}

void TColumnFit::Restart() {
    const QAbstractItemModel* model = FList->model();
    const QFontMetrics metrics(FList->header()->font());
    FHeading.assign(static_cast<std::size_t>(model->columnCount()), 0);
    FValues.assign(FHeading.size(), 0);
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString heading = model->headerData(c, Qt::Horizontal).toString();
        FHeading[static_cast<std::size_t>(c)] = metrics.horizontalAdvance(heading) + HeadingMargins;
    }
    const int rows = std::min(model->rowCount(), MeasuredAtOnce);
    if (rows > 0)
        Measure(0, rows - 1);
    else
        Fit();
}

void TColumnFit::Measure(int first, int last) {
    const QAbstractItemModel* model = FList->model();
    const QFontMetrics metrics(FList->font());
    const int margin =
        2 * FList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, FList) + 10;
    const int icon = FList->iconSize().width() + 6;
    bool grew = false;
    for (int r = first; r <= last; ++r) {
        for (int c = 0; c < static_cast<int>(FValues.size()); ++c) {
            const QModelIndex index = model->index(r, c);
            int width = metrics.horizontalAdvance(index.data().toString()) + margin;
            if (c == 0)
                width += icon; // room for the broken mark
            int& widest = FValues[static_cast<std::size_t>(c)];
            if (width > widest) {
                widest = width;
                grew = true;
            }
        }
    }
    if (grew)
        Fit();
}

int TColumnFit::Needed(int column) const {
    const auto c = static_cast<std::size_t>(column);
    const bool sorted =
        FList->isSortingEnabled() && FList->header()->sortIndicatorSection() == column;
    return std::max(FHeading[c] + (sorted ? SortArrow : 0), FValues[c]);
}

void TColumnFit::Fit() {
    const int room = FList->viewport()->width();
    int needed = 0;
    for (int c = 0; c < static_cast<int>(FValues.size()); ++c)
        needed += Needed(c);
    const int extra = std::max(0, room - needed);
    int shares = 0;
    for (const auto& [column, share] : FStretch)
        shares += share;
    for (int c = 0; c < static_cast<int>(FValues.size()); ++c)
        FList->setColumnWidth(c, Needed(c));
    for (const auto& [column, share] : FStretch) {
        const int more = shares > 0 ? extra * share / shares : 0;
        FList->setColumnWidth(column, Needed(column) + more);
    }
}
