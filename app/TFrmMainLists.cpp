// The two report lists: their models, sorting and filters, broken rows, the
// summary, and the actions on a row (where used, copy, open).
#include "TFrmMain.h"

#include "TColumnFit.h"
#include "TReportFilter.h"
#include "TWhereUsedDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <algorithm>

namespace {

QTreeView* ReportList(const char* name, QAbstractItemModel* model, const QFont& font) {
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
    return list;
}

} // namespace

void TFrmMain::CreateReportLists() {
    const QIcon broken = KindImageList[2];
    // The lists read the rows of the crawl shown, as it keeps them.
    FPageModel = new TReportModel<TGoneRow>(
        TReportColumns::Pages(), [this](std::size_t at) { return PageAt(at); }, broken, this);
    FPageObjectModel = new TReportModel<TObjectRow>(
        TReportColumns::Objects(),
        [this](std::size_t at) {
            return ObjectAt(at < FPageObjects.size() ? FPageObjects[at] : FObjects.size());
        },
        broken, this);
    FAllObjectModel = new TReportModel<TObjectRow>(
        TReportColumns::Objects(), [this](std::size_t at) { return ObjectAt(at); }, broken, this);
    // The summary follows the rows told as the lists do.
    FSummaryLater = new QTimer(this);
    FSummaryLater->setSingleShot(true);
    FSummaryLater->setInterval(TReportModel<TGoneRow>::BatchMs);
    connect(FSummaryLater, &QTimer::timeout, this, [this] { ShowSummary(); });
    FObjectSwitch = new QIdentityProxyModel(this);
    FObjectSwitch->setSourceModel(FPageObjectModel);
    FExternalModel = new TReportModel<TExternalRow>(
        TReportColumns::Externals(), [this](std::size_t at) { return ExternalAt(at); }, broken,
        this);
    ExternalListView = ReportList("ExternalListView", FExternalModel, font());
    ExternalListView->setToolTip("External links: each link to another site, checked once");
    GoneListView = ReportList("GoneListView", FPageModel, font());
    ObjListView = ReportList("ObjListView", FObjectSwitch, font());
    // The address, the type and the reason stretch, the address the most.
    FPageFit = new TColumnFit(GoneListView, {{2, 3}, {5, 1}, {7, 1}});
    FObjectFit = new TColumnFit(ObjListView, {{1, 3}, {4, 1}, {7, 1}});
    FExternalFit = new TColumnFit(ExternalListView, {{1, 3}, {7, 1}});
    CreateListActions(GoneListView, GoneActions);
    CreateListActions(ObjListView, ObjActions);

    AllObjectsCheck = new QCheckBox("All objects");
    AllObjectsCheck->setObjectName("AllObjectsCheck");
    AllObjectsCheck->setToolTip("Every object of the crawl by id, instead of the page merged last");
    connect(AllObjectsCheck, &QCheckBox::toggled, this, [this](bool all) {
        TReportModel<TObjectRow>* source = all ? FAllObjectModel : FPageObjectModel;
        if (FObjectSwitch->sourceModel() == source)
            return;
        // Sorted as the heading shows.
        const QHeaderView* heading = ObjListView->header();
        source->sort(heading->sortIndicatorSection(), heading->sortIndicatorOrder());
        FObjectSwitch->setSourceModel(source);
    });
    // In the order of TReportFilter::TShown.
    VerdictFilterBox = new QComboBox;
    VerdictFilterBox->setObjectName("VerdictFilterBox");
    VerdictFilterBox->addItems({"All rows", "Broken only", "Broken and unverifiable"});
    VerdictFilterBox->setToolTip("Only the broken rows (the address does not exist, is gone or "
                                 "cannot be reached), or those and the unverifiable ones (a login "
                                 "or bot wall, a rate limit, a timeout, a server error): every "
                                 "such page, and every such object of the crawl");
    connect(VerdictFilterBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        const auto shown = static_cast<TReportFilter::TShown>(std::max(index, 0));
        const bool filtered = shown != TReportFilter::TShown::All;
        // Every such object of the crawl, not only the last page's: the
        // rows shown add up to the counts of the status bar.
        if (filtered && AllObjectsCheck->isEnabled())
            FAllObjectsChosen = AllObjectsCheck->isChecked();
        AllObjectsCheck->setChecked(filtered || FAllObjectsChosen);
        AllObjectsCheck->setEnabled(!filtered);
        FFilter.Shown = shown;
        Refilter();
    });
    FilterEdit = new QLineEdit;
    FilterEdit->setObjectName("FilterEdit");
    FilterEdit->setPlaceholderText("Filter by address");
    FilterEdit->setToolTip("Only rows whose address holds this text, in both lists");
    FilterEdit->setClearButtonEnabled(true);
    FilterEdit->setMaximumWidth(240);
    connect(FilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        FFilter.SetAddressText(text.trimmed());
        Refilter();
    });
    ExternalCheck = new QCheckBox("Check links elsewhere");
    ExternalCheck->setObjectName("ExternalCheck");
    ExternalCheck->setToolTip("Check each link to another site once (from the next crawl on)");
    RobotsCheck = new QCheckBox("Obey robots.txt");
    RobotsCheck->setObjectName("RobotsCheck");
    RobotsCheck->setToolTip("Fetch no page the start host's robots.txt disallows (from the next "
                            "crawl on)");
    for (QCheckBox* option : {ExternalCheck, RobotsCheck}) {
        option->setChecked(true);
        connect(option, &QCheckBox::toggled, this, [this] {
            FOptions.External = ExternalCheck->isChecked();
            FOptions.Robots = RobotsCheck->isChecked();
        });
    }
    auto* objects = new QWidget;
    auto* toggles = new QHBoxLayout;
    toggles->setContentsMargins(4, 0, 4, 0);
    toggles->addWidget(AllObjectsCheck);
    toggles->addWidget(VerdictFilterBox);
    toggles->addWidget(ExternalCheck);
    toggles->addWidget(RobotsCheck);
    toggles->addStretch(1);
    toggles->addWidget(FilterEdit, 1);
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
    Splitter3->addWidget(ExternalListView);
    Splitter3->setSizes({248, 320, 120});
    Splitter3->setStretchFactor(1, 1);

    auto* right = new QWidget;
    right->setObjectName("RightPanel");
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
    // Enter on a row, as a double click.
    actions.WhereUsed->setShortcuts({Qt::Key_Return, Qt::Key_Enter});
    actions.WhereUsed->setShortcutContext(Qt::WidgetShortcut);
    connect(actions.WhereUsed, &QAction::triggered, this,
            [this, list] { ShowWhereUsed(list->currentIndex()); });
    actions.CopyAddress = new QAction("Copy address", list);
    connect(actions.CopyAddress, &QAction::triggered, this, [this, list] {
        QApplication::clipboard()->setText(SelectedAddresses(list).join('\n'));
    });
    actions.OpenInBrowser = new QAction("Open in browser", list);
    connect(actions.OpenInBrowser, &QAction::triggered, this, [this, list] {
        QStringList failed;
        for (const QString& address : SelectedAddresses(list))
            if (!OpenInDesktop(QUrl::fromUserInput(address)))
                failed << address;
        if (!failed.isEmpty())
            ShowErrorBox("No browser could open " + failed.join(", ") +
                         ": is a web browser installed and set as the default?");
    });
    actions.Recheck = new QAction("Re-check", list);
    actions.Recheck->setEnabled(false);
    connect(actions.Recheck, &QAction::triggered, this, [this, list] {
        std::vector<std::string> addresses;
        for (const QModelIndex& row : list->selectionModel()->selectedRows())
            addresses.push_back(
                row.data(TReportModel<TGoneRow>::AddressRole).toByteArray().toStdString());
        if (!addresses.empty())
            Recheck1Click(addresses);
    });
    list->addActions(
        {actions.WhereUsed, actions.CopyAddress, actions.OpenInBrowser, actions.Recheck});
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
    const auto verdict = static_cast<TVerdict>(
        index.siblingAtColumn(0).data(TReportModel<TGoneRow>::VerdictRole).toInt());
    const QString reason = index.siblingAtColumn(0).data(Qt::ToolTipRole).toString();
    std::string said(TVerdicts::Name(verdict));
    if (!reason.isEmpty())
        said += ", " + reason.toStdString();
    WhereUsed->Show(address, said, FCrawl->Records().ReferrersOf(address));
}

void TFrmMain::Refilter() {
    FPageModel->SetFilter(FFilter);
    FPageObjectModel->SetFilter(FFilter);
    FAllObjectModel->SetFilter(FFilter);
    FExternalModel->SetFilter(FFilter);
}

void TFrmMain::ClearLists() {
    FObjects.clear();
    FPageObjects.clear();
    for (TReportModel<TObjectRow>* objects : {FPageObjectModel, FAllObjectModel})
        objects->Reset();
    FPageModel->Reset();
    FExternalModel->Reset();
}

void TFrmMain::ShowListsNow() {
    FSummaryLater->stop();
    ShowSummary();
    for (TReportModel<TObjectRow>* objects : {FPageObjectModel, FAllObjectModel})
        objects->Flush();
    FPageModel->Flush();
    FExternalModel->Flush();
}

// Where the lists read their rows: the crawl's records. A place no longer
// there gives an empty row.
TGoneRow TFrmMain::PageAt(std::size_t place) const {
    const TPageRows& rows = FCrawl->Records().PageRows();
    return place < rows.size() ? rows[place] : TGoneRow{};
}

TExternalRow TFrmMain::ExternalAt(std::size_t place) const {
    const std::span<const TExternalRow> rows = FCrawl->Records().ExternalRows();
    return place < rows.size() ? rows[place] : TExternalRow{};
}

// An object is the record of its entry, while the crawl keeps its records (a
// stopped crawl has freed them).
TObjectRow TFrmMain::ObjectAt(std::size_t place) const {
    if (place >= FObjects.size() || FCrawl->Records().ObjectCount() < FObjects.size())
        return {};
    const TAddressEntry& entry = *FObjects[place];
    return TObjectRow::Of(*entry.Object, entry.Verdict, entry.Reason);
}

std::size_t TFrmMain::ObjectPlace(std::int32_t id) const {
    const auto at = std::lower_bound(
        FObjects.begin(), FObjects.end(), id,
        [](const TAddressEntry* entry, std::int32_t wanted) { return entry->Object->Id < wanted; });
    return at != FObjects.end() && (*at)->Object->Id == id
               ? static_cast<std::size_t>(at - FObjects.begin())
               : FObjects.size();
}

void TFrmMain::PageRow(const TGoneRow&) {
    FPageModel->Grow(FCrawl->Records().PageRows().size());
    FUnsaved = true;
    if (!FSummaryLater->isActive())
        FSummaryLater->start();
}

void TFrmMain::ObjectsCleared() {
    FPageObjects.clear();
    FPageObjectModel->Restart();
}

// Objects come in the order of their ids: a new one has an id above all
// told before; one told before has been counted again.
void TFrmMain::ObjectRow(const TObjectRow& row) {
    std::size_t place = ObjectPlace(row.Id);
    if (place == FObjects.size()) {
        const TAddressEntry* entry = FCrawl->Records().Find(row.Url);
        if (entry == nullptr || !entry->Object ||
            (!FObjects.empty() && FObjects.back()->Object->Id >= row.Id))
            return; // not among the crawl's records
        FObjects.push_back(entry);
        FAllObjectModel->Grow(FObjects.size());
    } else {
        FAllObjectModel->Change(place);
    }
    FPageObjects.push_back(place);
    FPageObjectModel->Grow(FPageObjects.size());
    FUnsaved = true;
    if (!FSummaryLater->isActive())
        FSummaryLater->start();
}

void TFrmMain::ExternalRow(const TExternalRow& row) {
    FUnsaved = true;
    const auto place = static_cast<std::size_t>(std::max(row.Id, 1) - 1);
    if (place < FExternalModel->Rows())
        FExternalModel->Change(place);
    else
        FExternalModel->Grow(FCrawl->Records().ExternalRows().size());
    if (!FSummaryLater->isActive())
        FSummaryLater->start();
}

// The checks at the crawl's end judge rows again: they change in place.
void TFrmMain::PageRowChanged(std::size_t at, const TGoneRow&) {
    if (at >= FPageModel->Rows())
        return;
    FUnsaved = true;
    FPageModel->Change(at);
    if (!FSummaryLater->isActive())
        FSummaryLater->start();
}

void TFrmMain::ObjectChanged(const TObjectRow& row) {
    const std::size_t place = ObjectPlace(row.Id);
    if (place == FObjects.size())
        return;
    FUnsaved = true;
    FAllObjectModel->Change(place);
    for (std::size_t at = 0; at < FPageObjects.size(); ++at)
        if (FPageObjects[at] == place)
            FPageObjectModel->Change(at);
    if (!FSummaryLater->isActive())
        FSummaryLater->start();
}

std::size_t TFrmMain::RowsJudged(TVerdict verdict) const {
    const auto slot = static_cast<std::size_t>(verdict);
    return FPageModel->Verdicts()[slot] + FAllObjectModel->Verdicts()[slot] +
           FExternalModel->Verdicts()[slot];
}

void TFrmMain::ShowSummary() {
    const auto rows = [this](TVerdict verdict) { return RowsJudged(verdict); };
    SummaryLabel->setText(QString("%1 pages, %2 objects, %3 broken, %4 unverifiable, %5 redirected")
                              .arg(FPageModel->Rows())
                              .arg(FAllObjectModel->Rows())
                              .arg(rows(TVerdict::Broken))
                              .arg(rows(TVerdict::Unverifiable))
                              .arg(rows(TVerdict::Redirected)));
}

// A finished crawl read from its file, as the crawl keeps it: every page row,
// every object and link elsewhere. No page was merged last here: the counts
// are those of the whole crawl, every page begun and none queued.
void TFrmMain::ShowRecords() {
    const TRecordStore& records = FCrawl->Records();
    std::size_t begun = 0;
    for (const TGoneRow& row : records.PageRows())
        begun += row.Reason != "excluded"; // listed, never begun
    FObjects.clear();
    for (const _TObjectType* object : records.ObjectsById())
        FObjects.push_back(records.Find(object->Url));
    FPageModel->Reset(records.PageRows().size());
    FAllObjectModel->Reset(FObjects.size());
    FExternalModel->Reset(records.ExternalRows().size());
    ObjectsCleared();
    ShowSummary();
    Count(TCrawlCounter::GoneList, begun);
    const QDateTime started =
        QDateTime::fromString(QString::fromStdString(FAbout.Started), Qt::ISODate);
    const QDateTime finished =
        QDateTime::fromString(QString::fromStdString(FAbout.Finished), Qt::ISODate);
    Clock(started.isValid() && finished.isValid()
              ? static_cast<std::uint32_t>(std::max<qint64>(0, started.secsTo(finished)))
              : 0);
    FUnsaved = false;
    StateLabel->Finished(FPageModel->Rows(), FAllObjectModel->Rows(), RowsJudged(TVerdict::Broken),
                         FSeconds);
}
