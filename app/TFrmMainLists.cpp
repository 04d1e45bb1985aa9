// The two report lists: their models, sorting and filters, broken rows, the
// summary, and the actions on a row (where used, copy, open).
#include "TFrmMain.h"

#include "TReportFilter.h"
#include "TWhereUsedDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace {

template <class Row>
QTreeView* ReportList(const char* name, const std::array<TReportColumn<Row>, 6>& columns,
                      QAbstractItemModel* model, const QFont& font) {
    auto* list = new QTreeView;
    list->setFont(font);
    list->setObjectName(name);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setAllColumnsShowFocus(true);
    list->setIconSize(QSize(16, 16));
    // Unsorted until a heading is clicked: rows in the order they came.
    list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    list->setSortingEnabled(true);
    // No column is narrower than its heading, and the Id column next to the
    // check box and the broken mark holds five digits.
    const QFontMetrics metrics(font);
    const int checkBox = list->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 12;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int heading = metrics.horizontalAdvance(columns[i].Name) + 24;
        const int cells = i == 0 ? checkBox + 18 + metrics.horizontalAdvance("99999") + 8 : 0;
        list->setColumnWidth(static_cast<int>(i), std::max({columns[i].Width, heading, cells}));
    }
    return list;
}

} // namespace

void TFrmMain::CreateReportLists() {
    const QIcon broken = KindImageList[2];
    FPageModel = new TReportModel<TGoneRow>(TReportColumns::Pages(), broken, this);
    FPageObjectModel = new TReportModel<_TObjectType>(TReportColumns::Objects(), broken, this);
    FAllObjectModel = new TReportModel<_TObjectType>(TReportColumns::Objects(), broken, this);
    FPageFilter = new TReportFilter(TReportModel<TGoneRow>::SortRole,
                                    TReportModel<TGoneRow>::BrokenRole, this);
    FPageFilter->setSourceModel(FPageModel);
    FObjectFilter = new TReportFilter(TReportModel<_TObjectType>::SortRole,
                                      TReportModel<_TObjectType>::BrokenRole, this);
    FObjectFilter->setSourceModel(FPageObjectModel);
    GoneListView = ReportList("GoneListView", TReportColumns::Pages(), FPageFilter, font());
    ObjListView = ReportList("ObjListView", TReportColumns::Objects(), FObjectFilter, font());
    CreateListActions(GoneListView, GoneActions);
    CreateListActions(ObjListView, ObjActions);

    AllObjectsCheck = new QCheckBox("All objects");
    AllObjectsCheck->setObjectName("AllObjectsCheck");
    AllObjectsCheck->setToolTip("Every object of the crawl by id, instead of the page merged last");
    connect(AllObjectsCheck, &QCheckBox::toggled, this, [this](bool all) {
        FObjectFilter->setSourceModel(all ? FAllObjectModel : FPageObjectModel);
    });
    BrokenOnlyCheck = new QCheckBox("Broken only");
    BrokenOnlyCheck->setObjectName("BrokenOnlyCheck");
    BrokenOnlyCheck->setToolTip("Only rows with a status of 400 or more, in both lists");
    connect(BrokenOnlyCheck, &QCheckBox::toggled, this, [this](bool broken) {
        FPageFilter->SetBrokenOnly(broken);
        FObjectFilter->SetBrokenOnly(broken);
    });
    auto* objects = new QWidget;
    auto* toggles = new QHBoxLayout;
    toggles->setContentsMargins(4, 0, 4, 0);
    toggles->addWidget(AllObjectsCheck);
    toggles->addWidget(BrokenOnlyCheck);
    toggles->addStretch(1);
    auto* column = new QVBoxLayout(objects);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(toggles);
    column->addWidget(ObjListView, 1);

    Splitter3 = new QSplitter(Qt::Vertical);
    Splitter3->setObjectName("Splitter3");
    Splitter3->setHandleWidth(3);
    Splitter3->setChildrenCollapsible(false);
    Splitter3->addWidget(GoneListView);
    Splitter3->addWidget(objects);
    Splitter3->setSizes({248, 320});
    Splitter3->setStretchFactor(1, 1);

    auto* right = new QWidget;
    right->setObjectName("RightPanel");
    right->setMinimumWidth(150);
    CreateCountPanel(right);

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(Splitter3);
    Splitter1->addWidget(right);
    Splitter1->setSizes({623, 184});
    Splitter1->setStretchFactor(0, 1);
    setCentralWidget(Splitter1);
    WhereUsed = new TWhereUsedDialog(this);
}

void TFrmMain::CreateListActions(QTreeView* list, TListActions& actions) {
    actions.WhereUsed = new QAction("Referenced from…", list);
    connect(actions.WhereUsed, &QAction::triggered, this,
            [this, list] { ShowWhereUsed(list->currentIndex()); });
    actions.CopyAddress = new QAction("Copy address", list);
    connect(actions.CopyAddress, &QAction::triggered, this, [this, list] {
        QApplication::clipboard()->setText(SelectedAddresses(list).join('\n'));
    });
    actions.OpenInBrowser = new QAction("Open in browser", list);
    connect(actions.OpenInBrowser, &QAction::triggered, this, [this, list] {
        for (const QString& address : SelectedAddresses(list)) {
            const QUrl url = QUrl::fromUserInput(address);
            if (Hooks.OpenUrl)
                Hooks.OpenUrl(url);
            else
                QDesktopServices::openUrl(url);
        }
    });
    list->addActions({actions.WhereUsed, actions.CopyAddress, actions.OpenInBrowser});
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(list, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { ShowWhereUsed(index); });
}

QStringList TFrmMain::SelectedAddresses(QTreeView* list) const {
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList addresses;
    for (const QModelIndex& row : rows)
        addresses << TAnsiText::ToDisplay(
            row.data(TReportModel<TGoneRow>::AddressRole).toByteArray().toStdString());
    return addresses;
}

void TFrmMain::ShowWhereUsed(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const std::string address =
        index.siblingAtColumn(0).data(TReportModel<TGoneRow>::AddressRole).toByteArray().toStdString();
    const QString reason = index.siblingAtColumn(0).data(Qt::ToolTipRole).toString();
    WhereUsed->Show(address, reason.toStdString(), FCrawl->Records().ReferrersOf(address));
}

void TFrmMain::PageRow(const TGoneRow& row, const std::string& reason) {
    FPageModel->Append(row, reason);
    FBrokenPages += TReportModel<TGoneRow>::IsBroken(row);
    ShowSummary();
}

void TFrmMain::ObjectsCleared() { FPageObjectModel->Clear(); }

void TFrmMain::ObjectRow(const _TObjectType& record, const std::string& reason) {
    FPageObjectModel->Append(record, reason);
    const std::int32_t id = record.Id;
    if (const auto known = FAllObjectRows.find(id); known != FAllObjectRows.end()) {
        FAllObjectModel->Replace(known->second, record);
        return;
    }
    FAllObjectRows.emplace(id, FAllObjectModel->rowCount());
    FAllObjectModel->Append(record, reason);
    FBrokenObjects += TReportModel<_TObjectType>::IsBroken(record);
    ShowSummary();
}

void TFrmMain::ShowSummary() {
    SummaryLabel->setText(QString("%1 pages, %2 objects, %3 broken")
                              .arg(FPageModel->rowCount())
                              .arg(FAllObjectModel->rowCount())
                              .arg(FBrokenPages + FBrokenObjects));
}
