#include "TRedirectsDialog.h"

#include "TColumnFit.h"
#include "crawl/TRecordStore.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

TRedirectsDialog::TRedirectsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("RedirectsDialog");
    setWindowTitle("Redirects");
    resize(860, 360);
    Summary = new QLabel;
    Summary->setWordWrap(true);
    using Model = TReportModel<TRedirectRow>;
    FModel = new Model(
        TReportColumns::Redirects(),
        [this](std::size_t at) { return at < FRows.size() ? FRows[at] : TRedirectRow{}; }, QIcon(),
        this);
    List = new QTreeView;
    List->setObjectName("RedirectsList");
    List->setModel(FModel);
    List->setRootIsDecorated(false);
    List->setUniformRowHeights(true);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setAllColumnsShowFocus(true);
    List->header()->setSortIndicator(-1, Qt::AscendingOrder);
    List->setSortingEnabled(true);
    // The page, the address and the final address share the room.
    new TColumnFit(List, {{0, 1}, {1, 1}, {3, 1}});
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(List, 1);
    layout->addWidget(buttons);
}

// The list reads the rows, which go before it does.
TRedirectsDialog::~TRedirectsDialog() {
    FModel->Reset();
}

void TRedirectsDialog::Show(const TRecordStore& records) {
    FRows.clear();
    records.ForEachRedirect([this](const TRedirectRow& row) { FRows.push_back(row); });
    FModel->Reset(FRows.size());
    const auto rows = static_cast<qsizetype>(FRows.size());
    Summary->setText(
        rows == 0 ? QString("No link or object answers through a permanent redirect.")
                  : QString("%1 %2 through a permanent redirect (301 or 308): the "
                            "page should name the final address instead.")
                        .arg(rows)
                        .arg(rows == 1 ? "link or object answers" : "links and objects answer"));
    show();
    raise();
}
