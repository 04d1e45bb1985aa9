#pragma once
// "Compare": what changed between two crawls, address by address (what
// broke, was fixed, is new and is gone, with the pages linking to it), as
// compare.csv lists it.

#include "report/TCrawlCompare.h"

#include <QDialog>

#include <vector>

class QLabel;
class QStandardItemModel;
class QTreeView;

class TCompareDialog : public QDialog {
public:
    explicit TCompareDialog(QWidget* parent = nullptr);

    // Shows the changes from the crawl in past to the one in now.
    void Show(const QString& past, const QString& now, const std::vector<TChangeRow>& changes);

    QLabel* Summary = nullptr;
    QTreeView* List = nullptr;

private:
    QStandardItemModel* FModel = nullptr;
};
