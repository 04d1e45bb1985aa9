// The handlers of the controls, and what the crawl tells the window.
#include "TCompareDialog.h"
#include "TFrmMain.h"

#include "TCrawlAbout.h"
#include "TOptionsDialog.h"
#include "TRedirectsDialog.h"
#include "TSaveReportDialog.h"
#include "TStateLabel.h"
#include "TWhereUsedDialog.h"
#include "crawl/TAnsiText.h"
#include "report/TCrawlReport.h"
#include "store/TRecorderThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

void TFrmMain::UrlComboBoxKeyPress(char& key) {
    if (key != 13)
        return;
    const QString typed = UrlComboBox->currentText().trimmed();
    if (typed.isEmpty())
        return;
    const TCrawlState state = StateLabel->State();
    const bool over = state == TCrawlState::Finished || state == TCrawlState::Stopped;
    if (over && (FLoaded || TCrawl::StartAddress(typed) != TCrawl::StartAddress(FStartAddress))) {
        // Another address once the crawl is over, or any after a finished
        // crawl read from its file: a new crawl, as New would.
        if (!ResultsMayGo())
            return;
        StartOver();
    }
    RememberAddress(typed);
    if (StateLabel->State() == TCrawlState::Ready) {
        FStartAddress = typed;
        FCrawl->SetOptions(FOptions);
        // The folder served, so that the crawl can be served again from its file.
        if (FSite.Serving() && TCrawl::StartAddress(typed) ==
                                   TCrawl::StartAddress(QString::fromStdString(FSite.Url())))
            FAbout.Options.emplace_back("site", QFile::encodeName(FSiteFolder).toStdString());
        TCrawlAbout::Begin(FAbout, typed, FCrawl->DelaySeconds(), FOptions);
        StartRecording();
    }
    StateLabel->Crawling();
    FCrawl->Enter(typed);
}

void TFrmMain::StartCrawl(const QString& address) {
    UrlComboBox->setEditText(address);
    char enter = 13;
    UrlComboBoxKeyPress(enter);
}

void TFrmMain::StartSiteCrawl(const QString& folder) {
    // One window, one crawl: a crawl under way (or read from its file) is
    // dropped first, as by New.
    if (FCrawl->Running() || FLoaded)
        StartOver();
    // A local folder needs no politeness: no pause unless one was chosen.
    if (!FDelayChosen) {
        FCrawl->ApplyDelay("0");
        InterEdt->setText("0");
        ProgressBar->setMaximum(1);
    }
    const std::string error = FSite.Start(QFile::encodeName(folder).toStdString());
    if (!error.empty()) {
        ShowErrorBox(QString::fromLocal8Bit(error));
        return;
    }
    FSiteFolder = folder;
    StartCrawl(QString::fromStdString(FSite.Url()));
}

void TFrmMain::OpenFolder1Click() {
    const QString folder = Hooks.ChooseFolder
                               ? Hooks.ChooseFolder()
                               : QFileDialog::getExistingDirectory(this, "Open Folder");
    if (!folder.isEmpty() && ResultsMayGo())
        StartSiteCrawl(folder);
}

void TFrmMain::Compare1Click() {
    CompareView->Open(FReportFolder);
}

void TFrmMain::SpeedButton1Click() { ApplyDelay(InterEdt->text()); }

void TFrmMain::ApplyDelay(const QString& text) {
    const QString error = FCrawl->ApplyDelay(text);
    if (!error.isEmpty()) {
        ShowErrorBox(error);
        return;
    }
    const int seconds = FCrawl->DelaySeconds();
    FDelay = seconds;
    FDelayChosen = true;
    InterEdt->setText(QString::number(seconds));
    // A maximum of 0 would turn the bar into a busy indicator.
    ProgressBar->setMaximum(seconds > 0 ? seconds : 1);
}

void TFrmMain::New1Click() {
    if (ResultsMayGo())
        StartOver();
}

// Starts over: the crawl stops in whatever state it is and a fresh one takes
// its place, with the delay the user chose.
void TFrmMain::StartOver() {
    RetireCrawl();
    FSite.Stop(); // a folder being served goes with its crawl
    FCrawl = std::make_unique<TCrawl>(static_cast<TCrawlListener&>(*this));
    FCrawl->ApplyDelay(QString::number(FDelay));
    InterEdt->setText(QString::number(FDelay));
    ProgressBar->setMaximum(FDelay > 0 ? FDelay : 1);
    ClearView();
}

bool TFrmMain::ResultsMayGo() {
    if (!FUnsaved)
        return true;
    TSaveChoice choice = TSaveChoice::Cancel;
    if (Hooks.AskToSave) {
        choice = Hooks.AskToSave();
    } else {
        QMessageBox box(QMessageBox::Question, "Marrowby",
                        "The results of this crawl have not been saved.", QMessageBox::NoButton,
                        this);
        QPushButton* save = box.addButton("&Save…", QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton("&Discard", QMessageBox::DestructiveRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(save);
        box.exec();
        choice = box.clickedButton() == save      ? TSaveChoice::Save
                 : box.clickedButton() == discard ? TSaveChoice::Discard
                                                  : TSaveChoice::Cancel;
    }
    switch (choice) {
    case TSaveChoice::Save:
        return SaveReport();
    case TSaveChoice::Discard:
        FUnsaved = false; // let go: asked once
        return true;
    case TSaveChoice::Cancel:
        return false;
    }
    return false;
}

void TFrmMain::Stop1Click() {
    const TCrawlState state = StateLabel->State();
    FCrawl->Halt();
    ShowListsNow();
    if (state == TCrawlState::Crawling || state == TCrawlState::Pausing ||
        state == TCrawlState::Confirming) {
        StateLabel->Stopped();
        PauseBarEmpty();
        if (const std::string error = KeepTables(false); !error.empty())
            ShowErrorBox(QString::fromLocal8Bit(error));
    } else if (state == TCrawlState::Rechecking) {
        BackFromRecheck();
    }
}

void TFrmMain::Recheck1Click(const std::vector<std::string>& addresses) {
    const TCrawlState state = StateLabel->State();
    if (state != TCrawlState::Finished && state != TCrawlState::Stopped)
        return;
    FBeforeRecheck = state;
    if (FCrawl->Recheck(addresses) == 0)
        Status("Nothing to re-check");
}

void TFrmMain::EnableRecheck(TCrawlState state) {
    const bool over = state == TCrawlState::Finished || state == TCrawlState::Stopped;
    for (QAction* action : {Recheck1, GoneActions.Recheck, ObjActions.Recheck})
        if (action)
            action->setEnabled(over);
}

// The state of before the re-check, without the box of a crawl's end.
void TFrmMain::BackFromRecheck() {
    if (FBeforeRecheck == TCrawlState::Stopped)
        StateLabel->Stopped();
    else
        StateLabel->Finished(FPageModel->Rows(), FAllObjectModel->Rows(),
                             RowsJudged(TVerdict::Broken), FSeconds);
}

void TFrmMain::Save1Click() {
    SaveReport();
}

bool TFrmMain::SaveReport() {
    QString dir;
    if (Hooks.ChooseReportFolder) {
        dir = Hooks.ChooseReportFolder();
    } else {
        TSaveReportDialog dialog(this, FReportFolder, FReportFormats);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        dir = dialog.Folder();
        FReportFormats = dialog.Formats();
    }
    if (dir.isEmpty())
        return false;
    std::string error = TCrawlReport::CheckFolder(QFile::encodeName(dir).toStdString());
    if (error.empty())
        error = TCrawlReport::Write(FCrawl->Records(), QFile::encodeName(dir).toStdString(),
                                    FReportFormats, FAbout);
    if (!error.empty()) {
        ShowErrorBox(QString::fromLocal8Bit(error));
        return false;
    }
    FUnsaved = false;
    FReportFolder = QDir(dir).absolutePath();
    StatusBar->showMessage(
        QString("Report saved in %1").arg(QDir::toNativeSeparators(FReportFolder)));
    OpenReportFolder->show();
    return true;
}

bool TFrmMain::OpenInDesktop(const QUrl& url) {
    return Hooks.OpenUrl ? Hooks.OpenUrl(url) : QDesktopServices::openUrl(url);
}

void TFrmMain::PauseBarEmpty() {
    ProgressBar->setValue(0);
}

// The crawl may be stopped from a handler nested in one of its own: it is
// deleted from the event loop once none of its handlers is on the stack.
void TFrmMain::RetireCrawl() {
    DropAutoFile();
    FCrawl->Stop();
    FRetired.push_back({std::move(FRecorder), std::move(FCrawl)});
    if (!FSweep) {
        FSweep = new QTimer(this);
        FSweep->setInterval(10);
        connect(FSweep, &QTimer::timeout, this, [this] {
            std::erase_if(FRetired, [](const TRetired& r) { return !r.Crawl->Busy(); });
            if (FRetired.empty())
                FSweep->stop();
        });
    }
    FSweep->start();
}

void TFrmMain::ClearView() {
    ClearLists();
    FSeconds = 0;
    FStartAddress.clear();
    FAbout = {};
    FLoaded = false;
    FUnsaved = false;
    OpenReportFolder->hide();
    StateLabel->Ready();
    for (QLineEdit* count : {EdtGoneList, EdtGoingList, EdtAnchor, EdtInternalLink,
                             EdtExternalLink, EdtObj})
        count->setText("0");
    LabelTCount->setText("0");
    setWindowTitle("FrmMain");
    DLabel->setText("실행 대기 중입니다.");
    ProgressBar->setValue(0);
    StatusBar->clearMessage();
    WhereUsed->hide();
    RedirectsView->hide(); // it showed the records of the crawl that went
    ShowSummary();
}

// The check boxes show what the next crawl will do, whoever set it.
void TFrmMain::SetOptions(const TCrawlOptions& options) {
    FOptions = options;
    const QSignalBlocker externalBlocker(ExternalCheck);
    const QSignalBlocker robotsBlocker(RobotsCheck);
    ExternalCheck->setChecked(options.External);
    RobotsCheck->setChecked(options.Robots);
}

void TFrmMain::Options1Click() {
    OptionsDialog->Edit(FOptions, [this](const TCrawlOptions& options) { SetOptions(options); });
}

void TFrmMain::Close1Click() { close(); }

void TFrmMain::closeEvent(QCloseEvent* event) {
    // Asked once; a window already closed (a stop request) asks nothing.
    if (!FClosed && !ResultsMayGo()) {
        event->ignore();
        return;
    }
    FormClose();
    QMainWindow::closeEvent(event);
}

void TFrmMain::FormClose() {
    if (FClosed)
        return;
    DropAutoFile();
    FCrawl->Stop();
    FSite.Stop();
    FClosed = true;
}

void TFrmMain::ShowMessageBox(const QString& text) {
    if (Hooks.MessageBox)
        Hooks.MessageBox(text);
    else
        QMessageBox::information(this, windowTitle(), text);
}

void TFrmMain::ShowErrorBox(const QString& text) {
    if (Hooks.ErrorBox)
        Hooks.ErrorBox(text);
    else
        QMessageBox::critical(this, "Error", text);
}

void TFrmMain::Status(const QString& text) { StatusBar->showMessage(text); }

void TFrmMain::Caption(const QString& text) { setWindowTitle(text); }

void TFrmMain::Count(TCrawlCounter counter, std::size_t value) {
    QLineEdit* edit = nullptr;
    switch (counter) {
    case TCrawlCounter::GoneList: edit = EdtGoneList; break;
    case TCrawlCounter::GoingList: edit = EdtGoingList; break;
    case TCrawlCounter::Anchors: edit = EdtAnchor; break;
    case TCrawlCounter::InternalLinks: edit = EdtInternalLink; break;
    case TCrawlCounter::ExternalLinks: edit = EdtExternalLink; break;
    case TCrawlCounter::Objects: edit = EdtObj; break;
    }
    edit->setText(QString::number(value));
    if (counter == TCrawlCounter::GoingList)
        StateLabel->Queued(value);
}

void TFrmMain::Clock(std::uint32_t seconds) {
    FSeconds = seconds;
    LabelTCount->setText(QString::number(seconds));
}

void TFrmMain::Pause(const QString& label, int position) {
    DLabel->setText(label);
    ProgressBar->setValue(position);
}

void TFrmMain::PageStarted(std::size_t page, std::size_t queued) {
    StateLabel->Crawling(page, queued);
}

void TFrmMain::Pausing(std::uint32_t secondsLeft) {
    StateLabel->Pausing(secondsLeft);
}

void TFrmMain::Confirming(std::size_t addresses) {
    StateLabel->Confirming(addresses);
}

void TFrmMain::Rechecking(std::size_t addresses) {
    StateLabel->Rechecking(addresses);
}

void TFrmMain::Finished(const QString& text) {
    const auto kept = [this](bool finished) {
        if (const std::string error = KeepTables(finished); !error.empty())
            ShowErrorBox(QString::fromLocal8Bit(error));
    };
    if (StateLabel->State() == TCrawlState::Rechecking) {
        ShowListsNow();
        BackFromRecheck();
        if (RedirectsView->isVisible())
            RedirectsView->Show(FCrawl->Records());
        kept(FBeforeRecheck == TCrawlState::Finished);
        return;
    }
    FSite.Stop(); // nothing more will be asked of it
    ShowListsNow();
    StateLabel->Finished(FPageModel->Rows(), FAllObjectModel->Rows(), RowsJudged(TVerdict::Broken),
                         FSeconds);
    PauseBarEmpty();
    if (RedirectsView->isVisible())
        RedirectsView->Show(FCrawl->Records()); // the rows of the whole crawl
    kept(true);
    ShowMessageBox(text);
}

void TFrmMain::Error(const QString& text) {
    ShowListsNow();
    StateLabel->Stopped(); // the next Enter tries again
    PauseBarEmpty();
    ShowErrorBox(text);
    KeepTables(false); // as at a stop; a failure to write says what the error said
}
