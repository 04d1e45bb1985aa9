#include "TWhereUsedDialog.h"

#include "crawl/TAnsiText.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

TWhereUsedDialog::TWhereUsedDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("WhereUsedDialog");
    setWindowTitle("Referenced from");
    resize(560, 320);
    Address = new QLabel;
    Address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Address->setWordWrap(true);
    Reason = new QLabel;
    Reason->setWordWrap(true);
    Pages = new QTreeWidget;
    Pages->setColumnCount(3);
    Pages->setHeaderLabels({"Id", "Page", "Line"});
    Pages->setRootIsDecorated(false);
    Pages->setColumnWidth(0, 60);
    Pages->header()->setStretchLastSection(false);
    Pages->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    Pages->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Address);
    layout->addWidget(Reason);
    layout->addWidget(Pages, 1);
    layout->addWidget(buttons);
}

void TWhereUsedDialog::Show(const std::string& address, const std::string& reason,
                            const std::vector<TReferrer>& pages) {
    Address->setText(TAnsiText::ToDisplay(address));
    Reason->setText(reason.empty() ? QString() : "Verdict: " + TAnsiText::ToDisplay(reason));
    Reason->setVisible(!reason.empty());
    Pages->clear();
    for (const TReferrer& page : pages)
        Pages->addTopLevelItem(new QTreeWidgetItem(
            {QString::number(page.Id), TAnsiText::ToDisplay(page.Url), QString::number(page.Line)}));
    if (pages.empty())
        Pages->addTopLevelItem(new QTreeWidgetItem({"", "No page links to it: it is the start address."}));
    show();
    raise();
}
