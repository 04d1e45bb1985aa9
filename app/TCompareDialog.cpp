#include "TCompareDialog.h"

#include "TColumnFit.h"
#include "crawl/TAnsiText.h"
#include "crawl/TRecordStore.h"
#include "store/TCrawlFile.h"

#include <QBrush>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

TCompareDialog::TCompareDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("CompareDialog");
    setWindowTitle("Compare");
    resize(860, 360);
    auto* crawls = new QGridLayout;
    const auto row = [this, crawls](int at, const QString& label, QLineEdit*& edit) {
        edit = new QLineEdit;
        edit->setPlaceholderText("a crawl file (.marrowby) or a report folder");
        auto* name = new QLabel(label);
        name->setBuddy(edit);
        auto* file = new QPushButton("File…");
        auto* folder = new QPushButton("Folder…");
        file->setAutoDefault(false);
        folder->setAutoDefault(false);
        connect(file, &QPushButton::clicked, this, [this, edit] { Browse(edit, false); });
        connect(folder, &QPushButton::clicked, this, [this, edit] { Browse(edit, true); });
        crawls->addWidget(name, at, 0);
        crawls->addWidget(edit, at, 1);
        crawls->addWidget(file, at, 2);
        crawls->addWidget(folder, at, 3);
    };
    row(0, "&Older crawl:", OldEdit);
    row(1, "&Newer crawl:", NewEdit);
    CompareButton = new QPushButton("&Compare");
    CompareButton->setDefault(true);
    connect(CompareButton, &QPushButton::clicked, this, [this] { Compare(); });
    crawls->addWidget(CompareButton, 1, 4);
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
    layout->addLayout(crawls);
    layout->addWidget(Summary);
    layout->addWidget(List, 1);
    layout->addWidget(buttons);
}

void TCompareDialog::Open(const QString& folder) {
    FFolder = folder;
    show();
    raise();
    activateWindow();
    OldEdit->setFocus();
}

void TCompareDialog::Browse(QLineEdit* edit, bool folder) {
    const QString start = edit->text().trimmed().isEmpty() ? FFolder : edit->text().trimmed();
    const QString chosen =
        folder ? QFileDialog::getExistingDirectory(this, "Compare: a report folder", start)
               : QFileDialog::getOpenFileName(
                     this, "Compare: a crawl file", start,
                     QString("Crawl files (*%1);;All files (*)").arg(TCrawlFile::Suffix));
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

void TCompareDialog::Compare() {
    const QString past = OldEdit->text().trimmed(), now = NewEdit->text().trimmed();
    if (past.isEmpty() || now.isEmpty()) {
        (past.isEmpty() ? OldEdit : NewEdit)->setFocus();
        Summary->setText("Give the older and the newer crawl: a crawl file or a report folder.");
        return;
    }
    TRecordStore before, after;
    std::string error = TCrawlFile::LoadRecords(QFile::encodeName(past).toStdString(), before);
    if (error.empty())
        error = TCrawlFile::LoadRecords(QFile::encodeName(now).toStdString(), after);
    if (!error.empty()) {
        FModel->removeRows(0, FModel->rowCount());
        Summary->setText("Cannot compare: " + TAnsiText::ToDisplay(error));
        return;
    }
    Show(past, now, TCrawlCompare::Of(before, after));
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
