#pragma once
// Sorts a report list by the clicked column (numbers as numbers) and, when
// asked, hides every row whose verdict is not among those shown, or whose
// address does not hold the filter text.

#include <QSortFilterProxyModel>

class TReportFilter : public QSortFilterProxyModel {
public:
    // Which rows the verdict filter shows.
    enum class TShown { All, Broken, BrokenAndUnverifiable };

    TReportFilter(int sortRole, int verdictRole, int addressRole, QObject* parent = nullptr);

    void SetShown(TShown shown);
    TShown Shown() const noexcept { return FShown; }
    // Rows whose address holds text, in any case; all rows for no text.
    void SetAddressText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int FVerdictRole;
    int FAddressRole;
    TShown FShown = TShown::All;
    QString FAddressText;
};
