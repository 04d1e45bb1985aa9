#pragma once
// File → Compare…: what changed between two crawls, address by address (what
// broke, was fixed, is new and is gone, with the pages linking to it), as
// compare.csv lists it. Each crawl is a crawl file or a folder of CSV
// reports, typed or chosen.

#include "report/TCrawlCompare.h"

#include <QDialog>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTreeView;

class TCompareDialog : public QDialog {
public:
    explicit TCompareDialog(QWidget* parent = nullptr);

    // Shows the dialog with the older crawl's box to fill; File… and
    // Folder… start in folder.
    void Open(const QString& folder);
    // Reads the crawls named in the two boxes and lists what changed; what
    // cannot be read is said in the summary, and nothing is listed.
    void Compare();
    // Shows the changes from the crawl in past to the one in now.
    void Show(const QString& past, const QString& now, const std::vector<TChangeRow>& changes);

    QLineEdit* OldEdit = nullptr; // the older crawl: a crawl file or a report folder
    QLineEdit* NewEdit = nullptr; // the newer one
    QPushButton* CompareButton = nullptr;
    QLabel* Summary = nullptr;
    QTreeView* List = nullptr;

private:
    // Puts a crawl file (or, with folder, a report folder) chosen in a
    // dialog into edit.
    void Browse(QLineEdit* edit, bool folder);

    QStandardItemModel* FModel = nullptr;
    QString FFolder;
};
