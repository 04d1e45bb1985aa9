#pragma once
// Sorts a report list by the clicked column (numbers as numbers) and, when
// asked, hides every row that is not broken.

#include <QSortFilterProxyModel>

class TReportFilter : public QSortFilterProxyModel {
public:
    TReportFilter(int sortRole, int brokenRole, QObject* parent = nullptr);

    void SetBrokenOnly(bool brokenOnly);
    bool BrokenOnly() const noexcept { return FBrokenOnly; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int FBrokenRole;
    bool FBrokenOnly = false;
};
