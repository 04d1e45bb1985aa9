#include "TReportFilter.h"

#include "crawl/TAnsiText.h"

TReportFilter::TReportFilter(int sortRole, int brokenRole, int addressRole, QObject* parent)
    : QSortFilterProxyModel(parent), FBrokenRole(brokenRole), FAddressRole(addressRole) {
    setSortRole(sortRole);
    setDynamicSortFilter(true);
}

void TReportFilter::SetBrokenOnly(bool brokenOnly) {
    if (brokenOnly == FBrokenOnly)
        return;
    FBrokenOnly = brokenOnly;
    invalidateFilter();
}

void TReportFilter::SetAddressText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == FAddressText)
        return;
    FAddressText = trimmed;
    invalidateFilter();
}

bool TReportFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QModelIndex row = sourceModel()->index(sourceRow, 0, sourceParent);
    if (FBrokenOnly && !row.data(FBrokenRole).toBool())
        return false;
    if (FAddressText.isEmpty())
        return true;
    const QString address =
        TAnsiText::ToDisplay(row.data(FAddressRole).toByteArray().toStdString());
    return address.contains(FAddressText, Qt::CaseInsensitive);
}
