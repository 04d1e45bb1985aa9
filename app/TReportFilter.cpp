#include "TReportFilter.h"

#include "common/TVerdict.h"
#include "crawl/TAnsiText.h"

TReportFilter::TReportFilter(int sortRole, int verdictRole, int addressRole, QObject* parent)
    : QSortFilterProxyModel(parent), FVerdictRole(verdictRole), FAddressRole(addressRole) {
    setSortRole(sortRole);
    setDynamicSortFilter(true);
}

void TReportFilter::SetShown(TShown shown) {
    if (shown == FShown)
        return;
    FShown = shown;
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
    // The rows that would fail a check, strict or not.
    if (FShown != TShown::All &&
        !TVerdicts::Fails(static_cast<TVerdict>(row.data(FVerdictRole).toInt()),
                          FShown == TShown::BrokenAndUnverifiable))
        return false;
    if (FAddressText.isEmpty())
        return true;
    const QString address =
        TAnsiText::ToDisplay(row.data(FAddressRole).toByteArray().toStdString());
    return address.contains(FAddressText, Qt::CaseInsensitive);
}
