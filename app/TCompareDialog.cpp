#include "TCompareDialog.h"

#include "TColumnFit.h"
#include "crawl/TAnsiText.h"

#include <QBrush>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

TCompareDialog::TCompareDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("CompareDialog");
    setWindowTitle("Compare");
    resize(860, 360);
    Summary = new QLabel;
    Summary->setWordWrap(true);
    Summary->setTextFormat(Qt::PlainText);
    FModel = new QStandardItemModel(0, 5, this);
    FModel->setHorizontalHeaderLabels({"Change", "URI", "Old status", "New status", "Pages"});
    List = new QTreeView;
    List->setObjectName("CompareList");
    List->setModel(FModel);
    List->setRootIsDecorated(false);
    List->setUniformRowHeights(true);
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setAllColumnsShowFocus(true);
    // The address and the pages share the room.
    new TColumnFit(List, {{1, 1}, {4, 1}});
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Summary);
    layout->addWidget(List, 1);
    layout->addWidget(buttons);
}

void TCompareDialog::Show(const QString& past, const QString& now,
                          const std::vector<TChangeRow>& changes) {
    FModel->removeRows(0, FModel->rowCount());
    for (const TChangeRow& row : changes) {
        QString pages;
        for (const std::string& page : row.Pages)
            pages += (pages.isEmpty() ? "" : " ") + TAnsiText::ToDisplay(page);
        QList<QStandardItem*> items{new QStandardItem(TCrawlCompare::Name(row.Change)),
                                    new QStandardItem(TAnsiText::ToDisplay(row.Url)),
                                    new QStandardItem(TAnsiText::ToDisplay(row.OldStatus)),
                                    new QStandardItem(TAnsiText::ToDisplay(row.NewStatus)),
                                    new QStandardItem(pages)};
        if (row.Change == TChange::Broke)
            for (QStandardItem* item : items)
                item->setForeground(QBrush(Qt::darkRed));
        FModel->appendRow(items);
    }
    const auto counts = TCrawlCompare::Count(changes);
    QStringList said;
    for (const TChange change : {TChange::Broke, TChange::Fixed, TChange::New, TChange::Gone})
        said << QString("%1 %2")
                    .arg(counts[static_cast<std::size_t>(change)])
                    .arg(TCrawlCompare::Name(change));
    Summary->setText(QString("From %1 to %2: %3.").arg(past, now, said.join(", ")));
    show();
    raise();
}
