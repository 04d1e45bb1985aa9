#pragma once
// "Referenced from": the pages that use one address, so that a broken link or
// image can be found and fixed where it is written.

#include "crawl/TRecordStore.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

class TWhereUsedDialog : public QDialog {
public:
    explicit TWhereUsedDialog(QWidget* parent = nullptr);

    // Shows address, its verdict and reason (when known: "broken, 404 Not
    // Found") and the pages that reference it, each with its id and the line
    // where it is written.
    void Show(const std::string& address, const std::string& reason,
              const std::vector<TReferrer>& pages);

    QLabel* Address = nullptr;
    QLabel* Reason = nullptr;
    QTreeWidget* Pages = nullptr;
};
