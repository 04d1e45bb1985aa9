#include "TReportFilter.h"

TReportFilter::TReportFilter(int sortRole, int brokenRole, QObject* parent)
    : QSortFilterProxyModel(parent), FBrokenRole(brokenRole) {
    setSortRole(sortRole);
    setDynamicSortFilter(true);
}

void TReportFilter::SetBrokenOnly(bool brokenOnly) {
    if (brokenOnly == FBrokenOnly)
        return;
    FBrokenOnly = brokenOnly;
    invalidateFilter();
}

bool TReportFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return !FBrokenOnly ||
           sourceModel()->index(sourceRow, 0, sourceParent).data(FBrokenRole).toBool();
}
