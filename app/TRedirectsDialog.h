#pragma once
// "Redirects": each link or object of a page whose address answers through
// a permanent redirect, with the address the page should name instead. The
// rows are those of redirects.csv, read from the crawl's records when shown.

#include "TReportModel.h"
#include "crawl/TCrawlRows.h"

#include <QDialog>

#include <vector>

class QLabel;
class QTreeView;
class TRecordStore;

class TRedirectsDialog : public QDialog {
public:
    explicit TRedirectsDialog(QWidget* parent = nullptr);
    ~TRedirectsDialog() override;

    // Fills the list from the records and shows the dialog.
    void Show(const TRecordStore& records);

    QLabel* Summary = nullptr;
    QTreeView* List = nullptr;

private:
    // The rows, made when shown: few, and the records keep none.
    std::vector<TRedirectRow> FRows;
    TReportModel<TRedirectRow>* FModel = nullptr;
};
