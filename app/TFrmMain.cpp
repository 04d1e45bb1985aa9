#include "TFrmMain.h"

#include "TCompareDialog.h"
#include "TOptionsDialog.h"
#include "TRedirectsDialog.h"
#include "TStateLabel.h"
#include "store/TRecorderThread.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>


TFrmMain* FrmMain = nullptr;

namespace {

QFont FormFont() {
    // The form asks for Gulim; where it is missing an installed Hangul font
    // stands in, so the Korean texts never draw as boxes.
    QFont font;
    font.setFamilies({"굴림", "Gulim", "NanumGothic", "NanumBarunGothic", "Noto Sans CJK KR",
                      "Noto Sans KR", "UnDotum"});
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

QWidget* Spacer(int width) {
    auto* spacer = new QWidget;
    spacer->setFixedWidth(width);
    return spacer;
}

QIcon DrawIcon(const QColor& fill, const QColor& edge, bool folded) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(edge);
    p.setBrush(fill);
    if (folded) {
        const QPointF page[] = {{3, 1}, {10, 1}, {13, 4}, {13, 15}, {3, 15}};
        p.drawPolygon(page, 5);
        p.drawLine(QPointF(10, 1), QPointF(10, 4));
        p.drawLine(QPointF(10, 4), QPointF(13, 4));
    } else {
        p.drawRoundedRect(QRectF(2, 2, 12, 12), 3, 3);
    }
    return QIcon(pixmap);
}

} // namespace

TFrmMain::TFrmMain(QWidget* owner)
    : QMainWindow(owner), FCrawl(std::make_unique<TCrawl>(static_cast<TCrawlListener&>(*this))) {
    CreateControls();
    ProgressBar->setMaximum(FCrawl->DelaySeconds());
    LoadHistory();
}

TFrmMain::~TFrmMain() {
    // Normally FormClose has stopped everything already; a window destroyed
    // without being closed must not leave a worker behind either.
    if (!FClosed)
        FormClose();
    // The lists read the crawl, which goes before they do.
    ClearLists();
    if (FrmMain == this)
        FrmMain = nullptr;
}

void TFrmMain::CreateControls() {
    setWindowTitle("FrmMain");
    setFont(FormFont());
    setGeometry(175, 155, 814, 620);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    CreateImages();
    CreateToolBar();
    CreateReportLists();
    CreateMenuAndTray();
    // The client area below the menu bar is 814 x 620.
    resize(814, 620 + menuBar()->sizeHint().height());

    CreateStatusBar();
}

void TFrmMain::CreateStatusBar() {
    StatusBar = new QStatusBar(this);
    StatusBar->setFixedHeight(19);
    StatusBar->setSizeGripEnabled(false);
    setStatusBar(StatusBar);
    auto* openFolder = new QAction("Open folder", this);
    openFolder->setToolTip("Open the folder the report was saved in");
    connect(openFolder, &QAction::triggered, this, [this] {
        const QUrl folder = QUrl::fromLocalFile(FReportFolder);
        if (!OpenInDesktop(folder))
            ShowErrorBox(QString("Nothing could open the folder %1").arg(FReportFolder));
    });
    OpenReportFolder = new QToolButton;
    OpenReportFolder->setObjectName("OpenReportFolder");
    OpenReportFolder->setDefaultAction(openFolder);
    OpenReportFolder->setAutoRaise(true);
    OpenReportFolder->hide();
    StatusBar->addPermanentWidget(OpenReportFolder);
    SummaryLabel = new QLabel;
    SummaryLabel->setObjectName("SummaryLabel");
    SummaryLabel->setToolTip(
        "Pages visited, objects found, and the rows of the whole crawl by verdict");
    StatusBar->addPermanentWidget(SummaryLabel);
    StateLabel = new TStateLabel;
    StateLabel->SetOnChange([this](TCrawlState state) { EnableRecheck(state); });
    StateLabel->setContentsMargins(8, 0, 4, 0);
    StatusBar->addPermanentWidget(StateLabel);
    ShowSummary();
}

// The last addresses started, newest first, kept between sessions.
void TFrmMain::LoadHistory() {
    QSettings settings("marrowby", "marrowby");
    UrlComboBox->addItems(settings.value("history").toStringList().mid(0, MaxHistory));
    UrlComboBox->setEditText({});
}

void TFrmMain::RememberAddress(const QString& address) {
    QStringList history;
    for (int i = 0; i < UrlComboBox->count(); ++i)
        history << UrlComboBox->itemText(i);
    history.removeAll(address);
    history.prepend(address);
    history = history.mid(0, MaxHistory);
    const QString typed = UrlComboBox->currentText();
    UrlComboBox->clear();
    UrlComboBox->addItems(history);
    UrlComboBox->setEditText(typed);
    QSettings settings("marrowby", "marrowby");
    settings.setValue("history", history);
}

void TFrmMain::CreateImages() {
    KindImageList = {
        DrawIcon(QColor(0xdd, 0xe8, 0xff), QColor(0x2a, 0x55, 0xa0), true), // page
        DrawIcon(QColor(0x9c, 0xd8, 0x8c), QColor(0x2e, 0x7d, 0x32), false), // object
        DrawIcon(QColor(0xf4, 0x9a, 0x8c), QColor(0xb0, 0x26, 0x1a), false), // not found
    };
    setWindowIcon(KindImageList[0]);
}

void TFrmMain::CreateToolBar() {
    ToolBar1 = new QToolBar("ToolBar1", this);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setFixedHeight(29);
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    UrlComboBox = new QComboBox;
    UrlComboBox->setObjectName("UrlComboBox");
    UrlComboBox->setEditable(true);
    // 385 wide as drawn, narrower in a narrow window rather than out of sight.
    UrlComboBox->setMinimumWidth(120);
    UrlComboBox->setMaximumWidth(385);
    UrlComboBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    UrlComboBox->setMinimumContentsLength(40);
    UrlComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    UrlComboBox->setToolTip("The start address: Enter crawls it (the last 20 are in the list)");
    UrlComboBox->setMaxVisibleItems(8);
    UrlComboBox->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion from the history: typing the site's root must not
    // turn into a longer address that happens to start with it.
    UrlComboBox->setCompleter(nullptr);
    UrlComboBox->setFont(FormFont());
    // Key presses reach the box, which hands them to its line edit directly;
    // presses sent to the line edit itself are redirected to the box, so each
    // press passes the box's filter exactly once.
    UrlComboBox->installEventFilter(this);
    UrlComboBox->lineEdit()->installEventFilter(this);

    InterEdt = new QLineEdit("60");
    InterEdt->setObjectName("InterEdt");
    InterEdt->setFixedWidth(47);
    InterEdt->setToolTip("Delay between pages, in seconds");

    SpeedButton1 = new QToolButton;
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setFixedSize(39, 21);
    SpeedButton1->setIcon(KindImageList[1]);
    SpeedButton1->setToolTip("Apply the delay");
    SpeedButton1->setAutoRaise(true);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    ToolBar1->addWidget(Spacer(8)); // ToolButton2
    ToolBar1->addWidget(UrlComboBox);
    ToolBar1->addWidget(Spacer(33)); // ToolButton1
    ToolBar1->addWidget(InterEdt);
    ToolBar1->addWidget(Spacer(15)); // ToolButton3
    ToolBar1->addWidget(SpeedButton1);
    UrlComboBox->setFocus(); // a person types the address first
}

void TFrmMain::CreateCountPanel(QWidget* panel) {
    // The headings are sized to their text at once, so they must measure it
    // in the form's font, before the panel joins the window.
    panel->setFont(font());
    auto label = [panel](const char* name, const QString& text, int x, int y) {
        auto* l = new QLabel(text, panel);
        l->setObjectName(name);
        l->move(x, y);
        l->adjustSize();

        return l;
    };
    auto count = [panel](const char* name, int x, int y) {
        auto* e = new QLineEdit("0", panel);
        e->setObjectName(name);
        e->setGeometry(x, y, 121, 20);
        e->setFrame(false);
        e->setReadOnly(true); // the crawl's counts, not input
        return e;
    };
    const auto explain = [](const QString& text, std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets)
            widget->setToolTip(text);
    };
    LabelTime = label("LabelTime", "Time Count", 8, 16);
    LabelTCount = label("LabelTCount", "0", 93, 40);
    LabelTCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelTCount->setFixedWidth(60);
    Label1 = label("Label1", "Gone List", 8, 72);
    EdtGoneList = count("EdtGoneList", 8, 96);
    Label2 = label("Label2", "Going List", 8, 128);
    EdtGoingList = count("EdtGoingList", 8, 152);
    AnchorLabel = label("AnchorLabel", "Anchor Count", 8, 248);
    EdtAnchor = count("EdtAnchor", 8, 264);
    Label3 = label("Label3", "Internal Anchor Count", 8, 296);
    EdtInternalLink = count("EdtInternalLink", 8, 312);
    Label4 = label("Label4", "External Anchor Count", 8, 344);
    EdtExternalLink = count("EdtExternalLink", 8, 360);
    ObjLabel = label("ObjLabel", "Object Count", 8, 400);
    EdtObj = count("EdtObj", 8, 424);
    explain("Seconds since the last Enter; it stops when the crawl ends or is stopped",
            {LabelTime, LabelTCount});
    explain("Pages of the start host visited so far, the one being fetched included",
            {Label1, EdtGoneList});
    explain("Pages of the start host found and waiting to be visited", {Label2, EdtGoingList});
    explain("Links of the page merged last", {AnchorLabel, EdtAnchor});
    explain("Links of the page merged last that stay on the start host", {Label3, EdtInternalLink});
    explain("Links of the page merged last that lead to other hosts", {Label4, EdtExternalLink});
    explain("Embedded objects (images, scripts, styles...) of the page merged last",
            {ObjLabel, EdtObj});
    DLabel = label("DLabel", "실행 대기 중입니다.", 8, 520);
    DLabel->setMinimumWidth(170);

    ProgressBar = new QProgressBar(panel);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setGeometry(8, 544, 129, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    // Some headings stand 16 pixels above their count, less than a line of
    // the form's font: keep them in front so no letter is cut.
    for (QLabel* heading : panel->findChildren<QLabel*>())
        heading->raise();
    explain("The pause between pages", {DLabel, ProgressBar});
    // The panel may be narrowed to its widest control, no further.
    int right = 0;
    for (QWidget* child : panel->findChildren<QWidget*>())
        right = std::max(right, child->geometry().right() + 1);
    panel->setMinimumWidth(right + 8);
}

void TFrmMain::CreateMenuAndTray() {
    File1 = menuBar()->addMenu("&File");
    // F10 opens the menu, as in most desktop programs.
    auto* f10 = new QShortcut(Qt::Key_F10, this);
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(File1->menuAction()); });
    New1 = File1->addAction("&New");
    New1->setShortcut(QKeySequence::New);
    connect(New1, &QAction::triggered, this, [this] { New1Click(); });
    OpenFolder1 = File1->addAction("&Open Folder…");
    OpenFolder1->setShortcut(QKeySequence::Open);
    connect(OpenFolder1, &QAction::triggered, this, [this] { OpenFolder1Click(); });
    OpenCrawl1 = File1->addAction("Open Cra&wl…");
    OpenCrawl1->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_O);
    OpenCrawl1->setToolTip("Show a kept crawl as it was; Enter goes on with one that stopped");
    connect(OpenCrawl1, &QAction::triggered, this, [this] { OpenCrawl1Click(); });
    Stop1 = File1->addAction("&Stop");
    Stop1->setShortcut(Qt::Key_Escape);
    connect(Stop1, &QAction::triggered, this, [this] { Stop1Click(); });
    Save1 = File1->addAction("Save &Report…");
    Save1->setShortcut(QKeySequence::Save);
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    SaveCrawl1 = File1->addAction("Save Cr&awl…");
    SaveCrawl1->setShortcut(QKeySequence::SaveAs);
    SaveCrawl1->setToolTip("Keep the crawl as it stands in a crawl file, to open it again");
    connect(SaveCrawl1, &QAction::triggered, this, [this] { SaveCrawl1Click(); });
    Compare1 = File1->addAction("Co&mpare…");
    Compare1->setToolTip("What changed between two kept crawls (crawl files or report "
                         "folders): what broke, was fixed, is new and is gone");
    connect(Compare1, &QAction::triggered, this, [this] { Compare1Click(); });
    CompareView = new TCompareDialog(this);
    File1->addSeparator();
    Close1 = File1->addAction("&Close");
    Close1->setShortcut(Qt::CTRL | Qt::Key_Q);
    connect(Close1, &QAction::triggered, this, [this] { Close1Click(); });
    Crawl1 = menuBar()->addMenu("&Crawl");
    Options1 = Crawl1->addAction("&Options…");
    Options1->setShortcut(QKeySequence::Preferences);
    Options1->setToolTip("Connections, pacing, retries, user agent and what is crawled");
    connect(Options1, &QAction::triggered, this, [this] { Options1Click(); });
    Recheck1 = Crawl1->addAction("Re-check &broken");
    Recheck1->setShortcut(Qt::CTRL | Qt::Key_R);
    Recheck1->setToolTip("Ask again for every broken and unverifiable address of the crawl");
    Recheck1->setEnabled(false);
    connect(Recheck1, &QAction::triggered, this, [this] { Recheck1Click(); });
    OptionsDialog = new TOptionsDialog(this);
    View1 = menuBar()->addMenu("&View");
    Redirects1 = View1->addAction("&Redirects…");
    RedirectsView = new TRedirectsDialog(this);
    connect(Redirects1, &QAction::triggered, this,
            [this] { RedirectsView->Show(FCrawl->Records()); });

    // ActionList1: named actions of the "Parser" category with no handlers.
    for (QAction** action : {&CheckImg, &CheckObj, &CheckAnchor}) {
        *action = new QAction(this);
        (*action)->setProperty("category", "Parser");
    }
    CheckImg->setText("CheckImg");
    CheckObj->setText("CheckObj");
    CheckAnchor->setText("CheckAnchor");

    TrayIcon1 = new QSystemTrayIcon(KindImageList[0], this);
    TrayIcon1->setToolTip("Marrowby");
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                    activateWindow();
                }
            });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        TrayIcon1->show();
}

void TFrmMain::changeEvent(QEvent* event) {
    // Hide on minimise, but only where the tray can bring the window back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayIcon1->isVisible())
        QTimer::singleShot(0, this, [this] { hide(); });
    QMainWindow::changeEvent(event);
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    if (watched == UrlComboBox->lineEdit()) {
        // The box and its parents have had it: it must not travel up again.
        QCoreApplication::sendEvent(UrlComboBox, event);
        event->accept();
        return true;
    }
    if (watched == UrlComboBox) {
        const auto* press = static_cast<QKeyEvent*>(event);
        const int key = press->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            char typed = 13;
            UrlComboBoxKeyPress(typed);
        } else if (!press->text().isEmpty()) {
            char typed = press->text().at(0).toLatin1();
            UrlComboBoxKeyPress(typed);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

