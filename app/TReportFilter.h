#pragma once
// Sorts a report list by the clicked column (numbers as numbers) and, when
// asked, hides every row that is not broken, or whose address does not hold
// the filter text.

#include <QSortFilterProxyModel>

class TReportFilter : public QSortFilterProxyModel {
public:
    TReportFilter(int sortRole, int brokenRole, int addressRole, QObject* parent = nullptr);

    void SetBrokenOnly(bool brokenOnly);
    bool BrokenOnly() const noexcept { return FBrokenOnly; }
    // Rows whose address holds text, in any case; all rows for no text.
    void SetAddressText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int FBrokenRole;
    int FAddressRole;
    bool FBrokenOnly = false;
    QString FAddressText;
};
